// The conversion job and the /auto command line, on real files with the real
// image tools: row statuses, progress, the busy state, the output folder and
// the end of an /auto run.

#include "config.h"
#include "filelist.h"
#include "indicator.h"
#include "mainwindow.h"
#include "testutil.h"
#include "theme.h"
#include "translate.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QProgressBar>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

namespace {

void writePng(const QString &path, int width = 64, int height = 48)
{
    QDir().mkpath(QFileInfo(path).path());
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(200, 80, 40));
    QVERIFY(image.save(path, "PNG"));
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Settings that keep the normal start off the network and pick the format.
void writeSettings(const QString &iniPath, const QString &format)
{
    writeBytes(iniPath, QStringLiteral("[Config]\r\nformat=%1\r\n[Update]\r\nendpoint=\r\n").arg(format).toUtf8());
}

bool waitIdle(TFrmZarvelo &window, int ms = 60000)
{
    return QTest::qWaitFor([&] { return window.btnStart()->isEnabled(); }, ms);
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
        m_program = std::make_unique<testutil::ProgramFolderScope>();
        writeSettings(m_program->iniPath(), QStringLiteral("JPG"));
    }

    void cleanup() { m_program.reset(); }

    // Three rows, the middle one failing: order of statuses, progress
    // positions, the idle state afterwards, and a second run beside the first.
    void convertsEveryRowInOrder()
    {
        const QString dir = m_files.path() + QStringLiteral("/three/");
        writePng(dir + "a.png");
        writeBytes(dir + "broken.png", "this is no image at all, but it is named like one");
        writePng(dir + "c.png");

        TFrmZarvelo window(args({}));
        window.show();
        window.AddFile({dir + "a.png", dir + "broken.png", dir + "c.png"});
        TFileListModel *list = window.fileList();
        QCOMPARE(list->rowCount(), 3);

        // Every position the bar shows while visible, and the position at each row's start.
        QList<int> shown;
        connect(window.progressBar(), &QProgressBar::valueChanged, this, [&](int value) {
            if (window.progressBar()->isVisible())
                shown << value;
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
                QVERIFY(!window.btnStart()->isEnabled());
                QVERIFY(!window.btnHome()->isEnabled());
                QVERIFY(!window.btnConfig()->isEnabled());
                QVERIFY(window.btnStart()->text().isEmpty());
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
                QVERIFY(!window.close());
                QVERIFY(window.isVisible());
            }
        });

        window.btnStart()->click();
        QVERIFY(waitIdle(window));
        QVERIFY(busyChecked);

        QCOMPARE(positions, (QList<int>{0, 1, 2}));
        QVERIFY(!shown.contains(3));
        QVERIFY(!window.progressBar()->isVisible());
        QVERIFY(!window.indicator()->isVisible());
        QCOMPARE(statuses(*list), (QStringList{"Success", "Fail", "Success"}));
        QCOMPARE(events.mid(events.size() - 6),
                 (QStringList{"0:Convert", "0:Success", "1:Convert", "1:Fail", "2:Convert", "2:Success"}));
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
        writeBytes(dir + "blocker", "a file, not a folder");
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
        writeBytes(dir + "notes.txt", "not an image");

        TFrmZarvelo window(args({QStringLiteral("/auto"), QStringLiteral("gif"), dir}));
        QVERIFY(window.AutoMode);
        QCOMPARE(window.fileList()->rowCount(), 2);
        QVERIFY(waitIdle(window));
        QCOMPARE(window.btnStart()->text(), QStringLiteral("gif converted"));
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
        QVERIFY(!window.AutoMode);
        // Nothing is converted; an existing file among the arguments is listed.
        QCOMPARE(window.fileList()->rowCount(), arguments.contains(QStringLiteral("@")) ? 1 : 0);
        QCOMPARE(window.btnStart()->text(), QStringLiteral("Convert to JPG"));
        QVERIFY(window.btnStart()->isEnabled());
        QVERIFY(window.btnConfig()->isEnabled());
    }

    void autoWithoutFilesStaysIdle()
    {
        TFrmZarvelo window(args({QStringLiteral("/auto"), QStringLiteral("PNG"), m_files.path() + "/nothing.bin"}));
        QVERIFY(window.AutoMode);
        QCOMPARE(window.fileList()->rowCount(), 0);
        QCOMPARE(window.btnStart()->text(), QStringLiteral("Convert to PNG"));
        QVERIFY(window.btnConfig()->isEnabled());
        window.show();
        QVERIFY(window.close());
    }

    // The real executable, end to end: /auto converts a folder next to the
    // sources and leaves the stored format alone.
    void executableAutoRun()
    {
        const QString dir = m_files.path() + QStringLiteral("/exe/");
        writePng(dir + "x.png");
        writePng(dir + "sub/y.png");
        // A program folder of its own: a copy of the executable beside a vendor link.
        const QString exe = m_program->path() + QStringLiteral("zarvelo");
        QVERIFY(QFile::copy(testutil::binFolder() + QStringLiteral("zarvelo"), exe));
        QFile::setPermissions(exe, QFile::permissions(exe) | QFile::ExeOwner);

        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(env);
        process.start(exe, {QStringLiteral("/auto"), QStringLiteral("png"), dir});
        QVERIFY(process.waitForStarted());
        // "png" is passed on unchanged: the outputs end in ".png" beside the sources.
        QVERIFY(QTest::qWaitFor([&] { return QFile::exists(dir + "x (1).png") && QFile::exists(dir + "sub/y (1).png"); },
                                60000));
        // The program stays open after an /auto run until its button is clicked.
        QVERIFY(!process.waitForFinished(500));
        process.kill();
        process.waitForFinished();
        QCOMPARE(readAll(dir + "x (1).png").left(4), QByteArray("\x89PNG"));
        QCOMPARE(TConfig(QStringLiteral("Zarvelo")).ReadString(QStringLiteral("format"), QString()), QStringLiteral("JPG"));
    }
};

QTEST_MAIN(TestJob)
#include "tst_gui_job.moc"
