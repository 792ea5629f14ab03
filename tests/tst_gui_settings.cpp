// The settings card: loading (with the write-backs its controls cause), the
// handlers that store every change at once, the format menu and the folder
// picker.

#include "common.h"
#include "config.h"
#include "filelist.h"
#include "mainwindow.h"
#include "testutil.h"
#include "platform.h"
#include "theme.h"
#include "tools.h"
#include "translate.h"

#include <QAction>
#include <QCheckBox>
#include <QFileDialog>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QLabel>
#include <QMenu>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTreeView>
#include <QTimer>

namespace {

const QStringList kFormats{"JPG", "PNG", "GIF", "WEBP", "TIFF", "AVIF"};

// The settings file with the system's line breaks read as LF: which breaks
// a new file gets is the settings tests' business, here only entries count.
QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().replace(NativeLineBreak(), "\n") : QByteArray();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

template <typename T> T *child(QWidget &window, const QString &name)
{
    T *found = window.findChild<T *>(name);
    if (!found)
        qFatal("no child %s", qPrintable(name));
    return found;
}

// The format radio button that is checked, or "" when none is.
QString checkedFormat(QWidget &w)
{
    QString checked;
    for (const QString &format : kFormats) {
        if (child<QRadioButton>(w, "Btn" + format)->isChecked())
            checked += format;
    }
    return checked;
}

// A window shown and active, so that key input and focus changes reach it.
void showActive(QWidget &w)
{
    w.show();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        InitTranslation();
        InitTheme();
    }

    void init() { SetCurrentLanguage(QStringLiteral("en")); }

    void firstStart()
    {
        testutil::ProgramFolderScope scope;
        TFrmZarvelo w({});

        QCOMPARE(checkedFormat(w), QStringLiteral("JPG"));
        QCOMPARE(w.SaveFormat(), QStringLiteral("JPG"));
        QCOMPARE(w.btnStart()->text(), QStringLiteral("Convert to JPG"));
        QCOMPARE(w.OutputFolder(), GetSpecialFolder(CSIDL_DESKTOP) + QStringLiteral("/Zarvelo"));
        QCOMPARE(w.chkPath2()->text(), w.OutputFolder());
        QVERIFY(child<QRadioButton>(w, "ChkPath_1")->isChecked());
        QVERIFY(!w.chkPath2()->isChecked());
        QVERIFY(!child<QCheckBox>(w, "ChkWidth")->isChecked());
        QVERIFY(!child<QSpinBox>(w, "EditWidth")->isEnabled());
        QCOMPARE(child<QSpinBox>(w, "EditWidth")->value(), 540);
        QCOMPARE(child<QSpinBox>(w, "EditQuality")->value(), 75);
        QCOMPARE(readAll(scope.iniPath()), QByteArray("[Config]\nsave=1\nformat=JPG\n"));

        const ConversionOptions options = w.CurrentOptions();
        QCOMPARE(options.SaveFormat, QStringLiteral("JPG"));
        QVERIFY(options.SavePath.isEmpty());
        QVERIFY(!options.UseWidth);
        QCOMPARE(options.Width, 540);
        QCOMPARE(options.Quality, 75);
    }

    void storedFile_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("radio"); // checked format button, "" for none
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("intoFolder"); // ChkPath_2 checked
        QTest::addColumn<bool>("useWidth");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("quality");
        QTest::addColumn<QByteArray>("written");

        const QByteArray h("[Config]\n");
        QTest::newRow("save 2") << h + "save=2\n"
                                << "JPG" << "Convert to JPG" << true << false << 540 << 75
                                << h + "save=2\nformat=JPG\n";
        QTest::newRow("save 0") << h + "save=0\n"
                                << "JPG" << "Convert to JPG" << false << false << 540 << 75
                                << h + "save=1\nformat=JPG\n";
        QTest::newRow("save 3") << h + "save=3\n"
                                << "JPG" << "Convert to JPG" << false << false << 540 << 75
                                << h + "save=1\nformat=JPG\n";
        QTest::newRow("save x") << h + "save=x\n"
                                << "JPG" << "Convert to JPG" << false << false << 540 << 75
                                << h + "save=1\nformat=JPG\n";
        QTest::newRow("format jpg") << h + "format=jpg\nsave=1\n"
                                    << "" << "Convert to jpg" << false << false << 540 << 75
                                    << h + "format=jpg\nsave=1\n";
        QTest::newRow("format BMP") << h + "format=BMP\n"
                                    << "" << "Convert to BMP" << false << false << 540 << 75
                                    << h + "format=BMP\nsave=1\n";
        QTest::newRow("format PNG") << h + "format=PNG\nsave=1\n"
                                    << "PNG" << "Convert to PNG" << false << false << 540 << 75
                                    << h + "format=PNG\nsave=1\n";
        QTest::newRow("quality 30") << h + "quality=30\n"
                                    << "JPG" << "Convert to JPG" << false << false << 540 << 40
                                    << h + "quality=40\nsave=1\nformat=JPG\n";
        QTest::newRow("quality 150") << h + "quality=150\n"
                                     << "JPG" << "Convert to JPG" << false << false << 540 << 100
                                     << h + "quality=100\nsave=1\nformat=JPG\n";
        QTest::newRow("quality 75") << h + "quality=75\n"
                                    << "JPG" << "Convert to JPG" << false << false << 540 << 75
                                    << h + "quality=75\nsave=1\nformat=JPG\n";
        QTest::newRow("width 0x400") << h + "width=0x400\n"
                                     << "JPG" << "Convert to JPG" << false << false << 1024 << 75
                                     << h + "width=1024\nsave=1\nformat=JPG\n";
        QTest::newRow("resize_w 7") << h + "resize_w=7\n"
                                    << "JPG" << "Convert to JPG" << false << true << 540 << 75
                                    << h + "resize_w=1\nsave=1\nformat=JPG\n";
        QTest::newRow("empty format") << h + "format=\nsave=1\n"
                                      << "" << "Convert to " << false << false << 540 << 75
                                      << h + "format=\nsave=1\n";
    }

    void storedFile()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QString, radio);
        QFETCH(QString, caption);
        QFETCH(bool, intoFolder);
        QFETCH(bool, useWidth);
        QFETCH(int, width);
        QFETCH(int, quality);
        QFETCH(QByteArray, written);

        testutil::ProgramFolderScope scope;
        writeAll(scope.iniPath(), stored);
        TFrmZarvelo w({});

        QCOMPARE(checkedFormat(w), radio);
        QCOMPARE(w.btnStart()->text(), caption);
        QCOMPARE(w.chkPath2()->isChecked(), intoFolder);
        QCOMPARE(child<QRadioButton>(w, "ChkPath_1")->isChecked(), !intoFolder);
        QCOMPARE(child<QCheckBox>(w, "ChkWidth")->isChecked(), useWidth);
        QCOMPARE(child<QSpinBox>(w, "EditWidth")->isEnabled(), useWidth);
        QCOMPARE(child<QSpinBox>(w, "EditWidth")->value(), width);
        QCOMPARE(child<QSpinBox>(w, "EditQuality")->value(), quality);
        QCOMPARE(readAll(scope.iniPath()), written);
        QCOMPARE(w.CurrentOptions().SaveFormat, w.SaveFormat());
    }

    void storedFolder()
    {
        testutil::ProgramFolderScope scope;
        writeAll(scope.iniPath(), "[Config]\nsavepath=/tmp/Tom & Jerry\nsave=2\n");
        TFrmZarvelo w({});
        QCOMPARE(w.OutputFolder(), QStringLiteral("/tmp/Tom & Jerry"));
        QVERIFY(w.chkPath2()->isChecked());
        QCOMPARE(readAll(scope.iniPath()), QByteArray("[Config]\nsavepath=/tmp/Tom & Jerry\nsave=2\nformat=JPG\n"));
    }

    // Every change of a box's text is stored; leaving the quality box pulls
    // its value into 40..100.
    void typing()
    {
        testutil::ProgramFolderScope scope;
        TFrmZarvelo w({});
        showActive(w);
        QTest::mouseClick(w.btnConfig(), Qt::LeftButton);
        auto *quality = child<QSpinBox>(w, "EditQuality");
        const auto stored = [&scope](const char *key) {
            for (const QByteArray &line : readAll(scope.iniPath()).split('\n')) {
                if (line.startsWith(QByteArray(key) + '='))
                    return QString::fromUtf8(line.mid(int(qstrlen(key)) + 1));
            }
            return QString();
        };

        quality->setFocus();
        quality->selectAll();
        QTest::keyClick(quality, Qt::Key_8);
        QCOMPARE(stored("quality"), QStringLiteral("8"));
        QCOMPARE(w.CurrentOptions().Quality, 8);
        QTest::keyClick(quality, Qt::Key_5);
        QCOMPARE(stored("quality"), QStringLiteral("85"));

        QTest::keyClick(quality, Qt::Key_Backspace);
        QCOMPARE(stored("quality"), QStringLiteral("8"));
        child<QCheckBox>(w, "ChkWidth")->setFocus(); // leave the box
        QCOMPARE(quality->value(), 40);
        QCOMPARE(stored("quality"), QStringLiteral("40"));

        quality->setFocus();
        quality->selectAll();
        QTest::keyClick(quality, Qt::Key_Backspace);
        QCOMPARE(stored("quality"), QStringLiteral("40")); // empty text counts as the lower bound
        QTest::keyClicks(quality, "70");
        QCOMPARE(stored("quality"), QStringLiteral("70"));
        QTest::keyClick(quality, Qt::Key_Up); // an arrow step is a change too
        QCOMPARE(stored("quality"), QStringLiteral("71"));

        auto *check = child<QCheckBox>(w, "ChkWidth");
        auto *width = child<QSpinBox>(w, "EditWidth");
        QTest::mouseClick(check, Qt::LeftButton);
        QCOMPARE(stored("resize_w"), QStringLiteral("1"));
        QVERIFY(width->isEnabled());
        width->setFocus();
        width->selectAll();
        QTest::keyClick(width, Qt::Key_Backspace);
        QCOMPARE(stored("width"), QStringLiteral("0"));
        QTest::keyClicks(width, "1200");
        QCOMPARE(stored("width"), QStringLiteral("1200"));
        QVERIFY(w.CurrentOptions().UseWidth);
        QCOMPARE(w.CurrentOptions().Width, 1200);
        QTest::mouseClick(check, Qt::LeftButton);
        QCOMPARE(stored("resize_w"), QStringLiteral("0"));
        QVERIFY(!width->isEnabled());
    }

    void formatChoices()
    {
        testutil::ProgramFolderScope scope;
        TFrmZarvelo w({});
        showActive(w);

        // The start button's own menu.
        QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, QPoint(10, 10), w.btnStart()->mapToGlobal(QPoint(10, 10)));
        QApplication::sendEvent(w.btnStart(), &menuEvent);
        QVERIFY(w.popSave()->isVisible());
        w.popSave()->hide();
        child<QAction>(w, "ChkPNG")->trigger();
        QCOMPARE(w.btnStart()->text(), QStringLiteral("Convert to PNG"));
        QCOMPARE(checkedFormat(w), QStringLiteral("PNG"));
        QCOMPARE(readAll(scope.iniPath()), QByteArray("[Config]\nsave=1\nformat=PNG\n"));

        // The radio buttons of the settings card.
        QTest::mouseClick(w.btnConfig(), Qt::LeftButton);
        QTest::mouseClick(child<QRadioButton>(w, "BtnWEBP"), Qt::LeftButton);
        QCOMPARE(w.SaveFormat(), QStringLiteral("WEBP"));
        QCOMPARE(w.btnStart()->text(), QStringLiteral("Convert to WEBP"));
        QCOMPARE(readAll(scope.iniPath()), QByteArray("[Config]\nsave=1\nformat=WEBP\n"));

        // The output radio buttons store 1 or 2.
        QTest::mouseClick(w.chkPath2(), Qt::LeftButton, {}, QPoint(6, w.chkPath2()->height() / 2));
        QCOMPARE(readAll(scope.iniPath()), QByteArray("[Config]\nsave=2\nformat=WEBP\n"));

        // A disabled start button (a job runs) opens no menu.
        w.btnStart()->setEnabled(false);
        QApplication::sendEvent(w.btnStart(), &menuEvent);
        QVERIFY(!w.popSave()->isVisible());
    }

    void folderPicker_data()
    {
        QTest::addColumn<bool>("confirm");
        QTest::newRow("chosen") << true;
        QTest::newRow("cancelled") << false;
    }

    void folderPicker()
    {
        QFETCH(bool, confirm);
        testutil::ProgramFolderScope scope;
        QTemporaryDir target;
        TFrmZarvelo w({});
        showActive(w);
        QTest::mouseClick(w.btnConfig(), Qt::LeftButton);
        const QString before = w.OutputFolder();
        const QByteArray fileBefore = readAll(scope.iniPath());

        QString title, accept;
        QTimer::singleShot(0, this, [&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            title = dialog->windowTitle();
            accept = dialog->labelText(QFileDialog::Accept);
            if (confirm) {
                dialog->setDirectory(target.path());
                dialog->selectFile(target.path());
                QMetaObject::invokeMethod(dialog, "accept");
            } else {
                dialog->reject();
            }
        });
        QTest::mouseClick(child<QWidget>(w, "BtnSaveDir"), Qt::LeftButton);

        QCOMPARE(title, QStringLiteral("Select Folder"));
        QCOMPARE(accept, QStringLiteral("OK"));
        QVERIFY(!w.chkPath2()->isChecked()); // choosing a folder does not select it
        if (confirm) {
            QCOMPARE(w.OutputFolder(), target.path());
            QCOMPARE(w.chkPath2()->text(), target.path());
            QCOMPARE(readAll(scope.iniPath()), fileBefore + "savepath=" + target.path().toUtf8() + "\n");
        } else {
            QCOMPARE(w.OutputFolder(), before);
            QCOMPARE(readAll(scope.iniPath()), fileBefore);
        }
    }

    // Workers, keep metadata and keep folder structure: defaults, stored at
    // once under their keys, read back by the next start, fed to the options.
    void jobOptions()
    {
        testutil::ProgramFolderScope scope;
        {
            TFrmZarvelo w({});
            auto *workers = child<QSpinBox>(w, "EditWorkers");
            QCOMPARE(workers->value(), 0);
            QCOMPARE(workers->text(), QStringLiteral("Auto"));
            QVERIFY(child<QCheckBox>(w, "ChkKeepMeta")->isChecked());
            QVERIFY(!child<QCheckBox>(w, "ChkKeepTree")->isChecked());
            QVERIFY(w.CurrentOptions().KeepMetadata);

            workers->setValue(3);
            child<QCheckBox>(w, "ChkKeepMeta")->click();
            child<QCheckBox>(w, "ChkKeepTree")->click();
            QVERIFY(!w.CurrentOptions().KeepDates);
            child<QCheckBox>(w, "ChkKeepDates")->click();
            QVERIFY(w.CurrentOptions().KeepDates);
            QVERIFY(!w.CurrentOptions().KeepMetadata);
            const TConfig config(QStringLiteral("Zarvelo"));
            QCOMPARE(config.ReadInteger(QStringLiteral("workers"), -1), 3);
            QCOMPARE(config.ReadBoolean(QStringLiteral("keepmeta"), true), false);
            QCOMPARE(config.ReadBoolean(QStringLiteral("keeptree"), false), true);
            QCOMPARE(config.ReadBoolean(QStringLiteral("keepdates"), false), true);

            auto *existing = child<QComboBox>(w, "CmbExisting");
            QCOMPARE(existing->currentText(), QStringLiteral("Save under a new name"));
            QCOMPARE(w.CurrentOptions().Existing, TExistingPolicy::Rename);
            QCOMPARE(config.ReadString(QStringLiteral("existing"), QStringLiteral("none")), QStringLiteral("none"));
            existing->setCurrentIndex(2);
            QCOMPARE(existing->currentText(), QStringLiteral("Overwrite"));
            QCOMPARE(w.CurrentOptions().Existing, TExistingPolicy::Overwrite);
            QCOMPARE(TConfig(QStringLiteral("Zarvelo")).ReadString(QStringLiteral("existing"), QString()),
                     QStringLiteral("overwrite"));
        }
        TFrmZarvelo again({});
        QCOMPARE(child<QComboBox>(again, "CmbExisting")->currentIndex(), 2);
        QCOMPARE(child<QSpinBox>(again, "EditWorkers")->value(), 3);
        QVERIFY(!child<QCheckBox>(again, "ChkKeepMeta")->isChecked());
        QVERIFY(child<QCheckBox>(again, "ChkKeepTree")->isChecked());
        QVERIFY(child<QCheckBox>(again, "ChkKeepDates")->isChecked());
    }

    // The resize mode, its values and shrink only: shown from the file, each
    // change stored under its key at once, fed to the options; only the
    // chosen mode's values show.
    void resizeChoices()
    {
        testutil::ProgramFolderScope scope;
        writeAll(scope.iniPath(), "[Config]\r\nresize_w=1\r\nresize_mode=fit\r\nfit_w=800\r\nfit_h=600\r\n");
        TFrmZarvelo w({});
        showActive(w);
        QTest::mouseClick(w.btnConfig(), Qt::LeftButton);
        auto *mode = child<QComboBox>(w, "CmbResize");
        QCOMPARE(mode->currentText(), QStringLiteral("Box(px)"));
        QVERIFY(child<QSpinBox>(w, "EditFitHeight")->isVisible());
        QVERIFY(!child<QSpinBox>(w, "EditWidth")->isVisible());
        ConversionOptions options = w.CurrentOptions();
        QCOMPARE(options.ResizeMode, TResizeMode::Fit);
        QCOMPARE(QSize(options.FitWidth, options.FitHeight), QSize(800, 600));
        QVERIFY(!options.ShrinkOnly);

        mode->setCurrentIndex(1);
        QVERIFY(child<QSpinBox>(w, "EditLongEdge")->isVisible());
        child<QSpinBox>(w, "EditLongEdge")->setValue(1600);
        child<QCheckBox>(w, "ChkShrinkOnly")->click();
        const TConfig config(QStringLiteral("Zarvelo"));
        QCOMPARE(config.ReadString(QStringLiteral("resize_mode"), QString()), QStringLiteral("longedge"));
        QCOMPARE(config.ReadInteger(QStringLiteral("long_edge"), 0), 1600);
        QCOMPARE(config.ReadBoolean(QStringLiteral("shrink_only"), false), true);
        options = w.CurrentOptions();
        QCOMPARE(options.ResizeMode, TResizeMode::LongEdge);
        QCOMPARE(options.LongEdge, 1600);
        QVERIFY(options.ShrinkOnly);

        // Resizing off greys out the whole row.
        child<QCheckBox>(w, "ChkWidth")->click();
        QVERIFY(!mode->isEnabled());
        QVERIFY(!child<QCheckBox>(w, "ChkShrinkOnly")->isEnabled());
        QVERIFY(!w.CurrentOptions().UseWidth);
        // AVIF is offered where the image tool writes it, and only there.
        const bool writesAvif = FormatUnavailableReason(QStringLiteral("AVIF")).isEmpty();
        QCOMPARE(child<QRadioButton>(w, "BtnAVIF")->isEnabled(), writesAvif);
        QCOMPARE(child<QAction>(w, "ChkAVIF")->isEnabled(), writesAvif);
    }

    void fitsInEveryLanguage_data()
    {
        QTest::addColumn<QString>("language");
        for (const char *language : {"ko", "en", "ja", "zh", "ru", "it", "fr"})
            QTest::newRow(language) << QString::fromLatin1(language);
    }

    // Every caption of the settings card is whole and inside its group, the
    // groups inside the card; the start button holds its longest caption.
    void fitsInEveryLanguage()
    {
        QFETCH(QString, language);
        testutil::ProgramFolderScope scope;
        writeAll(scope.iniPath(), "[Config]\r\nformat=WEBP\r\nresize_w=1\r\nresize_mode=fit\r\n");
        SetCurrentLanguage(language);
        TFrmZarvelo w({});
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QWidget *card = child<QWidget>(w, "PnlSetting");
        w.btnConfig()->click();
        for (const char *name : {"GrpOutput", "GrpOption", "GrpJob"}) {
            auto *group = child<QGroupBox>(w, name);
            QVERIFY2(card->rect().contains(group->geometry()), name);
            const QList<QWidget *> parts = group->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
            for (QWidget *part : parts) {
                if (!part->isVisibleTo(&w))
                    continue;
                QVERIFY2(group->rect().contains(part->geometry()), qPrintable(part->objectName()));
                // The folder caption is any path the user chose; it may be cut.
                const bool caption = qobject_cast<QLabel *>(part) || qobject_cast<QCheckBox *>(part) ||
                                     qobject_cast<QRadioButton *>(part) || qobject_cast<QComboBox *>(part);
                if (caption && part != w.chkPath2())
                    QVERIFY2(part->width() >= part->sizeHint().width(), qPrintable(part->objectName()));
                // The window keeps its size: a crowded card would squeeze its rows.
                if (caption)
                    QVERIFY2(part->height() >= part->sizeHint().height(), qPrintable(part->objectName()));
            }
        }
        // No caption of the job group runs into the workers box, which holds
        // its own "Auto" whole ("Automatique").
        auto *workers = child<QSpinBox>(w, "EditWorkers");
        const QRect box = workers->geometry();
        QVERIFY(!child<QLabel>(w, "LblWorkers")->geometry().intersects(box));
        QVERIFY2(workers->findChild<QLineEdit *>()->width() >=
                     workers->fontMetrics().horizontalAdvance(workers->specialValueText()),
                 qPrintable(workers->specialValueText()));
        const QString shots = qEnvironmentVariable("ZARVELO_SCREENSHOTS");
        if (!shots.isEmpty())
            w.grab().save(shots + "/config-" + language + ".png");

        w.btnHome()->click();
        // The status column holds every state ("Конвертация"); the format box shows.
        for (const TRowState state :
             {TRowState::Ready, TRowState::Converting, TRowState::Success, TRowState::Fail, TRowState::Skipped})
            QVERIFY2(w.listFile()->header()->sectionSize(2) >=
                         w.listFile()->fontMetrics().horizontalAdvance(StateText(state)) + 6,
                     qPrintable(StateText(state)));
        QVERIFY(w.cmbFormat()->isVisible());
        QCOMPARE(w.cmbFormat()->currentText(), QStringLiteral("WEBP"));
        if (!shots.isEmpty())
            w.grab().save(shots + "/home-" + language + ".png");
        const QFontMetrics metrics = w.btnStart()->fontMetrics();
        QVERIFY(w.btnStart()->width() >= metrics.horizontalAdvance(w.btnStart()->text()));
        QVERIFY(w.btnStart()->mapTo(&w, QPoint(0, 0)).x() >= 0);
    }
};

QTEST_MAIN(TestSettings)
#include "tst_gui_settings.moc"
