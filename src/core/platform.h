#pragma once

#include <QString>

// The one place where the program's Unix and Windows builds differ. Each
// system has its own source file (platform_unix.cpp, platform_win.cpp),
// chosen by CMake; feature code never tests the system itself.

// The three external programs the conversions run.
enum class ExternalTool {
    ImageTool,   // ImageMagick's command-line tool
    JpegEncoder, // cjpeg
    Interpreter, // Ghostscript's console interpreter
};

// Full path of an external program: the vendor folder beside the program
// first (vendor/magick, vendor/cjpeg, vendor/gs here; vendor\magick.exe,
// vendor\cjpeg.exe, vendor\gswin32c.exe on Windows); on Unix, when that is
// missing, the system's program found on PATH (the image tool only when it
// is ImageMagick). Empty when the program is not found.
QString ExternalToolPath(ExternalTool tool);
