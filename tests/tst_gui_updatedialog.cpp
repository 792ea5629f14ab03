// The update notice: its look, buttons, extras (hold box, link), the hold
// request it sends, and the whole check with the real dialog, driven from the
// test as a user would.

#include "common.h"
#include "testutil.h"
#include "update.h"
#include "updatedialog.h"
#include "updateservice.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QFrame>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace
{

using BoxAction = std::function<void(QMessageBox *)>;

// Runs action once on the notice as soon as it is shown modally. The returned
// timer stops watching when deleted.
std::unique_ptr<QTimer> whenNoticeShown(BoxAction action)
{
    auto timer = std::make_unique<QTimer>();
    timer->setInterval(10);
    QTimer *raw = timer.get();
    QObject::connect(raw, &QTimer::timeout, raw, [raw, action] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        raw->stop();
        action(box);
    });
    timer->start();
    return timer;
}

void pressYes(QMessageBox *box)
{
    box->button(QMessageBox::Yes)->click();
}

void pressNo(QMessageBox *box)
{
    box->button(QMessageBox::No)->click();
}

void pressEscape(QMessageBox *box)
{
    QTest::keyClick(box, Qt::Key_Escape);
}

// What the notice looked like while it was shown.
struct Snapshot {
    bool shown = false;
    QString title, text, yes, no;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool yesIsDefault = false, noIsEscape = false, stayOnTop = false;
    QColor background;
    int height = 0, width = 0, buttonsBottom = 0;
    bool hasSeparator = false;
    QRect separator;
    QColor separatorColour;
    bool hasHold = false, holdChecked = false;
    QRect hold;
    QString holdText;
    bool hasLink = false, linkUnderlined = false;
    QRect link;
    QString linkText, linkUrl;
    QColor linkColour;
    Qt::CursorShape linkCursor = Qt::ArrowCursor;
    int dpi = 96;
};

Snapshot snapshot(QMessageBox *box)
{
    Snapshot s;
    s.shown = true;
    s.title = box->windowTitle();
    s.text = box->text();
    s.icon = box->icon();
    s.yes = box->button(QMessageBox::Yes)->text();
    s.no = box->button(QMessageBox::No)->text();
    s.yesIsDefault = box->defaultButton() == box->button(QMessageBox::Yes);
    s.noIsEscape = box->escapeButton() == box->button(QMessageBox::No);
    s.stayOnTop = box->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    s.background = box->palette().color(QPalette::Window);
    s.height = box->height();
    s.width = box->width();
    QAbstractButton *yes = box->button(QMessageBox::Yes);
    s.buttonsBottom = yes->mapTo(box, QPoint(0, yes->height())).y();
    s.dpi = box->logicalDpiY();
    if (auto *separator = box->findChild<QFrame *>(QStringLiteral("updateSeparator"))) {
        s.hasSeparator = separator->isVisible();
        s.separator = separator->geometry();
        s.separatorColour = separator->palette().color(QPalette::Window);
    }
    if (auto *hold = box->findChild<QCheckBox *>(QStringLiteral("updateHold"))) {
        s.hasHold = hold->isVisible();
        s.hold = hold->geometry();
        s.holdText = hold->text();
        s.holdChecked = hold->isChecked();
    }
    if (auto *link = box->findChild<QLabel *>(QStringLiteral("updateLink"))) {
        s.hasLink = link->isVisible();
        s.link = link->geometry();
        s.linkText = link->text();
        s.linkUrl = link->toolTip();
        s.linkUnderlined = link->font().underline();
        s.linkColour = link->palette().color(QPalette::WindowText);
        s.linkCursor = link->cursor().shape();
    }
    return s;
}

// The window's notice: English, the window's layout offset, no hold sender.
const TUpdateNotice kNotice{QStringLiteral("en"), 10, {}};

// Shows the notice for answer, takes its snapshot, then runs close on it.
Snapshot showNotice(const QString &answer, const BoxAction &close = pressEscape, bool *result = nullptr,
                    const TUpdateNotice &notice = kNotice)
{
    Snapshot s;
    auto watcher = whenNoticeShown([&](QMessageBox *box) {
        s = snapshot(box);
        close(box);
    });
    const bool accepted = UpdateDialog(answer, notice);
    if (result)
        *result = accepted;
    return s;
}

const QString kOffer = QStringLiteral(R"({"update":"https:\/\/dl.example\/zarvelo-setup.exe")");

QString offerWithInfo(const QString &info)
{
    return kOffer + QStringLiteral(",\"info\":{") + info + QStringLiteral("}}");
}

} // namespace

Q_DECLARE_METATYPE(std::function<void(QMessageBox *)>)

// The bodies live outside the class: moc misreads some of the raw string
// literals of the tables inside a class body.
class TestGuiUpdateDialog : public QObject
{
    Q_OBJECT

  private:
    testutil::TestUpdateService m_service;
    testutil::BrowserStandIn m_browser;
    QTemporaryDir m_storeDir;
    TUpdateConfig m_config;
    std::unique_ptr<TUpdateChecker> m_checker;

  private slots:
    void initTestCase();
    void init();
    void cleanup();
    void scaleToDpi_data();
    void scaleToDpi();
    void noticeLooks_data();
    void noticeLooks();
    void buttonsDecide_data();
    void buttonsDecide();
    void extras_data();
    void extras();
    void extrasAddRoomBelowTheButtons();
    void holdBoxSendsOneHoldRequest_data();
    void holdBoxSendsOneHoldRequest();
    void linkOpensAddressAndDialogStaysOpen_data();
    void linkOpensAddressAndDialogStaysOpen();
    void malformedEscapeThrowsBeforeShowing();
    void checkWithTheNotice_data();
    void checkWithTheNotice();
};

void TestGuiUpdateDialog::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QApplication::setApplicationDisplayName(QStringLiteral("Zarvelo Test"));
    if (const QString reason = m_service.unsupportedReason(); !reason.isEmpty())
        QSKIP(qPrintable(reason));
    QVERIFY2(m_service.start(), qPrintable(m_service.errorString));
    m_config.Endpoint = m_service.endpoint();
    m_config.Language = QStringLiteral("en");
    m_config.RetryWaitMs = 10;
    m_config.InstallIdStore = m_storeDir.filePath(QStringLiteral("ids.ini"));
}

void TestGuiUpdateDialog::init()
{
    m_service.reset();
    m_browser.urls.clear();
    m_checker = std::make_unique<TUpdateChecker>(m_config);
}

void TestGuiUpdateDialog::cleanup()
{
    QVERIFY(testutil::endUpdateChecker(m_checker));
}

void TestGuiUpdateDialog::scaleToDpi_data()
{
    QTest::addColumn<int>("v");
    QTest::addColumn<qreal>("dpi");
    QTest::addColumn<int>("expected");
    QTest::newRow("96 DPI") << 40 << 96.0 << 40;
    QTest::newRow("144 DPI") << 30 << 144.0 << 45;
    QTest::newRow("120 DPI rounds") << 66 << 120.0 << 83;
    QTest::newRow("percent rounded first") << 10 << 110.0 << 12;
    QTest::newRow("negative distance") << -10 << 96.0 << -10;
}

void TestGuiUpdateDialog::scaleToDpi()
{
    QFETCH(int, v);
    QFETCH(qreal, dpi);
    QFETCH(int, expected);
    QCOMPARE(ScaleToDpi(v, dpi), expected);
}

void TestGuiUpdateDialog::noticeLooks_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("yes");
    QTest::addColumn<QString>("no");
    QTest::newRow("English") << "en"
                             << "Yes"
                             << "No";
    QTest::newRow("German") << "de"
                            << "Ja"
                            << "Nein";
    QTest::newRow("Korean") << "ko" << QString::fromUtf8("예") << QString::fromUtf8("아니오");
    QTest::newRow("Spanish falls back to English") << "es"
                                                   << "Yes"
                                                   << "No";
}

void TestGuiUpdateDialog::noticeLooks()
{
    QFETCH(QString, language);
    QFETCH(QString, yes);
    QFETCH(QString, no);
    const Snapshot s = showNotice(kOffer + QLatin1Char('}'), pressEscape, nullptr, {language, 10, {}});
    QVERIFY(s.shown);
    QCOMPARE(s.title, QStringLiteral("Zarvelo Test"));
    QCOMPARE(s.icon, QMessageBox::Warning);
    QCOMPARE(s.text, UpdateText(0, language).replace(QChar(13), QChar(10)));
    QVERIFY(s.text.count(QStringLiteral("\n\n")) == 2);
    QCOMPARE(s.yes, yes);
    QCOMPARE(s.no, no);
    QVERIFY(s.yesIsDefault);
    QVERIFY(s.noIsEscape);
    QCOMPARE(s.background, QColor(Qt::white));
    QVERIFY(!s.stayOnTop);
    QVERIFY(!s.hasSeparator);
    QVERIFY(!s.hasHold);
    QVERIFY(!s.hasLink);
}

void TestGuiUpdateDialog::buttonsDecide_data()
{
    QTest::addColumn<BoxAction>("action");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("Yes") << BoxAction(pressYes) << true;
    QTest::newRow("No") << BoxAction(pressNo) << false;
    QTest::newRow("Escape") << BoxAction(pressEscape) << false;
    QTest::newRow("Enter takes the default")
        << BoxAction([](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Return); }) << true;
    QTest::newRow("window closed") << BoxAction([](QMessageBox *box) { box->close(); }) << false;
}

void TestGuiUpdateDialog::buttonsDecide()
{
    QFETCH(BoxAction, action);
    QFETCH(bool, accepted);
    bool result = !accepted;
    QVERIFY(showNotice(kOffer + QLatin1Char('}'), action, &result).shown);
    QCOMPARE(result, accepted);
}

void TestGuiUpdateDialog::extras_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("separator");
    QTest::addColumn<QString>("hold");
    QTest::addColumn<QString>("link");
    QTest::addColumn<bool>("stayOnTop");
    QTest::newRow("hold") << offerWithInfo(R"("style":"hold","text":"Do not remind me")") << true
                          << "Do not remind me"
                          << "" << false;
    QTest::newRow("note") << offerWithInfo(
                                 R"("style":"note","text":"What is new","url":"https://zarvelo.example/n")")
                          << true << ""
                          << "What is new" << false;
    QTest::newRow("other style: room and line only")
        << offerWithInfo(R"("style":"banner","text":"x")") << true << ""
        << "" << false;
    QTest::newRow("values are case-sensitive")
        << offerWithInfo(R"("style":"Hold","text":"x","flag":"StayOnTop")") << true << ""
        << "" << false;
    QTest::newRow("keys are not") << offerWithInfo(R"("STYLE":"hold","Text":"Do not remind me")") << true
                                  << "Do not remind me"
                                  << "" << false;
    QTest::newRow("space after colon") << offerWithInfo(R"("style": "hold","text":"x")") << false << ""
                                       << "" << false;
    QTest::newRow("no info") << kOffer + QLatin1Char('}') << false << ""
                             << "" << false;
    QTest::newRow("escapes in the caption")
        << offerWithInfo(R"("style":"hold","text":"say \"hi\" caf\u00e9")") << true
        << QString::fromUtf8("say \"hi\" café") << "" << false;
    QTest::newRow("stay on top") << offerWithInfo(R"("flag":"modal,stayontop")") << false << ""
                                 << "" << true;
}

void TestGuiUpdateDialog::extras()
{
    QFETCH(QString, answer);
    QFETCH(bool, separator);
    QFETCH(QString, hold);
    QFETCH(QString, link);
    QFETCH(bool, stayOnTop);
    const Snapshot s = showNotice(answer);
    QVERIFY(s.shown);
    QCOMPARE(s.stayOnTop, stayOnTop);
    QCOMPARE(s.hasSeparator, separator);
    QCOMPARE(s.hasHold, !hold.isEmpty());
    QCOMPARE(s.hasLink, !link.isEmpty());
    const int left = ScaleToDpi(10, s.dpi);
    if (separator) {
        QCOMPARE(s.separator.height(), 1);
        QCOMPARE(s.separator.left(), 0);
        QCOMPARE(s.separator.width(), s.width);
        QCOMPARE(s.separatorColour, QColor(0xCC, 0xCC, 0xCC));
        QVERIFY(s.separator.top() >= s.buttonsBottom);
        QVERIFY(s.separator.top() < s.height);
    }
    if (!hold.isEmpty()) {
        QCOMPARE(s.holdText, hold);
        QVERIFY(!s.holdChecked);
        QCOMPARE(s.hold.left(), left);
        QVERIFY(s.hold.top() > s.separator.top());
        QVERIFY(s.hold.bottom() < s.height);
    }
    if (!link.isEmpty()) {
        QCOMPARE(s.linkText, link);
        QCOMPARE(s.linkUrl, QStringLiteral("https://zarvelo.example/n"));
        QVERIFY(s.linkUnderlined);
        QCOMPARE(s.linkColour, QColor(0x00, 0x00, 0xFF));
        QCOMPARE(s.linkCursor, Qt::PointingHandCursor);
        QCOMPARE(s.link.left(), left);
        QVERIFY(s.link.top() > s.separator.top());
        QVERIFY(s.link.bottom() < s.height);
    }
}

void TestGuiUpdateDialog::extrasAddRoomBelowTheButtons()
{
    const Snapshot plain = showNotice(kOffer + QLatin1Char('}'));
    const Snapshot withRoom = showNotice(offerWithInfo(R"("style":"banner")"));
    QVERIFY(plain.shown && withRoom.shown);
    QVERIFY(withRoom.height - plain.height >= ScaleToDpi(40 - kNotice.LayoutOffset, withRoom.dpi));
    QVERIFY(withRoom.height - withRoom.buttonsBottom > plain.height - plain.buttonsBottom);
}

void TestGuiUpdateDialog::holdBoxSendsOneHoldRequest_data()
{
    QTest::addColumn<bool>("tick");
    QTest::addColumn<BoxAction>("close");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("ticked, No") << true << BoxAction(pressNo) << false;
    QTest::newRow("ticked, Yes") << true << BoxAction(pressYes) << true;
    QTest::newRow("ticked, Escape") << true << BoxAction(pressEscape) << false;
    QTest::newRow("not ticked") << false << BoxAction(pressNo) << false;
}

void TestGuiUpdateDialog::holdBoxSendsOneHoldRequest()
{
    QFETCH(bool, tick);
    QFETCH(BoxAction, close);
    QFETCH(bool, accepted);
    bool result = !accepted;
    const Snapshot s =
        showNotice(offerWithInfo(R"("style":"hold","text":"Do not remind me")"),
                   [&](QMessageBox *box) {
                       auto *hold = box->findChild<QCheckBox *>(QStringLiteral("updateHold"));
                       if (tick)
                           QTest::mouseClick(hold, Qt::LeftButton, {}, QPoint(8, hold->height() / 2));
                       close(box);
                   },
                   &result, {QStringLiteral("en"), 10, [this] { m_checker->SendHold(); }});
    QVERIFY(s.hasHold);
    QCOMPARE(result, accepted);
    QCOMPARE(m_checker->IsBusy(), tick);
    QTRY_VERIFY_WITH_TIMEOUT(!m_checker->IsBusy(), 20000);
    const QList<testutil::ServiceRequest> requests = m_service.requests();
    QCOMPARE(requests.size(), tick ? 1 : 0);
    if (!tick)
        return;
    QCOMPARE(requests[0].path, QByteArray("/api.init.php"));
    QCOMPARE(requests[0].customHeaderNames(), (QList<QByteArray>{"User-Version", "User-Command"}));
    QCOMPARE(requests[0].header("User-Version"), QByteArray("1.0.0.0"));
    QCOMPARE(requests[0].header("User-Command"), QByteArray("hold"));
}

void TestGuiUpdateDialog::linkOpensAddressAndDialogStaysOpen_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("opened");
    QTest::newRow("web address") << "https://zarvelo.example/news" << true;
    QTest::newRow("local file refused") << "file:///etc/passwd" << false;
}

void TestGuiUpdateDialog::linkOpensAddressAndDialogStaysOpen()
{
    QFETCH(QString, url);
    QFETCH(bool, opened);
    bool stillOpen = false;
    int openedBeforeYes = -1;
    bool result = false;
    const QString answer =
        offerWithInfo(QStringLiteral("\"style\":\"note\",\"text\":\"News\",\"url\":\"%1\"")
                          .arg(QString(url).replace(QLatin1Char('/'), QStringLiteral("\\/"))));
    showNotice(
        answer,
        [&](QMessageBox *box) {
            auto *link = box->findChild<QLabel *>(QStringLiteral("updateLink"));
            QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
            QCoreApplication::processEvents();
            stillOpen = box->isVisible();
            openedBeforeYes = int(m_browser.urls.size());
            pressYes(box);
        },
        &result);
    QVERIFY(stillOpen);
    QCOMPARE(openedBeforeYes, opened ? 1 : 0);
    if (opened)
        QCOMPARE(m_browser.urls.value(0), QUrl(url));
    QVERIFY(result);
}

void TestGuiUpdateDialog::malformedEscapeThrowsBeforeShowing()
{
    bool shown = false;
    auto watcher = whenNoticeShown([&](QMessageBox *box) {
        shown = true;
        pressNo(box);
    });
    QVERIFY_THROWS_EXCEPTION(JsonUnescapeError,
                             UpdateDialog(offerWithInfo(R"("style":"hold","text":"bad \uZZZZ")"), kNotice));
    QCoreApplication::processEvents();
    QVERIFY(!shown);
}

void TestGuiUpdateDialog::checkWithTheNotice_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<BoxAction>("close");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<int>("callbacks");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("opened");
    QTest::addColumn<int>("holds");
    const QString download = QStringLiteral("https://dl.example/zarvelo-setup.exe");
    const BoxAction tickAndNo = [](QMessageBox *box) {
        auto *hold = box->findChild<QCheckBox *>(QStringLiteral("updateHold"));
        QTest::mouseClick(hold, Qt::LeftButton, {}, QPoint(8, hold->height() / 2));
        pressNo(box);
    };
    QTest::newRow("Yes opens the download")
        << kOffer + QLatin1Char('}') << BoxAction(pressYes) << true << 1 << true << download << 0;
    QTest::newRow("No") << kOffer + QLatin1Char('}') << BoxAction(pressNo) << true << 1 << false << "" << 0;
    QTest::newRow("Escape") << kOffer + QLatin1Char('}') << BoxAction(pressEscape) << true << 1 << false << ""
                            << 0;
    QTest::newRow("hold ticked, No") << offerWithInfo(R"("style":"hold","text":"Later")") << tickAndNo << true
                                     << 1 << false << "" << 1;
    QTest::newRow("nothing offered") << QStringLiteral(R"({"update":"","info":{"style":"hold"}})")
                                     << BoxAction(pressYes) << false << 1 << false << "" << 0;
    QTest::newRow("malformed info ends quietly")
        << offerWithInfo(R"("text":"\uZZ")") << BoxAction(pressYes) << false << 0 << false << "" << 0;
}

void TestGuiUpdateDialog::checkWithTheNotice()
{
    QFETCH(QString, answer);
    QFETCH(BoxAction, close);
    QFETCH(bool, shown);
    QFETCH(int, callbacks);
    QFETCH(bool, accepted);
    QFETCH(QString, opened);
    QFETCH(int, holds);
    m_service.setAnswer(200, answer.toUtf8());
    bool wasShown = false;
    auto watcher = whenNoticeShown([&](QMessageBox *box) {
        wasShown = true;
        close(box);
    });
    int calls = 0;
    bool gotAccepted = !accepted;
    QString gotAnswer;
    QObject window;
    TUpdateChecker *checker = CheckUpdate(
        &window, m_config,
        [&](bool a, const QString &text) {
            ++calls;
            gotAccepted = a;
            gotAnswer = text;
        },
        10);
    QCOMPARE(checker->parent(), &window);
    QVERIFY(m_service.waitForRequests(1));
    QTRY_VERIFY_WITH_TIMEOUT(!checker->IsBusy(), 20000);
    QCOMPARE(wasShown, shown);
    QCOMPARE(calls, callbacks);
    if (callbacks) {
        QCOMPARE(gotAccepted, accepted);
        QCOMPARE(gotAnswer, answer);
    }
    QCOMPARE(m_browser.urls, opened.isEmpty() ? QList<QUrl>() : QList<QUrl>{QUrl(opened)});
    const QList<testutil::ServiceRequest> requests = m_service.requests();
    QCOMPARE(requests.size(), 1 + holds);
    if (holds)
        QCOMPARE(requests.last().header("User-Command"), QByteArray("hold"));
}

QTEST_MAIN(TestGuiUpdateDialog)
#include "tst_gui_updatedialog.moc"
