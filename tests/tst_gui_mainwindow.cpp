// The main window: start-up state, header navigation, the file list's
// delete commands, drops, closing, and translated captions.

#include "filelist.h"
#include "indicator.h"
#include "mainwindow.h"
#include "testutil.h"
#include "theme.h"
#include "translate.h"
#include "translatewidgets.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QDesktopServices>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QTreeView>

namespace {

const QByteArray kPng("\x89PNG\r\n\x1a\n\0\0\0\rIHDRxxxx", 20);

QString makeImage(const QString &path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(kPng);
    return path;
}

// A real picture of noise that takes the image tools a few seconds: a job
// over it stays busy long enough to be looked at.
QString makeSlowImage(const QString &path)
{
    testutil::writeNoisyPng(path, 4000, 3000, 12345);
    return path;
}

using testutil::fileNames;

// Sends a drop of the given local paths to a widget, as a file manager does.
bool drop(QWidget *target, const QStringList &paths)
{
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls << QUrl::fromLocalFile(path);
    mime.setUrls(urls);
    const QPointF at(target->width() / 2.0, target->height() - 5.0); // the empty part of the list
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent event(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
    return enter.isAccepted() && event.isAccepted();
}

template <typename T> T *child(QWidget &window, const char *name)
{
    T *found = window.findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("no child %s", name);
    return found;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        InitTranslation();
        InitTheme();
    }

    void init() { SetCurrentLanguage(QStringLiteral("en")); }

    void startUpState()
    {
        testutil::ProgramFolderScope scope;
        TFrmZarvelo w({QStringLiteral("zarvelo"), QStringLiteral("/some/image.png")});

        QCOMPARE(w.minimumSize(), QSize(429, 483));
        QCOMPARE(w.maximumSize(), QSize(429, 483));
        QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(child<QStackedWidget>(w, "PnlMain")->currentIndex(), 0);
        QVERIFY(w.indicator()->isHidden());
        QVERIFY(w.progressBar()->isHidden());
        QVERIFY(w.btnHome()->isChecked());
        QVERIFY(!w.btnConfig()->isChecked());
        QVERIFY(child<QWidget>(w, "BtnDonate")->isHidden());
        QCOMPARE(child<QLineEdit>(w, "EditInfo")->text(), QStringLiteral("Version: 1.0.0"));
        QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("Zarvelo"));
        QVERIFY(!w.IsAutoMode());
        QCOMPARE(w.fileList()->rowCount(), 0); // a normal start takes no paths from the command line

        QTreeView *list = w.listFile();
        QCOMPARE(list->header()->sectionSize(0), 260);
        QCOMPARE(list->header()->sectionSize(1), 60);
        QCOMPARE(list->header()->sectionSize(2), 60);
        QCOMPARE(list->selectionMode(), QAbstractItemView::ExtendedSelection);
        QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(list->editTriggers(), QAbstractItemView::NoEditTriggers);
        QVERIFY(!list->isSortingEnabled());

        // Only the list takes drops.
        QVERIFY(list->viewport()->acceptDrops());
        QVERIFY(!w.btnStart()->acceptDrops());
        QVERIFY(!w.acceptDrops());

        // Shown: the theme's bar sits above the header, the cards fill the rest.
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.size(), QSize(429, 483));
        QCOMPARE(child<QWidget>(w, "PnlHead")->height(), 50);
        QCOMPARE(w.btnStart()->size(), QSize(120, 35));
        QCOMPARE(w.btnStart()->mapTo(&w, QPoint(0, 0)).x() + 120 + 8 + 1 + 3, 429);
    }

    void headerNavigation()
    {
        testutil::ProgramFolderScope scope;
        TFrmZarvelo w({});
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto *cards = child<QStackedWidget>(w, "PnlMain");

        QTest::mouseClick(w.btnConfig(), Qt::LeftButton);
        QCOMPARE(cards->currentIndex(), 1);
        QVERIFY(w.btnConfig()->isChecked());
        QVERIFY(!w.btnHome()->isChecked());
        QTest::mouseClick(w.btnConfig(), Qt::LeftButton); // a second click keeps it pressed
        QVERIFY(w.btnConfig()->isChecked());
        QCOMPARE(cards->currentIndex(), 1);

        // Clicking the version text drops the focus.
        auto *quality = child<QWidget>(w, "EditQuality");
        QApplication::setActiveWindow(&w);
        quality->setFocus();
        QTest::mouseClick(child<QLineEdit>(w, "EditInfo"), Qt::LeftButton);
        QVERIFY(!w.focusWidget() || !w.focusWidget()->hasFocus());
        QVERIFY(!quality->hasFocus());

        QTest::mouseClick(w.btnHome(), Qt::LeftButton);
        QCOMPARE(cards->currentIndex(), 0);
        QVERIFY(w.btnHome()->isChecked());
        QVERIFY(!w.btnConfig()->isChecked());

        testutil::BrowserStandIn browser;
        QTest::mouseClick(child<QWidget>(w, "ImgLogo"), Qt::LeftButton);
        QCOMPARE(browser.urls.size(), 1);
        QCOMPARE(browser.urls.first().toString(), WebHost() + QStringLiteral("/zarvelo?v=1.0.0.0"));
        QCOMPARE(cards->currentIndex(), 0);
    }

    // A bigger window: the list's name column takes the extra width, the
    // logo stays at the right edge, the start button at the bottom right;
    // both cards fill the window.
    void biggerWindow()
    {
        testutil::ProgramFolderScope scope;
        TFrmZarvelo w({});
        w.setFixedSize(700, 600);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.listFile()->header()->sectionSize(0), 260 + 700 - 429);
        QCOMPARE(w.listFile()->header()->sectionSize(1), 60);
        auto *logo = child<QWidget>(w, "ImgLogo");
        QCOMPARE(logo->size(), QSize(112, 50));
        QCOMPARE(logo->mapTo(&w, QPoint(0, 0)),
                 QPoint(700 - 120 + 3, w.btnHome()->mapTo(&w, QPoint(0, 0)).y() - 10));
        QCOMPARE(w.btnStart()->mapTo(&w, QPoint(0, 0)).x() + 120 + 8 + 1 + 3, 700);
        QVERIFY(w.btnStart()->mapTo(&w, QPoint(0, 35)).y() > 600 - 20);
        w.btnConfig()->click();
        auto *group = child<QWidget>(w, "GrpJob");
        QCOMPARE(group->mapTo(&w, QPoint(group->width(), 0)).x(), 700 - 3 - 8);
    }

    void deleteCommands()
    {
        testutil::ProgramFolderScope scope;
        QTemporaryDir dir;
        QStringList paths;
        for (int i = 1; i <= 5; ++i)
            paths << makeImage(dir.path() + QStringLiteral("/%1.png").arg(i));
        TFrmZarvelo w({});
        w.AddFile(paths);
        QCOMPARE(fileNames(w.fileList()), paths);

        QTreeView *list = w.listFile();
        auto *del = child<QAction>(w, "BtnDelete");
        auto *delAll = child<QAction>(w, "BtnDeleteAll");
        const auto select = [list](QList<int> rows) {
            list->selectionModel()->clearSelection();
            for (int row : rows)
                list->selectionModel()->select(list->model()->index(row, 0),
                                               QItemSelectionModel::Select | QItemSelectionModel::Rows);
        };

        select({1, 3});
        del->trigger();
        QCOMPARE(fileNames(w.fileList()), (QStringList{paths[0], paths[2], paths[4]}));

        // The Delete key follows the same rule.
        select({0});
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(fileNames(w.fileList()), (QStringList{paths[2], paths[4]}));

        // While a job runs the rows stay, and nothing is added.
        w.AddFile({makeSlowImage(dir.path() + "/slow.png")});
        w.btnStart()->click();
        QVERIFY(w.IsBusy());
        select({0, 1});
        del->trigger();
        QTest::keyClick(list, Qt::Key_Delete);
        delAll->trigger();
        w.AddFile({paths[0]});
        QCOMPARE(w.fileList()->rowCount(), 3);
        QVERIFY(w.IsBusy());

        QVERIFY(QTest::qWaitFor([&] { return !w.IsBusy(); }, 120000));
        delAll->trigger();
        QCOMPARE(w.fileList()->rowCount(), 0);
        delAll->trigger(); // on an empty list
        QCOMPARE(w.fileList()->rowCount(), 0);
    }

    // What a new user meets: menu items that cannot apply are disabled, the
    // format is chosen on the home card, the details wrap and copy.
    void newUserDetails()
    {
        testutil::ProgramFolderScope scope;
        QTemporaryDir dir;
        TFrmZarvelo w({});
        auto *details = child<QAction>(w, "BtnDetails");
        auto *retry = child<QAction>(w, "BtnRetry");
        auto *deleteAll = child<QAction>(w, "BtnDeleteAll");
        emit w.popList()->aboutToShow();
        QVERIFY(!details->isEnabled());
        QVERIFY(!retry->isEnabled());
        QVERIFY(!deleteAll->isEnabled());

        // The format combo lists the table and follows the format menu.
        QComboBox *combo = w.cmbFormat();
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        QCOMPARE(items, OutputFormatCaptions());
        QCOMPARE(combo->currentText(), w.SaveFormat());
        emit combo->activated(2);
        const QString third = OutputFormats()[2].Caption;
        QCOMPARE(w.SaveFormat(), third);
        QCOMPARE(w.btnStart()->text(), QStringLiteral("Convert to ") + third);
        QCOMPARE(ReadSetting(TSettingId::Format).toString(), third);
        child<QAction>(w, "ChkPNG")->trigger();
        QCOMPARE(combo->currentText(), QStringLiteral("PNG"));

        w.AddFile({makeImage(dir.path() + QStringLiteral("/a.png"))});
        w.listFile()->setCurrentIndex(w.fileList()->index(0, 0));
        emit w.popList()->aboutToShow();
        QVERIFY(details->isEnabled());
        QVERIFY(!retry->isEnabled()); // no failed row
        QVERIFY(deleteAll->isEnabled());

        QDialog *dialog = w.ShowDetails(0);
        QVERIFY(dialog);
        auto *text = dialog->findChild<QPlainTextEdit *>(QStringLiteral("TxtDetails"));
        QCOMPARE(text->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        auto *copy = dialog->findChild<QPushButton *>(QStringLiteral("BtnCopy"));
        QVERIFY(copy);
        QCOMPARE(copy->text(), QStringLiteral("Copy"));
        QGuiApplication::clipboard()->clear();
        copy->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), text->toPlainText());
        dialog->close();
    }

    void drops()
    {
        testutil::ProgramFolderScope scope;
        QTemporaryDir dir;
        const QString b = makeImage(dir.path() + "/b.png");
        const QString a = makeImage(dir.path() + "/a.png");
        const QString folderImage = makeImage(dir.path() + "/folder/c.png");
        TFrmZarvelo w({});
        QWidget *viewport = w.listFile()->viewport();

        // One list per drop, in drop order; a folder is walked by the intake.
        QVERIFY(drop(viewport, {b, a, dir.path() + "/folder"}));
        QCOMPARE(fileNames(w.fileList()), (QStringList{b, a, folderImage}));

        // The header and the empty part of the list take drops too.
        w.fileList()->clear();
        QVERIFY(drop(w.listFile()->header(), {a}));
        QCOMPARE(fileNames(w.fileList()), QStringList{a});

        // Busy: the drop completes and adds nothing; afterwards drops work again.
        w.fileList()->clear();
        const QString slow = makeSlowImage(dir.path() + "/slow.png");
        w.AddFile({slow});
        w.btnStart()->click();
        QVERIFY(w.IsBusy());
        QVERIFY(drop(viewport, {a}));
        QCOMPARE(w.fileList()->rowCount(), 1);
        QVERIFY(QTest::qWaitFor([&] { return !w.IsBusy(); }, 120000));
        QVERIFY(drop(viewport, {a}));
        QCOMPARE(fileNames(w.fileList()), (QStringList{slow, a}));

        // Something that is no local file is not taken.
        QMimeData text;
        text.setText(QStringLiteral("hello"));
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &enter);
        QVERIFY(!enter.isAccepted());

        // Closing frees the rows and the drop target: no more drops.
        QVERIFY(w.close());
        QCOMPARE(w.fileList()->rowCount(), 0);
        QVERIFY(!drop(viewport, {a}));
        QCOMPARE(w.fileList()->rowCount(), 0);
    }

    void translatedWindow_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QStringList>("texts"); // home, config, headers x3, delete, delete all, group, start, info

        QTest::newRow("ko") << "ko"
                            << QStringList{"처음화면",         "환경설정",       "파일이름", "타입",
                                           "상태",             "선택된 목록 삭제", "모든 목록 삭제", "저장경로",
                                           "JPG 로 변환하기", "버전: 1.0.0"};
        QTest::newRow("en") << "en"
                            << QStringList{"Home",   "Config", "FileName",    "Type",           "Status",
                                           "Delete", "Delete All", "Output Path", "Convert to JPG", "Version: 1.0.0"};
        QTest::newRow("fr") << "fr"
                            << QStringList{"Accueil",   "Config",         "Nom du fichier",   "Type",
                                           "Statut",    "Supprimer",      "Tout supprimer",   "Chemin de sortie",
                                           "Convertir en JPG", "Version: 1.0.0"};
    }

    void translatedWindow()
    {
        QFETCH(QString, language);
        QFETCH(QStringList, texts);
        testutil::ProgramFolderScope scope;
        SetCurrentLanguage(language);
        TFrmZarvelo w({});

        QCOMPARE(w.windowTitle(), QStringLiteral("Zarvelo"));
        const QStringList got{
            w.btnHome()->text(),
            w.btnConfig()->text(),
            w.fileList()->headerData(0, Qt::Horizontal).toString(),
            w.fileList()->headerData(1, Qt::Horizontal).toString(),
            w.fileList()->headerData(2, Qt::Horizontal).toString(),
            child<QAction>(w, "BtnDelete")->text(),
            child<QAction>(w, "BtnDeleteAll")->text(),
            child<QGroupBox>(w, "GrpOutput")->title(),
            w.btnStart()->text(),
            child<QLineEdit>(w, "EditInfo")->text(),
        };
        QCOMPARE(got, texts);
        // Names of formats and the hint are no translation keys.
        QCOMPARE(child<QAction>(w, "ChkPNG")->text(), QStringLiteral("PNG"));
        QCOMPARE(child<QWidget>(w, "EditQuality")->toolTip(), QStringLiteral("손실 압축시 적용"));
    }

    // A window's own title is translated with English; everything inside it
    // with the language in force.
    void windowTitleRule()
    {
        QWidget form;
        form.setWindowTitle(QStringLiteral("처음화면"));
        auto *label = new QLabel(QStringLiteral("처음화면"), &form);
        auto *check = new QCheckBox(QStringLiteral("너비(px)"), &form);
        auto *combo = new QComboBox(&form);
        combo->addItems({QStringLiteral("처음화면"), QStringLiteral("JPG")});
        auto *edit = new QLineEdit(QStringLiteral("처음화면"), &form);
        auto *menu = new QMenu(&form);
        QAction *item = menu->addAction(QStringLiteral("선택된 목록 삭제"));
        QMenu *sub = menu->addMenu(QStringLiteral("모든 목록 삭제"));
        QAction *subItem = sub->addAction(QStringLiteral("성공"));

        TranslateComponent(&form, QStringLiteral("fr"));
        QCOMPARE(CurrentLanguage(), QStringLiteral("fr"));
        QCOMPARE(form.windowTitle(), QStringLiteral("Home"));
        QCOMPARE(label->text(), QStringLiteral("Accueil"));
        QCOMPARE(check->text(), QStringLiteral("Larg(px)"));
        QCOMPARE(combo->itemText(0), QStringLiteral("Accueil"));
        QCOMPARE(combo->itemText(1), QStringLiteral("JPG"));
        QCOMPARE(edit->text(), QStringLiteral("처음화면"));
        QCOMPARE(item->text(), QStringLiteral("Supprimer"));
        QCOMPARE(sub->title(), QStringLiteral("Tout supprimer"));
        QCOMPARE(subItem->text(), QStringLiteral("Succès"));

        // Korean in force: nothing changes, the title included.
        QWidget korean;
        korean.setWindowTitle(QStringLiteral("처음화면"));
        TranslateComponent(&korean, QStringLiteral("ko"));
        QCOMPARE(korean.windowTitle(), QStringLiteral("처음화면"));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_gui_mainwindow.moc"
