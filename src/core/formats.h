#pragma once

#include <QList>
#include <QString>

// The output formats the program writes, and what each can hold. Every part
// of the program (the window's format choice, the command line, the engine)
// reads this table; nothing else names a format's limits.
struct TOutputFormat {
    QString Caption;     // "JPG": radio button, menu item, settings value, /auto word
    QString Extension;   // "jpg": the output file's extension
    int WidthLimit = 0;  // widest picture the format holds; 0: no limit of its own
    bool UsesQuality;    // the quality value changes the output
    bool JpegRoute;      // encoded by the JPEG encoder from the image tool's bitmap
    bool HoldsPages;     // several pages in one file
    bool HoldsFrames;    // an animation
    bool CarriesExif;    // can hold EXIF metadata
    bool HasAlpha;       // can hold transparency
    bool QualityForEveryInput = false; // the image tool is told the quality whatever the input
};

// The output formats, in the order the window shows them.
const QList<TOutputFormat> &OutputFormats();

// The format whose caption is exactly caption (case-sensitive, as the
// settings file and /auto store it); null for any other text.
const TOutputFormat *FindOutputFormat(const QString &caption);

// The format a person meant by text: any case, "JPEG" for JPG, "TIF" for
// TIFF; null when none.
const TOutputFormat *ParseOutputFormat(const QString &text);

// The captions, in table order ("JPG", "PNG", ...).
QStringList OutputFormatCaptions();

// The width and quality ranges every view offers, and their defaults.
namespace FormatLimits
{
constexpr int MinWidth = 1;
constexpr int MaxWidth = 65535; // the widest any output format holds
constexpr int DefaultWidth = 540;
constexpr int MinPercent = 1;
constexpr int MaxPercent = 1000;
constexpr int DefaultPercent = 50;
constexpr int MinQuality = 40;
constexpr int MaxQuality = 100;
constexpr int DefaultQuality = 75;
} // namespace FormatLimits

// How an input is converted, made once from its image type text.
enum class InputKind {
    None,        // empty type text: not accepted, no tool runs
    Raster,      // read by the image tool
    Svg,         // drawn by the image tool at a chosen density
    Pdf,         // pages rendered by the PostScript interpreter
    Illustrator, // rendered by the PostScript interpreter, then converted
};

InputKind InputKindOf(const QString &typeText);

// Whether the image tool is told the quality for this input type on a route
// other than the JPEG one (inputs that were compressed with a quality).
bool InputTypeTakesQuality(const QString &typeText);
