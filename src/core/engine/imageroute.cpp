#include "arguments.h"
#include "call.h"
#include "common.h"
#include "exif.h"
#include "routes.h"
#include "toollimits.h"

#include <QFile>
#include <QFileInfo>

namespace Engine
{
namespace
{
// An sRGB colour profile to convert JPEG-route pixels into; empty when none
// is installed. Looked up on each call (a few file checks), since the program
// folder it looks in first can change.
QString srgbProfile()
{
    for (const QString &path : {ProgramFolder() + QStringLiteral("vendor/srgb.icc"),
                                QStringLiteral("/usr/share/color/icc/ghostscript/srgb.icc"),
                                QStringLiteral("/usr/share/color/icc/sRGB.icc"),
                                QStringLiteral("/usr/share/color/icc/colord/sRGB.icc")})
        if (QFileInfo(path).isFile())
            return path;
    return QString();
}

// Measures the drawing inputName and sets the density that draws it at
// about the chosen width.
bool measureDrawing(TCall &call, TImageFacts &facts, int timeoutMs)
{
    QString printed;
    if (!call.Run(ExternalTool::ImageTool, SvgMeasureArguments(facts.InputName), timeoutMs, false, &printed))
        return false;
    facts.SvgDensity = SvgDensity(printed, call.Options().Width);
    if (facts.SvgDensity <= 0)
        return call.Fail(QStringLiteral("image tool: the drawing's size could not be read"));
    return true;
}

bool wroteOutput(TCall &call, const QString &name, const QString &tool)
{
    if (QFileInfo(call.Scratch() + name).size() > 0)
        return true;
    return call.Fail(tool + QStringLiteral(" wrote no output"));
}

bool runDirect(TCall &call, const TImageFacts &facts, const QString &nameSource, int timeoutMs)
{
    const TImageArguments lists = ImageArguments(call.Options(), facts);
    if (!call.Run(ExternalTool::ImageTool, lists.ImageTool, timeoutMs, true) ||
        !wroteOutput(call, facts.OutputName, QStringLiteral("image tool")))
        return false;
    return call.Place(facts.OutputName, nameSource, call.Options().SaveFormat);
}

// Gives the JPEG's JFIF header the density the image tool wrote to
// densityName (the encoder gets none through a PPM).
bool setDensity(TCall &call, const QString &jpeg, const QString &densityName)
{
    QFile printed(call.Scratch() + densityName);
    const QByteArray fields =
        JfifDensity(printed.open(QIODevice::ReadOnly) ? QString::fromUtf8(printed.read(256)) : QString());
    if (fields.isEmpty())
        return true;
    QFile file(call.Scratch() + jpeg);
    if (!file.open(QIODevice::ReadWrite))
        return call.Fail(QStringLiteral("JPEG encoder: output unreadable"));
    // SOI, APP0 of 16 bytes, "JFIF\0", version; then unit and densities.
    const QByteArray head = file.read(13);
    if (head.size() == 13 && head.startsWith(QByteArrayView("\xff\xd8\xff\xe0\x00\x10JFIF\0", 11)) &&
        file.seek(13))
        file.write(fields);
    return true;
}

bool runJpeg(TCall &call, TImageFacts facts, const QString &nameSource, int timeoutMs)
{
    facts.DensityName = call.FreshName(QStringLiteral("density"), QStringLiteral("txt"));
    const TImageArguments lists = ImageArguments(call.Options(), facts);
    if (!call.RunPipe(ExternalTool::ImageTool, lists.ImageTool, ExternalTool::JpegEncoder, lists.Encoder,
                      timeoutMs) ||
        !wroteOutput(call, facts.OutputName, QStringLiteral("JPEG encoder")) ||
        !setDensity(call, facts.OutputName, facts.DensityName))
        return false;
    QString reason;
    if (call.Options().KeepMetadata &&
        !CarryExif(call.Scratch() + facts.InputName, call.Scratch() + facts.OutputName, &reason))
        return call.Fail(reason);
    return call.Place(facts.OutputName, nameSource, call.Options().SaveFormat);
}

bool convert(TCall &call, const QString &nameSource, qint64 inputBytes, TImageFacts facts)
{
    const ConversionOptions &options = call.Options();
    const QString problem = OptionsProblem(options, options.UseWidth ? ImageToolLimits().Width : 0);
    if (!problem.isEmpty())
        return call.Fail(problem);

    const int timeoutMs = call.TimeoutMs(inputBytes);
    const bool jpegRoute = UsesJpegRoute(options.SaveFormat);
    const QString &imageType = facts.InputType;
    facts.ToolThreads = call.Context().ToolThreads;
    if (InputKindOf(imageType) == InputKind::Svg && options.UseWidth &&
        !measureDrawing(call, facts, timeoutMs))
        return false;
    facts.OutputName = call.FreshName(QStringLiteral("out"), ScratchOutputExtension(options.SaveFormat));
    if (!jpegRoute)
        return runDirect(call, facts, nameSource, timeoutMs);
    facts.Profile = srgbProfile();
    return runJpeg(call, facts, nameSource, timeoutMs);
}
} // namespace

bool ConvertImage(TCall &call, const QString &nameSource, const QString &inputName, qint64 inputBytes,
                  const QString &imageType, int scalePercent)
{
    TImageFacts facts;
    facts.InputType = imageType;
    facts.InputName = inputName;
    facts.ScalePercent = scalePercent;
    return convert(call, nameSource, inputBytes, facts);
}

bool ConvertPage(TCall &call, const QString &nameSource, const QString &inputName, qint64 inputBytes,
                 const QSize &exactSize)
{
    TImageFacts facts;
    facts.InputType = QStringLiteral("TIFF");
    facts.InputName = inputName;
    facts.ExactSize = exactSize;
    facts.DropProfiles = true;
    return convert(call, nameSource, inputBytes, facts);
}

bool ConvertIllustrator(TCall &call, const QString &sourcePath)
{
    if (!call.OpenFor(sourcePath))
        return false;
    const QString entry = call.LinkInput(sourcePath, QStringLiteral("in"));
    if (entry.isEmpty())
        return false;
    // The interpreter may read the document and nothing else, and write only
    // its output and its own temporary files in the scratch folder.
    const QString rendered = call.FreshName(QStringLiteral("render"), QStringLiteral("png"));
    if (!call.Run(ExternalTool::Interpreter, AiRenderArguments(entry, rendered),
                  call.TimeoutMs(QFileInfo(sourcePath).size()), false))
        return false;
    const qint64 renderedBytes = QFileInfo(call.Scratch() + rendered).size();
    if (renderedBytes <= 0)
        return call.Fail(QStringLiteral("PostScript interpreter rendered nothing"));
    return ConvertImage(call, sourcePath, rendered, renderedBytes, QStringLiteral("PNG"), 0);
}
} // namespace Engine
