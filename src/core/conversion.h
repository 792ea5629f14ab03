#pragma once

#include "engine/outputnames.h"
#include "settings.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class TCancelFlag;
class TTaskGroup;

// What one run needs besides the user's choices: the job's cancel request,
// its output-name reservations and its idle workers. The job owns it; a
// conversion called alone gets a fresh one. The engine reaches the job
// through nothing else.
struct TRunContext {
    int ToolThreads = 0;                 // threads each image tool run may use; 0: the tool's own choice
    const TCancelFlag *Cancel = nullptr; // a cancel request that stops the running tools
    std::shared_ptr<TOutputNames> Names; // output names reserved by the job; null: the call's own
    // Offers a group of tasks (the pages of a PDF) to the job's idle workers,
    // who help with it while the caller works on it too; returns at once.
    // Null: the caller runs every task itself, one after another.
    std::function<void(std::shared_ptr<TTaskGroup>)> ShareWork;
    // Sees every tool run (ToolRequest::Observer); empty: nobody watches.
    std::function<void(const QString &programPath, const QString &parameters)> ToolObserver;
    // Told of each page of a document as it is written: its number (from 1),
    // the pages written so far, the page count and the output file. Called
    // on whichever thread converted the page. Null: nobody listens.
    std::function<void(int page, int written, int pages, const QString &output)> PageDone;
};

// The outcome of one conversion.
struct ConversionResult {
    bool Success = false;
    bool Cancelled = false;
    QString Reason;      // short and readable; on success empty, or what was left out ("first of 20 frames")
    QString Printed;     // everything the tools printed, in order
    QStringList Outputs; // the files written, under their final names
    QStringList Existing; // earlier outputs left as they were (earlier outputs skipped)
    bool Skipped = false; // a success that wrote nothing: every output was there already
    explicit operator bool() const { return Success; }
};

// The result of a conversion that found every output there already:
// skipped, a success that wrote nothing.
ConversionResult SkippedResult(const QStringList &existing);

// Converts one image with the image tool (and the JPEG encoder for "JPG").
// imageType is the source's type text; scalePercent a resize used only when
// UseWidth is off (0: none); readFrom, when not empty, is read instead of
// sourcePath.
ConversionResult ConvertRaster(const ConversionOptions &options, const QString &sourcePath,
                               const QString &imageType, int scalePercent, const QString &readFrom,
                               const TRunContext &run = TRunContext());

// Renders an Illustrator document to PNG with the PostScript interpreter and
// converts that.
ConversionResult ConvertAi(const ConversionOptions &options, const QString &sourcePath,
                           const TRunContext &run = TRunContext());

// Renders the pages of a PDF and converts each page. Succeeds only when every
// page was written; a failed page is named in the reason.
ConversionResult ConvertPdf(const ConversionOptions &options, const QString &sourcePath,
                            const TRunContext &run = TRunContext());

// The conversion of one listed file: the route chosen by the input kind of
// its type text (InputKindOf; an empty type fails without running a tool).
ConversionResult ConvertFile(const ConversionOptions &options, const QString &fileName, const QString &type,
                             const TRunContext &run = TRunContext());
