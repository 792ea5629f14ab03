#pragma once

#include "arguments.h"
#include "toollimits.h"

#include <QList>
#include <QSize>
#include <QSizeF>
#include <QString>

#include <functional>
#include <map>
#include <set>

// Which pages of a PDF are rendered together: a few at a time, so that the
// scratch disk stays bounded whatever the page count, and none that the
// image tool or the disk could not take. Plain values; no tool runs here.
namespace Engine
{
// Pages are refused by their size at PdfDpi, the resolution they were once
// rendered at whole. The interpreter now renders at PdfRenderScale times the
// resolution a page's output needs and reduces the bitmap by PdfDownScale
// itself (a box filter inside the renderer), so only the reduced page
// reaches the disk; the image tool's filter makes the last halving, which
// keeps small type as sharp as before (a box filter all the way down
// leaves dense body text at about 35 dB from the old pages).
constexpr int PdfDpi = 384;
constexpr int PdfRenderScale = 4;
constexpr int PdfDownScale = 2;
// The rendered page's resolution as a multiple of its output resolution.
constexpr int PdfReadScale = PdfRenderScale / PdfDownScale;
// A page's output resolution without a chosen width.
constexpr int PdfPageDpi = 96;
// A batch of rendered pages holds at most this many bytes of bitmaps (and
// this many pages).
constexpr qint64 PdfBatchBytes = 256LL * 1024 * 1024;
constexpr int PdfBatchPages = 8;
// No single page bitmap may be larger than this.
constexpr qint64 PdfPageBytesLimit = 768LL * 1024 * 1024;
// Free space kept on the scratch disk beyond a batch's bitmaps.
constexpr qint64 PdfSpareBytes = 16LL * 1024 * 1024;

// Page sizes from the interpreter's PDF summary ("Page 3 MediaBox: [0 0 612
// 792]"), in points; one entry per page ("File has N pages"), Letter for a
// page the summary gives no box for; empty when the count is missing.
QList<QSizeF> PdfPageSizes(const QString &summary);

// A page's bitmap at dpi: its pixels and its bytes as a 24-bit bitmap file
// (an upper bound for the PNG the interpreter writes).
struct TPdfPage {
    qint64 Width = 0;
    qint64 Height = 0;
    qint64 Bytes = 0;
};
TPdfPage PagePixels(const QSizeF &points, int dpi = PdfDpi);

// The output resolution of a page: PdfPageDpi without a width (width 0);
// with one, the least that gives at least width pixels, kept so that the
// page the interpreter writes (PdfReadScale times as large) stays within
// the image tool's limits.
int PageOutputDpi(const QSizeF &points, int width, TPixelLimits limits);

// How the image tool makes a page the interpreter wrote (its PdfDpi bitmap
// reduced by PdfDownScale, odd last rows and columns dropped) into the page
// that the whole PdfDpi bitmap reduced to a quarter gave, sample for sample,
// from the rendered size and the page's size in points. A page turned by
// the document has its sides swapped; a size the points do not explain is
// halved.
TPageFit PageFitAt96(const QSize &rendered, const QSizeF &points);

// The three-digit page number of page file names ("007").
QString PageNumber(int page);

// Pages First to Last (from 1), rendered by one interpreter run.
struct TPageRange {
    int First = 0;
    int Last = 0;
    int Dpi = PdfPageDpi; // the output resolution of every page of the batch
};

// Hands out the batches of a document in page order.
class TPdfPlanner
{
  public:
    // freeBytes tells the scratch disk's free bytes (negative: unknown); it
    // is asked before each batch, when the batches before it are gone.
    // width: the chosen output width (0: none); a batch holds pages of one
    // output resolution.
    // shrinkOnly: no page is rendered for more than its 96-dpi size.
    TPdfPlanner(QList<QSizeF> sizes, TPixelLimits limits, std::function<qint64()> freeBytes, int width = 0,
                bool shrinkOnly = false);

    int PageCount() const { return int(FSizes.size()); }
    // The size of page (from 1) in points.
    QSizeF PageSize(int page) const { return FSizes.value(page - 1); }
    // Pages that are not rendered at all (their outputs are there already);
    // a batch never spans one.
    void LeaveOut(std::set<int> pages) { FLeftOut = std::move(pages); }
    // The next batch. Pages refused on the way go to failed with their
    // reason: a page too large fails alone, a batch the disk cannot take
    // fails whole. False when no page is left.
    bool Next(TPageRange &batch, std::map<int, QString> &failed);

  private:
    bool tooLarge(const TPdfPage &page) const;
    // The output resolution of page (from 1).
    int dpiOf(int page) const;
    // The last page of the batch that starts at first (which fits).
    int lastOfBatch(int first, qint64 &bytes) const;

    QList<QSizeF> FSizes;
    TPixelLimits FLimits;
    std::function<qint64()> FFreeBytes;
    int FWidth = 0;
    bool FShrinkOnly = false;
    int FFirst = 1;
    std::set<int> FLeftOut;
};
} // namespace Engine
