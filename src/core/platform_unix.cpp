#include "platform.h"

#include "common.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/prctl.h>
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
    const QStringList folders =
        QProcessEnvironment::systemEnvironment().value(QStringLiteral("PATH")).split(QLatin1Char(':'),
                                                                                    Qt::SkipEmptyParts);
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

QString ExternalToolPath(ExternalTool tool)
{
    QString name;
    switch (tool) {
    case ExternalTool::ImageTool:
        name = QStringLiteral("magick");
        break;
    case ExternalTool::JpegEncoder:
        name = QStringLiteral("cjpeg");
        break;
    case ExternalTool::Interpreter:
        name = QStringLiteral("gs");
        break;
    }
    const QString path = ProgramFolder() + QStringLiteral("vendor/") + name;
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
