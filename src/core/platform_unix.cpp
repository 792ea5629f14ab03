#include "platform.h"

#include "common.h"
#include "version.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QStringDecoder>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace
{

bool isExecutableFile(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() && info.isFile() && info.isExecutable();
}

// A script that forwards to the real tool answers -version like it, but is
// not the tool: only a program file counts.
bool isScript(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return true;
    return file.read(2) == "#!";
}

// Whether the program at path is ImageMagick's: its -version text says so.
bool isImageMagick(const QString &path)
{
    if (isScript(path))
        return false;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(path, {QStringLiteral("-version")});
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(1000);
        return false;
    }
    return process.readAll().left(4096).contains("ImageMagick");
}

// The first program of one of the names in the folders of PATH, in order,
// that passes accept.
QString findOnPath(const QStringList &names, bool (*accept)(const QString &))
{
    const QStringList folders = QProcessEnvironment::systemEnvironment()
                                    .value(QStringLiteral("PATH"))
                                    .split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &name : names) {
        for (const QString &folder : folders) {
            if (QDir::isRelativePath(folder))
                continue; // never a program of the working folder
            const QString path = QDir(folder).filePath(name);
            if (isExecutableFile(path) && (!accept || accept(path)))
                return path;
        }
    }
    return QString();
}

QString findTool(ExternalTool tool)
{
    switch (tool) {
    case ExternalTool::ImageTool:
        return findOnPath({QStringLiteral("convert"), QStringLiteral("magick")}, isImageMagick);
    case ExternalTool::JpegEncoder:
        return findOnPath({QStringLiteral("cjpeg")}, nullptr);
    case ExternalTool::Interpreter:
        return findOnPath({QStringLiteral("gs")}, nullptr);
    }
    return QString();
}

} // namespace

QString ExternalToolName(ExternalTool tool)
{
    switch (tool) {
    case ExternalTool::ImageTool:
        return QStringLiteral("magick");
    case ExternalTool::JpegEncoder:
        return QStringLiteral("cjpeg");
    case ExternalTool::Interpreter:
        return QStringLiteral("gs");
    }
    return QString();
}

QString ExternalToolPath(ExternalTool tool)
{
    const QString path = ProgramFolder() + QStringLiteral("vendor/") + ExternalToolName(tool);
    const QFileInfo info(path);
    if (info.exists() && info.isFile())
        return path;

    // Installed without a vendor folder: the system's programs, looked up once
    // per process (the image tool's check runs it).
    static std::array<std::once_flag, 3> once;
    static std::array<QString, 3> found;
    const auto index = static_cast<size_t>(tool);
    std::call_once(once[index], [index, tool] { found[index] = findTool(tool); });
    return found[index];
}

void PrepareToolProcess(QProcess &process)
{
    const pid_t parent = ::getpid();
    process.setChildProcessModifier([parent] {
        ::setsid();
        // Dies with the thread that waits for it, should this program be killed.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
    });
}

void KillToolTree(qint64 pid)
{
    if (pid > 0)
        ::kill(-static_cast<pid_t>(pid), SIGKILL);
}

bool FailedBeforeRunning(int)
{
    return false;
}

namespace
{
int terminationPipe[2] = {-1, -1};

extern "C" void onTerminationSignal(int signalNumber)
{
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(terminationPipe[1], &byte, 1);
}
} // namespace

void OnTerminationRequest(std::function<void()> cleanup)
{
    if (terminationPipe[0] >= 0 || ::pipe(terminationPipe) != 0)
        return;
    // The handler only writes a byte; the work happens on this thread, where
    // locks and file calls are allowed.
    std::thread([cleanup = std::move(cleanup)] {
        unsigned char byte = 0;
        while (::read(terminationPipe[0], &byte, 1) != 1) {
        }
        cleanup();
        ::signal(byte, SIG_DFL);
        ::raise(byte);
        ::_exit(128 + byte);
    }).detach();
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signalNumber, &action, nullptr);
}

namespace
{
QString errorText(int number)
{
    if (number == ENOSPC)
        return QStringLiteral("no space left on device");
    return QString::fromLocal8Bit(std::strerror(number));
}
} // namespace

TMoveOutcome MoveWithoutReplacing(const QString &from, const QString &to, QString *error)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    // A second name, then the first one dropped: link() never replaces.
    if (::link(source.constData(), target.constData()) == 0) {
        ::unlink(source.constData());
        return TMoveOutcome::Moved;
    }
    int number = errno;
    if (number == EPERM || number == EOPNOTSUPP || number == EMLINK) {
        // A file system without hard links: a rename that refuses to replace.
        if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
            return TMoveOutcome::Moved;
        number = errno;
    }
    if (number == EEXIST)
        return TMoveOutcome::NameTaken;
    if (number == EXDEV)
        return TMoveOutcome::OtherFileSystem;
    if (error)
        *error = errorText(number);
    return TMoveOutcome::Failed;
}

QString ProcessIdentity(qint64 pid)
{
    if (pid <= 0 || (::kill(pid_t(pid), 0) != 0 && errno == ESRCH))
        return QString();
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return QString::number(pid);
    // The fields after the command name in parentheses; the start time is
    // the 22nd field of the line, the 20th after the name.
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 20 || fields[0] == "Z")
        return fields.value(0) == "Z" ? QString() : QString::number(pid);
    return QString::number(pid) + QLatin1Char(' ') + QString::fromLatin1(fields[19]);
}

FileReadStatus ReadRegularFile(const QString &path, qint64 maxSize, QByteArray &content)
{
    content.clear();
    // A NUL would cut the name short at the system call and name another file.
    if (path.isEmpty() || path.contains(QChar(0)))
        return FileReadStatus::Unreadable;
    const QByteArray name = QFile::encodeName(path);
    // Non-blocking, so that opening a named pipe without a writer returns at once.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return (errno == ENOENT || errno == ENOTDIR) ? FileReadStatus::Missing : FileReadStatus::Unreadable;
    FileReadStatus status = FileReadStatus::Unreadable;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= maxSize) {
        content.resize(qsizetype(st.st_size));
        qsizetype got = 0;
        status = FileReadStatus::Ok;
        // The file may shrink or grow meanwhile: read to its end, within the cap.
        for (;;) {
            if (got == content.size()) {
                if (content.size() > maxSize) {
                    status = FileReadStatus::Unreadable;
                    break;
                }
                content.resize(content.size() + 4096);
            }
            const ssize_t n = ::read(fd, content.data() + got, size_t(content.size() - got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
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
    ::close(fd);
    if (status != FileReadStatus::Ok)
        content.clear();
    return status;
}

bool ReadFileHead(const QString &path, char *buffer, qsizetype size)
{
    if (path.isEmpty() || path.contains(QChar(0)))
        return false;
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = false;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > size) {
        ssize_t got;
        do {
            got = ::pread(fd, buffer, size_t(size), 0);
        } while (got < 0 && errno == EINTR);
        ok = got == size;
    }
    ::close(fd);
    return ok;
}

QString FolderIdentity(const QString &folder)
{
    struct stat st;
    if (folder.contains(QChar(0)) || ::stat(QFile::encodeName(folder).constData(), &st) != 0)
        return QString();
    return QString::number(qulonglong(st.st_dev)) + QLatin1Char(':') + QString::number(qulonglong(st.st_ino));
}

QStringList UndecodableEntries(const QString &folder)
{
    QStringList names;
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return names;
    while (const dirent *entry = ::readdir(dir)) {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString name = decoder.decode(QByteArrayView(entry->d_name));
        if (decoder.hasError())
            names.append(name);
    }
    ::closedir(dir);
    return names;
}

bool IsPathSeparator(QChar c)
{
    return c == QLatin1Char('/');
}

QByteArray NativeLineBreak()
{
    return QByteArrayLiteral("\n");
}

QString NativeSpecialFolder(int csidl)
{
    switch (csidl) {
    case CSIDL_DESKTOP:
        return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    case CSIDL_FONTS: {
        const QStringList candidates = QStandardPaths::standardLocations(QStandardPaths::FontsLocation) +
                                       QStringList{QStringLiteral("/usr/share/fonts")};
        for (const QString &dir : candidates) {
            if (QFileInfo(dir).isDir())
                return dir;
        }
        return QStringLiteral("/usr/share/fonts");
    }
    case CSIDL_INTERNET_CACHE: {
        QString dir = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
        if (dir.isEmpty())
            dir = QDir::tempPath();
        QDir().mkpath(dir);
        return dir;
    }
    default:
        return QString();
    }
}

QStringList NativeArguments()
{
    return QCoreApplication::arguments();
}

std::unique_ptr<QSettings> OpenInstallIdStore()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("Talmerick"));
}

bool MakeReadEntry(const QString &target, const QString &entry)
{
    return QFile::link(target, entry);
}

std::array<int, 4> ProgramVersion()
{
    return {ZARVELO_VERSION_MAJOR, ZARVELO_VERSION_MINOR, ZARVELO_VERSION_PATCH, ZARVELO_VERSION_TWEAK};
}
