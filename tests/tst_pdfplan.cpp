// The PDF page planner without a tool: page sizes read from the
// interpreter's summary, the bitmap each page needs, and batches bounded by
// bytes, pages, the image tool's limits and the free space of the disk.

#include "engine/pdfplan.h"

#include <QTest>

#include <functional>

using namespace Engine;

namespace
{
const QSizeF letter(612, 792);
constexpr qint64 MiB = 1024 * 1024;

// Every batch as "first-last", then every failed page as "page: reason".
QString plan(const QList<QSizeF> &sizes, TPixelLimits limits, std::function<qint64()> freeBytes,
             std::set<int> leftOut = {})
{
    TPdfPlanner planner(sizes, limits, std::move(freeBytes));
    planner.LeaveOut(std::move(leftOut));
    QStringList batches;
    std::map<int, QString> failed;
    TPageRange batch;
    while (planner.Next(batch, failed))
        batches << QStringLiteral("%1-%2").arg(batch.First).arg(batch.Last);
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

void TestPdfPlan::batches_data()
{
    QTest::addColumn<QList<QSizeF>>("sizes");
    QTest::addColumn<qint64>("limit"); // the image tool's width and height limit
    QTest::addColumn<qint64>("free");  // free bytes on the disk; negative: unknown
    QTest::addColumn<QString>("expected");

    const QSizeF small(100, 100);
    const QSizeF huge(7200, 7200);
    const QString tooLarge = "page too large (38400x38400 pixels at 384 dpi; the image tool takes at most "
                             "16000x16000)";
    // Letter pages take 39.4 MiB each: six fit in a batch's 256 MiB.
    QTest::newRow("bounded by bytes")
        << QList<QSizeF>(12, letter) << qint64(16000) << qint64(-1) << "1-6 | 7-12";
    QTest::newRow("bounded by pages")
        << QList<QSizeF>(20, small) << qint64(16000) << qint64(-1) << "1-8 | 9-16 | 17-20";
    QTest::newRow("one page") << QList<QSizeF>{letter} << qint64(16000) << 1000 * MiB << "1-1";
    QTest::newRow("no page") << QList<QSizeF>{} << qint64(16000) << qint64(-1) << "";
    QTest::newRow("too large page fails alone")
        << QList<QSizeF>{small, small, huge, small, small} << qint64(16000) << qint64(-1)
        << "1-2 | 4-5 | 3: " + tooLarge;
    QTest::newRow("too large first and last page")
        << QList<QSizeF>{huge, small, huge} << qint64(16000) << qint64(-1)
        << "2-2 | 1: " + tooLarge + " | 3: " + tooLarge;
    // Within the tool's pixels, but its bitmap alone above 768 MiB.
    QTest::newRow("too many bytes for one page")
        << QList<QSizeF>{QSizeF(3400, 3400), small} << qint64(100000) << qint64(-1)
        << "2-2 | 1: page too large (18134x18134 pixels at 384 dpi; the image tool takes at most "
           "100000x100000)";
    QTest::newRow("within the tool's height only")
        << QList<QSizeF>{small, QSizeF(100, 3001)} << qint64(16000) << qint64(-1)
        << "1-1 | 2: page too large (534x16006 pixels at 384 dpi; the image tool takes at most "
           "16000x16000)";
    // A batch needs its bitmaps and 16 MiB more.
    QTest::newRow("no space: the batch fails whole")
        << QList<QSizeF>(3, letter) << qint64(16000) << 100 * MiB
        << "1: no space left on device | 2: no space left on device | 3: no space left on device";
    QTest::newRow("just enough space")
        << QList<QSizeF>(2, letter) << qint64(16000) << 2 * (3264 * 3 * 4224 + 54) + 16 * MiB << "1-2";
    QTest::newRow("one byte short") << QList<QSizeF>(2, letter) << qint64(16000)
                                    << 2 * (3264 * 3 * 4224 + 54) + 16 * MiB - 1
                                    << "1: no space left on device | 2: no space left on device";
}

void TestPdfPlan::batches()
{
    QFETCH(QList<QSizeF>, sizes);
    QFETCH(qint64, limit);
    QFETCH(qint64, free);
    QFETCH(QString, expected);
    QCOMPARE(plan(sizes, {limit, limit}, [free] { return free; }), expected);
}

// The disk is asked again before each batch: space freed by the batches
// before (or taken by others) counts.
void TestPdfPlan::freeSpaceAskedPerBatch()
{
    QList<qint64> answers{0, -1, 0, 1000 * MiB};
    int asked = 0;
    const QString planned =
        plan(QList<QSizeF>(24, letter), {16000, 16000}, [&] { return answers.value(asked++, 0); });
    QCOMPARE(asked, 4);
    QStringList noSpace;
    for (const int page : {1, 2, 3, 4, 5, 6, 13, 14, 15, 16, 17, 18})
        noSpace << QStringLiteral("%1: no space left on device").arg(page);
    QCOMPARE(planned, QStringLiteral("7-12 | 19-24 | ") + noSpace.join(QStringLiteral(" | ")));
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
    QCOMPARE(plan(sizes, {16000, 16000}, [] { return qint64(-1); }, {leftOut.cbegin(), leftOut.cend()}),
             expected);
}

QTEST_APPLESS_MAIN(TestPdfPlan)
#include "tst_pdfplan.moc"
