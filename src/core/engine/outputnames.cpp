#include "outputnames.h"

#include "pathparts.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace
{
// The output's path without " (n)" and extension, and the extension with its dot.
void outputParts(const ConversionOptions &options, const QString &sourcePath, const QString &format,
                 QString *base, QString *extension)
{
    const QString name = Engine::WithoutExtension(Engine::FileNamePart(sourcePath));
    QString folder = options.SavePath;
    if (folder.isEmpty())
        folder = Engine::FolderPart(sourcePath);
    else if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    *base = folder + name;
    *extension = QLatin1Char('.') + format.toLower();
}

QString numbered(const QString &base, qint64 n, const QString &extension)
{
    return base + QStringLiteral(" (") + QString::number(n) + QLatin1Char(')') + extension;
}

// Two names of one file: the same path once links and "." are resolved.
bool sameFile(const QString &a, const QString &b)
{
    if (a == b)
        return true;
    const QString canonical = QFileInfo(a).canonicalFilePath();
    return !canonical.isEmpty() && canonical == QFileInfo(b).canonicalFilePath();
}
} // namespace

bool OutputNameTaken(const QString &path)
{
    const QFileInfo info(path);
    return (info.exists() || info.isSymLink()) && !info.isDir();
}

bool HoldsEarlierOutput(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && !info.isSymLink();
}

QString MakeOutputPath(const ConversionOptions &options, const QString &sourcePath, const QString &format)
{
    QString base, extension;
    outputParts(options, sourcePath, format, &base, &extension);
    QString candidate = base + extension;
    for (qint64 n = 1; OutputNameTaken(candidate); ++n)
        candidate = numbered(base, n, extension);
    return candidate;
}

void TOutputNames::AddSource(const QString &path)
{
    const QFileInfo info(path);
    QMutexLocker lock(&FMutex);
    FSources.insert(info.fileName().toLower(), path);
    if (info.isSymLink())
        FSources.insert(QFileInfo(info.canonicalFilePath()).fileName().toLower(), path);
}

bool TOutputNames::IsSource(const QString &path) const
{
    QMutexLocker lock(&FMutex);
    return isSource(path);
}

bool TOutputNames::isSource(const QString &path) const
{
    // Only sources of the same name can be the same file; most outputs have
    // none, and cost no look at the disk.
    const QString name = Engine::FileNamePart(path).toLower();
    for (auto it = FSources.constFind(name); it != FSources.constEnd() && it.key() == name; ++it) {
        if (sameFile(path, it.value()))
            return true;
    }
    return false;
}

bool TOutputNames::unusable(const QString &candidate, TExistingPolicy policy) const
{
    if (FHeld.contains(candidate))
        return true;
    if (policy == TExistingPolicy::Rename)
        return OutputNameTaken(candidate);
    const QFileInfo info(candidate);
    if (!info.exists() && !info.isSymLink())
        return false;
    return !info.isFile() || info.isSymLink() || isSource(candidate);
}

QString TOutputNames::Reserve(const ConversionOptions &options, const QString &sourcePath,
                              const QString &format)
{
    QMutexLocker lock(&FMutex);
    const auto found = FBySource.constFind(sourcePath);
    if (found != FBySource.constEnd())
        return *found;
    QString path;
    if (options.Existing == TExistingPolicy::Rename) {
        path = MakeOutputPath(options, sourcePath, format);
        if (FHeld.contains(path))
            path = nextFree(path, options.Existing);
    } else {
        QString base, extension;
        outputParts(options, sourcePath, format, &base, &extension);
        path = base + extension;
        for (qint64 n = 1; unusable(path, options.Existing); ++n)
            path = numbered(base, n, extension);
    }
    FHeld.insert(path);
    FBySource.insert(sourcePath, path);
    return path;
}

QString TOutputNames::ReserveNext(const QString &path, TExistingPolicy policy)
{
    QMutexLocker lock(&FMutex);
    const QString next =
        nextFree(path, policy == TExistingPolicy::Overwrite ? policy : TExistingPolicy::Rename);
    FHeld.insert(next);
    return next;
}

QString TOutputNames::nextFree(const QString &path, TExistingPolicy policy) const
{
    // "name (n).ext" after "name.ext" or after "name (m).ext".
    static const QRegularExpression numberedName(QStringLiteral("^(.*) \\((\\d+)\\)$"));
    const qsizetype slashAt = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    const bool hasExtension = dot > slashAt;
    QString base = hasExtension ? path.left(dot) : path;
    const QString extension = hasExtension ? path.mid(dot) : QString();
    qint64 n = 1;
    const QRegularExpressionMatch match = numberedName.match(base.mid(slashAt + 1));
    if (match.hasMatch()) {
        base = path.left(slashAt + 1) + match.captured(1);
        n = match.captured(2).toLongLong() + 1;
    }
    QString candidate;
    do
        candidate = numbered(base, n++, extension);
    while (unusable(candidate, policy));
    return candidate;
}
