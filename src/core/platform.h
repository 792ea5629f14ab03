#pragma once

#include <QString>

#include <functional>

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

class QProcess;

// Prepares a tool process before it starts: it becomes the head of a process
// group of its own (so KillToolTree reaches everything it starts) and is
// killed by the system if this program dies first.
void PrepareToolProcess(QProcess &process);

// Kills a tool process started after PrepareToolProcess and everything it
// started. Harmless for a process that has ended.
void KillToolTree(qint64 pid);

// Runs cleanup (on a thread of its own) when the program is asked to end
// (SIGTERM, SIGINT, SIGHUP here), then ends the program as the request
// would have. Set once; later calls are ignored.
void OnTerminationRequest(std::function<void()> cleanup);

// How MoveWithoutReplacing ended.
enum class TMoveOutcome {
    Moved,
    NameTaken,       // an entry (a dangling link included) already has the new name: nothing changed
    OtherFileSystem, // the two names are on different file systems: nothing changed
    Failed,          // see the error text
};

// Gives the file at from the name to, in the same file system, without ever
// replacing an entry already there and without a moment in which to names an
// unfinished file. error receives a short reason on Failed.
TMoveOutcome MoveWithoutReplacing(const QString &from, const QString &to, QString *error);

// A text that names a running process for as long as it runs ("<pid> <start
// time>"); a later process that reuses the id gets another text. Empty when
// no process with that id runs.
QString ProcessIdentity(qint64 pid);
