#include "theme.h"
#include "themetalmerick.h"

#include <QApplication>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QImage>
#include <QMenu>
#include <QPalette>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>

namespace
{

const QColor Accent = QColor::fromRgb(0x3D84DD);
const QColor AccentLight = QColor::fromRgb(0x5090E0);
// Deliberately not white: a fill in the background's place must show.
const QColor Background = QColor::fromRgb(250, 240, 230);

QWidget *MakePanel(QWidget *parent, const QColor &color)
{
    auto *w = new QWidget(parent);
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, color);
    w->setPalette(pal);
    w->setAutoFillBackground(true);
    return w;
}

// A form arranged like the program's window: a vertical layout without
// margins or spacing holding a 50-pixel header with the three header buttons
// in an exclusive group, and a main panel with the start button.
struct TestForm {
    std::unique_ptr<QWidget> Form;
    QWidget *Head = nullptr;
    QWidget *Main = nullptr;
    TStyledButton *Home = nullptr;
    TStyledButton *Config = nullptr;
    TStyledButton *Start = nullptr;

    TestForm() : Form(MakePanel(nullptr, Background))
    {
        Form->resize(429, 483);
        auto *top = new QVBoxLayout(Form.get());
        top->setContentsMargins(0, 0, 0, 0);
        top->setSpacing(0);

        Head = MakePanel(Form.get(), Background);
        Head->setFixedHeight(50);
        auto *headRow = new QHBoxLayout(Head);
        headRow->setContentsMargins(20, 10, 130, 10);
        headRow->setSpacing(0);
        auto *group = new QButtonGroup(Head);
        group->setExclusive(true);
        for (auto [button, caption] : {std::pair{&Home, "Home"}, std::pair{&Config, "Config"}}) {
            *button = new TStyledButton(Head);
            (*button)->setText(QString::fromLatin1(caption));
            (*button)->setCheckable(true);
            (*button)->setFixedSize(70, 30);
            (*button)->setStyleFamily(QStringLiteral("Talmerick"), QStringLiteral("Header"), 4, true);
            group->addButton(*button);
            headRow->addWidget(*button);
        }
        headRow->addStretch();
        Home->setChecked(true);
        top->addWidget(Head);

        Main = MakePanel(Form.get(), Background);
        Start = new TStyledButton(Main);
        Start->setText(QStringLiteral("Convert"));
        Start->setGeometry(200, 400, 120, 35);
        Start->setStyleFamily(QStringLiteral("Talmerick"), QStringLiteral("Outline"), 6);
        top->addWidget(Main, 1);
    }

    bool show()
    {
        Form->show();
        return QTest::qWaitForWindowExposed(Form.get());
    }
};

QImage GrabButton(QWidget *button)
{
    return button->parentWidget()->grab(button->geometry()).toImage();
}

// Whether some pixel of the caption area has exactly this colour.
bool HasTextPixel(const QImage &img, const QColor &color)
{
    for (int y = img.height() / 4; y < img.height() * 3 / 4; ++y)
        for (int x = img.width() / 4; x < img.width() * 3 / 4; ++x)
            if (img.pixelColor(x, y).rgb() == color.rgb())
                return true;
    return false;
}

QString Hex(const QColor &c)
{
    return c.name(QColor::HexRgb).toUpper();
}

} // namespace

class TestTheme : public QObject
{
    Q_OBJECT

  private slots:
    void initTestCase() { InitTheme(); }

    void derivedColours_data();
    void derivedColours();
    void attributeTables_data();
    void attributeTables();
    void appearanceLookup();
    void familyRegistration();
    void buttonPixels_data();
    void buttonPixels();
    void keyboardFocusSelects();
    void menuDrawsNoIndicator();
    void accentBarFollowsActivation();
    void applyThemeTwiceAddsOneBar();
    void accentBarWithoutLayout();
};

void TestTheme::derivedColours_data()
{
    QTest::addColumn<QColor>("computed");
    QTest::addColumn<QString>("expected");
    const QColor black = Qt::black;
    QTest::newRow("accent lightened 10") << LightenColor(Accent, 10) << "#5090E0";
    QTest::newRow("grey of accent lightened 70") << GreyColor(LightenColor(Accent, 70)) << "#D7D7D7";
    QTest::newRow("grey of black lightened 70") << GreyColor(LightenColor(black, 70)) << "#B3B3B3";
    QTest::newRow("grey of accent lightened 50") << GreyColor(LightenColor(Accent, 50)) << "#BCBCBC";
    QTest::newRow("grey of black lightened 50") << GreyColor(LightenColor(black, 50)) << "#808080";
    // 127.5 rounds up when lightening; grey ties go to the even integer.
    QTest::newRow("lighten half rounds up") << LightenColor(black, 50) << "#808080";
    QTest::newRow("lighten by 0 keeps") << LightenColor(Accent, 0) << "#3D84DD";
    QTest::newRow("lighten by 100 is white") << LightenColor(Accent, 100) << "#FFFFFF";
    QTest::newRow("grey tie 28.5 down to 28") << GreyColor(QColor(0, 0, 250)) << "#1C1C1C";
    QTest::newRow("grey tie 7.5 up to 8") << GreyColor(QColor(0, 12, 4)) << "#080808";
}

void TestTheme::derivedColours()
{
    QFETCH(QColor, computed);
    QFETCH(QString, expected);
    QCOMPARE(Hex(computed), expected);
}

void TestTheme::attributeTables_data()
{
    QTest::addColumn<QString>("appearance");
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("fillSolid");
    QTest::addColumn<QString>("fill");
    QTest::addColumn<bool>("borderSolid");
    QTest::addColumn<QString>("border");
    QTest::addColumn<QString>("text");

    const char *states[] = {"Normal", "Pressed", "Selected", "Hot", "Disabled"};
    struct Row {
        const char *appearance;
        bool fillSolid;
        const char *fill;
        bool borderSolid;
        const char *border;
        const char *text;
    };
    const Row rows[] = {
        {"Outline", false, "#3D84DD", true, "#3D84DD", "#000000"},
        {"Outline", true, "#3D84DD", true, "#3D84DD", "#FFFFFF"},
        {"Outline", true, "#5090E0", true, "#3D84DD", "#FFFFFF"},
        {"Outline", true, "#5090E0", true, "#3D84DD", "#FFFFFF"},
        {"Outline", false, "#3D84DD", true, "#D7D7D7", "#B3B3B3"},
        {"Header", false, "#FFFFFF", true, "#000000", "#000000"},
        {"Header", true, "#3D84DD", false, "#3D84DD", "#FFFFFF"},
        {"Header", true, "#5090E0", false, "#3D84DD", "#FFFFFF"},
        {"Header", true, "#3D84DD", false, "#3D84DD", "#FFFFFF"},
        {"Header", false, "#FFFFFF", true, "#BCBCBC", "#808080"},
        {"Normal", true, "#3D84DD", true, "#3D84DD", "#FFFFFF"},
        {"Normal", true, "#3D84DD", true, "#3D84DD", "#FFFFFF"},
        {"Normal", true, "#3D84DD", true, "#3D84DD", "#FFFFFF"},
        {"Normal", true, "#5090E0", true, "#3D84DD", "#FFFFFF"},
        {"Normal", true, "#FFFFFF", true, "#C0C0C0", "#C0C0C0"},
    };
    for (int i = 0; i < 15; ++i) {
        const Row &r = rows[i];
        QTest::addRow("%s %s", r.appearance, states[i % 5])
            << QString::fromLatin1(r.appearance) << i % 5 << r.fillSolid << QString::fromLatin1(r.fill)
            << r.borderSolid << QString::fromLatin1(r.border) << QString::fromLatin1(r.text);
    }
}

void TestTheme::attributeTables()
{
    QFETCH(QString, appearance);
    QFETCH(int, state);
    QFETCH(bool, fillSolid);
    QFETCH(QString, fill);
    QFETCH(bool, borderSolid);
    QFETCH(QString, border);
    QFETCH(QString, text);

    const TButtonAttributes all =
        ButtonStyleAttributes(QStringLiteral("Talmerick"), QStringLiteral("Primary"), appearance);
    const TButtonStateAttributes &a = all.States[state];
    QCOMPARE(a.FillSolid, fillSolid);
    QCOMPARE(Hex(a.FillColor), fill);
    QCOMPARE(a.BorderSolid, borderSolid);
    QCOMPARE(Hex(a.BorderColor), border);
    QCOMPARE(Hex(a.TextColor), text);
    QCOMPARE(a.Shape, TButtonShape::RoundRect);
    QCOMPARE(a.BorderWidth, 0);
    QCOMPARE(a.TextStyle, TButtonTextStyle::Plain);
}

namespace
{
bool SameAttributes(const TButtonAttributes &x, const TButtonAttributes &y)
{
    for (int i = 0; i < 5; ++i) {
        const auto &a = x.States[i];
        const auto &b = y.States[i];
        if (a.FillSolid != b.FillSolid || a.FillColor != b.FillColor || a.BorderSolid != b.BorderSolid ||
            a.BorderColor != b.BorderColor || a.TextColor != b.TextColor)
            return false;
    }
    return true;
}
} // namespace

// Appearances compare without case; unknown ones, any class, and unknown
// families fall back to the Normal scheme.
void TestTheme::appearanceLookup()
{
    const QString family = QStringLiteral("Talmerick");
    const QString primary = QStringLiteral("Primary");
    const auto normal = ButtonStyleAttributes(family, primary, QStringLiteral("Normal"));
    const auto outline = ButtonStyleAttributes(family, primary, QStringLiteral("Outline"));
    QVERIFY(!SameAttributes(normal, outline));
    QVERIFY(SameAttributes(ButtonStyleAttributes(family, primary, QStringLiteral("oUTLINE")), outline));
    QVERIFY(SameAttributes(ButtonStyleAttributes(family, QStringLiteral("Other"), QStringLiteral("Outline")),
                           outline));
    QVERIFY(SameAttributes(ButtonStyleAttributes(family, primary, QStringLiteral("Flat")), normal));
    QVERIFY(SameAttributes(ButtonStyleAttributes(family, primary, QString()), normal));
    QVERIFY(SameAttributes(
        ButtonStyleAttributes(QStringLiteral("Unknown"), primary, QStringLiteral("Outline")), normal));
}

void TestTheme::familyRegistration()
{
    const TButtonFamily *f = FindButtonFamily(QStringLiteral("talmerick"));
    QVERIFY(f);
    QCOMPARE(f->familyName(), QStringLiteral("Talmerick"));
    QCOMPARE(f->buttonClasses(), QStringList{QStringLiteral("Primary")});
    QCOMPARE(f->buttonAppearances(),
             (QStringList{QStringLiteral("Normal"), QStringLiteral("Header"), QStringLiteral("Outline")}));
    for (auto result : {QDialogButtonBox::Ok, QDialogButtonBox::Cancel, QDialogButtonBox::NoButton}) {
        const TButtonStyleName style = f->defaultStyle(result);
        QCOMPARE(style.ButtonClass, QStringLiteral("Primary"));
        QCOMPARE(style.Appearance, QStringLiteral("Normal"));
    }
    InitTheme(); // a second start-up changes nothing
    QCOMPARE(FindButtonFamily(QStringLiteral("Talmerick")), f);
    QVERIFY(!FindButtonFamily(QStringLiteral("Flat")));
}

void TestTheme::buttonPixels_data()
{
    QTest::addColumn<QString>("appearance");
    QTest::addColumn<bool>("flat");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("down");
    QTest::addColumn<bool>("hovered");
    QTest::addColumn<int>("state");
    QTest::addColumn<QColor>("edge");   // middle of the left edge
    QTest::addColumn<QColor>("inside"); // just inside the left edge
    QTest::addColumn<QColor>("text");

    const QString outline = QStringLiteral("Outline");
    const QString header = QStringLiteral("Header");
    const int normal = int(TButtonState::Normal), pressed = int(TButtonState::Pressed),
              hot = int(TButtonState::Hot), disabled = int(TButtonState::Disabled);
    const QColor white = Qt::white, black = Qt::black;
    QTest::newRow("outline idle") << outline << false << true << false << false << normal << Accent
                                  << Background << black;
    QTest::newRow("outline hot") << outline << false << true << false << true << hot << Accent << AccentLight
                                 << white;
    QTest::newRow("outline down") << outline << false << true << true << false << pressed << Accent << Accent
                                  << white;
    QTest::newRow("outline disabled") << outline << false << false << false << false << disabled
                                      << QColor(0xD7, 0xD7, 0xD7) << Background << QColor(0xB3, 0xB3, 0xB3);
    QTest::newRow("outline disabled beats hot and down")
        << outline << false << false << true << true << disabled << QColor(0xD7, 0xD7, 0xD7) << Background
        << QColor(0xB3, 0xB3, 0xB3);
    QTest::newRow("header flat idle: no border")
        << header << true << true << false << false << normal << Background << Background << black;
    QTest::newRow("header framed idle: black border")
        << header << false << true << false << false << normal << black << Background << black;
    QTest::newRow("header flat hot: fill, no border")
        << header << true << true << false << true << hot << Accent << Accent << white;
    QTest::newRow("header framed disabled")
        << header << false << false << false << false << disabled << QColor(0xBC, 0xBC, 0xBC) << Background
        << QColor(0x80, 0x80, 0x80);
    QTest::newRow("unknown appearance paints Normal")
        << QStringLiteral("Flat") << false << true << false << false << normal << Accent << Accent << white;
    QTest::newRow("normal disabled: white fill")
        << QStringLiteral("Normal") << false << false << false << false << disabled
        << QColor(0xC0, 0xC0, 0xC0) << white << QColor(0xC0, 0xC0, 0xC0);
}

void TestTheme::buttonPixels()
{
    QFETCH(QString, appearance);
    QFETCH(bool, flat);
    QFETCH(bool, enabled);
    QFETCH(bool, down);
    QFETCH(bool, hovered);
    QFETCH(int, state);
    QFETCH(QColor, edge);
    QFETCH(QColor, inside);
    QFETCH(QColor, text);

    TestForm f;
    QVERIFY(f.show());
    TStyledButton *b = f.Start;
    b->setStyleFamily(QStringLiteral("Talmerick"), appearance, 6, flat);
    b->setEnabled(enabled);
    b->setDown(down);
    b->setAttribute(Qt::WA_UnderMouse, hovered);
    QCOMPARE(int(b->currentState()), state);

    const QImage img = GrabButton(b);
    const int mid = img.height() / 2;
    QCOMPARE(Hex(img.pixelColor(0, mid)), Hex(edge));
    QCOMPARE(Hex(img.pixelColor(img.width() - 1, mid)), Hex(edge));
    QCOMPARE(Hex(img.pixelColor(3, mid)), Hex(inside));
    QCOMPARE(Hex(img.pixelColor(img.width() / 2, 1)), Hex(inside));
    QVERIFY2(HasTextPixel(img, text), qPrintable(Hex(text)));
    // The rounded corner leaves the very corner pixel to the background.
    QCOMPARE(Hex(img.pixelColor(0, 0)), Hex(Background));
}

// Keyboard focus shows the Selected look; focus from a click does not, so the
// idle start button stays unfilled after it was clicked.
void TestTheme::keyboardFocusSelects()
{
    TestForm f;
    QVERIFY(f.show());
    f.Form->activateWindow();
    if (!QTest::qWaitForWindowActive(f.Form.get()))
        QSKIP("The platform does not activate windows");

    f.Start->setFocus(Qt::MouseFocusReason);
    QVERIFY(f.Start->hasFocus());
    QCOMPARE(f.Start->currentState(), TButtonState::Normal);

    f.Config->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(f.Config, Qt::Key_Tab);
    QVERIFY(f.Start->hasFocus());
    QCOMPARE(f.Start->currentState(), TButtonState::Selected);
    const QImage img = GrabButton(f.Start);
    QCOMPARE(Hex(img.pixelColor(3, img.height() / 2)), Hex(AccentLight));
    QVERIFY(HasTextPixel(img, Qt::white));

    // A checked header button keeps its pressed look when focused.
    f.Home->setFocus(Qt::ShortcutFocusReason);
    QVERIFY(f.Home->hasFocus());
    QCOMPARE(f.Home->currentState(), TButtonState::Pressed);
}

void TestTheme::menuDrawsNoIndicator()
{
    TestForm f;
    QVERIFY(f.show());
    const QImage before = GrabButton(f.Start);
    QMenu menu;
    menu.addAction(QStringLiteral("PNG"));
    f.Start->setMenu(&menu);
    QCOMPARE(GrabButton(f.Start), before);
}

void TestTheme::accentBarFollowsActivation()
{
    TestForm f;
    QVERIFY(f.show());
    const int mainHeight = f.Main->height();
    QCOMPARE(f.Head->y(), 0);

    ApplyTheme(f.Form.get(), true);
    TTheme *theme = FindTheme(f.Form.get());
    QVERIFY(theme);
    QWidget *bar = theme->accentBar();
    QVERIFY(bar);
    QTRY_COMPARE(f.Head->y(), 2);
    QCOMPARE(bar->geometry(), QRect(0, 0, f.Form->width(), 2));
    QCOMPARE(f.Main->height(), mainHeight - 2);

    auto barColours = [&] {
        const QImage img = f.Form->grab(QRect(0, 0, f.Form->width(), 3)).toImage();
        return QStringList{Hex(img.pixelColor(0, 0)), Hex(img.pixelColor(200, 1)),
                           Hex(img.pixelColor(img.width() - 1, 1)), Hex(img.pixelColor(200, 2))};
    };
    const QString blue = Hex(Accent);
    const QString grey = Hex(QGuiApplication::palette().color(QPalette::Disabled, QPalette::WindowText));
    QVERIFY(grey != blue);
    const QString below = Hex(Background);
    QCOMPARE(barColours(), (QStringList{blue, blue, blue, below}));

    QEvent deactivate(QEvent::WindowDeactivate);
    QApplication::sendEvent(f.Form.get(), &deactivate);
    QVERIFY(!theme->isActive());
    QCOMPARE(barColours(), (QStringList{grey, grey, grey, below}));

    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(f.Form.get(), &activate);
    QCOMPARE(barColours(), (QStringList{blue, blue, blue, below}));

    // Real activation changes, where the platform has them: another window
    // taking the focus turns the bar grey, coming back turns it blue.
    f.Form->activateWindow();
    if (!QTest::qWaitForWindowActive(f.Form.get()))
        QSKIP("The platform does not activate windows");
    QWidget other;
    other.resize(100, 100);
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    QTRY_COMPARE(barColours(), (QStringList{grey, grey, grey, below}));
    f.Form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(f.Form.get()));
    QTRY_COMPARE(barColours(), (QStringList{blue, blue, blue, below}));
}

void TestTheme::applyThemeTwiceAddsOneBar()
{
    TestForm f;
    QVERIFY(f.show());
    ApplyTheme(f.Form.get(), true);
    ApplyTheme(f.Form.get(), true);
    f.Form->hide();
    f.Form->show();
    ApplyTheme(f.Form.get(), true);
    QCOMPARE(f.Form->findChildren<QWidget *>(QStringLiteral("ThemeAccentBar")).size(), 1);
    QTRY_COMPARE(f.Head->y(), 2);

    // Another form gets a bar of its own.
    TestForm g;
    ApplyTheme(g.Form.get(), true);
    QCOMPARE(g.Form->findChildren<QWidget *>(QStringLiteral("ThemeAccentBar")).size(), 1);
    QVERIFY(FindTheme(g.Form.get()) != FindTheme(f.Form.get()));

    // A destroyed form takes its theme with it.
    QWidget *gone = g.Form.get();
    g.Form.reset();
    QVERIFY(!FindTheme(gone));
}

// A form without a vertical layout gets the bar laid over its top edge, as
// wide as the form through every resize.
void TestTheme::accentBarWithoutLayout()
{
    std::unique_ptr<QWidget> form(MakePanel(nullptr, Background));
    auto *child = MakePanel(form.get(), Qt::white);
    child->setGeometry(0, 0, 300, 100);
    form->resize(300, 100);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    ApplyTheme(form.get(), true);
    QWidget *bar = FindTheme(form.get())->accentBar();
    QCOMPARE(bar->geometry(), QRect(0, 0, 300, 2));
    form->resize(420, 120);
    QTRY_COMPARE(bar->geometry(), QRect(0, 0, 420, 2));
    const QImage img = form->grab().toImage();
    QCOMPARE(Hex(img.pixelColor(150, 1)), Hex(Accent));
    QCOMPARE(Hex(img.pixelColor(150, 2)), Hex(Qt::white));
}

QTEST_MAIN(TestTheme)
#include "tst_gui_theme.moc"
