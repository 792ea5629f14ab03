// The conversion job and the /auto command line, on real files with the real
// image tools: row statuses, progress, the busy state, the output folder and
// the end of an /auto run.

#include "config.h"
#include "filelist.h"
#include "indicator.h"
#include "mainwindow.h"
#include "testutil.h"
#include "theme.h"
#include "tools.h"
#include "translate.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

namespace {

void writePng(const QString &path, int width = 64, int height = 48)
{
    QDir().mkpath(QFileInfo(path).path());
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(200, 80, 40));
    QVERIFY(image.save(path, "PNG"));
}


using testutil::readAll;

// Settings that keep the normal start off the network and pick the format.
void writeSettings(const QString &iniPath, const QString &format)
{
    QVERIFY(testutil::writeFile(iniPath, QStringLiteral("[Config]\r\nformat=%1\r\n[Update]\r\nendpoint=\r\n").arg(format).toUtf8()));
}

bool waitIdle(TFrmZarvelo &window, int ms = 120000)
{
    return QTest::qWaitFor([&] { return !window.IsBusy(); }, ms);
}

// Noise the image tools need a second or more for.
void writeNoise(const QString &path, int width = 3000, int height = 2000)
{
    QVERIFY(testutil::writeNoisyPng(path, width, height, 7));
}

// Answers the next modal message box with the given button and records its text.
void answerNextBox(QMessageBox::StandardButton answer, QString *text)
{
    QTimer::singleShot(10, [answer, text] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            *text = box->text();
            box->button(answer)->click();
        } else {
            answerNextBox(answer, text);
        }
    });
}

// Every entry below folder, relative, sorted.
QStringList entriesBelow(const QString &folder)
{
    QStringList names;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        names << it.next().mid(folder.size());
    names.sort();
    return names;
}

QStringList statuses(const TFileListModel &list)
{
    QStringList result;
    for (int i = 0; i < list.rowCount(); ++i)
        result << list.status(i);
    return result;
}

// Answers the next modal message box with its default button and records its text.
void answerNextMessageBox(QString *text)
{
    QTimer::singleShot(0, [text] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            *text = box->text();
            box->accept();
        } else {
            answerNextMessageBox(text);
        }
    });
}

QStringList args(std::initializer_list<QString> rest)
{
    QStringList list{QStringLiteral("zarvelo")};
    for (const QString &a : rest)
        list << a;
    return list;
}

} // namespace

class TestJob : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<testutil::ProgramFolderScope> m_program;
    QTemporaryDir m_files;

private slots:
    void initTestCase()
    {
        InitTranslation();
        InitTheme();
        SetCurrentLanguage(QStringLiteral("en"));
    }

    void init()
    {
        const QString why = testutil::imageToolSkipReason(
            {QStringLiteral("emptyListDoesNothing"), QStringLiteral("normalStarts"),
             QStringLiteral("autoWithoutFilesStaysIdle"), QStringLiteral("autoUnknownFormat"),
             QStringLiteral("executableUnknownFormat")});
        if (!why.isEmpty())
            QSKIP(qPrintable(why));
        m_program = std::make_unique<testutil::ProgramFolderScope>();
        writeSettings(m_program->iniPath(), QStringLiteral("JPG"));
    }

    void cleanup() { m_program.reset(); }

    // Three rows, the middle one failing: order of statuses, progress
    // positions, the idle state afterwards, and a second run beside the first.
    void convertsEveryRowInOrder()
    {
        // One worker: rows start in list order, one after the other.
        TConfig(QStringLiteral("Zarvelo")).WriteInteger(QStringLiteral("workers"), 1);
        const QString dir = m_files.path() + QStringLiteral("/three/");
        writePng(dir + "a.png");
        QVERIFY(testutil::writeFile(dir + "broken.png", "this is no image at all, but it is named like one"));
        writePng(dir + "c.png");

        TFrmZarvelo window(args({}));
        window.show();
        window.AddFile({dir + "a.png", dir + "broken.png", dir + "c.png"});
        TFileListModel *list = window.fileList();
        QCOMPARE(list->rowCount(), 3);

        // Every position the bar shows while visible with its text, and the
        // position at each row's start.
        QList<int> shown;
        QStringList texts;
        connect(window.progressBar(), &QProgressBar::valueChanged, this, [&](int value) {
            if (window.progressBar()->isVisible()) {
                shown << value;
                texts << window.progressBar()->text();
            }
        });
        QList<int> positions;
        QStringList events;
        bool busyChecked = false;
        connect(list, &QAbstractItemModel::dataChanged, this, [&](const QModelIndex &from, const QModelIndex &) {
            events << QStringLiteral("%1:%2").arg(from.row()).arg(list->status(from.row()));
            if (list->status(from.row()) == Translate(QStringLiteral("변환")))
                positions << window.progressBar()->value();
            if (list->status(from.row()) == Translate(QStringLiteral("변환")) && !busyChecked) {
                // In the middle of the job: the busy state holds.
                busyChecked = true;
                QVERIFY(window.IsBusy());
                QVERIFY(window.btnStart()->isEnabled());
                QCOMPARE(window.btnStart()->text(), QStringLiteral("Cancel"));
                QVERIFY(!window.btnHome()->isEnabled());
                QVERIFY(!window.btnConfig()->isEnabled());
                QVERIFY(window.progressBar()->isVisible());
                QCOMPARE(window.progressBar()->maximum(), 3);
                QVERIFY(window.indicator()->isVisible());
                QVERIFY(window.indicator()->isAnimating());
                // Drops, deletes and closing are refused.
                window.AddFile({dir + "c.png", m_files.path()});
                QCOMPARE(list->rowCount(), 3);
                window.listFile()->selectAll();
                window.BtnDeleteClick();
                window.BtnDeleteAllClick();
                QCOMPARE(list->rowCount(), 3);
            }
        });

        window.btnStart()->click();
        QVERIFY(waitIdle(window));
        QVERIFY(busyChecked);

        // The bar counts finished rows; the time left follows the first.
        QCOMPARE(positions, (QList<int>{0, 1, 2}));
        QCOMPARE(shown, (QList<int>{1, 2, 3}));
        QVERIFY2(texts.value(0).startsWith(QStringLiteral("1 / 3 \u00B7 ")) && texts.value(0).endsWith(" left"),
                 qPrintable(texts.value(0)));
        QCOMPARE(texts.value(2), QStringLiteral("3 / 3"));
        QVERIFY(!window.progressBar()->isVisible());
        QVERIFY(!window.indicator()->isVisible());
        QCOMPARE(statuses(*list), (QStringList{"Success", "Fail", "Success"}));
        QCOMPARE(events.mid(events.size() - 6),
                 (QStringList{"0:Convert", "0:Success", "1:Convert", "1:Fail", "2:Convert", "2:Success"}));
        // The summary in view below the list, the way to the outputs, the reason on the failed row.
        QVERIFY(window.lblSummary()->isVisible());
        QVERIFY2(window.lblSummary()->text().startsWith(QStringLiteral("Success 2 \u00B7 Fail 1 \u00B7 0:")),
                 qPrintable(window.lblSummary()->text()));
        QVERIFY(window.btnOpenFolder()->isVisible());
        QCOMPARE(window.ResultFolder() + QLatin1Char('/'), dir);
        {
            testutil::BrowserStandIn browser;
            window.btnOpenFolder()->click();
            QCOMPARE(browser.urls, QList<QUrl>{QUrl::fromLocalFile(window.ResultFolder())});
        }
        QVERIFY(!list->data(list->index(1, 2), Qt::ToolTipRole).toString().isEmpty());
        QVERIFY(!list->data(list->index(0, 2), Qt::ToolTipRole).isValid());
        QCOMPARE(window.btnStart()->text(), QStringLiteral("Convert to JPG"));
        QVERIFY(window.btnHome()->isEnabled());
        QVERIFY(window.btnConfig()->isEnabled());
        QCOMPARE(readAll(dir + "a.jpg").left(3), QByteArray("\xFF\xD8\xFF"));
        QVERIFY(QFile::exists(dir + "c.jpg"));
        QVERIFY(!QFile::exists(dir + "broken.jpg"));

        // A second press converts every row again, beside the first outputs.
        window.btnStart()->click();
        QVERIFY(waitIdle(window));
        QCOMPARE(statuses(*list), (QStringList{"Success", "Fail", "Success"}));
        QVERIFY(QFile::exists(dir + "a (1).jpg"));
        QVERIFY(QFile::exists(dir + "c (1).jpg"));
        QVERIFY(QFile::exists(dir + "a.jpg"));
        QVERIFY(window.close());
    }

    void emptyListDoesNothing()
    {
        TFrmZarvelo window(args({}));
        window.btnStart()->click();
        QVERIFY(window.btnStart()->isEnabled());
        QVERIFY(!window.progressBar()->isVisibleTo(&window));
        // The press points at the way to add files.
        QVERIFY(window.lblSummary()->isVisibleTo(&window));
        QCOMPARE(window.lblSummary()->text(), QStringLiteral("Nothing to convert: add files first (Ctrl+O)."));
    }

    void outputFolder_data()
    {
        QTest::addColumn<bool>("creatable");
        QTest::newRow("missing nested folder is created") << true;
        QTest::newRow("impossible folder shows the message") << false;
    }

    void outputFolder()
    {
        QFETCH(bool, creatable);
        const QString dir = m_files.path() + QStringLiteral("/out-%1/").arg(creatable);
        writePng(dir + "photo.png");
        // A regular file where a parent folder would have to be.
        QVERIFY(testutil::writeFile(dir + "blocker", "a file, not a folder"));
        const QString target = creatable ? dir + "x/y/z" : dir + "blocker/sub";

        // The folder the radio button names comes from the settings file.
        TConfig(QStringLiteral("Zarvelo")).WriteString(QStringLiteral("savepath"), target);
        TFrmZarvelo configured(args({}));
        configured.show();
        configured.AddFile({dir + "photo.png"});
        configured.chkPath2()->setChecked(true);
        QCOMPARE(configured.OutputFolder(), target);

        QString message;
        if (!creatable)
            answerNextMessageBox(&message);
        configured.btnStart()->click();
        QVERIFY(waitIdle(configured));
        if (creatable) {
            QCOMPARE(statuses(*configured.fileList()), QStringList{"Success"});
            QVERIFY(QFile::exists(target + "/photo.jpg"));
            QVERIFY(!QFile::exists(dir + "photo.jpg"));
        } else {
            QCOMPARE(message, QStringLiteral("Please select a folder to save to again."));
            QCOMPARE(statuses(*configured.fileList()), QStringList{"Ready"});
            QVERIFY(!configured.progressBar()->isVisible());
            QCOMPARE(configured.btnStart()->text(), QStringLiteral("Convert to JPG"));
        }
    }

    // /auto FORMAT PATH...: converted next to the sources without any click,
    // the "converted" caption, no format menu, and one click closes.
    void autoRun()
    {
        const QString dir = m_files.path() + QStringLiteral("/auto/");
        writePng(dir + "one.png");
        writePng(dir + "deep/two.png");
        QVERIFY(testutil::writeFile(dir + "notes.txt", "not an image"));

        TFrmZarvelo window(args({QStringLiteral("/auto"), QStringLiteral("gif"), dir}));
        QVERIFY(window.IsAutoMode());
        QCOMPARE(window.fileList()->rowCount(), 2);
        QVERIFY(waitIdle(window));
        QCOMPARE(window.btnStart()->text(), QStringLiteral("GIF converted"));
        QCOMPARE(statuses(*window.fileList()), (QStringList{"Success", "Success"}));
        QCOMPARE(readAll(dir + "one.gif").left(4), QByteArray("GIF8"));
        QCOMPARE(readAll(dir + "deep/two.gif").left(4), QByteArray("GIF8"));
        QVERIFY(window.btnHome()->isEnabled());
        QVERIFY(!window.btnConfig()->isEnabled());
        QCOMPARE(window.btnStart()->contextMenuPolicy(), Qt::NoContextMenu);
        // The command-line format is never stored.
        QCOMPARE(TConfig(QStringLiteral("Zarvelo")).ReadString(QStringLiteral("format"), QString()), QStringLiteral("JPG"));

        window.show();
        QVERIFY(window.isVisible());
        window.btnStart()->click();
        QVERIFY(!window.isVisible());
    }

    // /auto AVIF writes AVIF files beside the sources, a pattern name under
    // its own name, a decoy holding an output's name untouched.
    void autoRunAvif()
    {
        if (!ImageToolWritableFormats().contains(QStringLiteral("AVIF")))
            QSKIP("this build's image tool writes no AVIF");
        const QString dir = m_files.path() + QStringLiteral("/avif/");
        writePng(dir + "-[a] 5%.png");
        writePng(dir + "b.png");
        QVERIFY(testutil::writeFile(dir + "b.avif", "decoy"));
        TFrmZarvelo window(
            args({QStringLiteral("/auto"), QStringLiteral("avif"), dir + "-[a] 5%.png", dir + "b.png"}));
        QVERIFY(waitIdle(window));
        QCOMPARE(window.btnStart()->text(), QStringLiteral("AVIF converted"));
        QCOMPARE(statuses(*window.fileList()), (QStringList{"Success", "Success"}));
        QCOMPARE(readAll(dir + "-[a] 5%.avif").mid(4, 8), QByteArray("ftypavif"));
        QCOMPARE(readAll(dir + "b (1).avif").mid(4, 8), QByteArray("ftypavif"));
        QCOMPARE(readAll(dir + "b.avif"), QByteArray("decoy"));
    }

    // Paths relative to the folder the program was started from.
    void autoRunRelativePath()
    {
        const QString dir = m_files.path() + QStringLiteral("/relative/");
        writePng(dir + "pics/r.png");
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir));
        TFrmZarvelo window(args({QStringLiteral("/auto"), QStringLiteral("JPG"), QStringLiteral("pics")}));
        QDir::setCurrent(before);
        QCOMPARE(window.fileList()->rowCount(), 1);
        QCOMPARE(window.fileList()->fileInfo(0).FileName, dir + "pics/r.png");
        QVERIFY(waitIdle(window));
        QCOMPARE(statuses(*window.fileList()), QStringList{"Success"});
        QVERIFY(QFile::exists(dir + "pics/r.jpg"));
    }

    void normalStarts_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("upper-case /AUTO") << QStringList{"/AUTO", "PNG", "@"};
        QTest::newRow("/auto and a format only") << QStringList{"/auto", "PNG"};
        QTest::newRow("a lone path") << QStringList{"@"};
        QTest::newRow("minus instead of slash") << QStringList{"-auto", "PNG", "@"};
    }

    void normalStarts()
    {
        QFETCH(QStringList, arguments);
        const QString file = m_files.path() + QStringLiteral("/normal/a.png");
        writePng(file);
        QStringList full{QStringLiteral("zarvelo")};
        for (const QString &a : arguments)
            full << (a == QLatin1String("@") ? file : a);
        TFrmZarvelo window(full);
        QVERIFY(!window.IsAutoMode());
        // Nothing is converted; an existing file among the arguments is listed.
        QCOMPARE(window.fileList()->rowCount(), arguments.contains(QStringLiteral("@")) ? 1 : 0);
        QCOMPARE(window.btnStart()->text(), QStringLiteral("Convert to JPG"));
        QVERIFY(window.btnStart()->isEnabled());
        QVERIFY(window.btnConfig()->isEnabled());
    }

    void autoWithoutFilesStaysIdle()
    {
        TFrmZarvelo window(args({QStringLiteral("/auto"), QStringLiteral("PNG"), m_files.path() + "/nothing.bin"}));
        QVERIFY(window.IsAutoMode());
        QCOMPARE(window.fileList()->rowCount(), 0);
        QCOMPARE(window.btnStart()->text(), QStringLiteral("Convert to PNG"));
        QVERIFY(window.btnConfig()->isEnabled());
        window.show();
        QVERIFY(window.close());
    }

    // The real executable, end to end: /auto converts a folder next to the
    // sources, says on standard error which file failed and why, and leaves
    // the stored format alone.
    void executableAutoRun()
    {
        const QString dir = m_files.path() + QStringLiteral("/exe/");
        writePng(dir + "x.png");
        writePng(dir + "sub/y.png");
        QVERIFY(testutil::writeFile(dir + "cut.png", QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)));
        // A program folder of its own: a copy of the executable beside a vendor link.
        const QString exe = m_program->path() + testutil::exeName(QStringLiteral("zarvelo"));
        QVERIFY(QFile::copy(testutil::binFolder() + testutil::exeName(QStringLiteral("zarvelo")), exe));
        QFile::setPermissions(exe, QFile::permissions(exe) | QFile::ExeOwner);

        QProcess process;
        QProcessEnvironment env = testutil::copiedProgramEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(env);
        process.start(exe, {QStringLiteral("/auto"), QStringLiteral("png"), dir});
        QVERIFY(process.waitForStarted());
        // "png" means PNG: the outputs end in ".png" beside the sources.
        QByteArray printed;
        QVERIFY(QTest::qWaitFor(
            [&] {
                printed += process.readAllStandardError();
                return QFile::exists(dir + "x (1).png") && QFile::exists(dir + "sub/y (1).png") &&
                       printed.contains("cut.png: ");
            },
            60000));
        // The program stays open after an /auto run until its button is clicked.
        QVERIFY(!process.waitForFinished(500));
        process.kill();
        process.waitForFinished();
        printed += process.readAllStandardError();
        QVERIFY2(!printed.contains("x.png") && !printed.contains("y.png"), printed.constData());
        QVERIFY(!QFile::exists(dir + "cut (1).png"));
        QCOMPARE(readAll(dir + "x (1).png").left(4), QByteArray("\x89PNG"));
        QCOMPARE(TConfig(QStringLiteral("Zarvelo")).ReadString(QStringLiteral("format"), QString()), QStringLiteral("JPG"));
    }

    // Cancel by Escape in the middle: finished rows keep Success, the others
    // are Ready again; the next start converts only those, under plain names.
    void cancelAndGoOn()
    {
        const QString dir = m_files.path() + QStringLiteral("/cancel/");
        writeNoise(dir + "n0.png");
        QStringList paths{dir + "n0.png"};
        for (int i = 1; i < 6; ++i) {
            QVERIFY(QFile::copy(dir + "n0.png", dir + QStringLiteral("n%1.png").arg(i)));
            paths << dir + QStringLiteral("n%1.png").arg(i);
        }
        TFrmZarvelo window(args({}));
        window.show();
        window.AddFile(paths);
        TFileListModel *list = window.fileList();
        bool escaped = false;
        connect(list, &QAbstractItemModel::dataChanged, this, [&](const QModelIndex &from, const QModelIndex &) {
            if (!escaped && list->state(from.row()) == TRowState::Success) {
                escaped = true;
                QTest::keyClick(window.listFile(), Qt::Key_Escape);
            }
        });
        window.btnStart()->click();
        QVERIFY(waitIdle(window));
        QVERIFY(escaped);
        QStringList done;
        int ready = 0;
        for (int i = 0; i < list->rowCount(); ++i) {
            QVERIFY(list->state(i) == TRowState::Success || list->state(i) == TRowState::Ready);
            if (list->state(i) == TRowState::Success)
                done << QStringLiteral("n%1.jpg").arg(i);
            else
                ++ready;
        }
        QVERIFY(ready > 0);
        QStringList expected = done;
        for (const QString &p : paths)
            expected << QFileInfo(p).fileName();
        expected.sort();
        QCOMPARE(entriesBelow(dir), expected);
        QCOMPARE(window.btnStart()->text(), QStringLiteral("Convert to JPG"));
        // The summary says the run was cancelled and how many files are left.
        QVERIFY2(window.lblSummary()->text().startsWith(
                     QStringLiteral("Cancelled \u00B7 %1 files left\nSuccess ").arg(ready)),
                 qPrintable(window.lblSummary()->text()));

        window.btnStart()->click();
        QVERIFY(waitIdle(window));
        QCOMPARE(statuses(*list), QStringList(6, QStringLiteral("Success")));
        expected.clear();
        for (int i = 0; i < 6; ++i)
            expected << QStringLiteral("n%1.jpg").arg(i) << QStringLiteral("n%1.png").arg(i);
        expected.sort();
        QCOMPARE(entriesBelow(dir), expected);
        // The run that went on converted the rest: no note of a cancel.
        QVERIFY2(window.lblSummary()->text().startsWith(QStringLiteral("Success %1 \u00B7 Fail 0").arg(ready)),
                 qPrintable(window.lblSummary()->text()));

        // The output folder is gone: the open-folder button says so.
        QVERIFY(QDir(dir).removeRecursively());
        window.btnOpenFolder()->click();
        QCOMPARE(window.lblSummary()->text(), QStringLiteral("Cannot open the folder: ") + window.ResultFolder());
    }

    void closeWhileBusy_data()
    {
        QTest::addColumn<bool>("quit");
        QTest::newRow("cancel and quit") << true;
        QTest::newRow("stay and go on") << false;
    }

    void closeWhileBusy()
    {
        QFETCH(bool, quit);
        const QString dir = m_files.path() + QStringLiteral("/close-%1/").arg(quit);
        writeNoise(dir + "a.png");
        QVERIFY(QFile::copy(dir + "a.png", dir + "b.png"));
        QVERIFY(QFile::copy(dir + "a.png", dir + "c.png"));
        TFrmZarvelo window(args({}));
        window.show();
        window.AddFile({dir + "a.png", dir + "b.png", dir + "c.png"});
        window.btnStart()->click();
        QVERIFY(window.IsBusy());

        QString question;
        answerNextBox(quit ? QMessageBox::Yes : QMessageBox::No, &question);
        QVERIFY(!window.close());
        QCOMPARE(question, QStringLiteral("Cancel the conversion and quit?"));
        if (quit) {
            QVERIFY(QTest::qWaitFor([&] { return !window.isVisible(); }, 120000));
            QVERIFY(!window.IsBusy());
        } else {
            QVERIFY(window.isVisible());
            QVERIFY(waitIdle(window));
            QCOMPARE(statuses(*window.fileList()), QStringList(3, QStringLiteral("Success")));
            QVERIFY(window.isVisible());
            QVERIFY(window.close());
        }
    }

    // Only the failed rows run again; the rows that succeeded get no second output.
    void failedAgainAndDetails()
    {
        const QString dir = m_files.path() + QStringLiteral("/again/");
        writePng(dir + "good.png");
        QVERIFY(testutil::writeFile(dir + "bad.png", "not yet a picture"));
        TFrmZarvelo window(args({}));
        window.show();
        window.AddFile({dir + "good.png", dir + "bad.png"});
        window.btnStart()->click();
        QVERIFY(waitIdle(window));
        QCOMPARE(statuses(*window.fileList()), (QStringList{"Success", "Fail"}));

        // The failed row's details: path, state and reason, copyable text.
        QDialog *details = window.ShowDetails(1);
        QVERIFY(details);
        auto *text = details->findChild<QPlainTextEdit *>(QStringLiteral("TxtDetails"));
        QVERIFY(text && text->isReadOnly());
        QVERIFY(text->toPlainText().startsWith(dir + "bad.png\nFail: "));
        QVERIFY(text->textInteractionFlags() & Qt::TextSelectableByKeyboard);
        details->close();

        writePng(dir + "bad.png");
        window.BtnRetryClick();
        QVERIFY(waitIdle(window));
        QCOMPARE(statuses(*window.fileList()), (QStringList{"Success", "Success"}));
        QCOMPARE(entriesBelow(dir), (QStringList{"bad.jpg", "bad.png", "good.jpg", "good.png"}));
        QVERIFY(window.lblSummary()->text().startsWith(QStringLiteral("Success 1 \u00B7 Fail 0")));
    }

    void keepTree_data()
    {
        QTest::addColumn<bool>("keep");
        QTest::addColumn<QStringList>("outputs");
        QTest::newRow("on: the same tree") << true
                                          << QStringList{"trip", "trip/day 2", "trip/day 2/x.jpg", "trip/x.jpg"};
        QTest::newRow("off: side by side") << false << QStringList{"x (1).jpg", "x.jpg"};
    }

    void keepTree()
    {
        QFETCH(bool, keep);
        QFETCH(QStringList, outputs);
        const QString dir = m_files.path() + QStringLiteral("/tree-%1/").arg(keep);
        writePng(dir + "trip/x.png");
        writePng(dir + "trip/day 2/x.png");
        TConfig config(QStringLiteral("Zarvelo"));
        config.WriteString(QStringLiteral("savepath"), dir + "out");
        config.WriteInteger(QStringLiteral("save"), 2);
        config.WriteBoolean(QStringLiteral("keeptree"), keep);
        TFrmZarvelo window(args({}));
        window.show();
        window.AddFile({dir + "trip"});
        window.btnStart()->click();
        QVERIFY(waitIdle(window));
        QCOMPARE(statuses(*window.fileList()), (QStringList{"Success", "Success"}));
        QCOMPARE(entriesBelow(dir + "out/"), outputs);
    }

    // The settings card's choice for existing outputs, made as a user does:
    // stored at once; a second Convert then skips every row, writes nothing
    // and says so in the rows and the summary.
    void skipExistingInTheWindow()
    {
        const QString dir = m_files.path() + QStringLiteral("/skip/");
        writePng(dir + "a.png");
        writePng(dir + "-b [1] ü.png");
        TFrmZarvelo window(args({}));
        window.show();
        auto *choice = window.findChild<QComboBox *>(QStringLiteral("CmbExisting"));
        QVERIFY(choice);
        QCOMPARE(choice->currentIndex(), 0);
        choice->setCurrentIndex(1);
        QVERIFY(readAll(m_program->iniPath()).contains("existing=skip"));
        window.AddFile({dir});
        window.btnStart()->click();
        QVERIFY(waitIdle(window));
        QCOMPARE(statuses(*window.fileList()), (QStringList{"Success", "Success"}));
        const QStringList written = entriesBelow(dir);
        const QByteArray bytes = readAll(dir + "a.jpg");

        window.btnStart()->click();
        QVERIFY(waitIdle(window));
        QCOMPARE(statuses(*window.fileList()), (QStringList{"Skipped", "Skipped"}));
        QVERIFY2(window.lblSummary()->text().startsWith(
                     QStringLiteral("Success 0 \u00B7 Fail 0 \u00B7 Skipped 2 \u00B7 ")),
                 qPrintable(window.lblSummary()->text()));
        QCOMPARE(entriesBelow(dir), written);
        QCOMPARE(readAll(dir + "a.jpg"), bytes);
    }

    // /auto with a format outside the five writes nothing and says why.
    void autoUnknownFormat()
    {
        const QString dir = m_files.path() + QStringLiteral("/unknown/");
        writePng(dir + "a.png");
        TFrmZarvelo window(args({QStringLiteral("/auto"), QStringLiteral("bmp"), dir}));
        window.show();
        QCOMPARE(window.fileList()->rowCount(), 0);
        QMessageBox *box = nullptr;
        QVERIFY(QTest::qWaitFor([&] { return (box = window.findChild<QMessageBox *>("MsgFormat")); }, 5000));
        QVERIFY(box->text().contains(QStringLiteral("bmp is not a supported format")));
        box->accept();
        QVERIFY(!window.IsBusy());
        QCOMPARE(entriesBelow(dir), QStringList{"a.png"});
    }

    // Two copies of the program converting one folder at once: every source
    // gets two outputs, each a whole picture, none replaced.
    void twoProgramCopies()
    {
        const QString dir = m_files.path() + QStringLiteral("/two/");
        QStringList sources;
        for (int i = 0; i < 6; ++i) {
            writePng(dir + QStringLiteral("p%1.png").arg(i), 400 + i, 300);
            sources << QStringLiteral("p%1").arg(i);
        }
        const QString exe = m_program->path() + testutil::exeName(QStringLiteral("zarvelo"));
        QVERIFY(QFile::copy(testutil::binFolder() + testutil::exeName(QStringLiteral("zarvelo")), exe));
        QFile::setPermissions(exe, QFile::permissions(exe) | QFile::ExeOwner);
        QProcessEnvironment env = testutil::copiedProgramEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        // The files are named one by one: a walk of the folder could meet the
        // other copy's first outputs and convert those too.
        QStringList arguments{QStringLiteral("/auto"), QStringLiteral("jpg")};
        for (const QString &source : sources)
            arguments << dir + source + QStringLiteral(".png");
        QProcess first, second;
        for (QProcess *process : {&first, &second}) {
            process->setProcessEnvironment(env);
            process->start(exe, arguments);
        }
        QVERIFY(first.waitForStarted() && second.waitForStarted());
        const auto outputs = [&] {
            return QDir(dir).entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name);
        };
        const bool all = QTest::qWaitFor([&] { return outputs().size() >= 12; }, 120000);
        QTest::qWait(300);
        // Each copy names a failed file and its reason on standard error.
        QString printed;
        for (QProcess *process : {&first, &second}) {
            process->kill();
            process->waitForFinished();
            printed += QString::fromLocal8Bit(process->readAllStandardError());
        }
        QVERIFY2(all, qPrintable(QDir(dir).entryList(QDir::Files | QDir::Hidden).join(", ") + "\n" + printed));
        QCOMPARE(outputs().size(), 12);
        for (int i = 0; i < 6; ++i) {
            for (const QString &name : {QStringLiteral("p%1.jpg").arg(i), QStringLiteral("p%1 (1).jpg").arg(i)})
                QCOMPARE(QImage(dir + name).size(), QSize(400 + i, 300));
        }
    }

    // /auto FMT prints the reason on standard error.
    void executableUnknownFormat()
    {
        const QString dir = m_files.path() + QStringLiteral("/exe-unknown/");
        writePng(dir + "a.png");
        const QString exe = m_program->path() + testutil::exeName(QStringLiteral("zarvelo"));
        QFile::remove(exe);
        QVERIFY(QFile::copy(testutil::binFolder() + testutil::exeName(QStringLiteral("zarvelo")), exe));
        QFile::setPermissions(exe, QFile::permissions(exe) | QFile::ExeOwner);
        QProcess process;
        QProcessEnvironment env = testutil::copiedProgramEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
        process.setProcessEnvironment(env);
        process.start(exe, {QStringLiteral("/auto"), QStringLiteral("xyz"), dir});
        QVERIFY(process.waitForStarted());
        QVERIFY(QTest::qWaitFor([&] { return process.readAllStandardError().contains("xyz"); }, 30000) ||
                process.readAllStandardError().contains("xyz"));
        process.kill();
        process.waitForFinished();
        QCOMPARE(entriesBelow(dir), QStringList{"a.png"});
    }
};

QTEST_MAIN(TestJob)
#include "tst_gui_job.moc"
