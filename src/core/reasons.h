#pragma once

#include <QString>

// What happened to a file that was not converted, in words a person can act
// on. The engine's own reason and what the tools printed stay beside it, for
// the details.
enum class TReasonKind {
    None,             // no failure
    Damaged,          // damaged or truncated file
    NotAnImage,       // not an image the tools can read
    NoPermission,     // the file may not be read
    TooLarge,         // larger than the image tool's limit
    PageFailed,       // a page of a document failed (Page, Pages, PageKind)
    TimedOut,         // a tool ran longer than its time-out (Seconds)
    Cancelled,        // the run was cancelled
    NoSpace,          // the disk is full
    NameNotAvailable, // the output could not be given its name
    ToolMissing,      // an external program is missing or does not start
    NotFound,         // the file is not there (any more)
    BadName,          // the name is not valid UTF-8 and cannot be opened by it
    FolderUnreadable, // a folder whose entries cannot be listed
    Other,            // anything else
};

struct TReason {
    TReasonKind Kind = TReasonKind::None;
    QString Limit;   // TooLarge: the limit, e.g. "16000 x 16000 pixels"; may be empty
    int Seconds = 0; // TimedOut
    int Page = 0;    // PageFailed: the first failed page
    int Pages = 0;   // PageFailed: the document's page count
    TReasonKind PageKind = TReasonKind::Other; // PageFailed: what happened to that page
};

// The kind of failure a tool's printed text tells of (one message per line,
// as ImageMagick, cjpeg and Ghostscript print them); Other when no line is
// known. The one place where tool messages are read.
TReasonKind ClassifyToolText(const QString &printed);

// The reason of a failed conversion from its engine reason ("image tool: exit
// status 1: ...", "timed out after 60 s", "page 2 of 3 failed: ...") and what
// the tools printed.
TReason ExplainFailure(const QString &engineReason, const QString &printed);

// ExplainFailure, then what the source file itself shows: a file that cannot
// be opened for reading is NoPermission, a picture whose header gives a size
// over limitWidth x limitHeight (0: unknown) is TooLarge with that limit.
TReason ExplainFileFailure(const QString &sourcePath, const QString &engineReason, const QString &printed,
                           qint64 limitWidth, qint64 limitHeight);

// The reason in plain words in language ("ko", "en", "ja", "zh", "ru", "it",
// "fr"; empty: the language in force; others: English). Empty for None.
QString ReasonText(const TReason &reason, const QString &language = QString());
