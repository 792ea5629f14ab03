#pragma once

#include <QString>

// The option values one conversion reads, taken from the window just before
// each file is converted.
struct ConversionOptions {
    QString SaveFormat =
        QStringLiteral("JPG"); // "JPG", "PNG", ... or any text from /auto or the settings file
    QString SavePath;          // output folder ending in '/', or empty: next to each source
    bool UseWidth = false;     // resize every output to Width
    int Width = 540;           // pixels
    int Quality = 75;          // encoder quality
};

// A path for the output of sourcePath in format (lower-cased as extension)
// that names no existing file: "name.ext", then "name (1).ext", ...
QString MakeOutputPath(const ConversionOptions &options, const QString &sourcePath, const QString &format);

// Converts one image with the image tool (and the JPEG encoder for "JPG").
// imageType is the source's type text; scalePercent a resize used only when
// UseWidth is off (0: none); readFrom, when not empty, is read instead of
// sourcePath. Returns whether the output file exists afterwards.
bool ConvertRaster(const ConversionOptions &options, const QString &sourcePath, const QString &imageType,
                   int scalePercent, const QString &readFrom);

// Renders an Illustrator document to PNG with the PostScript interpreter and
// converts that. Returns the ConvertRaster result.
bool ConvertAi(const ConversionOptions &options, const QString &sourcePath);

// Renders every page of a PDF and converts each page. Returns the last page's
// result, or false when no page was produced.
bool ConvertPdf(const ConversionOptions &options, const QString &sourcePath);
