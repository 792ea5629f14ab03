#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <stdexcept>

class QLocale;
class QNetworkAccessManager;
class QNetworkReply;

// Called once on the window thread at the end of a check: accepted is true
// when the user accepted an offered download and it was opened.
using UpdateCallback = std::function<void(bool accepted, const QString &answer)>;

// Asks the user about an offered download (the notice dialog); runs on the
// window thread; true when the user pressed Yes. May throw JsonUnescapeError
// for a malformed answer; the check then ends quietly.
using UpdateAsk = std::function<bool(const QString &answer)>;

// Ordered (name, value) pairs sent as custom request headers.
using HttpHeaderList = QList<QPair<QString, QString>>;

// What one update checker needs, handed to it whole.
struct TUpdateConfig {
    QString Endpoint;                        // every request goes here; empty: nothing is sent
    QString Language = QStringLiteral("en"); // sent as "User-Language"
    int Attempts = 60;                       // requests of one check at most
    int RetryWaitMs = 10000;                 // wait after each failed attempt, the last one included
    QString InstallIdStore;                  // INI file of the identifier; empty: the user's store
};

// The update service address the window uses: WebHost() + "/api.init.php",
// unless the settings file's section [Update] has the key "endpoint" (an empty
// value there switches the check off). Always empty in a build made with the
// update check switched off (CMake option ZARVELO_UPDATE_CHECK).
QString ConfiguredUpdateEndpoint();

// The window's configuration: ConfiguredUpdateEndpoint(), the language of the
// user's locale (UpdateLanguageFor), the default attempts and wait.
TUpdateConfig ConfiguredUpdateConfig();

// The update check and the hold request, as asynchronous requests on the
// thread that owns the object (the window's). Nothing blocks that thread: a
// request and the wait between attempts run in its event loop.
class TUpdateChecker : public QObject
{
    Q_OBJECT

  public:
    explicit TUpdateChecker(TUpdateConfig config, QObject *parent = nullptr);
    // Drops every request on its way at once; no callback runs.
    ~TUpdateChecker() override;

    const TUpdateConfig &Config() const { return FConfig; }

    // Starts the check and returns at once; nothing with an empty endpoint or
    // while a check runs. Up to Attempts requests with RetryWaitMs between
    // them, each with "User-Version", "User-Language", "User-Debug" and
    // "User-Union". Then the completion step: the "update" address is cut out
    // of the answer (empty after the last failed attempt); when it is an
    // http(s) address, ask(answer) decides, Yes opens it with OpenDocument;
    // callback(accepted, answer) follows. A malformed escape in the answer
    // ends the check without a callback.
    void Check(UpdateCallback callback, UpdateAsk ask);

    // Sends the hold request ("User-Version", "User-Command: hold") once,
    // without retry, and returns at once; its outcome is ignored.
    void SendHold();

    // Ends the check: no callback runs afterwards. A hold request still on
    // its way gets up to a second to be delivered (the window closes right
    // after the user answered the notice), then is dropped.
    void Stop();

    // Whether a check (request, wait or completion step) or a hold request is
    // still on its way.
    bool IsBusy() const;

    // One GET of the endpoint with a fresh request carrying the headers in
    // list order. done(true, body decoded as UTF-8) when any response arrived,
    // whatever its status; done(false, {}) when none did. done runs on this
    // object's thread, never after Stop or destruction.
    void Get(const HttpHeaderList &headers, std::function<void(bool ok, const QString &answer)> done);

  private:
    QNetworkReply *send(const HttpHeaderList &headers, std::function<void(bool, const QString &)> done);
    void attempt();
    void retryWaitOver();
    void complete(const QString &answer);
    void dropRequests(bool holdsToo);

    TUpdateConfig FConfig;
    QNetworkAccessManager *FNetwork;
    QTimer FRetryTimer;
    HttpHeaderList FCheckHeaders;
    UpdateCallback FCallback;
    UpdateAsk FAsk;
    bool FChecking = false;
    int FAttempt = 0;
    QList<QPointer<QNetworkReply>> FCheckReplies;
    QList<QPointer<QNetworkReply>> FHoldReplies;
};

// Stops the update checkers that are children of owner (TUpdateChecker::Stop).
void StopUpdateChecks(QObject *owner);

// The two-letter language code for a locale: the first two letters of its
// ISO 639 code, "en" for the C locale or when there is none.
QString UpdateLanguageFor(const QLocale &locale);

// Thrown by JsonUnescape for a "\u" escape that is not a hexadecimal number.
class JsonUnescapeError : public std::runtime_error
{
  public:
    using std::runtime_error::runtime_error;
};

// The text between the first startMarker and the first endMarker after it,
// or empty when either is missing. Markers match without regard to ASCII
// letter case; the result keeps the source's case. When the end marker is a
// double quote or an apostrophe, a backslash right before it hides it (an
// escaped quote never ends a field). An empty start marker starts at the
// beginning, an empty end marker runs to the end. With withMarkers, a result
// that is not blank comes back wrapped in the markers as given.
QString ExtractBetween(const QString &source, const QString &startMarker, const QString &endMarker,
                       bool withMarkers = false);

// Undoes JSON backslash escapes. Unknown escapes are dropped, a lone trailing
// backslash is dropped, "\u" takes up to four hex digits as one UTF-16 unit.
// Throws JsonUnescapeError when the characters after "\u" are not hex.
QString JsonUnescape(const QString &text);

// Texts of the notice in language: 0 the prompt (three paragraphs separated
// by two carriage returns), 1 the Yes caption, 2 the No caption; any other
// selector gives an empty text. A language other than "ko", "ja", "zh", "de",
// "ru", "it" and "fr" (compared exactly) gives the English texts.
QString UpdateText(int selector, const QString &language);

// The installation identifier, created with MakeInstallId on first use and
// never changed afterwards; empty when the store cannot be used. The store is
// the INI file storePath, or the user's store (OpenInstallIdStore) when empty.
QString GetInstallId(const QString &storePath = QString());

// A new identifier of 32 characters: 8 hex digits (random, below 0x7FFFFFFF),
// the local date "yymmdd", 4 hex digits (random, below 0xFFFF), the local
// time "hhmmss", 8 hex digits (random, below 0x7FFFFFFF).
QString MakeInstallId();
