// The PDF page planner without a tool: page sizes read from the
// interpreter's summary, the bitmap each page needs, the resolution a page
// is rendered for and the size it comes out at, and batches bounded by
// bytes, pages, resolution, the image tool's limits and the free space of
// the disk.

#include "engine/pdfplan.h"

#include <QTest>

#include <cmath>
#include <functional>

using namespace Engine;

namespace
{
const QSizeF letter(612, 792);
constexpr qint64 MiB = 1024 * 1024;

// Every batch as "first-last" (with "@dpi" when not 96), then every failed
// page as "page: reason".
QString plan(const QList<QSizeF> &sizes, TPixelLimits limits, std::function<qint64()> freeBytes,
             int width = 0, std::set<int> leftOut = {})
{
    TPdfPlanner planner(sizes, limits, std::move(freeBytes), width);
    planner.LeaveOut(std::move(leftOut));
    QStringList batches;
    std::map<int, QString> failed;
    TPageRange batch;
    while (planner.Next(batch, failed))
        batches << QStringLiteral("%1-%2").arg(batch.First).arg(batch.Last) +
                       (batch.Dpi == PdfPageDpi ? QString() : QStringLiteral("@%1").arg(batch.Dpi));
    for (const auto &[page, reason] : failed)
        batches << QStringLiteral("%1: %2").arg(page).arg(reason);
    return batches.join(QStringLiteral(" | "));
}
} // namespace

class TestPdfPlan : public QObject
{
    Q_OBJECT

  private slots:
    void pageSizes_data();
    void pageSizes();
    void pagePixels_data();
    void pagePixels();
    void outputDpi_data();
    void outputDpi();
    void sizeAt96_data();
    void sizeAt96();
    void batches_data();
    void batches();
    void freeSpaceAskedPerBatch();
    void leftOutPages_data();
    void leftOutPages();
};

void TestPdfPlan::pageSizes_data()
{
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QList<QSizeF>>("sizes");

    QTest::newRow("boxes of every page")
        << "File has 2 pages.\nPage 1 MediaBox: [0 0 612 792]\nPage 2 MediaBox: [ 0 0 842 595.5 ]\n"
        << QList<QSizeF>{letter, QSizeF(842, 595.5)};
    QTest::newRow("box not at the origin") << "File has 1 page.\nPage 1 MediaBox: [100 -50 -512 742]\n"
                                           << QList<QSizeF>{QSizeF(612, 792)};
    QTest::newRow("page without a box is Letter") << "File has 3 pages.\nPage 2 MediaBox: [0 0 100 200]\n"
                                                  << QList<QSizeF>{letter, QSizeF(100, 200), letter};
    QTest::newRow("box of a page beyond the count") << "File has 1 page.\nPage 2 MediaBox: [0 0 100 200]\n"
                                                    << QList<QSizeF>{letter};
    QTest::newRow("no count") << "Page 1 MediaBox: [0 0 612 792]\n" << QList<QSizeF>{};
    QTest::newRow("error text") << "Error: /syntaxerror in pdfopen\n" << QList<QSizeF>{};
}

void TestPdfPlan::pageSizes()
{
    QFETCH(QString, summary);
    QFETCH(QList<QSizeF>, sizes);
    QCOMPARE(PdfPageSizes(summary), sizes);
}

void TestPdfPlan::pagePixels_data()
{
    QTest::addColumn<QSizeF>("points");
    QTest::addColumn<qint64>("width");
    QTest::addColumn<qint64>("height");
    QTest::addColumn<qint64>("bytes"); // rows padded to 4 bytes, and the 54-byte header

    QTest::newRow("Letter") << letter << qint64(3264) << qint64(4224) << qint64(3264 * 3 * 4224 + 54);
    QTest::newRow("one point: rounded up, row padded")
        << QSizeF(1, 1) << qint64(6) << qint64(6) << qint64(20 * 6 + 54);
    QTest::newRow("empty") << QSizeF(0, 0) << qint64(0) << qint64(0) << qint64(54);
}

void TestPdfPlan::pagePixels()
{
    QFETCH(QSizeF, points);
    QFETCH(qint64, width);
    QFETCH(qint64, height);
    QFETCH(qint64, bytes);
    const TPdfPage page = PagePixels(points);
    QCOMPARE(page.Width, width);
    QCOMPARE(page.Height, height);
    QCOMPARE(page.Bytes, bytes);
}

void TestPdfPlan::outputDpi_data()
{
    QTest::addColumn<QSizeF>("points");
    QTest::addColumn<int>("width"); // 0: none
    QTest::addColumn<int>("dpi");

    QTest::newRow("no width") << letter << 0 << 96;
    // 612 points at 36 dpi: 306 pixels, the least at or above 300.
    QTest::newRow("smaller than the page") << letter << 300 << 36;
    QTest::newRow("exactly a page's 96 dpi") << letter << 816 << 96;
    QTest::newRow("larger than the page") << letter << 2000 << 236;
    QTest::newRow("one pixel") << letter << 1 << 1;
    // The page written at twice the resolution within 16000 pixels of
    // height: 792 points at most 727 dpi.
    QTest::newRow("kept within the tool") << letter << 20000 << 727;
    QTest::newRow("empty page") << QSizeF(0, 0) << 300 << 96;
}

void TestPdfPlan::outputDpi()
{
    QFETCH(QSizeF, points);
    QFETCH(int, width);
    QFETCH(int, dpi);
    QCOMPARE(PageOutputDpi(points, width, {16000, 16000}), dpi);
    if (width > 0 && dpi < 727 && points.width() > 0) {
        // The page the interpreter writes is at least twice width wide:
        // the image tool's last resize is at least a halving.
        const qint64 rendered = qint64(std::floor(points.width() * dpi * PdfRenderScale / 72.0 + 0.5));
        QVERIFY(rendered / PdfDownScale >= width * PdfReadScale);
    }
}

void TestPdfPlan::sizeAt96_data()
{
    QTest::addColumn<QSizeF>("points");
    QTest::addColumn<QSize>("rendered"); // the page the interpreter wrote (halved)
    QTest::addColumn<QSize>("canvas");
    QTest::addColumn<QSize>("resize");
    QTest::addColumn<QSize>("keep");

    QTest::newRow("Letter: a multiple of four")
        << letter << QSize(1632, 2112) << QSize() << QSize(816, 1056) << QSize(816, 1056);
    // 3175x4490 pixels at 384 dpi: the odd width is padded to 3175 half
    // pixels and resized to twice the quarter (794), of which 794 are kept.
    QTest::newRow("A4: an odd width") << QSizeF(595.276, 841.89) << QSize(1587, 2245) << QSize(3175, 2245)
                                      << QSize(1588, 1123) << QSize(794, 1123);
    QTest::newRow("turned by the document") << QSizeF(595.276, 841.89) << QSize(2245, 1587)
                                            << QSize(2245, 3175) << QSize(1123, 1588) << QSize(1123, 794);
    // 3173x4491: both sides odd.
    QTest::newRow("both sides odd") << QSizeF(595, 842) << QSize(1586, 2245) << QSize(3173, 4491)
                                    << QSize(1586, 2246) << QSize(793, 1123);
    QTest::newRow("a size the boxes do not explain is halved")
        << letter << QSize(501, 400) << QSize() << QSize(251, 200) << QSize(251, 200);
    QTest::newRow("unreadable") << letter << QSize() << QSize() << QSize() << QSize();
}

void TestPdfPlan::sizeAt96()
{
    QFETCH(QSizeF, points);
    QFETCH(QSize, rendered);
    QFETCH(QSize, canvas);
    QFETCH(QSize, resize);
    QFETCH(QSize, keep);
    const TPageFit fit = PageFitAt96(rendered, points);
    QCOMPARE(fit.Canvas, canvas);
    QCOMPARE(fit.Resize, resize);
    QCOMPARE(fit.Keep, keep);
}

void TestPdfPlan::batches_data()
{
    QTest::addColumn<QList<QSizeF>>("sizes");
    QTest::addColumn<qint64>("limit"); // the image tool's width and height limit
    QTest::addColumn<qint64>("free");  // free bytes on the disk; negative: unknown
    QTest::addColumn<int>("width");    // the chosen output width; 0: none
    QTest::addColumn<QString>("expected");

    const QSizeF small(100, 100);
    const QSizeF huge(7200, 7200);
    const QString tooLarge = "page too large (38400x38400 pixels at 384 dpi; the image tool takes at most "
                             "16000x16000)";
    // Letter pages 2000 pixels wide (236 dpi) are written at 472 dpi, 59.6
    // MiB each: four fit in a batch's 256 MiB.
    QTest::newRow("bounded by bytes")
        << QList<QSizeF>(12, letter) << qint64(16000) << qint64(-1) << 2000 << "1-4@236 | 5-8@236 | 9-12@236";
    QTest::newRow("one resolution per batch")
        << QList<QSizeF>{letter, letter, QSizeF(595, 842), letter} << qint64(16000) << qint64(-1) << 300
        << "1-2@36 | 3-3@37 | 4-4@36";
    QTest::newRow("bounded by pages")
        << QList<QSizeF>(20, small) << qint64(16000) << qint64(-1) << 0 << "1-8 | 9-16 | 17-20";
    QTest::newRow("one page") << QList<QSizeF>{letter} << qint64(16000) << 1000 * MiB << 0 << "1-1";
    QTest::newRow("no page") << QList<QSizeF>{} << qint64(16000) << qint64(-1) << 0 << "";
    QTest::newRow("too large page fails alone")
        << QList<QSizeF>{small, small, huge, small, small} << qint64(16000) << qint64(-1) << 0
        << "1-2 | 4-5 | 3: " + tooLarge;
    QTest::newRow("too large first and last page")
        << QList<QSizeF>{huge, small, huge} << qint64(16000) << qint64(-1) << 0
        << "2-2 | 1: " + tooLarge + " | 3: " + tooLarge;
    // Within the tool's pixels, but its bitmap alone above 768 MiB.
    QTest::newRow("too many bytes for one page")
        << QList<QSizeF>{QSizeF(3400, 3400), small} << qint64(100000) << qint64(-1) << 0
        << "2-2 | 1: page too large (18134x18134 pixels at 384 dpi; the image tool takes at most "
           "100000x100000)";
    QTest::newRow("within the tool's height only")
        << QList<QSizeF>{small, QSizeF(100, 3001)} << qint64(16000) << qint64(-1) << 0
        << "1-1 | 2: page too large (534x16006 pixels at 384 dpi; the image tool takes at most "
           "16000x16000)";
    // A batch needs its bitmaps (Letter written at 192 dpi: 9.9 MiB) and 16
    // MiB more.
    QTest::newRow("no space: the batch fails whole")
        << QList<QSizeF>(3, letter) << qint64(16000) << 20 * MiB << 0
        << "1: no space left on device | 2: no space left on device | 3: no space left on device";
    QTest::newRow("just enough space")
        << QList<QSizeF>(2, letter) << qint64(16000) << 2 * (1632 * 3 * 2112 + 54) + 16 * MiB << 0 << "1-2";
    QTest::newRow("one byte short") << QList<QSizeF>(2, letter) << qint64(16000)
                                    << 2 * (1632 * 3 * 2112 + 54) + 16 * MiB - 1 << 0
                                    << "1: no space left on device | 2: no space left on device";
}

void TestPdfPlan::batches()
{
    QFETCH(QList<QSizeF>, sizes);
    QFETCH(qint64, limit);
    QFETCH(qint64, free);
    QFETCH(int, width);
    QFETCH(QString, expected);
    QCOMPARE(plan(
                 sizes, {limit, limit}, [free] { return free; }, width),
             expected);
}

// The disk is asked again before each batch: space freed by the batches
// before (or taken by others) counts.
void TestPdfPlan::freeSpaceAskedPerBatch()
{
    QList<qint64> answers{0, -1, 0, 1000 * MiB};
    int asked = 0;
    const QString planned =
        plan(QList<QSizeF>(32, letter), {16000, 16000}, [&] { return answers.value(asked++, 0); });
    QCOMPARE(asked, 4);
    QStringList noSpace;
    for (const int page : {1, 2, 3, 4, 5, 6, 7, 8, 17, 18, 19, 20, 21, 22, 23, 24})
        noSpace << QStringLiteral("%1: no space left on device").arg(page);
    QCOMPARE(planned, QStringLiteral("9-16 | 25-32 | ") + noSpace.join(QStringLiteral(" | ")));
}

void TestPdfPlan::leftOutPages_data()
{
    QTest::addColumn<QList<int>>("leftOut");
    QTest::addColumn<int>("huge"); // a page far too large, 0: none
    QTest::addColumn<QString>("expected");
    QTest::newRow("none") << QList<int>{} << 0 << "1-8 | 9-16 | 17-20";
    QTest::newRow("a batch ends before each") << QList<int>{3, 10, 11} << 0 << "1-2 | 4-9 | 12-19 | 20-20";
    QTest::newRow("first and last") << QList<int>{1, 20} << 0 << "2-9 | 10-17 | 18-19";
    QTest::newRow("a too large page left out fails nothing") << QList<int>{5} << 5 << "1-4 | 6-13 | 14-20";
    QList<int> all;
    for (int page = 1; page <= 20; ++page)
        all << page;
    QTest::newRow("every page") << all << 0 << "";
}

// Pages whose outputs are there already are not rendered: batches go round them.
void TestPdfPlan::leftOutPages()
{
    QFETCH(QList<int>, leftOut);
    QFETCH(int, huge);
    QFETCH(QString, expected);
    QList<QSizeF> sizes(20, QSizeF(100, 100));
    if (huge > 0)
        sizes[huge - 1] = QSizeF(7200, 7200);
    QCOMPARE(plan(sizes, {16000, 16000}, [] { return qint64(-1); }, 0, {leftOut.cbegin(), leftOut.cend()}),
             expected);
}

QTEST_APPLESS_MAIN(TestPdfPlan)
#include "tst_pdfplan.moc"
