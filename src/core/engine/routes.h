#pragma once

#include "arguments.h"

#include <QString>

struct TRunContext;

// The routes of one conversion; each records its failure in the call.
namespace Engine
{
class TCall;

// Converts one picture that is reachable in the call's scratch folder as
// inputName (of inputBytes bytes) to the output format, named after
// nameSource: through the image tool alone, or, for JPG, through the image
// tool and the JPEG encoder joined by a pipe. imageType is the source's
// type text; scalePercent a resize used only when UseWidth is off (0: none);
bool ConvertImage(TCall &call, const QString &nameSource, const QString &inputName, qint64 inputBytes,
                  const QString &imageType, int scalePercent);

// The name page (from 1) of a multi-page source is given after, like the
// pages of a PDF: "<name>-007" beside the source, the format's extension
// added when placed.
QString PageSource(const QString &nameSource, int page);

// How many pages the source of type imageType gives (1 for a type without
// pages, or when they cannot be counted), told by the image tool.
int CountPages(const QString &sourcePath, const QString &imageType, const TRunContext &run);

// Why no output can be written with these options (a bad resize, a format
// the image tool cannot write); empty when it can.
QString OutputProblem(const ConversionOptions &options);

// Converts a page the interpreter rendered to inputName (of inputBytes
// bytes), named after nameSource: its colour profile dropped, and made its
// 96-dpi size by fit when that is valid; otherwise resized as the options
// say, the page's own size being scalePercent of its pixels.
// The caller has checked the options with OutputProblem.
bool ConvertPage(TCall &call, const QString &nameSource, const QString &inputName, qint64 inputBytes,
                 const TPageFit &fit, int scalePercent);

// Renders the Illustrator document at sourcePath with the PostScript
// interpreter and converts the picture.
bool ConvertIllustrator(TCall &call, const QString &sourcePath);

// Renders the pages of the PDF at sourcePath a few at a time and converts
// each page; pages are shared with the job's idle workers. Succeeds only
// when every page was written; a failed page is named in the reason.
bool ConvertPdfPages(TCall &call, const QString &sourcePath);
} // namespace Engine
