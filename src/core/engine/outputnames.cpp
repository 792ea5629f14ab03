#include "outputnames.h"

#include "pathparts.h"

#include <QFileInfo>
#include <QRegularExpression>

bool OutputNameTaken(const QString &path)
{
    const QFileInfo info(path);
    return (info.exists() || info.isSymLink()) && !info.isDir();
}

QString MakeOutputPath(const ConversionOptions &options, const QString &sourcePath, const QString &format)
{
    const QString name = Engine::WithoutExtension(Engine::FileNamePart(sourcePath));
    QString folder = options.SavePath;
    if (folder.isEmpty())
        folder = Engine::FolderPart(sourcePath);
    else if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');

    const QString base = folder + name;
    const QString extension = format.toLower();
    QString candidate = base + QLatin1Char('.') + extension;
    for (qint64 n = 1; OutputNameTaken(candidate); ++n)
        candidate = base + QStringLiteral(" (") + QString::number(n) + QStringLiteral(").") + extension;
    return candidate;
}

QString TOutputNames::Reserve(const ConversionOptions &options, const QString &sourcePath,
                              const QString &format)
{
    QMutexLocker lock(&FMutex);
    const auto found = FBySource.constFind(sourcePath);
    if (found != FBySource.constEnd())
        return *found;
    QString path = MakeOutputPath(options, sourcePath, format);
    if (FHeld.contains(path))
        path = nextFree(path);
    FHeld.insert(path);
    FBySource.insert(sourcePath, path);
    return path;
}

QString TOutputNames::ReserveNext(const QString &path)
{
    QMutexLocker lock(&FMutex);
    const QString next = nextFree(path);
    FHeld.insert(next);
    return next;
}

QString TOutputNames::nextFree(const QString &path) const
{
    // "name (n).ext" after "name.ext" or after "name (m).ext".
    static const QRegularExpression numbered(QStringLiteral("^(.*) \\((\\d+)\\)$"));
    const qsizetype slashAt = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    const bool hasExtension = dot > slashAt;
    QString base = hasExtension ? path.left(dot) : path;
    const QString extension = hasExtension ? path.mid(dot) : QString();
    qint64 n = 1;
    const QRegularExpressionMatch match = numbered.match(base.mid(slashAt + 1));
    if (match.hasMatch()) {
        base = path.left(slashAt + 1) + match.captured(1);
        n = match.captured(2).toLongLong() + 1;
    }
    QString candidate;
    do
        candidate = base + QStringLiteral(" (") + QString::number(n++) + QLatin1Char(')') + extension;
    while (FHeld.contains(candidate) || OutputNameTaken(candidate));
    return candidate;
}
