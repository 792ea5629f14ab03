// A library whose start-up fails on request, so that the program linked to it
// (fail_init_tool) ends before any code of its own runs, as Windows ends a
// program whose library cannot initialise (status 0xC0000142). It looks in
// the current folder: "fail-init-once" is deleted and fails this start;
// "fail-init-always" fails every start.
#include <windows.h>

extern "C" __declspec(dllexport) int FailInitLoaded()
{
    return 1;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    if (GetFileAttributesW(L"fail-init-always") != INVALID_FILE_ATTRIBUTES)
        return FALSE;
    return DeleteFileW(L"fail-init-once") ? FALSE : TRUE;
}
