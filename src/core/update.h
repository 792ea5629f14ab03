#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <functional>
#include <stdexcept>

class QLocale;

// Called once on the window thread at the end of a check: accepted is true
// when the user accepted an offered download and it was opened.
using UpdateCallback = std::function<void(bool accepted, const QString &answer)>;

// Asks the user about an offered download (the notice dialog); runs on the
// window thread; true when the user pressed Yes. May throw JsonUnescapeError
// for a malformed answer; the check then ends quietly.
using UpdateAsk = std::function<bool(const QString &answer)>;

// Ordered (name, value) pairs sent as custom request headers.
using HttpHeaderList = QList<QPair<QString, QString>>;

// Module start-up: seeds the random generator and fixes UpdateLanguage.
void InitUpdateModule();

// The update service address the window uses: WebHost() + "/api.init.php",
// unless the settings file's section [Update] has the key "endpoint" (an empty
// value there switches the check off). Always empty in a build made with the
// update check switched off (CMake option ZARVELO_UPDATE_CHECK).
QString ConfiguredUpdateEndpoint();

// Starts the background check of the update service and returns at once.
// An empty endpoint starts nothing. Must be called on the window thread with
// a QCoreApplication in place. The check makes up to 60 attempts, waits
// between them, then runs the completion step on the window thread: the
// "update" address is cut out of the answer; when it is an http(s) address,
// ask(answer) decides, Yes opens it with OpenDocument; callback(accepted,
// answer) follows. A malformed escape in the answer ends the check without a
// callback.
void CheckUpdate(const QString &endpoint, UpdateCallback callback, int layoutOffset, UpdateAsk ask);

// Asks every running check to stop and waits for it to end; returns promptly
// (a waiting check ends within about 10 ms). No callback runs afterwards.
// A hold request still on its way gets a short grace period to be delivered.
// Called on the window thread when the window closes (and again, harmlessly,
// when the application quits).
void StopUpdateChecks();

// Number of check and hold threads started and not yet cleaned up. A thread
// is cleaned up on the window thread after it ended (or by StopUpdateChecks).
int RunningUpdateThreads();

// Module state. Reads and writes are safe from any thread.
QString UpdateEndpoint(); // address every request goes to; set by CheckUpdate
int LayoutOffset();       // subtracted from the notice dialog's distances
QString UpdateLanguage(); // two-letter code that picks the notice texts
void SetUpdateEndpoint(const QString &endpoint);

// Tests: while on, CheckUpdate starts nothing for an endpoint whose host is
// not on this machine (localhost, 127.0.0.0/8, ::1), so that no test run ever
// asks a name server or a service outside the machine.
void SetUpdateLoopbackOnly(bool on);
void SetUpdateLanguage(const QString &language);

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

// One GET of UpdateEndpoint() on the calling thread, with a client of its
// own and the given headers in list order. Any response counts: true with
// the body decoded as UTF-8 in answer, whatever its status. False (answer
// untouched) when no response arrived.
bool HttpGetWithHeaders(const HttpHeaderList &headers, QString &answer);

// Texts of the notice in UpdateLanguage(): 0 the prompt (three paragraphs
// separated by two carriage returns), 1 the Yes caption, 2 the No caption;
// any other selector gives an empty text.
QString UpdateText(int selector);

// The installation identifier, created with MakeInstallId on first use and
// never changed afterwards; empty when the store cannot be used.
QString GetInstallId();

// A new identifier of 32 characters: 8 hex digits (random, below 0x7FFFFFFF),
// the local date "yymmdd", 4 hex digits (random, below 0xFFFF), the local
// time "hhmmss", 8 hex digits (random, below 0x7FFFFFFF).
QString MakeInstallId();

// Starts the hold request (headers "User-Version" and "User-Command: hold",
// one attempt) on a thread of its own and returns at once. Window thread.
void StartHoldRequest();

// Test seams. The wait after a failed attempt is `sleeps` times 10 ms
// (default 1000). The identifier store is an INI file at iniPath instead of
// the user's settings (empty restores the user's settings).
void SetUpdateRetrySleeps(int sleeps);
void SetInstallIdStore(const QString &iniPath);
