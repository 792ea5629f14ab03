// Adding files without dragging: the list menu's "Add files…" and "Add
// folder…" through real (non-native) file dialogs, their shortcuts, the hint
// over an empty list, "Open with" arguments, and the notice of a settings
// file that cannot be written.

#include "filelist.h"
#include "mainwindow.h"
#include "testutil.h"
#include "theme.h"
#include "translate.h"
#include "translatewidgets.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <functional>

namespace
{

const QByteArray kPng("\x89PNG\r\n\x1a\n\0\0\0\rIHDRxxxx", 20);

QString makeFile(const QString &path, const QByteArray &bytes = kPng)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    return path;
}

using testutil::fileNames;

// Answers the next modal file dialog as a user would: inspect sees it, then
// text (when not null) is typed into its name box and the dialog accepted;
// a null text cancels it. Set up before the dialog opens.
struct DialogAnswer {
    bool seen = false;
    bool refused = false; // the dialog did not take the typed text
    QString title;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    QStringList filters;
    QString folder;

    void arm(const QString &text, int attempts = 300)
    {
        QTimer::singleShot(10, [this, text, attempts] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog) {
                if (attempts > 0)
                    arm(text, attempts - 1);
                return;
            }
            seen = true;
            title = dialog->windowTitle();
            mode = dialog->fileMode();
            filters = dialog->nameFilters();
            folder = dialog->directory().absolutePath();
            if (text.isNull()) {
                dialog->reject();
                return;
            }
            auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            QVERIFY(name);
            name->setText(text);
            QTest::keyClick(name, Qt::Key_Return);
            // A dialog that refused the text would block the test: closed.
            QTimer::singleShot(2000, dialog, [this, dialog] {
                if (dialog->isVisible()) {
                    refused = true;
                    dialog->reject();
                }
            });
        });
    }
};

// Closes any modal window that shows up within the next moments; records it.
struct ModalGuard {
    bool seen = false;
    void arm(int attempts = 30)
    {
        QTimer::singleShot(10, [this, attempts] {
            if (QWidget *modal = QApplication::activeModalWidget()) {
                seen = true;
                modal->close();
                return;
            }
            if (attempts > 0)
                arm(attempts - 1);
        });
    }
};

} // namespace

class TestAddFiles : public QObject
{
    Q_OBJECT

    QTemporaryDir m_files;

    void showActive(QWidget &window)
    {
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
    }

  private slots:
    void initTestCase()
    {
        // The dialogs are Qt's own, which the test can fill in.
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        InitTranslation();
        InitTheme();
    }

    void init() { SetCurrentLanguage(QStringLiteral("en")); }

    // The two items head the list menu, with their shortcuts, translated
    // like the rest of the window.
    void menuItems()
    {
        testutil::ProgramFolderScope scope;
        TFrmZarvelo window({QStringLiteral("zarvelo")});
        const QMenu *menu = window.findChild<QMenu *>(QStringLiteral("PopList"));
        QVERIFY(menu);
        const QList<QAction *> items = menu->actions();
        QVERIFY(items.size() >= 5);
        QCOMPARE(items[0]->objectName(), QStringLiteral("BtnAddFiles"));
        QCOMPARE(items[0]->text(), QStringLiteral("Add files…"));
        QCOMPARE(items[0]->shortcut(), QKeySequence(QKeySequence::Open));
        QCOMPARE(items[1]->objectName(), QStringLiteral("BtnAddFolder"));
        QCOMPARE(items[1]->text(), QStringLiteral("Add folder…"));
        QCOMPARE(items[1]->shortcut(), QKeySequence(Qt::Key_Insert));
        QVERIFY(items[2]->isSeparator());
        // The list's own commands follow.
        QVERIFY(items.indexOf(window.findChild<QAction *>(QStringLiteral("BtnDelete"))) > 2);

        TranslateComponent(&window, QStringLiteral("fr"));
        QCOMPARE(items[0]->text(), QStringLiteral("Ajouter des fichiers…"));
        QCOMPARE(items[1]->text(), QStringLiteral("Ajouter un dossier…"));
    }

    // Ctrl+O: several files at once; what is no image is left out; the next
    // dialog starts in the folder used last.
    void addFilesWithCtrlO()
    {
        testutil::ProgramFolderScope scope;
        const QString dir = m_files.path() + QStringLiteral("/pick/");
        makeFile(dir + "a.png");
        makeFile(dir + "notes.txt", "just text, no picture");
        makeFile(dir + "[c] 50% -x.png");
        makeFile(dir + "decoy.png");
        TFrmZarvelo window({QStringLiteral("zarvelo")});
        showActive(window);

        DialogAnswer answer;
        answer.arm(QStringLiteral("\"%1a.png\" \"%1notes.txt\" \"%1[c] 50% -x.png\"").arg(dir));
        QTest::keyClick(&window, Qt::Key_O, Qt::ControlModifier);
        QTRY_VERIFY(answer.seen);
        QVERIFY(!answer.refused);
        QCOMPARE(answer.title, QStringLiteral("Add files"));
        QCOMPARE(answer.mode, QFileDialog::ExistingFiles);
        QCOMPARE(answer.filters.size(), 2);
        for (const char *pattern : {"*.png", "*.PNG", "*.jpg", "*.JPEG", "*.heic", "*.pdf", "*.ai", "*.tif"})
            QVERIFY2(answer.filters[0].contains(QLatin1String(pattern) + QLatin1Char(' ')) ||
                         answer.filters[0].contains(QLatin1String(pattern) + QLatin1Char(')')),
                     pattern);
        QVERIFY(answer.filters[0].startsWith(QStringLiteral("Image files (")));
        QCOMPARE(answer.filters[1], QStringLiteral("All files (*)"));
        QTRY_COMPARE(fileNames(window.fileList()), (QStringList{dir + "a.png", dir + "[c] 50% -x.png"}));

        // Chosen again from the menu item: the dialog opens where the last one was.
        DialogAnswer again;
        again.arm(QStringLiteral("decoy.png"));
        window.findChild<QAction *>(QStringLiteral("BtnAddFiles"))->trigger();
        QVERIFY(again.seen);
        QVERIFY(!again.refused);
        QCOMPARE(again.folder, QDir::cleanPath(dir));
        QCOMPARE(window.fileList()->rowCount(), 3);
    }

    // Insert: one folder, walked like a dropped one.
    void addFolderWithInsert()
    {
        testutil::ProgramFolderScope scope;
        const QString dir = m_files.path() + QStringLiteral("/tree/사진 [1]/");
        makeFile(dir + "one.png");
        makeFile(dir + "deep/two.png");
        makeFile(dir + "deep/skip.txt", "text");
        TFrmZarvelo window({QStringLiteral("zarvelo")});
        showActive(window);

        DialogAnswer answer;
        answer.arm(QDir::cleanPath(dir));
        QTest::keyClick(&window, Qt::Key_Insert);
        QTRY_VERIFY(answer.seen);
        QVERIFY(!answer.refused);
        QCOMPARE(answer.title, QStringLiteral("Add folder"));
        QCOMPARE(answer.mode, QFileDialog::Directory);
        QStringList names = fileNames(window.fileList());
        names.sort();
        QCOMPARE(names, (QStringList{dir + "deep/two.png", dir + "one.png"}));
    }

    // Cancelled dialogs add nothing; in /auto mode the commands open nothing.
    void cancelAndAutoMode()
    {
        testutil::ProgramFolderScope scope;
        {
            TFrmZarvelo window({QStringLiteral("zarvelo")});
            showActive(window);
            for (const char *name : {"BtnAddFiles", "BtnAddFolder"}) {
                DialogAnswer answer;
                answer.arm(QString());
                window.findChild<QAction *>(QLatin1String(name))->trigger();
                QVERIFY(answer.seen);
                QCOMPARE(window.fileList()->rowCount(), 0);
            }
        }
        TFrmZarvelo window({QStringLiteral("zarvelo"), QStringLiteral("/auto"), QStringLiteral("PNG"),
                            m_files.path() + QStringLiteral("/nothing.bin")});
        QVERIFY(window.IsAutoMode());
        showActive(window);
        ModalGuard guard;
        guard.arm();
        QTest::keyClick(&window, Qt::Key_O, Qt::ControlModifier);
        QTest::keyClick(&window, Qt::Key_Insert);
        QTest::qWait(400);
        QVERIFY(!guard.seen);
    }

    // The hint shows exactly while the list is empty, in the window's language,
    // and lets mouse and drops through to the list.
    void emptyHint()
    {
        testutil::ProgramFolderScope scope;
        const QString image = makeFile(m_files.path() + QStringLiteral("/hint/a.png"));
        TFrmZarvelo window({QStringLiteral("zarvelo")});
        showActive(window);
        auto *hint = window.listFile()->viewport()->findChild<QLabel *>(QStringLiteral("LblEmptyHint"));
        QVERIFY(hint);
        QVERIFY(hint->isVisible());
        QCOMPARE(hint->text(), QStringLiteral("Drop files or folders here, or press Ctrl+O"));
        QVERIFY(hint->testAttribute(Qt::WA_TransparentForMouseEvents));
        QVERIFY(window.listFile()->viewport()->rect().contains(hint->geometry()));

        window.AddFile({image});
        QVERIFY(!hint->isVisible());
        window.BtnDeleteAllClick();
        QVERIFY(hint->isVisible());

        SetCurrentLanguage(QStringLiteral("ja"));
        window.AddFile({image});
        window.BtnDeleteAllClick();
        QCOMPARE(hint->text(),
                 Translate(QStringLiteral("파일이나 폴더를 여기에 끌어다 놓거나 Ctrl+O를 누르세요")));
        QVERIFY(hint->text().contains(QStringLiteral("Ctrl+O")) &&
                hint->text() != QStringLiteral("Drop files or folders here, or press Ctrl+O"));
    }

    // "Open with": existing files and folders among the arguments are listed
    // (relative ones against the working folder), anything else is ignored,
    // and nothing is converted.
    void openWith()
    {
        testutil::ProgramFolderScope scope;
        const QString dir = m_files.path() + QStringLiteral("/open/");
        const QString file = makeFile(dir + "photo.png");
        makeFile(dir + "album/x.png");
        makeFile(dir + "album/y.png");
        makeFile(dir + "rel -[1].png");
        const QString before = QDir::currentPath();
        QDir::setCurrent(dir);
        TFrmZarvelo window({QStringLiteral("zarvelo"), file, QStringLiteral("--unknown"), dir + "album",
                            QStringLiteral("/no/such/file.png"), QStringLiteral("rel -[1].png"), QString()});
        QDir::setCurrent(before);

        QStringList names = fileNames(window.fileList());
        QCOMPARE(names.first(), file);
        names.sort();
        QCOMPARE(names, (QStringList{dir + "album/x.png", dir + "album/y.png", file, dir + "rel -[1].png"}));
        QVERIFY(!window.IsAutoMode());
        QVERIFY(window.btnStart()->isEnabled());
        QCOMPARE(window.btnStart()->text(), QStringLiteral("Convert to JPG"));
        for (int i = 0; i < window.fileList()->rowCount(); ++i)
            QCOMPARE(window.fileList()->status(i), QStringLiteral("Ready"));
        QCOMPARE(QDir(dir).entryList(QDir::Files), (QStringList{"photo.png", "rel -[1].png"}));
    }

    // A settings file that cannot be written: one message over the window,
    // however many writes fail.
    void settingsNotSavedShownOnce()
    {
        testutil::ProgramFolderScope scope;
        QVERIFY(QDir().mkpath(scope.iniPath())); // a folder where the file should be
        TFrmZarvelo window({QStringLiteral("zarvelo")});
        showActive(window);
        QTRY_COMPARE(window.findChildren<QMessageBox *>(QStringLiteral("MsgSettingsNotSaved")).size(), 1);
        QMessageBox *box = window.findChild<QMessageBox *>(QStringLiteral("MsgSettingsNotSaved"));
        QVERIFY(box->isVisible());
        QVERIFY(!box->isModal());
        QVERIFY2(box->text().startsWith(QStringLiteral("The settings cannot be saved.")),
                 qPrintable(box->text()));
        QVERIFY2(box->text().contains(QDir::toNativeSeparators(scope.iniPath())), qPrintable(box->text()));

        QAction *png = window.popSave()->actions().at(1);
        png->trigger();
        png->trigger();
        QTest::qWait(50);
        QCOMPARE(window.findChildren<QMessageBox *>(QStringLiteral("MsgSettingsNotSaved")).size(), 1);
        box->close();
    }
};

QTEST_MAIN(TestAddFiles)
#include "tst_gui_addfiles.moc"
