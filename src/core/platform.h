#pragma once

#include <QByteArray>
#include <QSettings>
#include <QString>
#include <QStringList>

#include <array>
#include <memory>

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

// File name of an external program inside the vendor folder: magick, cjpeg,
// gs here; magick.exe, cjpeg.exe, gswin32c.exe on Windows.
QString ExternalToolName(ExternalTool tool);

// Full path of an external program: the vendor folder beside the program
// first (vendor/magick, vendor/cjpeg, vendor/gs here; vendor\magick.exe,
// vendor\cjpeg.exe, vendor\gswin32c.exe on Windows); on Unix, when that is
// missing, the system's program found on PATH (the image tool only when it
// is ImageMagick). Empty when the program is not found.
QString ExternalToolPath(ExternalTool tool);

// The program's four-part version (major, minor, release, build): on Windows
// the fixed file version of the executable's version resource, all zeros
// when it carries none; elsewhere the version the program was built as.
std::array<int, 4> ProgramVersion();

enum class FileReadStatus { Ok, Missing, Unreadable };

// Reads a whole regular file of at most maxSize bytes into content (emptied
// on failure). A folder, a named pipe or a device is never read and never
// blocks the caller; a file that grows past maxSize while being read is
// Unreadable.
FileReadStatus ReadRegularFile(const QString &path, qint64 maxSize, QByteArray &content);

// Reads the first size bytes of a regular file that is longer than size
// bytes. False, with buffer untouched or partly written, in every other case;
// never blocks on a pipe or device.
bool ReadFileHead(const QString &path, char *buffer, qsizetype size);

// What tells two paths of one folder apart from two folders (device and
// inode where the system has them, else the canonical path). Empty when the
// folder cannot be looked at.
QString FolderIdentity(const QString &folder);

// The entries of folder whose names are not valid UTF-8, each decoded with
// U+FFFD for its bad bytes. Qt's folder listing leaves them out, since no
// decoded name leads back to them. Always empty where names are Unicode.
QStringList UndecodableEntries(const QString &folder);

// Whether c ends a folder part of a path: '/' everywhere; on Windows also
// '\' and the colon of a drive ("C:name").
bool IsPathSeparator(QChar c);

// Line break of a text file written from nothing: CR LF on Windows, LF
// elsewhere.
QByteArray NativeLineBreak();

// Path of a shell folder by its CSIDL number (desktop 0x00, fonts 0x14,
// internet cache 0x20, the last created when missing), '/' as separator and
// with a trailing separator left as the system gives it. Empty for any
// other number or when the system has no such folder.
QString NativeSpecialFolder(int csidl);

// The program's command line, the program first (as
// QCoreApplication::arguments(), which must exist). On Windows the raw
// command line is split by the system's own rules (CommandLineToArgvW:
// quotes group spaces, backslashes before a quote escape it) and every
// backslash then becomes '/', so paths reach the program in one form.
QStringList NativeArguments();

// The store of the install identifier: the registry key
// HKEY_CURRENT_USER\Software\Talmerick on Windows, the user's settings
// folder (organisation "Talmerick") elsewhere.
std::unique_ptr<QSettings> OpenInstallIdStore();

// Makes entry a new name through which a tool can read the file target (an
// absolute path). On Unix a symbolic link; on Windows, where tools do not
// follow shortcuts, a hard link, else a symbolic link that needs no
// elevation, else a copy. True when entry now reads as target.
bool MakeReadEntry(const QString &target, const QString &entry);

class QProcess;

// Prepares a tool process before it starts: it becomes the head of a process
// group of its own (so KillToolTree reaches everything it starts) and is
// killed by the system if this program dies first.
void PrepareToolProcess(QProcess &process);

// Kills a tool process started after PrepareToolProcess and everything it
// started. Harmless for a process that has ended.
void KillToolTree(qint64 pid);

// Whether a tool that crashed with exitCode failed before any code of its
// own ran, for a reason that may pass: on Windows a library that could not
// initialise (0xC0000142), as happens when many programs start at once and
// the system is short of resources for a moment. Such a run may be
// repeated. Never on Unix, where a failed start is reported as such.
bool FailedBeforeRunning(int exitCode);

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
