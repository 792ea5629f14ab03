#include "conversion.h"

#include "engine/call.h"
#include "engine/routes.h"
#include "formats.h"

#include <QFileInfo>

namespace
{
// A success that found every output there already wrote nothing: skipped.
ConversionResult &finished(ConversionResult &result)
{
    if (result.Success && result.Outputs.isEmpty() && !result.Existing.isEmpty())
        result = SkippedResult(result.Existing);
    return result;
}
} // namespace

ConversionResult SkippedResult(const QStringList &existing)
{
    ConversionResult result;
    result.Success = result.Skipped = true;
    result.Existing = existing;
    result.Reason = QStringLiteral("output exists");
    return result;
}

ConversionResult ConvertRaster(const ConversionOptions &options, const QString &sourcePath,
                               const QString &imageType, int scalePercent, const QString &readFrom,
                               const TRunContext &run)
{
    ConversionResult result;
    Engine::TCall call(options, run, result);
    const QString inputPath = readFrom.isEmpty() ? sourcePath : readFrom;
    if (!call.OpenFor(inputPath))
        return result;
    const QString entry = call.LinkInput(inputPath, QStringLiteral("in"));
    result.Success =
        !entry.isEmpty() &&
        Engine::ConvertImage(call, sourcePath, entry, QFileInfo(inputPath).size(), imageType, scalePercent);
    return finished(result);
}

ConversionResult ConvertAi(const ConversionOptions &options, const QString &sourcePath,
                           const TRunContext &run)
{
    ConversionResult result;
    Engine::TCall call(options, run, result);
    result.Success = Engine::ConvertIllustrator(call, sourcePath);
    return finished(result);
}

ConversionResult ConvertPdf(const ConversionOptions &options, const QString &sourcePath,
                            const TRunContext &run)
{
    ConversionResult result;
    Engine::TCall call(options, run, result);
    result.Success = Engine::ConvertPdfPages(call, sourcePath);
    return finished(result);
}

ConversionResult ConvertFile(const ConversionOptions &options, const QString &fileName, const QString &type,
                             const TRunContext &run)
{
    switch (InputKindOf(type)) {
    case InputKind::None: {
        ConversionResult result;
        result.Reason = QStringLiteral("not a supported image");
        return result;
    }
    case InputKind::Pdf:
        return ConvertPdf(options, fileName, run);
    case InputKind::Illustrator:
        return ConvertAi(options, fileName, run);
    case InputKind::Raster:
    case InputKind::Svg:
        break;
    }
    return ConvertRaster(options, fileName, type, 0, QString(), run);
}
