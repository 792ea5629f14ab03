/* Prints the fixed file and product version of a Windows executable
   ("1.0.0.0 1.0.0.0") and its ProductName, through the Windows version API;
   exit status 1 when the file carries no version resource. Used by the
   installer test under wine. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int wmain(int argc, wchar_t **argv)
{
    DWORD handle = 0, size;
    void *data;
    VS_FIXEDFILEINFO *info = NULL;
    UINT length = 0;
    wchar_t *name = NULL;
    if (argc != 2)
        return 2;
    size = GetFileVersionInfoSizeW(argv[1], &handle);
    if (size == 0)
        return 1;
    data = malloc(size);
    if (!data || !GetFileVersionInfoW(argv[1], 0, size, data) ||
        !VerQueryValueW(data, L"\\", (void **)&info, &length) || length < sizeof(*info))
        return 1;
    printf("%u.%u.%u.%u %u.%u.%u.%u", (unsigned)HIWORD(info->dwFileVersionMS),
           (unsigned)LOWORD(info->dwFileVersionMS), (unsigned)HIWORD(info->dwFileVersionLS),
           (unsigned)LOWORD(info->dwFileVersionLS), (unsigned)HIWORD(info->dwProductVersionMS),
           (unsigned)LOWORD(info->dwProductVersionMS), (unsigned)HIWORD(info->dwProductVersionLS),
           (unsigned)LOWORD(info->dwProductVersionLS));
    if (VerQueryValueW(data, L"\\StringFileInfo\\040904B0\\ProductName", (void **)&name, &length) && name)
        wprintf(L" %ls", name);
    printf("\n");
    free(data);
    return 0;
}
