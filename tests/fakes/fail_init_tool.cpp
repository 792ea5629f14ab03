// A tool linked to the fail_init library, which can make its start fail.
//   print TEXT   prints TEXT on standard output
//   cat          copies standard input to standard output
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <io.h>

extern "C" __declspec(dllimport) int FailInitLoaded();

int main(int argc, char *argv[])
{
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stdin), _O_BINARY);
    if (!FailInitLoaded())
        return 3;
    if (argc == 3 && std::strcmp(argv[1], "print") == 0) {
        std::fputs(argv[2], stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "cat") == 0) {
        char buffer[4096];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, stdin)) > 0)
            std::fwrite(buffer, 1, got, stdout);
        return 0;
    }
    return 2;
}
