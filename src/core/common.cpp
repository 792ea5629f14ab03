#include "common.h"

#include "platform.h"
#include "version.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QUrl>

namespace
{
QString &programFolderOverride()
{
    static QString folder;
    return folder;
}

QString withoutTrailingSeparator(QString path)
{
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}
} // namespace

QString GetVersionString(const QString &format)
{
    const std::array<int, 4> parts = ProgramVersion();
    QString result;
    int next = 0;
    for (qsizetype i = 0; i < format.size(); ++i) {
        if (format[i] == QLatin1Char('%') && i + 1 < format.size()) {
            const QChar c = format[i + 1];
            if (c == QLatin1Char('d')) {
                result += QString::number(next < 4 ? parts[next] : 0);
                ++next;
                ++i;
                continue;
            }
            if (c == QLatin1Char('%')) {
                result += QLatin1Char('%');
                ++i;
                continue;
            }
        }
        result += format[i];
    }
    return result;
}

QString GetSpecialFolder(int csidl)
{
    return withoutTrailingSeparator(NativeSpecialFolder(csidl));
}

bool OpenDocument(const QString &url)
{
    const QUrl parsed(url, QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    if (!parsed.isValid() || (scheme != QLatin1String("https") && scheme != QLatin1String("http")) ||
        parsed.host().isEmpty())
        return false;
    return QDesktopServices::openUrl(parsed);
}

QString ProgramFolder()
{
    QString folder = programFolderOverride();
    if (folder.isEmpty())
        folder = QCoreApplication::applicationDirPath();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

namespace
{
// Whether a file can be created in folder: tried for real, because the
// permission bits do not tell (root, read-only file systems, ACLs).
bool canCreateFileIn(const QString &folder)
{
    QTemporaryFile probe(folder + QStringLiteral(".zarvelo-XXXXXX"));
    return probe.open();
}

bool isInstalledProgramFolder(const QString &folder)
{
    const QString installed = QFileInfo(QStringLiteral(ZARVELO_INSTALL_BINDIR)).canonicalFilePath();
    return !installed.isEmpty() && QFileInfo(folder).canonicalFilePath() == installed;
}
} // namespace

QString SettingsFolder()
{
    static QMutex mutex;
    static QString decidedFor;
    static bool beside = false;
    const QString program = ProgramFolder();
    {
        QMutexLocker lock(&mutex);
        if (decidedFor != program) {
            decidedFor = program;
            beside = !isInstalledProgramFolder(program) && canCreateFileIn(program);
        }
        if (beside)
            return program;
    }
    QString user = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (user.isEmpty())
        user = QDir::homePath() + QStringLiteral("/.config");
    return withoutTrailingSeparator(user) + QStringLiteral("/Zarvelo/");
}

void SetProgramFolder(const QString &folder)
{
    programFolderOverride() = folder;
}

QString WebHost()
{
    return QStringLiteral(ZARVELO_WEB_HOST);
}
