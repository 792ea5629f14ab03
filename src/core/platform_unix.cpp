#include "platform.h"

#include "common.h"

#include <QFileInfo>

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
    return info.exists() && info.isFile() ? path : QString();
}
