#include "platform.h"

#include "common.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>

#include <array>
#include <mutex>

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
