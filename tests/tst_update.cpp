// The update client without a window: field cutting and unescaping, texts,
// the installation identifier, the address guard, the HTTPS request and the
// background check against a local HTTPS service.

#include "common.h"
#include "testutil.h"
#include "update.h"
#include "updateservice.h"

#include <QDate>
#include <QDesktopServices>
#include <QLocale>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <memory>

namespace
{

// What one check reported.
struct Outcome {
    int callbacks = 0;
    int asks = 0;
    bool accepted = false;
    QString answer;
};

const QString kVersion = QStringLiteral("1.0.0.0");

} // namespace

// The bodies live outside the class: moc misreads some of the raw string
// literals of the tables inside a class body.
class TestUpdate : public QObject
{
    Q_OBJECT

  private:
    // A configuration for the local service: German, 10 ms between attempts,
    // an identifier store of the test's own.
    TUpdateConfig config(const QString &endpoint) const;
    // Starts a check with a new checker (m_checker) made from config.
    std::shared_ptr<Outcome> startCheck(const TUpdateConfig &config,
                                        std::function<bool(const QString &)> ask);
    std::shared_ptr<Outcome> startCheck(const QString &endpoint, std::function<bool(const QString &)> ask)
    {
        return startCheck(config(endpoint), std::move(ask));
    }
    // One request of a checker for endpoint, waited for.
    bool get(const QString &endpoint, const HttpHeaderList &headers, QString &answer);

    testutil::TestUpdateService m_service;
    testutil::BrowserStandIn m_browser;
    QTemporaryDir m_storeDir;
    std::unique_ptr<TUpdateChecker> m_checker;

  private slots:
    void initTestCase();
    void init();
    void cleanup();
    void extractBetween_data();
    void extractBetween();
    void jsonUnescape_data();
    void jsonUnescape();
    void jsonUnescapeRejectsMalformedHex_data();
    void jsonUnescapeRejectsMalformedHex();
    void updateText_data();
    void updateText();
    void updateLanguageFromLocale_data();
    void updateLanguageFromLocale();
    void openDocumentOpensOnlyWebAddresses_data();
    void openDocumentOpensOnlyWebAddresses();
    void makeInstallIdForm();
    void installIdCreatedOnceAndKept();
    void installIdNeverOverwritten_data();
    void installIdNeverOverwritten();
    void installIdEmptyWhenStoreUnusable();
    void configuredEndpoint_data();
    void configuredEndpoint();
    void httpGetSendsHeadersInOrder();
    void httpGetTakesAnyResponseAsAnswer_data();
    void httpGetTakesAnyResponseAsAnswer();
    void httpGetFailsWithoutResponse_data();
    void httpGetFailsWithoutResponse();
    void checkSendsVersionLanguageAndIdentifier();
    void checkOutcome_data();
    void checkOutcome();
    void checkRetriesUntilServiceAnswers();
    void checkGivesUpAfterSixtyAttempts();
    void checkEndsQuietlyOnMalformedEscape_data();
    void checkEndsQuietlyOnMalformedEscape();
    void stopDuringWaitEndsWithoutCallback();
    void stopDuringUnansweredRequest();
    void stopBeforeAnswerIsHandled();
    void callbackMayEndTheChecker_data();
    void callbackMayEndTheChecker();
    void emptyEndpointStartsNothing();
    void holdRequestOnceWithVersionAndCommand_data();
    void holdRequestOnceWithVersionAndCommand();
    void stopEndsUnansweredHoldRequest();
};

TUpdateConfig TestUpdate::config(const QString &endpoint) const
{
    TUpdateConfig config;
    config.Endpoint = endpoint;
    config.Language = QStringLiteral("de");
    config.RetryWaitMs = 10;
    config.InstallIdStore = m_storeDir.filePath(QStringLiteral("%1.ini").arg(QTest::currentTestFunction()));
    return config;
}

std::shared_ptr<Outcome> TestUpdate::startCheck(const TUpdateConfig &config,
                                                std::function<bool(const QString &)> ask)
{
    auto outcome = std::make_shared<Outcome>();
    m_checker = std::make_unique<TUpdateChecker>(config);
    m_checker->Check(
        [outcome](bool accepted, const QString &answer) {
            ++outcome->callbacks;
            outcome->accepted = accepted;
            outcome->answer = answer;
        },
        [outcome, ask](const QString &answer) {
            ++outcome->asks;
            return ask(answer);
        });
    return outcome;
}

bool TestUpdate::get(const QString &endpoint, const HttpHeaderList &headers, QString &answer)
{
    m_checker = std::make_unique<TUpdateChecker>(config(endpoint));
    int calls = 0;
    bool ok = false;
    m_checker->Get(headers, [&](bool gotAnswer, const QString &text) {
        ++calls;
        ok = gotAnswer;
        if (gotAnswer)
            answer = text;
    });
    if (!QTest::qWaitFor([&] { return calls > 0; }, 20000))
        return false;
    QTest::qWait(20);
    return calls == 1 && ok;
}

void TestUpdate::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    if (const QString reason = m_service.unsupportedReason(); !reason.isEmpty())
        QSKIP(qPrintable(reason));
    QVERIFY2(m_service.start(), qPrintable(m_service.errorString));
}

void TestUpdate::init()
{
    m_service.reset();
    m_browser.urls.clear();
}

void TestUpdate::cleanup()
{
    QVERIFY(testutil::endUpdateChecker(m_checker));
}

void TestUpdate::extractBetween_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<bool>("withMarkers");
    QTest::addColumn<QString>("expected");
    const QString update = QStringLiteral("\"update\":\"");
    const QString text = QStringLiteral("\"text\":\"");
    const QString quote = QStringLiteral("\"");

    QTest::newRow("text field") << R"({"update":"https://a.example/b","x":"y"})" << update << quote << false
                                << "https://a.example/b";
    QTest::newRow("upper-case key") << R"({"UPDATE":"https://a.example/b"})" << update << quote << false
                                    << "https://a.example/b";
    QTest::newRow("source case kept")
        << R"({"update":"AbC"})" << QStringLiteral("\"UPDATE\":\"") << quote << false << "AbC";
    QTest::newRow("space after colon")
        << R"({"update": "https://a.example/b"})" << update << quote << false << "";
    QTest::newRow("start missing") << R"({"version":"2"})" << update << quote << false << "";
    QTest::newRow("end missing") << R"({"update":"https://a.example)" << update << quote << false << "";
    QTest::newRow("first occurrence") << R"({"update":"1","update":"2"})" << update << quote << false << "1";
    QTest::newRow("escaped quote") << R"({"text":"say \"hi\"","url":"u"})" << text << quote << false
                                   << R"(say \"hi\")";
    QTest::newRow("escaped backslash hides the closing quote")
        << R"({"text":"a\\","url":"u"})" << text << quote << false << R"(a\\",)";
    QTest::newRow("apostrophe end") << "'it\\'s' rest'"
                                    << "'"
                                    << "'" << false << "it\\'s";
    QTest::newRow("two-character end marker") << "x=\"a\\\"'b\"'c"
                                              << "x=\""
                                              << "\"'" << false << "a\\\"'b";
    QTest::newRow("info object") << R"({"info":{"style":"hold","text":"T"},"update":"u"})"
                                 << QStringLiteral("\"info\":{") << QStringLiteral("}") << false
                                 << R"("style":"hold","text":"T")";
    QTest::newRow("brace end not hidden") << R"({"info":{"text":"a\}"})" << QStringLiteral("\"info\":{")
                                          << QStringLiteral("}") << false << R"("text":"a\)";
    QTest::newRow("empty start marker") << R"(abc"def)"
                                        << "" << quote << false << "abc";
    QTest::newRow("empty end marker") << "key=value"
                                      << "key="
                                      << "" << false << "value";
    QTest::newRow("both markers empty") << "abc"
                                        << ""
                                        << "" << false << "abc";
    QTest::newRow("non-ASCII letters not folded")
        << QString::fromUtf8(R"({"É":"x"})") << QString::fromUtf8(R"("é":")") << quote << false << "";
    QTest::newRow("with markers") << R"({"update":"abc"})" << QStringLiteral("\"UPDATE\":\"") << quote << true
                                  << R"("UPDATE":"abc")";
    QTest::newRow("with markers, blank result") << R"({"update":"  "})" << update << quote << true << "  ";
    QTest::newRow("with markers, nothing found") << R"({"x":"1"})" << update << quote << true << "";
}

void TestUpdate::extractBetween()
{
    QFETCH(QString, source);
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(bool, withMarkers);
    QFETCH(QString, expected);
    QCOMPARE(ExtractBetween(source, start, end, withMarkers), expected);
}

void TestUpdate::jsonUnescape_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << "abc"
                           << "abc";
    QTest::newRow("quote apostrophe slash backslash") << R"(\"\'\/\\)"
                                                      << R"("'/\)";
    QTest::newRow("control characters") << R"(\b\f\n\r\t)" << QStringLiteral("\b\f\n\r\t");
    QTest::newRow("escaped slashes") << R"(https:\/\/dl.example\/z.exe)"
                                     << "https://dl.example/z.exe";
    QTest::newRow("u escape lower case") << R"(caf\u00e9)" << QString::fromUtf8("café");
    QTest::newRow("u escape upper case") << R"(caf\u00E9)" << QString::fromUtf8("café");
    QTest::newRow("surrogate pair") << R"(\ud83d\ude00)" << QString::fromUtf8("\xF0\x9F\x98\x80");
    QTest::newRow("walk goes on after four digits") << R"(\u0041BC)"
                                                    << "ABC";
    QTest::newRow("fewer than four digits") << R"(x\u41)"
                                            << "xA";
    QTest::newRow("one digit") << R"(\u4)" << QString(QChar(4));
    QTest::newRow("unknown escape dropped") << R"(a\qb)"
                                            << "ab";
    QTest::newRow("trailing backslash dropped") << R"(abc\)"
                                                << "abc";
    QTest::newRow("empty") << ""
                           << "";
}

void TestUpdate::jsonUnescape()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(JsonUnescape(text), expected);
}

void TestUpdate::jsonUnescapeRejectsMalformedHex_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("nothing after u") << R"(abc\u)";
    QTest::newRow("letters") << R"(\uZZZZ)";
    QTest::newRow("one bad digit") << R"(\u12G4)";
    QTest::newRow("sign") << R"(\u-001)";
    QTest::newRow("space") << R"(\u 123)";
}

void TestUpdate::jsonUnescapeRejectsMalformedHex()
{
    QFETCH(QString, text);
    QVERIFY_THROWS_EXCEPTION(JsonUnescapeError, JsonUnescape(text));
}

void TestUpdate::updateText_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<int>("selector");
    QTest::addColumn<QString>("expected");
    const QString cr2 = QStringLiteral("\r\r");
    QTest::newRow("de yes") << "de" << 1 << "Ja";
    QTest::newRow("de no") << "de" << 2 << "Nein";
    QTest::newRow("it yes") << "it" << 1 << QString::fromUtf8("Sì");
    QTest::newRow("it no") << "it" << 2 << "No";
    QTest::newRow("ko no") << "ko" << 2 << QString::fromUtf8("아니오");
    QTest::newRow("es falls back to English") << "es" << 1 << "Yes";
    QTest::newRow("upper case is not German") << "DE" << 2 << "No";
    QTest::newRow("ko prompt") << "ko" << 0
                               << QString::fromUtf8("업데이트가 정보가 있습니다.") + cr2 +
                                      QString::fromUtf8(
                                          "안정적으로 사용하기 위해 업데이트를 하시길 권장합니다.") +
                                      cr2 + QString::fromUtf8("다운로드 받으시겠습니까?");
    QTest::newRow("ja prompt with middle dot")
        << "ja" << 0
        << QString::fromUtf8("このプログラムがアップデートされました。") + cr2 +
               QString::fromUtf8("安定的に使用するために新しくダウンロード") + QChar(0xB7) +
               QString::fromUtf8("実行することをお勧めします。") + cr2 +
               QString::fromUtf8("ダウンロードしますか。");
    QTest::newRow("English prompt") << "" << 0
                                    << "This program has been updated." + cr2 +
                                           "It is recommended to download and execute new for stable use." +
                                           cr2 + "Do you want to download it?";
    QTest::newRow("selector 3") << "en" << 3 << "";
    QTest::newRow("selector -1") << "fr" << -1 << "";
}

void TestUpdate::updateText()
{
    QFETCH(QString, language);
    QFETCH(int, selector);
    QFETCH(QString, expected);
    QCOMPARE(UpdateText(selector, language), expected);
}

void TestUpdate::updateLanguageFromLocale_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("expected");
    QTest::newRow("Korean") << QLocale(QStringLiteral("ko_KR")) << "ko";
    QTest::newRow("Canadian French") << QLocale(QStringLiteral("fr_CA")) << "fr";
    QTest::newRow("three-letter code") << QLocale(QLocale::Hawaiian) << "ha";
    QTest::newRow("C locale") << QLocale::c() << "en";
}

void TestUpdate::updateLanguageFromLocale()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, expected);
    QCOMPARE(UpdateLanguageFor(locale), expected);
}

void TestUpdate::openDocumentOpensOnlyWebAddresses_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("opened");
    QTest::newRow("https") << "https://zarvelo.example/download/setup.exe" << true;
    QTest::newRow("http") << "http://zarvelo.example/" << true;
    QTest::newRow("upper-case scheme") << "HTTPS://zarvelo.example/" << true;
    QTest::newRow("file URL") << "file:///usr/bin/xterm" << false;
    QTest::newRow("local path") << "/usr/bin/xterm" << false;
    QTest::newRow("javascript") << "javascript:alert(1)" << false;
    QTest::newRow("UNC-like path") << "//host/share/setup.exe" << false;
    QTest::newRow("UNC path") << R"(\\host\share\setup.exe)" << false;
    QTest::newRow("https without host") << "https:///setup.exe" << false;
    QTest::newRow("empty") << "" << false;
}

void TestUpdate::openDocumentOpensOnlyWebAddresses()
{
    QFETCH(QString, address);
    QFETCH(bool, opened);
    QCOMPARE(OpenDocument(address), opened);
    QCOMPARE(m_browser.urls.size(), opened ? 1 : 0);
}

void TestUpdate::makeInstallIdForm()
{
    const QDate before = QDate::currentDate();
    const QString id = MakeInstallId();
    const QDate after = QDate::currentDate();
    static const QRegularExpression form(QStringLiteral(
        "^[0-7][0-9A-F]{7}(\\d{6})[0-9A-F]{4}([01]\\d|2[0-3])[0-5]\\d[0-5]\\d[0-7][0-9A-F]{7}$"));
    const QRegularExpressionMatch match = form.match(id);
    QVERIFY2(match.hasMatch(), qPrintable(id));
    QVERIFY(match.captured(1) == before.toString(QStringLiteral("yyMMdd")) ||
            match.captured(1) == after.toString(QStringLiteral("yyMMdd")));
    QVERIFY(MakeInstallId() != id);
}

void TestUpdate::installIdCreatedOnceAndKept()
{
    const QString store = m_storeDir.filePath(QStringLiteral("fresh.ini"));
    const QString id = GetInstallId(store);
    QCOMPARE(id.size(), 32);
    QCOMPARE(GetInstallId(store), id);
    QCOMPARE(QSettings(store, QSettings::IniFormat).value(QStringLiteral("TUID")).toString(), id);
}

void TestUpdate::installIdNeverOverwritten_data()
{
    QTest::addColumn<QString>("existing");
    QTest::newRow("foreign text") << "made-by-someone-else";
    QTest::newRow("empty value") << "";
}

void TestUpdate::installIdNeverOverwritten()
{
    QFETCH(QString, existing);
    const QString store = m_storeDir.filePath(QStringLiteral("existing-%1.ini").arg(QTest::currentDataTag()));
    QSettings(store, QSettings::IniFormat).setValue(QStringLiteral("TUID"), existing);
    QCOMPARE(GetInstallId(store), existing);
    QCOMPARE(QSettings(store, QSettings::IniFormat).value(QStringLiteral("TUID")).toString(), existing);
}

void TestUpdate::installIdEmptyWhenStoreUnusable()
{
    // The store's folder is a regular file: nothing can be written.
    const QString blocker = m_storeDir.filePath(QStringLiteral("blocker"));
    QFile file(blocker);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QCOMPARE(GetInstallId(blocker + QStringLiteral("/ids.ini")), QString());
}

void TestUpdate::configuredEndpoint_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("expected");
    const QString builtIn = WebHost() + QStringLiteral("/api.init.php");
    QTest::newRow("no settings file") << QByteArray() << builtIn;
    QTest::newRow("override") << QByteArray(
                                     "[Update]\r\nendpoint=https://updates.intranet.example/api.init.php\r\n")
                              << "https://updates.intranet.example/api.init.php";
    QTest::newRow("empty value switches off") << QByteArray("[Update]\r\nendpoint=\r\n") << "";
    QTest::newRow("other section") << QByteArray("[Config]\r\nendpoint=https://elsewhere.example/\r\n")
                                   << builtIn;
}

void TestUpdate::configuredEndpoint()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, expected);
    testutil::ProgramFolderScope folder;
    if (!ini.isNull()) {
        QFile file(folder.iniPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(ini);
    }
    QCOMPARE(ConfiguredUpdateEndpoint(), expected);
}

void TestUpdate::httpGetSendsHeadersInOrder()
{
    const HttpHeaderList headers{{QStringLiteral("User-Zeta"), QStringLiteral("last-alphabetically")},
                                 {QStringLiteral("User-Alpha"), QStringLiteral("first-alphabetically")},
                                 {QStringLiteral("User-Empty"), QString()}};
    QString answer;
    QVERIFY(get(m_service.endpoint(), headers, answer));
    const QList<testutil::ServiceRequest> requests = m_service.requests();
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests[0].method, QByteArray("GET"));
    QCOMPARE(requests[0].path, QByteArray("/api.init.php"));
    QCOMPARE(requests[0].customHeaderNames(), (QList<QByteArray>{"User-Zeta", "User-Alpha", "User-Empty"}));
    QCOMPARE(requests[0].header("User-Zeta"), QByteArray("last-alphabetically"));
    QCOMPARE(requests[0].header("User-Empty"), QByteArray());
}

void TestUpdate::httpGetTakesAnyResponseAsAnswer_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("contentType");
    QTest::newRow("json") << 200 << QByteArray(R"({"update":""})") << QByteArray("application/json");
    QTest::newRow("error page") << 500 << QByteArray("<html>Internal error</html>")
                                << QByteArray("text/html");
    QTest::newRow("not found") << 404 << QByteArray("missing") << QByteArray("text/plain");
    QTest::newRow("UTF-8 whatever the charset")
        << 200 << QByteArray("{\"text\":\"caf\xC3\xA9 \xED\x95\x9C\"}")
        << QByteArray("text/plain; charset=ISO-8859-1");
    QTest::newRow("empty body") << 204 << QByteArray() << QByteArray("text/plain");
}

void TestUpdate::httpGetTakesAnyResponseAsAnswer()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, contentType);
    m_service.setAnswer(status, body, contentType);
    QString answer = QStringLiteral("before");
    QVERIFY(get(m_service.endpoint(), {}, answer));
    QCOMPARE(answer, QString::fromUtf8(body));
}

void TestUpdate::httpGetFailsWithoutResponse_data()
{
    QTest::addColumn<bool>("nobodyListens");
    QTest::newRow("connection refused") << true;
    QTest::newRow("untrusted certificate") << false;
}

void TestUpdate::httpGetFailsWithoutResponse()
{
    QFETCH(bool, nobodyListens);
    m_service.setRejectFirst(1);
    const QString endpoint =
        nobodyListens ? testutil::TestUpdateService::closedEndpoint() : m_service.endpoint();
    QString answer = QStringLiteral("untouched");
    QVERIFY(!get(endpoint, {}, answer));
    QCOMPARE(answer, QStringLiteral("untouched"));
    QCOMPARE(m_service.requests().size(), 0);
}

void TestUpdate::checkSendsVersionLanguageAndIdentifier()
{
    auto outcome = startCheck(m_service.endpoint(), [](const QString &) { return false; });
    QTRY_COMPARE_WITH_TIMEOUT(outcome->callbacks, 1, 20000);
    const QList<testutil::ServiceRequest> requests = m_service.requests();
    QCOMPARE(requests.size(), 1);
    const testutil::ServiceRequest &request = requests[0];
    QCOMPARE(request.path, QByteArray("/api.init.php"));
    QCOMPARE(request.customHeaderNames(),
             (QList<QByteArray>{"User-Version", "User-Language", "User-Debug", "User-Union"}));
    QCOMPARE(request.header("User-Version"), kVersion.toLatin1());
    QCOMPARE(request.header("User-Language"), QByteArray("de"));
    QCOMPARE(request.header("User-Debug"), QByteArray("false"));
    QCOMPARE(request.header("User-Union").size(), 32);
    QCOMPARE(QString::fromLatin1(request.header("User-Union")),
             GetInstallId(m_checker->Config().InstallIdStore));
    QTRY_VERIFY(!m_checker->IsBusy());
}

void TestUpdate::checkOutcome_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("userSaysYes");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("opened");

    const QByteArray offer = R"({"version":"2.0","update":"https:\/\/dl.example\/zarvelo-setup.exe"})";
    QTest::newRow("offer, Yes") << 200 << offer << true << true << true
                                << "https://dl.example/zarvelo-setup.exe";
    QTest::newRow("offer, No") << 200 << offer << false << true << false << "";
    QTest::newRow("upper-case key") << 200 << QByteArray(R"({"UPDATE":"https://dl.example/a"})") << true
                                    << true << true << "https://dl.example/a";
    QTest::newRow("first occurrence wins")
        << 200
        << QByteArray(R"({"x":{"update":"https://first.example/"},"update":"https://second.example/"})")
        << true << true << true << "https://first.example/";
    QTest::newRow("no update member")
        << 200 << QByteArray(R"({"version":"2.0"})") << true << false << false << "";
    QTest::newRow("empty update") << 200 << QByteArray(R"({"update":""})") << true << false << false << "";
    QTest::newRow("space after colon")
        << 200 << QByteArray(R"({"update": "https://dl.example/a"})") << true << false << false << "";
    QTest::newRow("error page") << 500 << QByteArray("<html><body>Internal error</body></html>") << true
                                << false << false << "";
    QTest::newRow("local program not offered")
        << 200 << QByteArray(R"({"update":"file:\/\/\/usr\/bin\/xterm"})") << true << false << false << "";
    QTest::newRow("UNC path not offered")
        << 200 << QByteArray(R"({"update":"\\\\host\\share\\setup.exe"})") << true << false << false << "";
}

void TestUpdate::checkOutcome()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, userSaysYes);
    QFETCH(bool, asked);
    QFETCH(bool, accepted);
    QFETCH(QString, opened);
    m_service.setAnswer(status, body);
    QString askedWith;
    auto outcome = startCheck(m_service.endpoint(), [&](const QString &answer) {
        askedWith = answer;
        return userSaysYes;
    });
    QTRY_COMPARE_WITH_TIMEOUT(outcome->callbacks, 1, 20000);
    QTRY_VERIFY(!m_checker->IsBusy());
    QCOMPARE(outcome->callbacks, 1);
    QCOMPARE(outcome->asks, asked ? 1 : 0);
    if (asked)
        QCOMPARE(askedWith, QString::fromUtf8(body));
    QCOMPARE(outcome->accepted, accepted);
    QCOMPARE(outcome->answer, QString::fromUtf8(body));
    QCOMPARE(m_browser.urls, opened.isEmpty() ? QList<QUrl>() : QList<QUrl>{QUrl(opened)});
}

void TestUpdate::checkRetriesUntilServiceAnswers()
{
    m_service.setAnswer(200, R"({"update":""})");
    m_service.setRejectFirst(2);
    auto outcome = startCheck(m_service.endpoint(), [](const QString &) { return true; });
    QTRY_COMPARE_WITH_TIMEOUT(outcome->callbacks, 1, 20000);
    QCOMPARE(outcome->answer, QStringLiteral(R"({"update":""})"));
    QCOMPARE(m_service.connections(), 3);
    QCOMPARE(m_service.requests().size(), 1);
}

void TestUpdate::checkGivesUpAfterSixtyAttempts()
{
    m_service.setRejectFirst(1000);
    TUpdateConfig quick = config(m_service.endpoint());
    quick.RetryWaitMs = 0;
    auto outcome = startCheck(quick, [](const QString &) { return true; });
    QTRY_COMPARE_WITH_TIMEOUT(outcome->callbacks, 1, 120000);
    QCOMPARE(outcome->accepted, false);
    QCOMPARE(outcome->answer, QString());
    QCOMPARE(outcome->asks, 0);
    QCOMPARE(m_service.connections(), 60);
}

void TestUpdate::checkEndsQuietlyOnMalformedEscape_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("dialogThrows");
    QTest::newRow("in the address") << QByteArray(R"({"update":"https:\/\/dl.example\/\u00zz"})") << false;
    QTest::newRow("in the dialog's fields") << QByteArray(R"({"update":"https://dl.example/"})") << true;
}

void TestUpdate::checkEndsQuietlyOnMalformedEscape()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, dialogThrows);
    m_service.setAnswer(200, body);
    auto outcome = startCheck(m_service.endpoint(), [dialogThrows](const QString &) {
        if (dialogThrows)
            JsonUnescape(QStringLiteral("\\uWXYZ"));
        return true;
    });
    QVERIFY(m_service.waitForRequests(1));
    QTRY_VERIFY_WITH_TIMEOUT(!m_checker->IsBusy(), 20000);
    QCOMPARE(outcome->asks, dialogThrows ? 1 : 0);
    QCOMPARE(outcome->callbacks, 0);
    QVERIFY(m_browser.urls.isEmpty());
}

void TestUpdate::stopDuringWaitEndsWithoutCallback()
{
    m_service.setRejectFirst(1000);
    TUpdateConfig slow = config(m_service.endpoint());
    slow.RetryWaitMs = 10000;
    auto outcome = startCheck(slow, [](const QString &) { return true; });
    QTRY_COMPARE_WITH_TIMEOUT(m_service.connections(), 1, 20000);
    QTest::qWait(100);
    QVERIFY(m_checker->IsBusy()); // waiting the ten seconds
    m_checker->Stop();
    QVERIFY(!m_checker->IsBusy());
    QTest::qWait(50);
    QCOMPARE(outcome->callbacks, 0);
    QCOMPARE(m_service.connections(), 1);
}

void TestUpdate::stopDuringUnansweredRequest()
{
    m_service.setSilent(true);
    auto outcome = startCheck(m_service.endpoint(), [](const QString &) { return true; });
    QVERIFY(m_service.waitForRequests(1));
    m_checker->Stop();
    QVERIFY(!m_checker->IsBusy());
    QTest::qWait(50);
    QCOMPARE(outcome->callbacks, 0);
}

void TestUpdate::stopBeforeAnswerIsHandled()
{
    // The window thread is busy (handles no events) while the answer
    // arrives, and the window closes before it gets to the answer.
    m_service.setAnswer(200, R"({"update":"https://dl.example/"})");
    m_service.setAnswerDelay(200);
    auto outcome = startCheck(m_service.endpoint(), [](const QString &) { return true; });
    QVERIFY(QTest::qWaitFor([this] { return m_service.requests().size() == 1; }, 20000));
    QThread::msleep(500);
    m_checker->Stop();
    QVERIFY(!m_checker->IsBusy());
    QTest::qWait(50);
    QCOMPARE(outcome->asks, 0);
    QCOMPARE(outcome->callbacks, 0);
    QVERIFY(m_browser.urls.isEmpty());
}

void TestUpdate::callbackMayEndTheChecker_data()
{
    QTest::addColumn<bool>("deleteIt");
    QTest::newRow("stopped") << false;
    QTest::newRow("deleted with its window") << true;
}

void TestUpdate::callbackMayEndTheChecker()
{
    // The window closes itself from the callback, which stops the checker or
    // deletes it with the window.
    QFETCH(bool, deleteIt);
    m_service.setAnswer(200, R"({"update":"https://dl.example/"})");
    int calls = 0;
    auto *window = new QObject;
    auto *checker = new TUpdateChecker(config(m_service.endpoint()), window);
    checker->Check(
        [&](bool accepted, const QString &) {
            ++calls;
            if (!accepted)
                return;
            if (deleteIt)
                delete window;
            else
                StopUpdateChecks(window);
        },
        [](const QString &) { return true; });
    QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 20000);
    QTest::qWait(50);
    QCOMPARE(calls, 1);
    QCOMPARE(m_browser.urls, QList<QUrl>{QUrl(QStringLiteral("https://dl.example/"))});
    if (!deleteIt) {
        QVERIFY(!checker->IsBusy());
        delete window;
    }
}

void TestUpdate::emptyEndpointStartsNothing()
{
    auto outcome = startCheck(QString(), [](const QString &) { return true; });
    QVERIFY(!m_checker->IsBusy());
    QTest::qWait(50);
    QCOMPARE(outcome->callbacks, 0);
    QCOMPARE(m_service.connections(), 0);
}

void TestUpdate::holdRequestOnceWithVersionAndCommand_data()
{
    QTest::addColumn<bool>("serviceDown");
    QTest::newRow("service up") << false;
    QTest::newRow("service down, no retry") << true;
}

void TestUpdate::holdRequestOnceWithVersionAndCommand()
{
    QFETCH(bool, serviceDown);
    m_service.setRejectFirst(serviceDown ? 1000 : 0);
    m_checker = std::make_unique<TUpdateChecker>(config(m_service.endpoint()));
    m_checker->SendHold();
    QVERIFY(m_checker->IsBusy());
    QTRY_VERIFY_WITH_TIMEOUT(!m_checker->IsBusy(), 20000);
    QCOMPARE(m_service.connections(), 1);
    const QList<testutil::ServiceRequest> requests = m_service.requests();
    QCOMPARE(requests.size(), serviceDown ? 0 : 1);
    if (serviceDown)
        return;
    QCOMPARE(requests[0].customHeaderNames(), (QList<QByteArray>{"User-Version", "User-Command"}));
    QCOMPARE(requests[0].header("User-Version"), kVersion.toLatin1());
    QCOMPARE(requests[0].header("User-Command"), QByteArray("hold"));
}

void TestUpdate::stopEndsUnansweredHoldRequest()
{
    m_service.setSilent(true);
    m_checker = std::make_unique<TUpdateChecker>(config(m_service.endpoint()));
    m_checker->SendHold();
    QVERIFY(m_service.waitForRequests(1));
    m_checker->Stop();
    QVERIFY(!m_checker->IsBusy());
}

QTEST_MAIN(TestUpdate)
#include "tst_update.moc"
