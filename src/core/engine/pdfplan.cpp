#include "pdfplan.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace Engine
{
QList<QSizeF> PdfPageSizes(const QString &summary)
{
    static const QRegularExpression countLine(QStringLiteral("File has (\\d+) pages?"));
    static const QRegularExpression pageLine(QStringLiteral(
        "Page (\\d+) MediaBox: \\[\\s*([-0-9.eE]+)\\s+([-0-9.eE]+)\\s+([-0-9.eE]+)\\s+([-0-9.eE]+)\\s*\\]"));
    const QRegularExpressionMatch count = countLine.match(summary);
    if (!count.hasMatch())
        return {};
    const int pages = std::min(count.captured(1).toInt(), 100000);
    QList<QSizeF> sizes(pages, QSizeF(612, 792));
    auto it = pageLine.globalMatch(summary);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const int page = m.captured(1).toInt();
        if (page >= 1 && page <= pages)
            sizes[page - 1] = QSizeF(std::abs(m.captured(4).toDouble() - m.captured(2).toDouble()),
                                     std::abs(m.captured(5).toDouble() - m.captured(3).toDouble()));
    }
    return sizes;
}

TPdfPage PagePixels(const QSizeF &points, int dpi)
{
    TPdfPage page;
    page.Width = qint64(std::ceil(points.width() * dpi / 72.0));
    page.Height = qint64(std::ceil(points.height() * dpi / 72.0));
    page.Bytes = ((page.Width * 3 + 3) / 4 * 4) * page.Height + 54;
    return page;
}

int PageOutputDpi(const QSizeF &points, int width, TPixelLimits limits)
{
    if (width <= 0 || points.width() <= 0 || points.height() <= 0)
        return PdfPageDpi;
    const double wanted = std::ceil(width * 72.0 / points.width());
    const double most =
        std::floor(std::min(limits.Width * 72.0 / points.width(), limits.Height * 72.0 / points.height()) /
                   PdfReadScale);
    return int(std::clamp(std::min(wanted, most), 1.0, 100000.0));
}

namespace
{
// One side of TPageFit: full is the side of the PdfDpi bitmap.
void fitSide(qint64 full, int &canvas, int &resize, int &keep)
{
    keep = int(std::floor(full / 4.0 + 0.5));
    // An even side halves exactly; an odd one lost its last pixel in the
    // renderer and is padded to full half-pixels so that the resize's scale
    // is keep / (full / 4) as before.
    canvas = int(full % 2 == 0 ? full / 2 : full);
    resize = full % 2 == 0 ? keep : 2 * keep;
}
} // namespace

TPageFit PageFitAt96(const QSize &rendered, const QSizeF &points)
{
    const auto full = [](double side) { return qint64(std::floor(side * PdfDpi / 72.0 + 0.5)); };
    qint64 width = full(points.width());
    qint64 height = full(points.height());
    const auto reduced = [](qint64 side) { return int(side / PdfDownScale); };
    if (rendered == QSize(reduced(height), reduced(width)) && rendered != QSize(reduced(width), reduced(height)))
        std::swap(width, height);
    TPageFit fit;
    if (rendered.isEmpty())
        return fit;
    if (rendered != QSize(reduced(width), reduced(height))) {
        // A size the document's boxes do not explain: halved as it is.
        fit.Resize = QSize(std::max(1, (rendered.width() + 1) / 2), std::max(1, (rendered.height() + 1) / 2));
        fit.Keep = fit.Resize;
        return fit;
    }
    int canvasWidth, canvasHeight, resizeWidth, resizeHeight, keepWidth, keepHeight;
    fitSide(width, canvasWidth, resizeWidth, keepWidth);
    fitSide(height, canvasHeight, resizeHeight, keepHeight);
    if (QSize(canvasWidth, canvasHeight) != rendered)
        fit.Canvas = QSize(canvasWidth, canvasHeight);
    fit.Resize = QSize(resizeWidth, resizeHeight);
    fit.Keep = QSize(keepWidth, keepHeight);
    return fit;
}

QString PageNumber(int page)
{
    return QStringLiteral("%1").arg(page, 3, 10, QLatin1Char('0'));
}

TPdfPlanner::TPdfPlanner(QList<QSizeF> sizes, TPixelLimits limits, std::function<qint64()> freeBytes,
                         int width, bool shrinkOnly)
    : FSizes(std::move(sizes)), FLimits(limits), FFreeBytes(std::move(freeBytes)), FWidth(width),
      FShrinkOnly(shrinkOnly)
{
}

int TPdfPlanner::dpiOf(int page) const
{
    const int dpi = PageOutputDpi(FSizes[page - 1], FWidth, FLimits);
    return FShrinkOnly ? std::min(dpi, PdfPageDpi) : dpi;
}

bool TPdfPlanner::tooLarge(const TPdfPage &page) const
{
    return page.Width > FLimits.Width || page.Height > FLimits.Height;
}

int TPdfPlanner::lastOfBatch(int first, qint64 &bytes) const
{
    const int dpi = dpiOf(first);
    int last = first;
    while (last < PageCount() && last - first + 1 < PdfBatchPages && !FLeftOut.count(last + 1)) {
        const qint64 nextBytes = PagePixels(FSizes[last], dpi * PdfReadScale).Bytes;
        if (tooLarge(PagePixels(FSizes[last])) || dpiOf(last + 1) != dpi || bytes + nextBytes > PdfBatchBytes)
            break;
        bytes += nextBytes;
        ++last;
    }
    return last;
}

bool TPdfPlanner::Next(TPageRange &batch, std::map<int, QString> &failed)
{
    while (FFirst <= PageCount()) {
        if (FLeftOut.count(FFirst)) {
            ++FFirst;
            continue;
        }
        const TPdfPage firstPage = PagePixels(FSizes[FFirst - 1]);
        if (tooLarge(firstPage) || firstPage.Bytes > PdfPageBytesLimit) {
            failed.emplace(
                FFirst,
                QStringLiteral("page too large (%1x%2 pixels at %3 dpi; the image tool takes at most %4x%5)")
                    .arg(firstPage.Width)
                    .arg(firstPage.Height)
                    .arg(PdfDpi)
                    .arg(FLimits.Width)
                    .arg(FLimits.Height));
            ++FFirst;
            continue;
        }
        qint64 bytes = PagePixels(FSizes[FFirst - 1], dpiOf(FFirst) * PdfReadScale).Bytes;
        const int last = lastOfBatch(FFirst, bytes);
        const qint64 available = FFreeBytes ? FFreeBytes() : -1;
        const int first = FFirst;
        FFirst = last + 1;
        if (available >= 0 && available < bytes + PdfSpareBytes) {
            for (int page = first; page <= last; ++page)
                failed.emplace(page, QStringLiteral("no space left on device"));
            continue;
        }
        batch = {first, last, dpiOf(first)};
        return true;
    }
    return false;
}
} // namespace Engine
