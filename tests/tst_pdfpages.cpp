// The pages of a PDF converted by every worker of a job: two workers give
// the names, row results and pixels of one worker, also when both workers
// hold a PDF row and when a page fails; a cancel in the middle leaves no
// tool and no partial output. Pages are reported as they are written.
// Pages rendered at four times their resolution and reduced by the
// interpreter stay close to a full bitmap reduced by the image tool, and
// come out at its size, or at exactly the chosen width.

#include "job.h"
#include "testutil.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>

#include <unistd.h>

namespace
{

// A PDF made by the interpreter from PostScript: pages of Letter size, each
// with its number in large type and shapes that differ from page to page;
// the pages listed in huge are far too large for the image tool.
bool writePdf(const QString &path, int pages, const QList<int> &huge = {})
{
    QByteArray program = "%!PS\n/Helvetica findfont 96 scalefont setfont\n";
    for (int page = 1; page <= pages; ++page) {
        const QByteArray n = QByteArray::number(page);
        if (huge.contains(page)) {
            program += "<< /PageSize [7200 7200] >> setpagedevice showpage\n";
            continue;
        }
        program += "<< /PageSize [612 792] >> setpagedevice\n"
                   "0." +
                   QByteArray::number(page % 10) +
                   " 0.3 0.7 setrgbcolor 72 72 468 648 rectfill\n"
                   "1 setgray 100 600 moveto (Page " +
                   n +
                   ") show\n"
                   "0 0 0 setrgbcolor 306 300 " +
                   QByteArray::number(20 + 8 * page) + " 0 360 arc fill showpage\n";
    }
    const QString ps = path + QStringLiteral(".ps");
    QFile file(ps);
    if (!file.open(QIODevice::WriteOnly) || file.write(program) != program.size())
        return false;
    file.close();
    const bool made = testutil::psToPdf(ps, path);
    QFile::remove(ps);
    return made;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Runs a vendor tool ("magick" or "gs") in folder; true when it ends cleanly.
bool runTool(const QString &folder, const QString &tool, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(folder);
    process.start(testutil::vendorTool(tool), arguments);
    if (!process.waitForFinished(300000) || process.exitCode() != 0) {
        qWarning("%s: %s", qPrintable(tool), process.readAll().constData());
        return false;
    }
    return true;
}

// Three pages of body text in three faces and sizes, with headings; pageSize
// in points ("612 792").
QByteArray textProgram(const QByteArray &pageSize)
{
    return "%!PS\n<< /PageSize [" + pageSize +
           "] >> setpagedevice\n"
           "/body (Pack my box with five dozen liquor jugs; the quick brown fox jumps over it.) def\n"
           "1 1 3 { /n exch def\n"
           "/Helvetica-Bold findfont 22 scalefont setfont 54 730 moveto (Section ) show n 2 string cvs show\n"
           "/Times-Roman findfont 9 n add scalefont setfont\n"
           "0 1 30 { /i exch def 54 700 i 14 mul sub moveto body show } for\n"
           "/Courier findfont 8 scalefont setfont\n"
           "0 1 8 { /i exch def 54 250 i 11 mul sub moveto (int page = ) show i n mul 5 string cvs show } "
           "for\n"
           "showpage } for\n";
}

// Two pages of drawings: hairlines at angles, a fine grid, curves and
// filled shapes in colour.
QByteArray vectorProgram()
{
    return "%!PS\n<< /PageSize [612 792] >> setpagedevice\n"
           "1 1 2 { /n exch def\n"
           "0.2 setlinewidth 0 0 0.5 setrgbcolor\n"
           "0 12 600 { /x exch def x 400 moveto x 0.3 n mul mul 60 add 780 lineto stroke } for\n"
           "0.5 0.5 0.5 setrgbcolor 0.1 setlinewidth\n"
           "60 10 300 { /y exch def 40 y moveto 300 y lineto stroke } for\n"
           "1 0 0 setrgbcolor 1.5 setlinewidth 320 60 moveto 380 380 500 0 560 300 curveto stroke\n"
           "0 0.6 0.2 setrgbcolor 430 200 60 n mul 0 300 arc fill\n"
           "0.9 0.7 0 setrgbcolor 100 330 moveto 200 390 lineto 150 300 lineto closepath fill\n"
           "showpage } for\n";
}

// A scanned page: A4 (not a multiple of four pixels at 384 dpi) covered by
// a photo-like picture of 620x877 samples, smooth gradients with noise.
QByteArray scanProgram()
{
    return "%!PS\n<< /PageSize [595 842] >> setpagedevice\n"
           "/min { 2 copy gt { exch } if pop } bind def /row 1860 string def /y 0 def\n"
           "595 842 scale 620 877 8 [620 0 0 -877 0 877] { 0 1 619 { /x exch def\n"
           "  row x 3 mul x 255 mul 620 idiv rand 31 and add 255 min put\n"
           "  row x 3 mul 1 add y 255 mul 877 idiv rand 31 and add 255 min put\n"
           "  row x 3 mul 2 add x y add 4 idiv 255 and put } for /y y 1 add def row }\n"
           "false 3 colorimage showpage\n";
}

// The peak signal-to-noise ratio of b against a, in dB (99 when equal).
double psnr(const QImage &a, const QImage &b)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto *p = reinterpret_cast<const QRgb *>(x.constScanLine(row));
        const auto *q = reinterpret_cast<const QRgb *>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col) {
            const int dr = qRed(p[col]) - qRed(q[col]);
            const int dg = qGreen(p[col]) - qGreen(q[col]);
            const int db = qBlue(p[col]) - qBlue(q[col]);
            sum += dr * dr + dg * dg + db * db;
        }
    }
    const double mse = sum / (3.0 * x.width() * x.height());
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

// The pages as every page was once made: rendered whole at 384 dpi, then
// reduced to a quarter by the image tool; "ref-001.png", ... in folder.
bool referencePages(const QString &folder, const QString &pdf, int pages)
{
    if (!runTool(folder, QStringLiteral("gs"),
                 {QStringLiteral("-dSAFER"), QStringLiteral("-dNOPAUSE"), QStringLiteral("-dBATCH"),
                  QStringLiteral("-dQUIET"), QStringLiteral("-dTextAlphaBits=4"),
                  QStringLiteral("-dGraphicsAlphaBits=4"), QStringLiteral("-sDEVICE=bmp16m"),
                  QStringLiteral("-r384"), QStringLiteral("-sOutputFile=full-%03d.bmp"), pdf}))
        return false;
    for (int page = 1; page <= pages; ++page) {
        const QString number = QStringLiteral("%1").arg(page, 3, 10, QLatin1Char('0'));
        if (!runTool(folder, QStringLiteral("magick"),
                     {QStringLiteral("full-") + number + QStringLiteral(".bmp[0]"),
                      QStringLiteral("-auto-orient"), QStringLiteral("-resize"), QStringLiteral("25%"),
                      QStringLiteral("ref-") + number + QStringLiteral(".png")}))
            return false;
        QFile::remove(folder + QStringLiteral("/full-") + number + QStringLiteral(".bmp"));
    }
    return true;
}

struct JobRun {
    QMap<int, ConversionResult> results;
    bool finished = false;
    bool cancelled = false;
};

// Runs a job to its end; cancelWhen, when set, is polled and cancels the job
// once it holds.
JobRun runJob(const QList<TJobItem> &items, const ConversionOptions &options, int workers,
              const std::function<bool()> &cancelWhen = {})
{
    JobRun run;
    TConversionJob job(items, options, workers);
    QObject::connect(&job, &TConversionJob::RowFinished,
                     [&](int i, const ConversionResult &r) { run.results.insert(i, r); });
    QObject::connect(&job, &TConversionJob::Finished, [&](bool cancelled) {
        run.finished = true;
        run.cancelled = cancelled;
    });
    job.Start();
    if (cancelWhen && QTest::qWaitFor([&] { return run.finished || cancelWhen(); }, 300000))
        job.Cancel();
    if (!QTest::qWaitFor([&] { return run.finished; }, 600000))
        qWarning("job did not finish");
    return run;
}

} // namespace

class TestPdfPages : public QObject
{
    Q_OBJECT

  private slots:
    void initTestCase();
    void sameAsOneWorker_data();
    void sameAsOneWorker();
    void cancelInTheMiddle();
    void pdfTakesNoNameOfItsOwn();
    void pagesReportedAsWritten();
    void closeToFullBitmap_data();
    void closeToFullBitmap();
    void exactWidth_data();
    void exactWidth();
    void rerunFinishesMissingPages();

  private:
    QTemporaryDir m_work;
    QString m_pdf12;
    QString m_pdf12Huge;
    QString m_pdf3;
};

void TestPdfPages::initTestCase()
{
    for (const ExternalTool tool : {ExternalTool::Interpreter, ExternalTool::ImageTool}) {
        const QString why = testutil::missingToolReason(tool);
        if (!why.isEmpty())
            QSKIP(qPrintable(why));
    }
    m_pdf12 = m_work.filePath(QStringLiteral("twelve.pdf"));
    m_pdf12Huge = m_work.filePath(QStringLiteral("huge.pdf"));
    m_pdf3 = m_work.filePath(QStringLiteral("three.pdf"));
    QVERIFY(writePdf(m_pdf12, 12));
    QVERIFY(writePdf(m_pdf12Huge, 12, {7}));
    QVERIFY(writePdf(m_pdf3, 3));
}

void TestPdfPages::sameAsOneWorker_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QStringList>("documents"); // file names in m_work
    QTest::addColumn<int>("pages");             // pages written in all
    QTest::newRow("12 pages to JPG") << "JPG" << QStringList{"twelve.pdf"} << 12;
    QTest::newRow("12 pages to PNG") << "PNG" << QStringList{"twelve.pdf"} << 12;
    // Both workers hold a PDF row and share their pages with each other.
    QTest::newRow("two PDF rows") << "JPG" << QStringList{"twelve.pdf", "three.pdf"} << 15;
    QTest::newRow("page 7 too large") << "JPG" << QStringList{"huge.pdf"} << 11;
}

void TestPdfPages::sameAsOneWorker()
{
    QFETCH(QString, format);
    QFETCH(QStringList, documents);
    QFETCH(int, pages);

    QTemporaryDir out;
    QList<TJobItem> items;
    for (const QString &name : documents)
        items << TJobItem{m_work.filePath(name), QStringLiteral("PDF"), QString()};
    // A file already under the first page's name is never replaced.
    const QString firstPage =
        QFileInfo(documents.first()).completeBaseName() + QStringLiteral("-001.") + format.toLower();
    QMap<int, JobRun> runs;
    QMap<int, QStringList> names;
    for (const int workers : {1, 2}) {
        const QString folder = out.filePath(QString::number(workers)) + QLatin1Char('/');
        QVERIFY(QDir().mkpath(folder));
        QFile decoy(folder + firstPage);
        QVERIFY(decoy.open(QIODevice::WriteOnly));
        decoy.write("decoy");
        decoy.close();

        ConversionOptions options;
        options.SaveFormat = format;
        options.SavePath = folder;
        runs[workers] = runJob(items, options, workers);
        QVERIFY(runs[workers].finished);
        QVERIFY(!runs[workers].cancelled);
        QCOMPARE(runs[workers].results.size(), documents.size());
        names[workers] = testutil::entriesBelow(folder);
        QVERIFY2(names[workers].size() == pages + 1,
                 qPrintable(names[workers].join(QLatin1Char(' ')) + QLatin1Char('\n') +
                            testutil::failures(runs[workers].results)));
        QFile kept(folder + firstPage);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("decoy"));
    }
    QCOMPARE(names[2], names[1]);
    for (int row = 0; row < documents.size(); ++row) {
        const ConversionResult &one = runs[1].results[row];
        const ConversionResult &two = runs[2].results[row];
        QCOMPARE(two.Success, one.Success);
        QCOMPARE(two.Reason, one.Reason);
        QCOMPARE(QStringList(two.Outputs).replaceInStrings(out.filePath("2/"), QString()),
                 QStringList(one.Outputs).replaceInStrings(out.filePath("1/"), QString()));
    }
    if (QTest::currentDataTag() == QLatin1String("page 7 too large")) {
        QVERIFY(!runs[1].results[0].Success);
        QVERIFY2(runs[1].results[0].Reason.startsWith(QLatin1String("page 7 of 12 failed: page too large")),
                 qPrintable(runs[1].results[0].Reason));
        QVERIFY(!names[1].contains(QStringLiteral("huge-007.jpg")));
    } else {
        QVERIFY2(runs[1].results[0].Success, qPrintable(runs[1].results[0].Reason));
    }
    for (const QString &name : std::as_const(names[1])) {
        if (name == firstPage)
            continue;
        const QImage a(out.filePath(QStringLiteral("1/") + name));
        const QImage b(out.filePath(QStringLiteral("2/") + name));
        QVERIFY2(!a.isNull(), qPrintable(name));
        QCOMPARE(a.size(), QSize(816, 1056));
        QVERIFY2(a == b, qPrintable(name));
    }
}

// Cancel once the first pages are written: the job ends cancelled without
// reporting the row, no tool runs on, and only whole pages are left.
void TestPdfPages::cancelInTheMiddle()
{
    QTemporaryDir out;
    ConversionOptions options;
    options.SaveFormat = QStringLiteral("PNG");
    options.SavePath = out.path() + QLatin1Char('/');
    const JobRun run = runJob({TJobItem{m_pdf12, QStringLiteral("PDF"), QString()}}, options, 2,
                              [&] { return testutil::entriesBelow(options.SavePath).size() >= 2; });
    QVERIFY(run.finished);
    QVERIFY2(run.cancelled, qPrintable(testutil::failures(run.results)));
    QVERIFY(run.results.isEmpty());
    QTRY_COMPARE(int(testutil::childProcesses(QCoreApplication::applicationPid(), true).size()), 0);
    const QStringList left = testutil::entriesBelow(options.SavePath);
    QVERIFY(left.size() >= 2);
    QVERIFY2(left.size() < 12, qPrintable(left.join(' ')));
    for (const QString &name : left) {
        QVERIFY2(name.startsWith(QLatin1String("twelve-")), qPrintable(name));
        QVERIFY2(!QImage(options.SavePath + name).isNull(), qPrintable(name));
    }
}

// A PDF row writes only its pages: a picture with the PDF's name that comes
// after it in the list still gets the plain output name, with any number of
// workers.
void TestPdfPages::pdfTakesNoNameOfItsOwn()
{
    QTemporaryDir out;
    const QString picture = m_work.filePath(QStringLiteral("three.png"));
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::red);
    QVERIFY(image.save(picture));
    for (const int workers : {1, 2}) {
        ConversionOptions options;
        options.SaveFormat = QStringLiteral("JPG");
        options.SavePath = out.filePath(QString::number(workers)) + QLatin1Char('/');
        QVERIFY(QDir().mkpath(options.SavePath));
        const JobRun run = runJob({TJobItem{m_pdf3, QStringLiteral("PDF"), QString()},
                                   TJobItem{picture, QStringLiteral("PNG"), QString()}},
                                  options, workers);
        QVERIFY(run.finished);
        VERIFY_NO_FAILURES(run.results);
        QCOMPARE(testutil::entriesBelow(options.SavePath),
                 QStringList({"three-001.jpg", "three-002.jpg", "three-003.jpg", "three.jpg"}));
    }
    QFile::remove(picture);
}

// Every page is reported once, as it is written, before its row finishes:
// its number, the pages written so far and the file it was written to.
void TestPdfPages::pagesReportedAsWritten()
{
    QTemporaryDir out;
    ConversionOptions options;
    options.SaveFormat = QStringLiteral("JPG");
    options.SavePath = out.path() + QLatin1Char('/');
    TConversionJob job({TJobItem{m_pdf12, QStringLiteral("PDF"), QString()}}, options, 2);
    QList<int> pages;
    QList<int> written;
    bool rowFinished = false;
    bool finished = false;
    QObject::connect(&job, &TConversionJob::PageWritten,
                     [&](int index, int page, int count, int total, const QString &output) {
                         QCOMPARE(index, 0);
                         QCOMPARE(total, 12);
                         QVERIFY(!rowFinished);
                         QVERIFY2(QFileInfo(output).size() > 0, qPrintable(output));
                         QCOMPARE(QFileInfo(output).fileName(),
                                  QStringLiteral("twelve-%1.jpg").arg(page, 3, 10, QLatin1Char('0')));
                         pages << page;
                         written << count;
                     });
    QObject::connect(&job, &TConversionJob::RowFinished, [&] { rowFinished = true; });
    QObject::connect(&job, &TConversionJob::Finished, [&] { finished = true; });
    job.Start();
    QVERIFY(QTest::qWaitFor([&] { return finished; }, 300000));
    std::sort(pages.begin(), pages.end());
    QList<int> all;
    for (int page = 1; page <= 12; ++page)
        all << page;
    QCOMPARE(pages, all);
    QCOMPARE(written, all);
}

void TestPdfPages::closeToFullBitmap_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("pages");
    QTest::addColumn<double>("least"); // dB
    QTest::newRow("text, Letter") << "text 612 792" << 3 << 40.0;
    // Sides of an odd number of 384-dpi pixels: 3175 wide; 3173 by 4491.
    QTest::newRow("text, A4") << "text 595.276 841.89" << 3 << 40.0;
    QTest::newRow("text, both sides odd") << "text 595 842" << 3 << 40.0;
    QTest::newRow("vector drawings") << "vector" << 2 << 40.0;
    QTest::newRow("scanned photo, both sides odd") << "scan" << 1 << 40.0;
}

// Each page as the image tool's quarter of the 384-dpi bitmap: the same size
// and at least the least dB (33 for any page); the least and the median are
// printed.
void TestPdfPages::closeToFullBitmap()
{
    QFETCH(QString, kind);
    QFETCH(int, pages);
    QFETCH(double, least);
    QTemporaryDir work;
    const QString pdf = work.filePath(QStringLiteral("page.pdf"));
    const QString ps = work.filePath(QStringLiteral("page.ps"));
    QVERIFY(writeFile(ps, kind.startsWith(QLatin1String("text ")) ? textProgram(kind.mid(5).toLatin1())
                          : kind == QLatin1String("vector")       ? vectorProgram()
                                                                  : scanProgram()));
    QVERIFY(testutil::psToPdf(ps, pdf));
    QVERIFY(referencePages(work.path(), pdf, pages));
    ConversionOptions options;
    options.SaveFormat = QStringLiteral("PNG");
    // Kept metadata: a grey page is written as a grey PNG, which takes no
    // RGB colour profile.
    options.KeepMetadata = true;
    options.SavePath = work.filePath(QStringLiteral("out/"));
    QVERIFY(QDir().mkpath(options.SavePath));
    const ConversionResult result = ConvertPdf(options, pdf);
    QVERIFY2(result.Success, qPrintable(result.Reason));
    QCOMPARE(result.Outputs.size(), pages);
    QList<double> ratios;
    for (int page = 1; page <= pages; ++page) {
        const QImage reference(
            work.filePath(QStringLiteral("ref-%1.png").arg(page, 3, 10, QLatin1Char('0'))));
        const QImage made(result.Outputs.at(page - 1));
        QVERIFY(!reference.isNull());
        QCOMPARE(made.size(), reference.size());
        ratios << psnr(reference, made);
        QVERIFY2(ratios.last() >= least,
                 qPrintable(QStringLiteral("page %1: %2 dB").arg(page).arg(ratios.last())));
    }
    std::sort(ratios.begin(), ratios.end());
    qInfo("%s: %d pages, least %.1f dB, median %.1f dB", qPrintable(kind), pages, ratios.first(),
          ratios.at(ratios.size() / 2));
}

void TestPdfPages::exactWidth_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("width");
    QTest::newRow("PNG, smaller than the page") << "PNG" << 300;
    QTest::newRow("JPG, smaller than the page") << "JPG" << 517;
    QTest::newRow("PNG, larger than the page") << "PNG" << 1700;
    QTest::newRow("JPG, larger than the page") << "JPG" << 2001;
}

// With a width every page comes out exactly that wide.
void TestPdfPages::exactWidth()
{
    QFETCH(QString, format);
    QFETCH(int, width);
    QTemporaryDir out;
    ConversionOptions options;
    options.SaveFormat = format;
    options.UseWidth = true;
    options.Width = width;
    options.SavePath = out.path() + QLatin1Char('/');
    const ConversionResult result = ConvertPdf(options, m_pdf3);
    QVERIFY2(result.Success, qPrintable(result.Reason));
    QCOMPARE(result.Outputs.size(), 3);
    for (const QString &output : result.Outputs) {
        const QImage image(output);
        QCOMPARE(image.width(), width);
        // Letter's sides keep their ratio, to the pixel.
        QVERIFY2(qAbs(image.height() - width * 792.0 / 612) <= 1,
                 qPrintable(QString::number(image.height())));
    }
}

// A re-run that skips earlier outputs renders only the pages whose outputs
// are missing (the others keep their bytes), and then nothing at all; a
// re-run that overwrites replaces every page under its own name.
void TestPdfPages::rerunFinishesMissingPages()
{
    QTemporaryDir out;
    ConversionOptions options;
    options.SaveFormat = QStringLiteral("PNG");
    options.SavePath = out.path() + QLatin1Char('/');
    const QList<TJobItem> items{TJobItem{m_pdf12, QStringLiteral("PDF"), QString()}};
    const JobRun first = runJob(items, options, 2);
    VERIFY_NO_FAILURES(first.results);
    QStringList pages;
    for (int page = 1; page <= 12; ++page)
        pages << QStringLiteral("twelve-%1.png").arg(page, 3, 10, QLatin1Char('0'));
    QCOMPARE(testutil::entriesBelow(options.SavePath), pages);
    for (const QString &name : pages)
        QVERIFY(testutil::writeFile(options.SavePath + name, "earlier output"));
    // An interrupted run: pages 3 and 10 are missing.
    QVERIFY(QFile::remove(options.SavePath + pages[2]));
    QVERIFY(QFile::remove(options.SavePath + pages[9]));

    options.Existing = TExistingPolicy::Skip;
    const JobRun rerun = runJob(items, options, 2);
    VERIFY_NO_FAILURES(rerun.results);
    const ConversionResult &finished = rerun.results.value(0);
    QVERIFY(!finished.Skipped);
    QCOMPARE(finished.Outputs, (QStringList{options.SavePath + pages[2], options.SavePath + pages[9]}));
    QCOMPARE(finished.Existing.size(), 10);
    QCOMPARE(testutil::entriesBelow(options.SavePath), pages);
    for (int page = 0; page < 12; ++page) {
        const bool written = page == 2 || page == 9;
        QCOMPARE(testutil::readAll(options.SavePath + pages[page]) == "earlier output", !written);
    }
    QCOMPARE(QImage(options.SavePath + pages[9]).size(), QSize(816, 1056));

    const JobRun again = runJob(items, options, 2);
    QVERIFY(again.results.value(0).Skipped);
    QCOMPARE(again.results.value(0).Existing.size(), 12);
    QCOMPARE(testutil::readAll(options.SavePath + pages[0]), QByteArray("earlier output"));

    options.Existing = TExistingPolicy::Overwrite;
    const JobRun replaced = runJob(items, options, 2);
    VERIFY_NO_FAILURES(replaced.results);
    QCOMPARE(replaced.results.value(0).Outputs.size(), 12);
    QCOMPARE(testutil::entriesBelow(options.SavePath), pages);
    for (const QString &name : pages)
        QCOMPARE(QImage(options.SavePath + name).size(), QSize(816, 1056));
}

QTEST_GUILESS_MAIN(TestPdfPages)
#include "tst_pdfpages.moc"
