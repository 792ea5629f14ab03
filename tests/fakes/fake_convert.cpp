// A program called "convert" that is not ImageMagick: it names itself
// something else and converts nothing. Tests put it first on PATH to check
// that the image tool is chosen by what it is, not by its name.
#include <cstdio>
#include <cstring>

int main(int argc, char **argv)
{
    if (argc > 1 && std::strcmp(argv[1], "-version") == 0) {
        std::puts("Version: Convert-O-Matic 2.0 (not an image tool)");
        return 0;
    }
    std::fputs("convert: unsupported\n", stderr);
    return 1;
}
