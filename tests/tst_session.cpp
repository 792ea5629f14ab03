// The conversion session over mixed lists, with the real tools: the counts
// add up, the window's and the command line's summaries say the same, the
// output folder is checked, retry and resume keep their rows.

#include "filelist.h"
#include "session.h"
#include "testutil.h"
#include "translate.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace
{

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

void writePng(const QString &path, int width = 40, int height = 30)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(30, 90, 200));
    QVERIFY(image.save(path));
}

// Noise the image tool needs a while for: a run that can be cancelled midway.
void writeNoise(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QImage image(2500, 1800, QImage::Format_RGB32);
    quint32 seed = 11;
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<quint32 *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            seed = seed * 1664525u + 1013904223u;
            line[x] = 0xFF000000u | (seed >> 8);
        }
    }
    QVERIFY(image.save(path, "PNG", 100));
}

// A two-page PDF made by the interpreter.
bool writePdf(const QString &path)
{
    const QString ps = path + QStringLiteral(".ps");
    QFile file(ps);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write("%!PS\n<< /PageSize [144 108] >> setpagedevice\n"
               "0.2 0.5 0.8 setrgbcolor 10 10 100 80 rectfill showpage\n"
               "0.8 0.5 0.2 setrgbcolor 10 10 100 80 rectfill showpage\n");
    file.close();
    const bool made = testutil::psToPdf(ps, path);
    QFile::remove(ps);
    return made;
}

// Runs a session's start to its end; cancelAfter > 0 cancels once that many
// rows have finished.
bool runToEnd(TConversionSession &session, TStartResult &result, const std::optional<QString> &folder,
              int cancelAfter = 0, int workers = 0)
{
    ConversionOptions options;
    options.SaveFormat = QStringLiteral("PNG");
    options.Workers = workers;
    QSignalSpy finished(&session, &TConversionSession::Finished);
    int rows = 0;
    QObject::connect(&session, &TConversionSession::RowFinished, &session, [&] {
        if (++rows == cancelAfter)
            session.Cancel();
    });
    result = session.StartAll(options, folder);
    if (result != TStartResult::Started)
        return true;
    return finished.count() > 0 || finished.wait(120000);
}

struct CliRun {
    int exitCode = -1;
    QString lastLine;
};

CliRun runCommandLine(const QStringList &arguments, const QString &folder)
{
    QProcess process;
    process.setProcessEnvironment(testutil::copiedProgramEnvironment());
    process.setWorkingDirectory(folder);
    process.start(testutil::binFolder() + testutil::exeName(QStringLiteral("zarvelo")), arguments);
    CliRun run;
    if (!process.waitForFinished(120000))
        return run;
    run.exitCode = process.exitCode();
    const QStringList lines =
        testutil::unixLines(process.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    run.lastLine = lines.value(lines.size() - 1);
    return run;
}

} // namespace

class TestSession : public QObject
{
    Q_OBJECT

    QTemporaryDir m_files;

  private slots:
    void initTestCase()
    {
        InitTranslation();
        SetCurrentLanguage(QStringLiteral("en"));
        if (const QString why = testutil::imageToolSkipReason(); !why.isEmpty())
            QSKIP(qPrintable(why));
        const QString dir = m_files.path() + QLatin1Char('/');
        writePng(dir + "good.png");
        writePng(dir + "[odd] 50% -name.png");
        writeBytes(dir + "broken.png", "named like a picture, but text");
        writeBytes(dir + "cut.png", QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
        writeBytes(dir + "notes.txt", "not an image at all");
        QVERIFY(QDir().mkpath(dir + "empty"));
        QVERIFY(writePdf(dir + "doc.pdf"));
    }

    // The given paths -> the counts and both summaries. The command line
    // runs the same paths and ends with the same line.
    void mixedLists_data()
    {
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<int>("converted");
        QTest::addColumn<int>("failed");
        QTest::addColumn<QString>("report");
        QTest::addColumn<int>("exitCode"); // of --convert

        QTest::newRow("all good") << QStringList{"good.png", "[odd] 50% -name.png"} << 2 << 0
                                  << "2 of 2 files converted." << 0;
        QTest::newRow("broken and truncated") << QStringList{"good.png", "broken.png", "cut.png"} << 1 << 2
                                              << "1 of 3 files converted, 2 failed." << 1;
        QTest::newRow("missing and no image") << QStringList{"missing.png", "notes.txt", "good.png"} << 1 << 2
                                              << "1 of 3 files converted, 2 failed." << 1;
        QTest::newRow("only missing")
            << QStringList{"missing.png"} << 0 << 1 << "0 of 1 file converted, 1 failed." << 1;
        QTest::newRow("pdf among pictures") << QStringList{"doc.pdf", "good.png", "cut.png"} << 2 << 1
                                            << "2 of 3 files converted, 1 failed." << 1;
        // A folder without images is no failed file, but --convert did not
        // do all it was asked.
        QTest::newRow("empty folder only noted")
            << QStringList{"empty", "good.png"} << 1 << 0 << "1 of 1 file converted." << 1;
        QTest::newRow("a file given twice")
            << QStringList{"good.png", "good.png"} << 1 << 0 << "1 of 1 file converted." << 0;
        // What an argument with bytes that are not UTF-8 decodes to.
        QTest::newRow("a name not UTF-8") << QStringList{QStringLiteral("\uFFFD.png"), "good.png"} << 1 << 1
                                          << "1 of 2 files converted, 1 failed." << 1;
    }

    void mixedLists()
    {
        QFETCH(QStringList, paths);
        QFETCH(int, converted);
        QFETCH(int, failed);
        QFETCH(QString, report);
        QFETCH(int, exitCode);

        const QString out = m_files.path() + QStringLiteral("/out-") + QTest::currentDataTag();
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_files.path()));
        TFileListModel list;
        TConversionSession session(list);
        session.Take(paths);
        QDir::setCurrent(before);
        TStartResult result;
        QVERIFY(runToEnd(session, result, out + QStringLiteral("/session")));
        QCOMPARE(result, TStartResult::Started);
        QVERIFY(!session.IsRunning());

        const TSessionCounts counts = session.Counts();
        QCOMPARE(counts.Converted, converted);
        QCOMPARE(counts.Failed, failed);
        QCOMPARE(counts.Cancelled, 0);
        QCOMPARE(counts.Converted + counts.Failed + counts.Cancelled, counts.Total);
        QCOMPARE(session.Report(), report);
        QVERIFY2(session.Summary().startsWith(
                     QStringLiteral("Success %1 \u00B7 Fail %2 \u00B7 ").arg(converted).arg(failed)),
                 qPrintable(session.Summary()));

        QStringList arguments{QStringLiteral("--convert"), QStringLiteral("png"), QStringLiteral("--out"),
                              out + QStringLiteral("/cli"), QStringLiteral("--")};
        const CliRun cli = runCommandLine(arguments + paths, m_files.path());
        QCOMPARE(cli.lastLine, report);
        QCOMPARE(cli.exitCode, exitCode);
    }

    // Cancelled midway: the unfinished rows are Ready and counted as
    // cancelled; a start goes on with them only.
    void cancelledMidway()
    {
        const QString dir = m_files.path() + QStringLiteral("/slow/");
        writeNoise(dir + "n0.png");
        QStringList paths{dir + "n0.png"};
        for (int i = 1; i < 5; ++i) {
            QVERIFY(QFile::copy(dir + "n0.png", dir + QStringLiteral("n%1.png").arg(i)));
            paths << dir + QStringLiteral("n%1.png").arg(i);
        }
        TFileListModel list;
        TConversionSession session(list);
        session.Take(paths);
        TStartResult result;
        QVERIFY(runToEnd(session, result, std::nullopt, 1, 1));
        TSessionCounts counts = session.Counts();
        QCOMPARE(counts.Total, 5);
        QCOMPARE(counts.Converted, 1);
        QCOMPARE(counts.Failed, 0);
        QCOMPARE(counts.Cancelled, 4);
        QVERIFY2(
            session.Summary().startsWith(QStringLiteral("Success 1 \u00B7 Fail 0 \u00B7 Cancel 4 \u00B7 ")),
            qPrintable(session.Summary()));
        QCOMPARE(session.Report(), QStringLiteral("1 of 5 files converted, 4 not converted (interrupted)."));
        QCOMPARE(session.CancelNote(), QStringLiteral("Cancelled \u00B7 4 files left"));
        int ready = 0;
        for (int i = 0; i < list.rowCount(); ++i)
            ready += list.state(i) == TRowState::Ready ? 1 : 0;
        QCOMPARE(ready, 4);

        QVERIFY(runToEnd(session, result, std::nullopt));
        counts = session.Counts();
        QCOMPARE(counts.Total, 4);
        QCOMPARE(counts.Converted, 4);
        QCOMPARE(counts.LeftAlone, 1);
        QCOMPARE(session.CancelNote(), QString());
        // One output per source: the first run's are not made again.
        QCOMPARE(testutil::entriesBelow(dir).filter(QStringLiteral(" (1).png")).size(), 5);
        QCOMPARE(testutil::entriesBelow(dir).size(), 10);
    }

    // Rows whose outputs are there count as skipped, apart from converted
    // and failed ones, in both summaries; the counts add up.
    void skippedRows()
    {
        const QString dir = m_files.path() + QStringLiteral("/again/");
        writePng(dir + "a.png");
        writePng(dir + "b [1].png");
        writeBytes(dir + "broken.png", "not yet");
        TFileListModel list;
        TConversionSession session(list);
        session.Take({dir});
        ConversionOptions options;
        options.SaveFormat = QStringLiteral("JPG");
        options.Existing = TExistingPolicy::Skip;
        const auto runOnce = [&] {
            QSignalSpy finished(&session, &TConversionSession::Finished);
            QCOMPARE(session.StartAll(options, std::nullopt), TStartResult::Started);
            QVERIFY(finished.wait(120000));
        };
        runOnce();
        QCOMPARE(session.Counts().Converted, 2);

        QVERIFY(QFile::remove(dir + "a.jpg"));
        runOnce();
        const TSessionCounts counts = session.Counts();
        QCOMPARE(counts.Total, 3);
        QCOMPARE(counts.Converted, 1);
        QCOMPARE(counts.OutputExisted, 1);
        QCOMPARE(counts.Failed, 1);
        QCOMPARE(counts.Cancelled, 0);
        QVERIFY2(
            session.Summary().startsWith(QStringLiteral("Success 1 \u00B7 Fail 1 \u00B7 Skipped 1 \u00B7 ")),
            qPrintable(session.Summary()));
        QCOMPARE(session.Report(),
                 QStringLiteral("1 of 3 files converted, 1 skipped (output exists), 1 failed."));
        QStringList states;
        for (int i = 0; i < list.rowCount(); ++i) {
            states << list.fileInfo(i).Title + QStringLiteral(": ") + list.status(i);
            if (list.state(i) == TRowState::Skipped)
                QCOMPARE(list.data(list.index(i, TFileListModel::ColumnStatus), Qt::ToolTipRole).toString(),
                         QStringLiteral("output exists"));
        }
        states.sort();
        QCOMPARE(states, (QStringList{"a.png: Success", "b [1].png: Skipped", "broken.png: Fail"}));
        QCOMPARE(testutil::entriesBelow(dir),
                 (QStringList{"a.jpg", "a.png", "b [1].jpg", "b [1].png", "broken.png"}));
    }

    // Retry: only the failed rows run again.
    void retryFailed()
    {
        const QString dir = m_files.path() + QStringLiteral("/retry/");
        writePng(dir + "a.png");
        writeBytes(dir + "b.png", "not yet");
        TFileListModel list;
        TConversionSession session(list);
        session.Take({dir + "a.png", dir + "b.png"});
        TStartResult result;
        QVERIFY(runToEnd(session, result, std::nullopt));
        QCOMPARE(session.Counts().Failed, 1);

        writePng(dir + "b.png");
        QSignalSpy finished(&session, &TConversionSession::Finished);
        QCOMPARE(session.RetryFailed(ConversionOptions(), std::nullopt), TStartResult::Started);
        QVERIFY(finished.wait(120000));
        const TSessionCounts counts = session.Counts();
        QCOMPARE(counts.Total, 1);
        QCOMPARE(counts.Converted, 1);
        QCOMPARE(counts.LeftAlone, 1);
        QCOMPARE(session.ResultFolder() + QLatin1Char('/'), dir);
        QCOMPARE(session.RetryFailed(ConversionOptions(), std::nullopt), TStartResult::NothingToDo);
    }

    void outputFolder_data()
    {
        QTest::addColumn<QString>("folder"); // below the test folder; "-" for a blank name
        QTest::addColumn<bool>("made");
        QTest::newRow("nested, made") << "new/deep er/ü" << true;
        QTest::newRow("under a file") << "blocker/sub" << false;
        QTest::newRow("blank") << "-" << false;
    }

    void outputFolder()
    {
        QFETCH(QString, folder);
        QFETCH(bool, made);
        const QString dir = m_files.path() + QStringLiteral("/folders/");
        writeBytes(dir + "blocker", "a file");
        writePng(dir + "p.png");
        const QString wanted = folder == QLatin1String("-") ? QStringLiteral("  ") : dir + folder;
        TFileListModel list;
        TConversionSession session(list);
        session.Take({dir + "p.png"});
        TStartResult result;
        QVERIFY(runToEnd(session, result, wanted));
        QCOMPARE(result, made ? TStartResult::Started : TStartResult::BadOutputFolder);
        QCOMPARE(list.state(0), made ? TRowState::Success : TRowState::Ready);
        if (made)
            QVERIFY(QFile::exists(wanted + QStringLiteral("/p.png")));
    }

    // Sources that could end up under one output name share a key; others
    // do not. The key's part is the same in every process (a fixed hash).
    void outputGroups_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<QString>("folder"); // the output folder, empty: next to the sources
        QTest::addColumn<bool>("same");
        QTest::newRow("two extensions") << "/a/x.png"
                                        << "/a/x.jpg"
                                        << "" << true;
        QTest::newRow("a (1) name") << "/a/x (1).png"
                                    << "/a/x.gif"
                                    << "" << true;
        QTest::newRow("a PDF's page name") << "/a/doc-001.png"
                                           << "/a/doc.pdf"
                                           << "" << true;
        QTest::newRow("letter case") << "/a/X.png"
                                     << "/a/x.tif"
                                     << "" << true;
        QTest::newRow("two folders beside") << "/a/x.png"
                                            << "/b/x.png"
                                            << "" << false;
        QTest::newRow("two folders into one") << "/a/x.png"
                                              << "/b/x.png"
                                              << "/out/" << true;
        QTest::newRow("other stems") << "/a/x.png"
                                     << "/a/y.png"
                                     << "/out/" << false;
        QTest::newRow("dotted stem") << "/a/x.y.png"
                                     << "/a/x.png"
                                     << "" << false;
    }

    void outputGroups()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(QString, folder);
        QFETCH(bool, same);
        TFileInfo a, b;
        a.FileName = first;
        b.FileName = second;
        QCOMPARE(OutputGroupKey(a, folder, false) == OutputGroupKey(b, folder, false), same);
    }

    void stableShards()
    {
        // 64-bit FNV-1a of "abc" is 0xe71fa2190541574b.
        QCOMPARE(ShardOfKey(QStringLiteral("abc"), 1000), int(0xe71fa2190541574bULL % 1000) + 1);
        QCOMPARE(ShardOfKey(QStringLiteral("abc"), 1), 1);
        int counts[3] = {0, 0, 0};
        for (int i = 0; i < 300; ++i)
            ++counts[ShardOfKey(QStringLiteral("/photos/p%1").arg(i), 3) - 1];
        for (int count : counts)
            QVERIFY2(count > 60, qPrintable(QString::number(count))); // spread over every part
    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
