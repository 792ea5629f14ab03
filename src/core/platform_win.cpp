#include "platform.h"

#include "common.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QProcess>
#include <QVariant>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winver.h>

#include <string>
#include <vector>

#include <shellapi.h>
#include <shlobj.h>

namespace
{

// Qt's regular expressions keep their JIT stack in a thread_local object. Its
// destructor runs through the MinGW runtime's thread-exit list when a worker
// thread that matched a pattern ends, and afterwards the process hangs in its
// own exit (the runtime's key lock stays taken; seen every time under wine
// with one worker). The patterns this program uses are small and run as fast
// interpreted, so the JIT is turned off before the first pattern is compiled,
// unless the user chose otherwise.
const bool regexpJitOff = [] {
    if (!qEnvironmentVariableIsSet("QT_ENABLE_REGEXP_JIT"))
        qputenv("QT_ENABLE_REGEXP_JIT", "0");
    return true;
}();

// A path in the form the system's wide-character calls take. Absolute paths
// get the \\?\ prefix, so that names beyond MAX_PATH characters still open.
std::wstring nativePath(const QString &path)
{
    const QString clean = QDir::cleanPath(QDir::fromNativeSeparators(path));
    QString native = QDir::toNativeSeparators(clean);
    if (clean.size() >= 3 && clean.at(1) == QLatin1Char(':') && clean.at(2) == QLatin1Char('/'))
        native.prepend(QStringLiteral("\\\\?\\"));
    else if (clean.startsWith(QStringLiteral("//")) && !clean.startsWith(QStringLiteral("//?/")) &&
             !clean.startsWith(QStringLiteral("//./")))
        native = QStringLiteral("\\\\?\\UNC\\") + native.mid(2);
    return native.toStdWString();
}

// Opens an existing regular file for reading, sharing it with writers; an
// invalid handle for anything else (folders, devices, pipes).
HANDLE openRegularFile(const QString &path, DWORD *error)
{
    *error = ERROR_SUCCESS;
    if (path.isEmpty() || path.contains(QChar(0))) {
        *error = ERROR_INVALID_NAME;
        return INVALID_HANDLE_VALUE;
    }
    const std::wstring name = nativePath(path);
    HANDLE h = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return h;
    }
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        *error = ERROR_INVALID_FUNCTION;
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

} // namespace

QString ExternalToolName(ExternalTool tool)
{
    switch (tool) {
    case ExternalTool::ImageTool:
        return QStringLiteral("magick.exe");
    case ExternalTool::JpegEncoder:
        return QStringLiteral("cjpeg.exe");
    case ExternalTool::Interpreter:
        return QStringLiteral("gswin32c.exe");
    }
    return QString();
}

QString ExternalToolPath(ExternalTool tool)
{
    const QString path = ProgramFolder() + QStringLiteral("vendor/") + ExternalToolName(tool);
    const QFileInfo info(path);
    return info.exists() && info.isFile() ? path : QString();
}

FileReadStatus ReadRegularFile(const QString &path, qint64 maxSize, QByteArray &content)
{
    content.clear();
    DWORD error;
    HANDLE h = openRegularFile(path, &error);
    if (h == INVALID_HANDLE_VALUE)
        return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? FileReadStatus::Missing
                                                                                : FileReadStatus::Unreadable;
    FileReadStatus status = FileReadStatus::Unreadable;
    LARGE_INTEGER size;
    if (GetFileSizeEx(h, &size) && size.QuadPart <= maxSize) {
        status = FileReadStatus::Ok;
        content.resize(qsizetype(size.QuadPart));
        qsizetype got = 0;
        // The file may shrink or grow meanwhile: read to its end, within the cap.
        for (;;) {
            if (got == content.size()) {
                if (content.size() > maxSize) {
                    status = FileReadStatus::Unreadable;
                    break;
                }
                content.resize(content.size() + 4096);
            }
            DWORD n = 0;
            const DWORD want = DWORD(std::min<qsizetype>(content.size() - got, 1 << 30));
            if (!ReadFile(h, content.data() + got, want, &n, nullptr)) {
                status = FileReadStatus::Unreadable;
                break;
            }
            if (n == 0)
                break;
            got += n;
        }
        content.truncate(got);
        if (content.size() > maxSize)
            status = FileReadStatus::Unreadable;
    }
    CloseHandle(h);
    if (status != FileReadStatus::Ok)
        content.clear();
    return status;
}

bool ReadFileHead(const QString &path, char *buffer, qsizetype size)
{
    DWORD error;
    HANDLE h = openRegularFile(path, &error);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    bool ok = false;
    LARGE_INTEGER fileSize;
    if (GetFileSizeEx(h, &fileSize) && fileSize.QuadPart > size) {
        DWORD n = 0;
        ok = ReadFile(h, buffer, DWORD(size), &n, nullptr) && n == DWORD(size);
    }
    CloseHandle(h);
    return ok;
}

QString FolderIdentity(const QString &folder)
{
    if (folder.isEmpty() || folder.contains(QChar(0)))
        return QString();
    // Volume serial number and file index: the system's device and inode.
    const std::wstring name = nativePath(folder);
    HANDLE h = CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return QString();
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = GetFileInformationByHandle(h, &info);
    CloseHandle(h);
    if (!ok)
        return QFileInfo(folder).canonicalFilePath();
    const quint64 index = (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return QString::number(info.dwVolumeSerialNumber) + QLatin1Char(':') + QString::number(index);
}

QStringList UndecodableEntries(const QString &)
{
    return QStringList();
}

bool IsPathSeparator(QChar c)
{
    return c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':');
}

QByteArray NativeLineBreak()
{
    return QByteArrayLiteral("\r\n");
}

QString NativeSpecialFolder(int csidl)
{
    if (csidl != CSIDL_DESKTOP && csidl != CSIDL_FONTS && csidl != CSIDL_INTERNET_CACHE)
        return QString();
    wchar_t path[MAX_PATH] = {};
    const int flags = csidl == CSIDL_INTERNET_CACHE ? CSIDL_FLAG_CREATE : 0;
    if (FAILED(SHGetFolderPathW(nullptr, csidl | flags, nullptr, SHGFP_TYPE_CURRENT, path)))
        return QString();
    return QDir::fromNativeSeparators(QString::fromWCharArray(path));
}

QStringList NativeArguments()
{
    QStringList arguments;
    int count = 0;
    LPWSTR *list = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!list)
        return QCoreApplication::arguments();
    for (int i = 0; i < count; ++i)
        arguments << QDir::fromNativeSeparators(QString::fromWCharArray(list[i]));
    LocalFree(list);
    return arguments;
}

std::unique_ptr<QSettings> OpenInstallIdStore()
{
    return std::make_unique<QSettings>(QStringLiteral("HKEY_CURRENT_USER\\Software\\Talmerick"),
                                       QSettings::NativeFormat);
}

bool MakeReadEntry(const QString &target, const QString &entry)
{
    constexpr DWORD AllowUnprivilegedCreate = 0x2;
    const std::wstring from = nativePath(entry);
    const std::wstring to = nativePath(target);
    if (CreateHardLinkW(from.c_str(), to.c_str(), nullptr))
        return true;
    // Another volume, or a file system without hard links.
    if (CreateSymbolicLinkW(from.c_str(), to.c_str(), AllowUnprivilegedCreate) && QFileInfo(entry).isFile())
        return true;
    DeleteFileW(from.c_str());
    return CopyFileW(to.c_str(), from.c_str(), TRUE) != 0;
}

namespace
{

// What holds each running tool: a job object that holds the tool and
// everything it starts and ends them all when closed (also when this program
// dies), and a handle of the tool's own. Holding a handle keeps the system
// from giving the tool's id to another process, so a kill by id can only
// reach the tool.
struct TToolHold {
    HANDLE Job = nullptr;
    HANDLE Process = nullptr;
};
QMutex toolJobsMutex;
QHash<qint64, TToolHold> toolJobs;

void closeToolJob(qint64 pid, bool kill)
{
    TToolHold hold;
    {
        QMutexLocker lock(&toolJobsMutex);
        hold = toolJobs.take(pid);
    }
    if (kill) {
        if (hold.Job)
            TerminateJobObject(hold.Job, 1);
        else if (hold.Process)
            TerminateProcess(hold.Process, 1);
    }
    if (hold.Job)
        CloseHandle(hold.Job);
    if (hold.Process)
        CloseHandle(hold.Process);
}

std::function<void()> &terminationCleanup()
{
    static std::function<void()> cleanup;
    return cleanup;
}

BOOL WINAPI onConsoleEvent(DWORD)
{
    if (terminationCleanup())
        terminationCleanup()();
    return FALSE; // the system's own handling ends the program
}

} // namespace

void PrepareToolProcess(QProcess &process)
{
    // The tool starts suspended and runs only once it is in its job: a tool
    // that ran before would escape the job, and outlive this program, if the
    // program died in between. Qt fills the process information it hands to
    // CreateProcess and keeps it (with the thread handle) while the process
    // runs.
    process.setCreateProcessArgumentsModifier([&process](QProcess::CreateProcessArguments *arguments) {
        arguments->flags |= CREATE_SUSPENDED;
        process.setProperty("zarveloToolInfo", quintptr(arguments->processInformation));
    });
    QObject::connect(&process, &QProcess::started, &process, [&process] {
        const auto *info = reinterpret_cast<const PROCESS_INFORMATION *>(
            process.property("zarveloToolInfo").value<quintptr>());
        if (!info)
            return;
        const qint64 pid = info->dwProcessId;
        TToolHold hold;
        if (!DuplicateHandle(GetCurrentProcess(), info->hProcess, GetCurrentProcess(), &hold.Process, 0,
                             FALSE, DUPLICATE_SAME_ACCESS))
            hold.Process = nullptr;
        hold.Job = CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (hold.Job &&
            !(SetInformationJobObject(hold.Job, JobObjectExtendedLimitInformation, &limits, sizeof(limits)) &&
              AssignProcessToJobObject(hold.Job, info->hProcess))) {
            // Without a job only the tool itself can be ended.
            CloseHandle(hold.Job);
            hold.Job = nullptr;
        }
        if (hold.Job || hold.Process) {
            QMutexLocker lock(&toolJobsMutex);
            toolJobs.insert(pid, hold);
            // The id is gone from the process object once it has finished.
            process.setProperty("zarveloToolPid", pid);
        }
        ResumeThread(info->hThread);
    });
    QObject::connect(&process, &QProcess::finished, &process,
                     [&process] { closeToolJob(process.property("zarveloToolPid").toLongLong(), true); });
}

void KillToolTree(qint64 pid)
{
    // Only a tool still held here: once it has ended its id may already
    // belong to some other program.
    if (pid > 0)
        closeToolJob(pid, true);
}

bool FailedBeforeRunning(int exitCode)
{
    return DWORD(exitCode) == DWORD(STATUS_DLL_INIT_FAILED);
}

void OnTerminationRequest(std::function<void()> cleanup)
{
    if (terminationCleanup())
        return;
    terminationCleanup() = std::move(cleanup);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

TMoveOutcome MoveWithoutReplacing(const QString &from, const QString &to, QString *error)
{
    const std::wstring source = nativePath(from);
    const std::wstring target = nativePath(to);
    // Without MOVEFILE_REPLACE_EXISTING an existing entry is never replaced;
    // without MOVEFILE_COPY_ALLOWED the move is a rename on one volume.
    if (MoveFileExW(source.c_str(), target.c_str(), 0))
        return TMoveOutcome::Moved;
    const DWORD code = GetLastError();
    if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS)
        return TMoveOutcome::NameTaken;
    if (code == ERROR_NOT_SAME_DEVICE)
        return TMoveOutcome::OtherFileSystem;
    if (error)
        *error = QStringLiteral("cannot move the file (system error %1)").arg(code);
    return TMoveOutcome::Failed;
}

QString ProcessIdentity(qint64 pid)
{
    if (pid <= 0)
        return QString();
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!process)
        return QString();
    QString identity;
    DWORD exitCode = 0;
    FILETIME created, exited, kernel, user;
    if (GetExitCodeProcess(process, &exitCode) && exitCode == STILL_ACTIVE &&
        GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        const quint64 start = (quint64(created.dwHighDateTime) << 32) | created.dwLowDateTime;
        identity = QString::number(pid) + QLatin1Char(' ') + QString::number(start);
    }
    CloseHandle(process);
    return identity;
}

std::array<int, 4> ProgramVersion()
{
    // The running executable's own file, read through the version API.
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
    if (length == 0 || length >= path.size())
        return {0, 0, 0, 0};
    path.resize(length);
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size == 0)
        return {0, 0, 0, 0};
    std::vector<char> data(size);
    VS_FIXEDFILEINFO *info = nullptr;
    UINT infoSize = 0;
    if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data()) ||
        !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void **>(&info), &infoSize) || !info ||
        infoSize < sizeof(VS_FIXEDFILEINFO))
        return {0, 0, 0, 0};
    return {int(HIWORD(info->dwFileVersionMS)), int(LOWORD(info->dwFileVersionMS)),
            int(HIWORD(info->dwFileVersionLS)), int(LOWORD(info->dwFileVersionLS))};
}
