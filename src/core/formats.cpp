#include "formats.h"

const QList<TOutputFormat> &OutputFormats()
{
    // Caption, extension, width limit, quality, JPEG route, pages, frames, EXIF, alpha.
    static const QList<TOutputFormat> formats{
        {QStringLiteral("JPG"), QStringLiteral("jpg"), 65500, true, true, false, false, true, false},
        {QStringLiteral("PNG"), QStringLiteral("png"), 0, false, false, false, false, true, true},
        {QStringLiteral("GIF"), QStringLiteral("gif"), 65535, false, false, false, true, false, true},
        {QStringLiteral("WEBP"), QStringLiteral("webp"), 16383, true, false, false, true, true, true},
        {QStringLiteral("TIFF"), QStringLiteral("tiff"), 0, false, false, true, false, true, true},
        // The image tool's AVIF writer keeps neither transparency nor EXIF
        // data; an AV1 frame is at most 65536 pixels wide.
        {QStringLiteral("AVIF"), QStringLiteral("avif"), 65535, true, false, false, false, false, false,
         true},
    };
    return formats;
}

const TOutputFormat *FindOutputFormat(const QString &caption)
{
    for (const TOutputFormat &format : OutputFormats())
        if (format.Caption == caption)
            return &format;
    return nullptr;
}

const TOutputFormat *ParseOutputFormat(const QString &text)
{
    QString caption = text.trimmed().toUpper();
    if (caption == QLatin1String("JPEG"))
        caption = QStringLiteral("JPG");
    else if (caption == QLatin1String("TIF"))
        caption = QStringLiteral("TIFF");
    return FindOutputFormat(caption);
}

QStringList OutputFormatCaptions()
{
    QStringList captions;
    for (const TOutputFormat &format : OutputFormats())
        captions << format.Caption;
    return captions;
}

InputKind InputKindOf(const QString &typeText)
{
    if (typeText.isEmpty())
        return InputKind::None;
    if (typeText == QLatin1String("PDF"))
        return InputKind::Pdf;
    if (typeText == QLatin1String("AI"))
        return InputKind::Illustrator;
    if (typeText == QLatin1String("SVG"))
        return InputKind::Svg;
    return InputKind::Raster;
}

bool InputTypeTakesQuality(const QString &typeText)
{
    return typeText == QLatin1String("GIF") || typeText == QLatin1String("JPG") ||
           typeText == QLatin1String("RAW");
}
