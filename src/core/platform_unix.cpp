#include "platform.h"

#include "common.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    return info.exists() && info.isFile() ? path : QString();
}

QString ExecutableSuffix()
{
    return QString();
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
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Talmerick"));
}

bool MakeFolderLink(const QString &target, const QString &link)
{
    return QFile::link(target, link) && QFileInfo(link).isDir();
}
