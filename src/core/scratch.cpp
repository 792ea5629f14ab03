#include "scratch.h"

#include "common.h"
#include "platform.h"
#include "tools.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>
#include <QSysInfo>
#include <QThread>

namespace
{
const QString ownerName = QStringLiteral(".owner");
const QString folderPrefix = QStringLiteral("zarvelo-");

// Folders and files that must go if the program is asked to end.
QMutex registryMutex;
QSet<QString> liveFolders;
QSet<QString> liveFiles;

// A folder just made has no owner mark for a moment; only one that stays
// without one this long is taken for a dead program's.
constexpr qint64 unmarkedGraceSeconds = 600;
} // namespace

namespace
{
QString ownIdentity()
{
    static const QString identity = ProcessIdentity(QCoreApplication::applicationPid());
    return identity;
}
} // namespace

TScratchFolder::TScratchFolder()
    : FDir(GetSpecialFolder(CSIDL_INTERNET_CACHE) + QStringLiteral("/zarvelo-XXXXXX"))
{
    if (!FDir.isValid())
        return;
    QFile owner(FDir.filePath(ownerName));
    const QByteArray identity = (ownIdentity() + QLatin1Char('\n') + QSysInfo::machineHostName()).toUtf8();
    if (!owner.open(QIODevice::WriteOnly) || owner.write(identity) != identity.size() || !owner.flush())
        return;
    FPath = FDir.path() + QLatin1Char('/');
    QMutexLocker locker(&registryMutex);
    liveFolders.insert(FDir.path());
}

TScratchFolder::~TScratchFolder()
{
    if (FPath.isEmpty())
        return;
    // Windows removes no folder that a process has as its current folder,
    // and a tool's console host can outlive the tool for a moment.
    for (int attempt = 0; attempt < 50 && !QDir(FDir.path()).removeRecursively(); ++attempt)
        QThread::msleep(10);
    QMutexLocker locker(&registryMutex);
    liveFolders.remove(FDir.path());
}

bool TScratchFolder::IsValid() const
{
    return !FPath.isEmpty();
}

int RemoveStaleScratchFolders()
{
    const QDir cache(GetSpecialFolder(CSIDL_INTERNET_CACHE));
    int removed = 0;
    const QFileInfoList folders = cache.entryInfoList({folderPrefix + QLatin1Char('*')},
                                                      QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo &folder : folders) {
        if (folder.isSymLink())
            continue;
        const bool recent = folder.lastModified().secsTo(QDateTime::currentDateTime()) < unmarkedGraceSeconds;
        QStringList mark;
        {
            // Closed before the folder is removed: Windows deletes no open file.
            QFile owner(folder.absoluteFilePath() + QLatin1Char('/') + ownerName);
            if (owner.open(QIODevice::ReadOnly))
                mark = QString::fromUtf8(owner.read(512)).split(QLatin1Char('\n'));
        }
        const QString identity = mark.value(0);
        const qint64 pid = identity.section(QLatin1Char(' '), 0, 0).toLongLong();
        if (pid > 0 && mark.size() == 2) {
            // A folder of another machine (a shared home folder) is not
            // this machine's to judge; here the owner runs while a process
            // with its id and start time does.
            if (mark[1] != QSysInfo::machineHostName() || ProcessIdentity(pid) == identity)
                continue;
        } else if (recent) {
            continue;
        }
        if (QDir(folder.absoluteFilePath()).removeRecursively())
            ++removed;
    }
    return removed;
}

void RememberTemporaryFile(const QString &path)
{
    QMutexLocker locker(&registryMutex);
    liveFiles.insert(path);
}

void ForgetTemporaryFile(const QString &path)
{
    QMutexLocker locker(&registryMutex);
    liveFiles.remove(path);
}

void InstallTerminationCleanup()
{
    OnTerminationRequest([] {
        KillAllToolRuns();
        QMutexLocker locker(&registryMutex);
        for (const QString &file : std::as_const(liveFiles))
            QFile::remove(file);
        for (const QString &folder : std::as_const(liveFolders))
            QDir(folder).removeRecursively();
    });
}
