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

TPdfPage PagePixels(const QSizeF &points)
{
    TPdfPage page;
    page.Width = qint64(std::ceil(points.width() * PdfDpi / 72.0));
    page.Height = qint64(std::ceil(points.height() * PdfDpi / 72.0));
    page.Bytes = ((page.Width * 3 + 3) / 4 * 4) * page.Height + 54;
    return page;
}

QString PageNumber(int page)
{
    return QStringLiteral("%1").arg(page, 3, 10, QLatin1Char('0'));
}

TPdfPlanner::TPdfPlanner(QList<QSizeF> sizes, TPixelLimits limits, std::function<qint64()> freeBytes)
    : FSizes(std::move(sizes)), FLimits(limits), FFreeBytes(std::move(freeBytes))
{
}

bool TPdfPlanner::tooLarge(const TPdfPage &page) const
{
    return page.Width > FLimits.Width || page.Height > FLimits.Height;
}

int TPdfPlanner::lastOfBatch(int first, qint64 &bytes) const
{
    int last = first;
    while (last < PageCount() && last - first + 1 < PdfBatchPages && !FLeftOut.count(last + 1)) {
        const TPdfPage next = PagePixels(FSizes[last]);
        if (tooLarge(next) || bytes + next.Bytes > PdfBatchBytes)
            break;
        bytes += next.Bytes;
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
        qint64 bytes = firstPage.Bytes;
        const int last = lastOfBatch(FFirst, bytes);
        const qint64 available = FFreeBytes ? FFreeBytes() : -1;
        const int first = FFirst;
        FFirst = last + 1;
        if (available >= 0 && available < bytes + PdfSpareBytes) {
            for (int page = first; page <= last; ++page)
                failed.emplace(page, QStringLiteral("no space left on device"));
            continue;
        }
        batch = {first, last};
        return true;
    }
    return false;
}
} // namespace Engine
