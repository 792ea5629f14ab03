// The conversion job without a window, on real files with the real image
// tools: any number of workers gives the names, statuses and pixels of a
// one-worker run; a cancel leaves no tool, no partial output and the
// unfinished items for another job.

#include "job.h"
#include "testutil.h"
#include "translate.h"

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

// A plain picture in the format its extension names; the image tool writes
// the formats Qt cannot.
void writeImage(const QString &path, QColor colour, int width = 64, int height = 48)
{
    QDir().mkpath(QFileInfo(path).path());
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    if (path.endsWith(QLatin1String(".png"))) {
        QVERIFY(image.save(path, "PNG"));
        return;
    }
    const QString png = path + QStringLiteral(".source.png");
    QVERIFY(image.save(png, "PNG"));
    QProcess tool;
    tool.start(testutil::vendorTool(QStringLiteral("magick")), {png, path});
    QVERIFY(tool.waitForFinished(60000));
    QFile::remove(png);
    QVERIFY(QFileInfo(path).size() > 0);
}

// Noise the tools need about a second for.
void writeNoise(const QString &path, int width, int height)
{
    QVERIFY(testutil::writeNoisyPng(path, width, height, 99));
}


struct JobRun {
    QMap<int, ConversionResult> results;
    QList<int> started;
    QList<int> progress;
    bool finished = false;
    bool cancelled = false;
};

// Runs a job to its end; cancelAfter > 0 cancels once that many items finished.
JobRun runJob(const QList<TJobItem> &items, const ConversionOptions &options, int workers,
              int cancelAfter = 0)
{
    JobRun run;
    TConversionJob job(items, options, workers);
    QObject::connect(&job, &TConversionJob::RowStarted, [&](int i) { run.started << i; });
    QObject::connect(&job, &TConversionJob::RowFinished, [&](int i, const ConversionResult &r) {
        run.results.insert(i, r);
        if (cancelAfter > 0 && run.results.size() == cancelAfter)
            job.Cancel();
    });
    QObject::connect(&job, &TConversionJob::Progress, [&](int n, int) { run.progress << n; });
    QObject::connect(&job, &TConversionJob::Finished, [&](bool cancelled) {
        run.finished = true;
        run.cancelled = cancelled;
    });
    job.Start();
    if (!QTest::qWaitFor([&] { return run.finished; }, 300000))
        qWarning("job did not finish");
    return run;
}

// Every signal of a job, delivered to the test's thread as the window gets
// them; the job is destroyed before the log is returned.
struct SignalLog {
    QList<int> started;
    QList<int> rows;
    QStringList reasons;
    QList<int> progress;
    QList<bool> finished;
    int workers = 0;
    bool runningAtEnd = false; // IsRunning() after the end (or, unstarted, before the job went)
};

// Runs a job to its end when start is set, else only makes and destroys it;
// then waits a moment for stray signals.
SignalLog logJob(const QList<TJobItem> &items, const ConversionOptions &options, int workers, bool start)
{
    SignalLog log;
    QObject receiver;
    {
        TConversionJob job(items, options, workers);
        log.workers = job.WorkerCount();
        QObject::connect(&job, &TConversionJob::RowStarted, &receiver, [&](int i) { log.started << i; });
        QObject::connect(&job, &TConversionJob::RowFinished, &receiver,
                         [&](int i, const ConversionResult &r) {
                             log.rows << i;
                             log.reasons << r.Reason;
                         });
        QObject::connect(&job, &TConversionJob::Progress, &receiver, [&](int n, int) { log.progress << n; });
        QObject::connect(&job, &TConversionJob::Finished, &receiver, [&](bool c) { log.finished << c; });
        if (start) {
            job.Start();
            if (!QTest::qWaitFor([&] { return !log.finished.isEmpty(); }, 60000))
                qWarning("job did not finish");
        }
        log.runningAtEnd = job.IsRunning();
    }
    QTest::qWait(100);
    return log;
}

} // namespace

class TestJobCore : public QObject
{
    Q_OBJECT

  private:
    std::unique_ptr<testutil::ProgramFolderScope> m_program;
    QTemporaryDir m_files;
    QString m_mixed; // the mixed fixture folder, ending in '/'

  private slots:
    void initTestCase()
    {
        InitTranslation();
        m_program = std::make_unique<testutil::ProgramFolderScope>();
        m_mixed = m_files.path() + QStringLiteral("/mixed/");
        if (!testutil::missingToolReason(ExternalTool::ImageTool).isEmpty())
            return; // the fixtures need the image tool; init() skips the tests that convert them
        // Same names in one folder (three sources for one "a.jpg"), a failing
        // row, a name with a blank,
        // a minus and a non-ASCII letter, formats of every kind of route.
        writeImage(m_mixed + "a.png", QColor(220, 20, 20));
        writeImage(m_mixed + "a.gif", QColor(20, 220, 20));
        writeImage(m_mixed + "a.bmp", QColor(20, 20, 220));
        QVERIFY(testutil::writeFile(m_mixed + "broken.png", "no picture, only a name that says so"));
        writeImage(m_mixed + "é x-1.png", QColor(200, 200, 20));
        writeImage(m_mixed + "b.tif", QColor(20, 200, 200));
    }

    void cleanupTestCase() { m_program.reset(); }

    void init()
    {
        const QString why = testutil::imageToolSkipReason({QStringLiteral("emptyAndUnstarted")});
        if (!why.isEmpty())
            QSKIP(qPrintable(why));
    }

    void sameResultForAnyWorkerCount_data()
    {
        QTest::addColumn<int>("workers");
        QTest::newRow("1 worker") << 1;
        QTest::newRow("2 workers") << 2;
        QTest::newRow("4 workers") << 4;
    }

    void sameResultForAnyWorkerCount()
    {
        QFETCH(int, workers);

        const QList<TJobItem> items{
            {m_mixed + "a.png", "PNG", {}},      {m_mixed + "a.gif", "GIF", {}},
            {m_mixed + "broken.png", "PNG", {}}, {m_mixed + "a.bmp", "BMP", {}},
            {m_mixed + "é x-1.png", "PNG", {}},  {m_mixed + "b.tif", "TIFF", {}},
            {m_mixed + "a.png", "", {}}, // no type: fails without a tool
        };
        QTemporaryDir out;
        ConversionOptions options;
        options.SaveFormat = QStringLiteral("JPG");
        options.SavePath = out.path() + QLatin1Char('/');

        const JobRun run = runJob(items, options, workers);
        QVERIFY(run.finished);
        QVERIFY(!run.cancelled);
        QCOMPARE(run.results.size(), items.size());
        QCOMPARE(run.progress, (QList<int>{1, 2, 3, 4, 5, 6, 7}));

        QStringList statuses;
        for (int i = 0; i < items.size(); ++i) {
            statuses << (run.results.value(i).Success ? "ok" : "fail");
            if (!run.results.value(i).Success)
                QVERIFY2(!run.results.value(i).Reason.isEmpty(), qPrintable(items[i].FileName));
        }
        QVERIFY2(statuses == (QStringList{"ok", "ok", "fail", "ok", "ok", "ok", "fail"}),
                 qPrintable(statuses.join(' ') + QLatin1Char('\n') + testutil::failures(run.results)));
        // Names in item order, as a one-worker run gives them.
        QCOMPARE(testutil::entriesBelow(options.SavePath),
                 (QStringList{"a (1).jpg", "a (2).jpg", "a.jpg", "b.jpg", "é x-1.jpg"}));
        const auto centre = [&](const QString &name) {
            const QImage image(options.SavePath + name);
            return image.isNull() ? QColor() : image.pixelColor(image.width() / 2, image.height() / 2);
        };
        const QList<std::pair<QString, QColor>> expected{{"a.jpg", QColor(220, 20, 20)},
                                                         {"a (1).jpg", QColor(20, 220, 20)},
                                                         {"a (2).jpg", QColor(20, 20, 220)},
                                                         {"b.jpg", QColor(20, 200, 200)}};
        for (const auto &[name, colour] : expected) {
            const QColor got = centre(name);
            QVERIFY2(qAbs(got.red() - colour.red()) < 12 && qAbs(got.green() - colour.green()) < 12 &&
                         qAbs(got.blue() - colour.blue()) < 12,
                     qPrintable(name + QStringLiteral(": ") + got.name()));
        }
    }

    // An empty job ends at once, not cancelled, with no row or progress
    // signal; a job never started ends with its object, silent and having
    // written nothing; more workers than items send the signals of one
    // worker, none from the idle ones.
    void emptyAndUnstarted()
    {
        const SignalLog empty = logJob({}, ConversionOptions(), 4, true);
        QCOMPARE(empty.finished, QList<bool>{false});
        QCOMPARE(empty.started, QList<int>());
        QCOMPARE(empty.progress, QList<int>());
        QVERIFY(empty.rows.isEmpty());
        QVERIFY(!empty.runningAtEnd);

        QTemporaryDir out;
        ConversionOptions options;
        options.SavePath = out.path() + QLatin1Char('/');
        const SignalLog never = logJob({{m_mixed + "a.png", "PNG", {}}}, options, 0, false);
        QVERIFY(never.workers >= 1);
        QVERIFY(!never.runningAtEnd);
        QCOMPARE(never.finished, QList<bool>());
        QCOMPARE(never.started, QList<int>());
        QVERIFY(never.rows.isEmpty());
        QCOMPARE(testutil::entriesBelow(options.SavePath), QStringList());

        // An item without a type fails without a tool.
        const SignalLog one = logJob({{m_mixed + "a.png", "", {}}}, options, 4, true);
        QCOMPARE(one.workers, 4);
        QCOMPARE(one.started, QList<int>{0});
        QCOMPARE(one.rows, QList<int>{0});
        QCOMPARE(one.reasons, QStringList{QStringLiteral("not a supported image")});
        QCOMPARE(one.progress, QList<int>{1});
        QCOMPARE(one.finished, QList<bool>{false});
        QVERIFY(!one.runningAtEnd);
        QCOMPARE(testutil::entriesBelow(options.SavePath), QStringList());
    }

    // Cancel after the first finished item: finished outputs stay, no other
    // output or scratch file remains, no tool runs on, and a second job over
    // the unfinished items converts the rest under the plain names.
    void cancelInTheMiddle()
    {
        const QString dir = m_files.path() + QStringLiteral("/slow/");
        QList<TJobItem> items;
        for (int i = 0; i < 8; ++i) {
            const QString path = dir + QStringLiteral("s%1.png").arg(i);
            if (i == 0)
                writeNoise(path, 3000, 2000);
            else
                QVERIFY(QFile::copy(dir + "s0.png", path));
            items.append({path, "PNG", {}});
        }
        QTemporaryDir out;
        ConversionOptions options;
        options.SaveFormat = QStringLiteral("JPG");
        options.SavePath = out.path() + QLatin1Char('/');

        const JobRun first = runJob(items, options, 2, 1);
        QVERIFY(first.finished);
        QVERIFY(first.cancelled);
        // A killed process may take a moment to leave the system's list.
        QTRY_COMPARE_WITH_TIMEOUT(
            int(testutil::childProcesses(QCoreApplication::applicationPid(), true).size()), 0, 5000);
        QVERIFY(first.results.size() < items.size());
        QStringList finishedOutputs;
        QList<TJobItem> rest;
        for (int i = 0; i < items.size(); ++i) {
            if (first.results.contains(i)) {
                QVERIFY(first.results[i].Success);
                finishedOutputs << QStringLiteral("s%1.jpg").arg(i);
            } else {
                rest << items[i];
            }
        }
        finishedOutputs.sort();
        QCOMPARE(testutil::entriesBelow(options.SavePath), finishedOutputs);

        const JobRun second = runJob(rest, options, 2);
        QVERIFY(!second.cancelled);
        QCOMPARE(second.results.size(), rest.size());
        QStringList all;
        for (int i = 0; i < items.size(); ++i)
            all << QStringLiteral("s%1.jpg").arg(i);
        all.sort();
        QCOMPARE(testutil::entriesBelow(options.SavePath), all);
        for (const QString &name : all)
            QCOMPARE(QImage(options.SavePath + name).size(), QSize(3000, 2000));
    }

    void convertedTwice_data()
    {
        QTest::addColumn<QString>("policy");
        QTest::addColumn<QStringList>("added"); // names the second run adds
        QTest::newRow("rename") << "rename"
                                << QStringList{"a (4).png", "a (5).png", "a (6).png", "b (1).png",
                                               "é x-1 (2).png"};
        QTest::newRow("skip") << "skip" << QStringList{};
        QTest::newRow("overwrite") << "overwrite" << QStringList{};
    }

    // A folder converted twice next to its sources, two of which already
    // have the output's name: the first run names the outputs as always; the
    // second adds new names, leaves the earlier outputs (skip: no tool runs
    // for them) or replaces them, and never touches a source or a decoy.
    void convertedTwice()
    {
        QFETCH(QString, policy);
        QFETCH(QStringList, added);
        QTemporaryDir work;
        const QString dir = work.path() + QLatin1Char('/');
        const QStringList sources{"a.png", "a.gif", "broken.png", "a.bmp", "é x-1.png", "b.tif"};
        QList<TJobItem> items;
        for (const QString &name : sources) {
            QVERIFY(QFile::copy(m_mixed + name, dir + name));
            items.append({dir + name, QFileInfo(name).suffix().toUpper().replace("TIF", "TIFF"), {}});
        }
        QVERIFY(testutil::writeFile(dir + "decoy.png", "decoy"));
        const auto digests = [&](const QStringList &names) {
            QList<QByteArray> all;
            for (const QString &name : names)
                all << testutil::readAll(dir + name);
            return all;
        };
        const QList<QByteArray> sourceBytes = digests(sources);
        ConversionOptions options;
        options.SaveFormat = QStringLiteral("PNG");
        options.Existing = *ParseExistingPolicy(policy);

        const JobRun first = runJob(items, options, 2);
        QCOMPARE(first.results.size(), items.size());
        const QStringList outputs{"a (1).png", "a (2).png", "a (3).png", "b.png", "é x-1 (1).png"};
        QStringList expected = sources + outputs + QStringList{"decoy.png"};
        expected.sort();
        QCOMPARE(testutil::entriesBelow(dir), expected);
        for (const QString &name : outputs)
            QVERIFY(testutil::writeFile(dir + name, "earlier output"));

        const JobRun second = runJob(items, options, 2);
        QCOMPARE(second.results.size(), items.size());
        QCOMPARE(second.progress, (QList<int>{1, 2, 3, 4, 5, 6}));
        expected += added;
        expected.sort();
        QCOMPARE(testutil::entriesBelow(dir), expected);
        QCOMPARE(digests(sources), sourceBytes);
        QCOMPARE(testutil::readAll(dir + "decoy.png"), QByteArray("decoy"));
        const bool replaced = options.Existing == TExistingPolicy::Overwrite;
        for (const QString &name : outputs)
            QCOMPARE(testutil::readAll(dir + name) == "earlier output", !replaced);
        for (const QString &name : added)
            QVERIFY2(!QImage(dir + name).isNull(), qPrintable(name));

        const bool skip = options.Existing == TExistingPolicy::Skip;
        for (int i = 0; i < items.size(); ++i) {
            const ConversionResult &result = second.results.value(i);
            QCOMPARE(result.Success, sources[i] != "broken.png");
            QCOMPARE(result.Skipped, skip && result.Success);
            QCOMPARE(result.Outputs.isEmpty(), skip || !result.Success);
        }
        QCOMPARE(second.results.value(1).Existing, skip ? QStringList{dir + "a (2).png"} : QStringList());
        // Only the row that fails starts: the others needed no conversion.
        if (skip)
            QCOMPARE(second.started, QList<int>{2});
    }

    // With an output folder, an item's relative folder is created below it
    // and its output goes there under the plain name.
    void relativeFolders()
    {
        QTemporaryDir out;
        ConversionOptions options;
        options.SaveFormat = QStringLiteral("PNG");
        options.SavePath = out.path() + QLatin1Char('/');
        const QList<TJobItem> items{{m_mixed + "a.png", "PNG", "trip/day 1"},
                                    {m_mixed + "a.gif", "GIF", "trip/day [2]"},
                                    {m_mixed + "a.bmp", "BMP", {}}};
        const JobRun run = runJob(items, options, 2);
        QVERIFY(!run.cancelled);
        VERIFY_NO_FAILURES(run.results);
        QCOMPARE(testutil::entriesBelow(options.SavePath),
                 (QStringList{"a.png", "trip", "trip/day 1", "trip/day 1/a.png", "trip/day [2]",
                              "trip/day [2]/a.png"}));
    }
};

QTEST_GUILESS_MAIN(TestJobCore)
#include "tst_job.moc"
