#pragma once

#include "toollimits.h"

#include <QList>
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
constexpr int PdfDpi = 384;
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

// A page's bitmap at PdfDpi: its pixels and its bytes as a 24-bit bitmap file.
struct TPdfPage {
    qint64 Width = 0;
    qint64 Height = 0;
    qint64 Bytes = 0;
};
TPdfPage PagePixels(const QSizeF &points);

// The three-digit page number of page file names ("007").
QString PageNumber(int page);

// Pages First to Last (from 1), rendered by one interpreter run.
struct TPageRange {
    int First = 0;
    int Last = 0;
};

// Hands out the batches of a document in page order.
class TPdfPlanner
{
  public:
    // freeBytes tells the scratch disk's free bytes (negative: unknown); it
    // is asked before each batch, when the batches before it are gone.
    TPdfPlanner(QList<QSizeF> sizes, TPixelLimits limits, std::function<qint64()> freeBytes);

    int PageCount() const { return int(FSizes.size()); }
    // Pages that are not rendered at all (their outputs are there already);
    // a batch never spans one.
    void LeaveOut(std::set<int> pages) { FLeftOut = std::move(pages); }
    // The next batch. Pages refused on the way go to failed with their
    // reason: a page too large fails alone, a batch the disk cannot take
    // fails whole. False when no page is left.
    bool Next(TPageRange &batch, std::map<int, QString> &failed);

  private:
    bool tooLarge(const TPdfPage &page) const;
    // The last page of the batch that starts at first (which fits).
    int lastOfBatch(int first, qint64 &bytes) const;

    QList<QSizeF> FSizes;
    TPixelLimits FLimits;
    std::function<qint64()> FFreeBytes;
    int FFirst = 1;
    std::set<int> FLeftOut;
};
} // namespace Engine
