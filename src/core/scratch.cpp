#include "scratch.h"

#include "common.h"
#include "platform.h"
#include "tools.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>

namespace
{
const QString lockName = QStringLiteral(".owner.lock");
const QString folderPrefix = QStringLiteral("zarvelo-");

// Folders and files that must go if the program is asked to end.
QMutex registryMutex;
QSet<QString> liveFolders;
QSet<QString> liveFiles;

// A folder just made has no lock file for a moment; only one that stays
// without one this long is taken for a dead program's.
constexpr qint64 unlockedGraceSeconds = 600;
} // namespace

TScratchFolder::TScratchFolder()
    : FDir(GetSpecialFolder(CSIDL_INTERNET_CACHE) + QStringLiteral("/zarvelo-XXXXXX"))
{
    if (!FDir.isValid())
        return;
    auto lock = std::make_unique<QLockFile>(FDir.filePath(lockName));
    if (!lock->tryLock(0))
        return;
    FLock = std::move(lock);
    FPath = FDir.path() + QLatin1Char('/');
    QMutexLocker locker(&registryMutex);
    liveFolders.insert(FDir.path());
}

TScratchFolder::~TScratchFolder()
{
    if (!FPath.isEmpty()) {
        QMutexLocker locker(&registryMutex);
        liveFolders.remove(FDir.path());
    }
    FLock.reset();
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
        const QString lockPath = folder.absoluteFilePath() + QLatin1Char('/') + lockName;
        if (QFileInfo::exists(lockPath)) {
            QLockFile lock(lockPath);
            // Only a dead owner makes the lock stale; a long conversion of a
            // running copy keeps its folder however old the lock is.
            lock.setStaleLockTime(0);
            if (!lock.tryLock(0))
                continue;
            lock.unlock();
        } else if (folder.lastModified().secsTo(QDateTime::currentDateTime()) < unlockedGraceSeconds) {
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
