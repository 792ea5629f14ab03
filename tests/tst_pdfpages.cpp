// The pages of a PDF converted by every worker of a job: two workers give
// the names, row results and pixels of one worker, also when both workers
// hold a PDF row and when a page fails; a cancel in the middle leaves no
// tool and no partial output.

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
