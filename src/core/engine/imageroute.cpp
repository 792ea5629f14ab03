#include "arguments.h"
#include "call.h"
#include "common.h"
#include "exif.h"
#include "formats.h"
#include "pathparts.h"
#include "pdfplan.h"
#include "routes.h"
#include "svgrefs.h"
#include "tiffexif.h"
#include "toollimits.h"
#include "tools.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <map>

namespace Engine
{
namespace
{
// An sRGB colour profile to convert pixels into; empty when none is
// installed. Looked up on each call (a few file checks), since the program
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
// about the size the resize asks for.
bool measureDrawing(TCall &call, TImageFacts &facts, int timeoutMs)
{
    QString printed;
    if (!call.Run(ExternalTool::ImageTool, SvgMeasureArguments(facts.InputName), timeoutMs, false, &printed))
        return false;
    const double naturalWidth = SvgNaturalWidth(printed);
    if (naturalWidth <= 0)
        return call.Fail(QStringLiteral("image tool: the drawing's size could not be read"));
    // A drawing that keeps its own size is drawn at its own density.
    facts.DrawingTarget = DrawingWidth(call.Options(), naturalWidth);
    facts.SvgDensity = facts.DrawingTarget > 0 ? SvgDensity(printed, facts.DrawingTarget) : 0;
    return true;
}

// Makes the pictures the drawing inputName refers to reachable in the
// scratch folder under the same relative names, each checked to be a file
// inside folder (the drawing's own folder, links followed); refuses the
// drawing when any reference is not.
bool linkDrawingReferences(TCall &call, const QString &inputName, const QString &folder)
{
    QFile file(call.Scratch() + inputName);
    if (!file.open(QIODevice::ReadOnly))
        return call.Fail(QStringLiteral("the drawing could not be read"));
    const TSvgReferences references = SvgReferences(file.readAll());
    if (!references.Problem.isEmpty())
        return call.Fail(references.Problem);
    const QString root = QFileInfo(folder).canonicalFilePath() + QLatin1Char('/');
    for (const QString &name : references.Names) {
        const QFileInfo target(folder + name);
        const QString real = target.canonicalFilePath();
        if (root.size() < 2 || !real.startsWith(root) || !target.isFile())
            return call.Fail(
                QStringLiteral("the drawing refers to \"%1\", which is no file in its folder").arg(name));
        const QString entry = call.Scratch() + name;
        if (!QDir().mkpath(FolderPart(entry)) || !MakeReadEntry(real, entry))
            return call.Fail(
                QStringLiteral("the drawing refers to \"%1\", which could not be made ready").arg(name));
    }
    return true;
}

// Tells the input's page or frame count, colour space and profile. A run
// that fails leaves the facts of a plain picture (the conversion then tells
// what is wrong); only a cancel ends here.
bool inspect(TCall &call, const QString &inputName, int timeoutMs, TPictureFacts &picture)
{
    const QString saved = call.Result().Reason;
    QString printed;
    const bool ran =
        call.Run(ExternalTool::ImageTool, InspectArguments(inputName), timeoutMs, false, &printed);
    call.Result().Reason = saved;
    if (call.Result().Cancelled)
        return call.Cancelled();
    if (ran)
        picture = ParseInspection(printed);
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
    // The image tool keeps EXIF data in every format that holds it but TIFF.
    const QString &format = call.Options().SaveFormat;
    QString reason;
    if (call.Options().KeepMetadata && ScratchOutputExtension(format) == QLatin1String("tiff") &&
        !CarryExifIntoTiff(call.Scratch() + facts.InputName, call.Scratch() + facts.OutputName, &reason))
        return call.Fail(reason);
    return call.Place(facts.OutputName, nameSource, format);
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

// One picture (facts.Frame, or all the output holds) to the output format.
bool runRoute(TCall &call, TImageFacts facts, const QString &nameSource, int timeoutMs)
{
    const QString &format = call.Options().SaveFormat;
    if (call.OutputAlreadyThere(nameSource, format))
        return true;
    facts.OutputName = call.FreshName(QStringLiteral("out"), ScratchOutputExtension(format));
    if (UsesJpegRoute(format)) {
        facts.Profile = srgbProfile();
        return runJpeg(call, facts, nameSource, timeoutMs);
    }
    return runDirect(call, facts, nameSource, timeoutMs);
}

// Each of count pages to a file of its own, "name-001.ext", ...; succeeds
// only when every page was written, and names the pages that failed.
bool runPages(TCall &call, const TImageFacts &facts, const QString &nameSource, int count, int timeoutMs)
{
    std::map<int, QString> failed;
    for (int page = 1; page <= count; ++page) {
        ConversionResult pageResult;
        TCall part(call, pageResult);
        TImageFacts pageFacts = facts;
        pageFacts.Frame = page - 1;
        pageResult.Success = runRoute(part, pageFacts, PageSource(nameSource, page), timeoutMs);
        call.Result().Printed += pageResult.Printed;
        call.Result().Outputs += pageResult.Outputs;
        call.Result().Existing += pageResult.Existing;
        if (pageResult.Cancelled)
            return call.Cancelled();
        if (!pageResult.Success)
            failed.emplace(page, pageResult.Reason);
    }
    if (failed.empty())
        return true;
    QStringList numbers;
    for (const auto &page : failed)
        numbers << QString::number(page.first);
    return call.Fail((failed.size() == 1 ? QStringLiteral("page ") : QStringLiteral("pages ")) +
                     numbers.join(QStringLiteral(", ")) + QStringLiteral(" of %1 failed: ").arg(count) +
                     failed.begin()->second);
}

// The input's pictures to the output: a multi-page source to a format that
// holds one page gives a file per page; an animation to a format that holds
// one picture gives its first frame, and says so.
bool runPictures(TCall &call, TImageFacts &facts, const QString &nameSource, int timeoutMs,
                 const TPictureFacts &picture)
{
    const TOutputFormat *known = FindOutputFormat(call.Options().SaveFormat);
    facts.Pages = TypeHoldsPages(facts.InputType);
    if (picture.Profiled || picture.Cmyk)
        facts.Profile = srgbProfile();
    facts.Cmyk = picture.Cmyk;
    if (picture.Count > 1 && facts.Pages && !(known && known->HoldsPages))
        return runPages(call, facts, nameSource, picture.Count, timeoutMs);
    if (!runRoute(call, facts, nameSource, timeoutMs))
        return false;
    if (picture.Count > 1 && TypeHoldsFrames(facts.InputType) && !(known && known->HoldsFrames) &&
        call.Result().Existing.isEmpty())
        call.Result().Reason = QStringLiteral("first of %1 frames").arg(picture.Count);
    return true;
}
} // namespace

QString PageSource(const QString &nameSource, int page)
{
    return FolderPart(nameSource) + WithoutExtension(FileNamePart(nameSource)) + QLatin1Char('-') +
           PageNumber(page) + QStringLiteral(".page");
}

QString OutputProblem(const ConversionOptions &options)
{
    const QString problem = OptionsProblem(options, options.UseWidth ? ImageToolLimits().Width : 0);
    return problem.isEmpty() ? FormatUnavailableReason(options.SaveFormat) : problem;
}

bool ConvertImage(TCall &call, const QString &nameSource, const QString &inputName, qint64 inputBytes,
                  const QString &imageType, int scalePercent)
{
    const ConversionOptions &options = call.Options();
    const QString problem = OutputProblem(options);
    if (!problem.isEmpty())
        return call.Fail(problem);

    const int timeoutMs = call.TimeoutMs(inputBytes);
    TImageFacts facts;
    facts.InputType = imageType;
    facts.InputName = inputName;
    facts.ScalePercent = scalePercent;
    facts.ToolThreads = call.Context().ToolThreads;
    if (InputKindOf(imageType) == InputKind::Svg) {
        if (!linkDrawingReferences(call, inputName, FolderPart(nameSource)) ||
            (options.UseWidth && !measureDrawing(call, facts, timeoutMs)))
            return false;
        return runRoute(call, facts, nameSource, timeoutMs);
    }
    TPictureFacts picture;
    // The bitmaps of rendered pages carry neither profiles nor pages.
    if (imageType != QLatin1String("BMP") && !inspect(call, inputName, timeoutMs, picture))
        return false;
    return runPictures(call, facts, nameSource, timeoutMs, picture);
}

bool ConvertPage(TCall &call, const QString &nameSource, const QString &inputName, qint64 inputBytes,
                 const TPageFit &fit, int scalePercent)
{
    // The PDF route checked the options once, before rendering any page.
    // A rendered page is one plain sRGB picture: nothing to inspect.
    TImageFacts facts;
    facts.InputType = QStringLiteral("PNG");
    facts.InputName = inputName;
    facts.PageFit = fit;
    facts.ScalePercent = scalePercent;
    facts.Frame = 0;
    facts.DropProfiles = true;
    facts.ToolThreads = call.Context().ToolThreads;
    return runRoute(call, facts, nameSource, call.TimeoutMs(inputBytes));
}

int CountPages(const QString &sourcePath, const QString &imageType, const TRunContext &run)
{
    if (!TypeHoldsPages(imageType))
        return 1;
    const ConversionOptions options;
    ConversionResult result;
    TCall call(options, run, result);
    if (!call.OpenFor(sourcePath))
        return 1;
    const QString entry = call.LinkInput(sourcePath, QStringLiteral("in"));
    TPictureFacts picture;
    if (entry.isEmpty() || !inspect(call, entry, call.TimeoutMs(QFileInfo(sourcePath).size()), picture))
        return 1;
    return picture.Count;
}

bool ConvertIllustrator(TCall &call, const QString &sourcePath)
{
    if (!call.OpenFor(sourcePath))
        return false;
    if (call.OutputAlreadyThere(sourcePath, call.Options().SaveFormat))
        return true;
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
