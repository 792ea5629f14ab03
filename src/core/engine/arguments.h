#pragma once

#include "settings.h"

#include <QByteArray>
#include <QSize>
#include <QString>
#include <QStringList>

// The argument lists of every tool run of a conversion, made from the user's
// choices and from what is known about the input. Pure: no file is looked
// at and no tool runs here. Tools see only the plain scratch names given.
namespace Engine
{
// The last resize of a rendered page: padded with white at the right and
// bottom to Canvas (when valid), resized to exactly Resize, and the top-left
// Keep kept.
struct TPageFit {
    QSize Canvas;
    QSize Resize;
    QSize Keep;
};

// What an image tool conversion needs besides the user's choices.
struct TImageFacts {
    QString InputType;     // the source's type text ("PNG", "SVG", ...)
    QString InputName;     // the input's plain name in the scratch folder
    QString OutputName;    // the plain name the last tool writes
    int ScalePercent = 0;  // the picture's own size as a percentage of its pixels (a page
                           // rendered finer than it is shown); 0: its pixels are its size
    TPageFit PageFit;      // a rendered page made exactly its 96-dpi size; before any other resize
    bool DropProfiles = false; // the input's colour profile is not the picture's (a rendered page)
    int ToolThreads = 0;   // threads the image tool may use; 0: its own choice
    double SvgDensity = 0; // the density a drawing is read at (SvgDensity()); 0: none
    int DrawingTarget = 0; // a measured drawing's width for the resize (DrawingWidth()); a
                           // percentage becomes this width; 0: the drawing keeps its own size
    QString Profile;       // the sRGB profile the pixels are converted into; empty: none
    QString DensityName;   // JPEG route: the plain name the picture's density is written to; empty: none
    bool Cmyk = false;     // the pixels are CMYK: turned into sRGB on the direct route too
    bool Pages = false;    // several pictures are pages (a TIFF), not an animation's frames
    int Frame = -1;        // the one page to read; -1: all the output holds, else the first
};

// What the image tool tells of an input before it is converted.
struct TPictureFacts {
    int Count = 1;         // pages or frames
    bool Cmyk = false;     // CMYK pixels
    bool Profiled = false; // carries an ICC colour profile
};

// The image tool's list, and for the JPEG route the encoder's list that
// reads the image tool's bitmap through a pipe (empty on the direct route).
struct TImageArguments {
    QStringList ImageTool;
    QStringList Encoder;
};

// Whether the output format is written by the JPEG encoder from the image
// tool's bitmap (the caption exactly "JPG"); any other text is written by
// the image tool itself.
bool UsesJpegRoute(const QString &saveFormat);

// The extension of the scratch file the last tool writes for saveFormat.
QString ScratchOutputExtension(const QString &saveFormat);

// Why options cannot be honoured for any picture, or empty: a format name
// that is not a plain word, or a width below 1 or above the format's or the
// image tool's limit (toolWidthLimit).
QString OptionsProblem(const ConversionOptions &options, qint64 toolWidthLimit);

// The image tool's "-resize" geometries for the user's choice, in order; a
// picture with a ScalePercent is first brought to its own size when the
// choice must be measured against that size (shrink only). Empty: no resize.
QStringList ResizeGeometries(const ConversionOptions &options, int scalePercent);

// The width a drawing is drawn at before the resize: about the size the
// resize asks for, and with shrink only never above its own width
// (naturalWidth); 0: it keeps its own size.
int DrawingWidth(const ConversionOptions &options, double naturalWidth);

// The run that tells an input's page or frame count, colour space and
// profiles without reading its pixels (one line per picture).
QStringList InspectArguments(const QString &inputName);

// The facts from the inspecting run's printed text; a count of 1 and no
// profile when nothing readable was printed.
TPictureFacts ParseInspection(const QString &printed);

// Whether the pictures of an input of this type are pages (kept together
// only by a format that holds pages) rather than frames of an animation.
bool TypeHoldsPages(const QString &typeText);

// Whether an input of this type can be an animation (GIF, WEBP).
bool TypeHoldsFrames(const QString &typeText);

// The JFIF density fields (unit, X and Y density, 5 bytes) that the JPEG
// encoder writes for a bitmap file holding the density the image tool
// printed ("%x %y %U"): the pixels per metre of the bitmap, in hundreds,
// per centimetre. Empty when the picture has no density (the encoder's
// default then stands).
QByteArray JfifDensity(const QString &printed);

// The run that reads a drawing's own size and density ("%w %x %U").
QStringList SvgMeasureArguments(const QString &inputName);

// The density at which a drawing comes out about width pixels wide, from
// the measuring run's first line; 0 when the drawing's size is unreadable.
double SvgDensity(const QString &measured, int width);
// The drawing's own width from the measuring run's first line; 0 when unreadable.
double SvgNaturalWidth(const QString &measured);

// The conversion of one picture.
TImageArguments ImageArguments(const ConversionOptions &options, const TImageFacts &facts);

// The interpreter's options that confine it to reading the entry.
QStringList InterpreterSafeArguments(const QString &entry);

// Renders an Illustrator document entry to the PNG rendered.
QStringList AiRenderArguments(const QString &entry, const QString &rendered);

// Prints the page count and sizes of the PDF entry.
QStringList PdfInfoArguments(const QString &entry);

// Renders pages first to last of the PDF entry at PdfRenderScale times dpi
// and reduces them by PdfDownScale in the renderer, to PNG files named
// stem + "001.png", stem + "002.png", ... (a device every build of the
// interpreter has; the pages are small on the scratch disk).
QStringList PdfRenderArguments(const QString &entry, const QString &fontsFolder, int first, int last,
                               const QString &stem, int dpi);

// Prints the image tool's resource limits.
QStringList ResourceListArguments();
} // namespace Engine
