#include "arguments.h"

#include "formats.h"
#include "pathparts.h"
#include "pdfplan.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace Engine
{
namespace
{
// Pixels with a colour profile, or in CMYK, into sRGB on the direct route
// (the JPEG route does it for every picture, later); and, for an output
// without transparency, transparent pixels composed over white, so that
// neither black nor a colour hidden under them shows.
QStringList coloursAndAlpha(const ConversionOptions &options, const TImageFacts &facts, bool jpegRoute)
{
    QStringList arguments;
    if (!jpegRoute && !facts.Profile.isEmpty())
        arguments << QStringLiteral("-profile") << facts.Profile;
    if (!jpegRoute && facts.Cmyk)
        arguments << QStringLiteral("-colorspace") << QStringLiteral("sRGB");
    const TOutputFormat *known = ParseOutputFormat(options.SaveFormat);
    if (known && !known->HasAlpha)
        arguments << QStringLiteral("-background") << QStringLiteral("white") << QStringLiteral("-alpha")
                  << QStringLiteral("remove");
    return arguments;
}

QString sizeText(const QSize &size)
{
    return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
}

QStringList pageFit(const TPageFit &fit)
{
    QStringList arguments;
    if (fit.Canvas.isValid())
        arguments << QStringLiteral("-background") << QStringLiteral("white") << QStringLiteral("-gravity")
                  << QStringLiteral("NorthWest") << QStringLiteral("-extent") << sizeText(fit.Canvas);
    arguments << QStringLiteral("-resize") << sizeText(fit.Resize) + QLatin1Char('!');
    if (fit.Keep != fit.Resize)
        arguments << QStringLiteral("-crop") << sizeText(fit.Keep) + QStringLiteral("+0+0")
                  << QStringLiteral("+repage");
    return arguments;
}

// The input, the turn and the resize: what both routes start with.
QStringList readAndResize(const ConversionOptions &options, const TImageFacts &facts, bool jpegRoute)
{
    const bool svg = InputKindOf(facts.InputType) == InputKind::Svg;
    const TOutputFormat *known = FindOutputFormat(options.SaveFormat);
    // Formats that hold an animation keep every frame, TIFF every page of a
    // TIFF; others take the first picture (or the one page asked for).
    const bool allFrames = facts.Frame < 0 && known && (facts.Pages ? known->HoldsPages : known->HoldsFrames);
    QStringList arguments;
    if (facts.ToolThreads > 0)
        arguments << QStringLiteral("-limit") << QStringLiteral("thread")
                  << QString::number(facts.ToolThreads);
    if (svg)
        arguments << QStringLiteral("-background") << QStringLiteral("none");
    if (svg && options.UseWidth && facts.SvgDensity > 0)
        arguments << QStringLiteral("-density") << QString::number(facts.SvgDensity, 'f', 0);
    const int frame = facts.Frame < 0 ? 0 : facts.Frame;
    arguments << (allFrames ? facts.InputName : facts.InputName + QStringLiteral("[%1]").arg(frame));
    // The interpreter tags its pages with its own sRGB profile; the page is
    // plain pixels, as a bitmap without one (and a grey PNG takes no RGB
    // profile).
    if (facts.DropProfiles)
        arguments << QStringLiteral("+profile") << QStringLiteral("*");
    arguments << QStringLiteral("-auto-orient");
    if (facts.PageFit.Resize.isValid()) {
        arguments << pageFit(facts.PageFit);
    } else {
        QStringList geometries = ResizeGeometries(options, facts.ScalePercent);
        // A drawing's percentage is of its own size, which the drawing density
        // changes: it becomes the width it stands for.
        if (svg && options.UseWidth && options.ResizeMode == TResizeMode::Percent)
            geometries = facts.DrawingTarget > 0
                             ? QStringList{QString::number(facts.DrawingTarget) + QLatin1Char('x')}
                             : QStringList();
        for (const QString &geometry : geometries)
            arguments << QStringLiteral("-resize") << geometry;
    }
    arguments << coloursAndAlpha(options, facts, jpegRoute);
    if (!options.KeepMetadata && !jpegRoute)
        arguments << QStringLiteral("-strip");
    return arguments;
}
QString percentText(double percent)
{
    return QString::number(percent, 'g', 6) + QLatin1Char('%');
}

// The size the chosen mode asks for, in the tool's geometry: "W" + "x" for a
// width, "NxN" for a longest edge, "WxH" for a box.
QString pixelGeometry(const ConversionOptions &options)
{
    switch (options.ResizeMode) {
    case TResizeMode::LongEdge:
        return QStringLiteral("%1x%1").arg(options.LongEdge);
    case TResizeMode::Fit:
        return QStringLiteral("%1x%2").arg(options.FitWidth).arg(options.FitHeight);
    case TResizeMode::Width:
    case TResizeMode::Percent:
        break;
    }
    return QString::number(options.Width) + QLatin1Char('x');
}
} // namespace

QStringList ResizeGeometries(const ConversionOptions &options, int scalePercent)
{
    const double scale = scalePercent > 0 ? scalePercent : 100.0;
    if (!options.UseWidth)
        return scalePercent > 0 ? QStringList{percentText(scale)} : QStringList();
    if (options.ResizeMode == TResizeMode::Percent) {
        const int percent = options.ShrinkOnly ? std::min(options.Percent, 100) : options.Percent;
        const double combined = scale * percent / 100.0;
        return combined == 100.0 ? QStringList() : QStringList{percentText(combined)};
    }
    // '>' leaves a picture that is already within the size as it is.
    if (options.ShrinkOnly) {
        const QString shrink = pixelGeometry(options) + QLatin1Char('>');
        return scalePercent > 0 ? QStringList{percentText(scale), shrink} : QStringList{shrink};
    }
    return {pixelGeometry(options)};
}

int DrawingWidth(const ConversionOptions &options, double naturalWidth)
{
    int width = 0;
    switch (options.ResizeMode) {
    case TResizeMode::Width:
        width = options.Width;
        break;
    case TResizeMode::LongEdge:
        width = options.LongEdge;
        break;
    case TResizeMode::Fit:
        width = std::max(options.FitWidth, options.FitHeight);
        break;
    case TResizeMode::Percent:
        width = int(std::ceil(
            naturalWidth * (options.ShrinkOnly ? std::min(options.Percent, 100) : options.Percent) / 100.0));
        break;
    }
    if (options.ShrinkOnly && width >= naturalWidth)
        return 0;
    return std::max(1, width);
}

bool UsesJpegRoute(const QString &saveFormat)
{
    const TOutputFormat *known = FindOutputFormat(saveFormat);
    return known && known->JpegRoute;
}

QString ScratchOutputExtension(const QString &saveFormat)
{
    return UsesJpegRoute(saveFormat) ? saveFormat : saveFormat.toLower();
}

QString OptionsProblem(const ConversionOptions &options, qint64 toolWidthLimit)
{
    const QString &format = options.SaveFormat;
    if (!IsPlainWord(format))
        return QStringLiteral("unknown output format \"%1\"").arg(format);
    if (!options.UseWidth)
        return QString();
    // The widest output the mode can ask for; a percentage depends on the
    // picture, and an encoder refuses a picture too wide for it.
    int width = options.Width;
    QString what = QStringLiteral("width");
    switch (options.ResizeMode) {
    case TResizeMode::Width:
        break;
    case TResizeMode::LongEdge:
        width = options.LongEdge;
        what = QStringLiteral("longest edge");
        break;
    case TResizeMode::Fit:
        width = std::min(options.FitWidth, options.FitHeight) < 1
                    ? 0
                    : std::max(options.FitWidth, options.FitHeight);
        what = QStringLiteral("box side");
        break;
    case TResizeMode::Percent:
        if (options.Percent < FormatLimits::MinPercent || options.Percent > FormatLimits::MaxPercent)
            return QStringLiteral("percent must be from %1 to %2")
                .arg(FormatLimits::MinPercent)
                .arg(FormatLimits::MaxPercent);
        return QString();
    }
    if (width < 1)
        return what + QStringLiteral(" must be at least 1 pixel");
    // A format named in any case ("webp" from a settings file) keeps its limit.
    const TOutputFormat *known = ParseOutputFormat(format);
    const qint64 formatLimit = known ? known->WidthLimit : 0;
    if (formatLimit > 0 && width > formatLimit)
        return QStringLiteral("%1 %2 is above the %3 limit of %4 pixels")
            .arg(what)
            .arg(width)
            .arg(format)
            .arg(formatLimit);
    if (width > toolWidthLimit)
        return QStringLiteral("%1 %2 is above the image tool's limit of %3 pixels")
            .arg(what)
            .arg(width)
            .arg(toolWidthLimit);
    return QString();
}

QStringList InspectArguments(const QString &inputName)
{
    return {QStringLiteral("-ping"), inputName, QStringLiteral("-format"),
            QStringLiteral("%n %[colorspace] %[profiles]\\n"), QStringLiteral("info:")};
}

TPictureFacts ParseInspection(const QString &printed)
{
    // The first picture's line; the tool's warnings (a picture without
    // profiles has no "%[profiles]") come on lines of their own.
    static const QRegularExpression line(QStringLiteral("^(\\d+) (\\w+) ?(\\S*)[ \\t\\r]*$"),
                                         QRegularExpression::MultilineOption);
    TPictureFacts facts;
    const QRegularExpressionMatch match = line.match(printed);
    if (!match.hasMatch())
        return facts;
    facts.Count = std::max(1, match.captured(1).toInt());
    facts.Cmyk = match.captured(2) == QLatin1String("CMYK");
    facts.Profiled = match.captured(3).split(QLatin1Char(',')).contains(QLatin1String("icc"));
    return facts;
}

bool TypeHoldsPages(const QString &typeText)
{
    return typeText == QLatin1String("TIFF");
}

bool TypeHoldsFrames(const QString &typeText)
{
    return typeText == QLatin1String("GIF") || typeText == QLatin1String("WEBP");
}

QByteArray JfifDensity(const QString &printed)
{
    const QStringList parts = FirstLine(printed).split(QLatin1Char(' '));
    const double x = parts.value(0).toDouble();
    const double y = parts.value(1).toDouble();
    const QString unit = parts.value(2);
    double perMetre = 0;
    if (unit == QLatin1String("PixelsPerInch"))
        perMetre = 100.0 / 2.54;
    else if (unit == QLatin1String("PixelsPerCentimeter"))
        perMetre = 100.0;
    // Whole pixels per metre as the bitmap stores them (cut, not rounded).
    const double xPerMetre = std::floor(x * perMetre);
    const double yPerMetre = std::floor(y * perMetre);
    if (!(xPerMetre >= 1 && yPerMetre >= 1 && xPerMetre < 4294967296.0 && yPerMetre < 4294967296.0))
        return QByteArray();
    const auto density = [](double ppm) { return quint16(quint32(ppm) / 100); };
    const quint16 xd = density(xPerMetre);
    const quint16 yd = density(yPerMetre);
    QByteArray fields(5, '\0');
    fields[0] = 2;
    fields[1] = char(xd >> 8);
    fields[2] = char(xd & 0xff);
    fields[3] = char(yd >> 8);
    fields[4] = char(yd & 0xff);
    return fields;
}

QStringList SvgMeasureArguments(const QString &inputName)
{
    return {QStringLiteral("-background"), QStringLiteral("none"),        inputName + QStringLiteral("[0]"),
            QStringLiteral("-format"),     QStringLiteral("%w %x %U\\n"), QStringLiteral("info:")};
}

double SvgDensity(const QString &measured, int width)
{
    const QStringList parts = FirstLine(measured).split(QLatin1Char(' '));
    const double naturalWidth = parts.value(0).toDouble();
    double density = parts.value(1).toDouble();
    if (parts.value(2) == QLatin1String("PixelsPerCentimeter"))
        density *= 2.54;
    if (density <= 0)
        density = 72;
    if (naturalWidth <= 0)
        return 0;
    return std::max(1.0, std::ceil(density * width / naturalWidth));
}

double SvgNaturalWidth(const QString &measured)
{
    return std::max(0.0, FirstLine(measured).section(QLatin1Char(' '), 0, 0).toDouble());
}

TImageArguments ImageArguments(const ConversionOptions &options, const TImageFacts &facts)
{
    const bool jpegRoute = UsesJpegRoute(options.SaveFormat);
    TImageArguments lists;
    lists.ImageTool = readAndResize(options, facts, jpegRoute);
    if (!jpegRoute) {
        const TOutputFormat *known = FindOutputFormat(options.SaveFormat);
        if (InputTypeTakesQuality(facts.InputType) || (known && known->QualityForEveryInput))
            lists.ImageTool << QStringLiteral("-quality") << QString::number(options.Quality);
        lists.ImageTool << facts.OutputName;
        return lists;
    }
    // An uncompressed RGB bitmap in sRGB (pixels with a colour profile
    // converted first) for the encoder: a PPM, stored top-down, so the
    // encoder compresses rows as they arrive instead of holding the whole
    // picture as it must for a bottom-up BMP. The JPEG bytes are those a BMP
    // gives: the encoder reduces a 16-bit PPM to 8 bits as the tool reduces
    // a BMP (so no "-depth 8", which rounds differently). "-type TrueColor"
    // keeps a picture of few colours or a grey one in RGB. It carries nothing
    // but pixels.
    if (!facts.Profile.isEmpty())
        lists.ImageTool << QStringLiteral("-profile") << facts.Profile;
    lists.ImageTool << QStringLiteral("-strip") << QStringLiteral("-type") << QStringLiteral("TrueColor")
                    << QStringLiteral("-colorspace") << QStringLiteral("sRGB");
    // A PPM holds no density, which a BMP passed to the encoder: it is
    // written beside, for the JPEG's header.
    if (!facts.DensityName.isEmpty())
        lists.ImageTool << QStringLiteral("-format") << QStringLiteral("%x %y %U") << QStringLiteral("-write")
                        << QStringLiteral("info:") + facts.DensityName;
    lists.ImageTool << QStringLiteral("PPM:-");
    lists.Encoder = {QStringLiteral("-quality"), QString::number(options.Quality), QStringLiteral("-outfile"),
                     facts.OutputName};
    return lists;
}

QStringList InterpreterSafeArguments(const QString &entry)
{
    return {QStringLiteral("-dSAFER"), QStringLiteral("-dNOPAUSE"),
            QStringLiteral("-dBATCH"), QStringLiteral("-dNOPROMPT"),
            QStringLiteral("-dQUIET"), QStringLiteral("--permit-file-read=") + entry};
}

QStringList AiRenderArguments(const QString &entry, const QString &rendered)
{
    return InterpreterSafeArguments(entry) + QStringList{QStringLiteral("-sDEVICE=pngalpha"),
                                                         QStringLiteral("-r96"),
                                                         QStringLiteral("-sOutputFile=") + rendered, entry};
}

QStringList PdfInfoArguments(const QString &entry)
{
    return QStringList{QStringLiteral("-dNODISPLAY")} + InterpreterSafeArguments(entry) +
           QStringList{QStringLiteral("-dPDFINFO"), entry};
}

QStringList PdfRenderArguments(const QString &entry, const QString &fontsFolder, int first, int last,
                               const QString &stem, int dpi)
{
    return InterpreterSafeArguments(entry) +
           QStringList{QStringLiteral("-sFONTPATH=") + fontsFolder,
                       QStringLiteral("-dTextAlphaBits=4"),
                       QStringLiteral("-dGraphicsAlphaBits=4"),
                       QStringLiteral("-sDEVICE=png16m"),
                       QStringLiteral("-r%1").arg(dpi * PdfRenderScale),
                       QStringLiteral("-dDownScaleFactor=%1").arg(PdfDownScale),
                       QStringLiteral("-dFirstPage=%1").arg(first),
                       QStringLiteral("-dLastPage=%1").arg(last),
                       QStringLiteral("-sOutputFile=") + stem + QStringLiteral("%03d.png"),
                       entry};
}

QStringList ResourceListArguments()
{
    return {QStringLiteral("-list"), QStringLiteral("resource")};
}
} // namespace Engine
