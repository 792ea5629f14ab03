#include "update.h"

#include "version.h"

#include "common.h"
#include "config.h"
#include "platform.h"

#include <QCoreApplication>
#include <QDate>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QLocale>
#include <QMutex>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QSettings>
#include <QThread>
#include <QTime>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

namespace
{

constexpr int kAttempts = 60;
constexpr int kSleepMs = 10;
constexpr int kDefaultRetrySleeps = 1000;
// How long a hold request on its way may still take when the window closes.
constexpr int kHoldGraceMs = 1000;

// Module state. The mutex makes reads from the check and hold threads safe
// while the window thread starts another check.
struct ModuleState {
    QMutex mutex;
    QString endpoint;
    QString language = QStringLiteral("en");
    int layoutOffset = 0;
    QString installIdStore; // test override: INI file path
};

ModuleState &state()
{
    static ModuleState s;
    return s;
}

std::atomic<int> retrySleeps{kDefaultRetrySleeps};

// The module's pseudo-random generator, seeded once from the clock.
QMutex randomMutex;
QRandomGenerator &randomGenerator()
{
    static QRandomGenerator generator(
        quint32(std::chrono::high_resolution_clock::now().time_since_epoch().count()));
    return generator;
}

quint32 randomBelow(quint32 bound)
{
    QMutexLocker lock(&randomMutex);
    return randomGenerator().bounded(bound);
}

QString hex(quint32 value, int digits)
{
    return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

// One background thread of the module: a check or a hold request. Created,
// tracked and cleaned up on the window thread; the thread itself only reads
// `stop` and posts back to the window thread.
struct Worker {
    std::atomic<bool> stop{false};
    bool hold = false;
    QThread *thread = nullptr;
    // Check only: caller's hooks and the hand-over handshake.
    UpdateCallback callback;
    UpdateAsk ask;
    QSemaphore stepDone;
};

// Touched on the window thread only.
QList<std::shared_ptr<Worker>> &workers()
{
    static QList<std::shared_ptr<Worker>> list;
    return list;
}

void reap(const std::shared_ptr<Worker> &worker)
{
    if (!workers().removeOne(worker))
        return;
    worker->thread->wait();
    delete worker->thread;
    worker->thread = nullptr;
}

void startWorker(const std::shared_ptr<Worker> &worker, std::function<void()> body)
{
    static std::once_flag quitHook;
    std::call_once(quitHook, [] {
        QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit,
                         QCoreApplication::instance(), [] { StopUpdateChecks(); });
    });
    worker->thread = QThread::create(std::move(body));
    QObject::connect(worker->thread, &QThread::finished, QCoreApplication::instance(),
                     [worker] { reap(worker); });
    workers().append(worker);
    worker->thread->start();
}

// Like HttpGetWithHeaders, but gives up at once (false) when *stop is set.
bool httpGet(const HttpHeaderList &headers, QString &answer, const std::atomic<bool> *stop)
{
    if (stop && stop->load())
        return false;
    QNetworkAccessManager manager;
    QNetworkRequest request{QUrl(UpdateEndpoint())};
    for (const auto &[name, value] : headers) {
        // A null value would remove the header; an empty one is still sent.
        QByteArray bytes = value.toUtf8();
        if (bytes.isNull())
            bytes = QByteArray("");
        request.setRawHeader(name.toUtf8(), bytes);
    }
    std::unique_ptr<QNetworkReply> reply(manager.get(request));

    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer stopWatch;
    if (stop) {
        QObject::connect(&stopWatch, &QTimer::timeout, reply.get(), [&] {
            if (stop->load())
                reply->abort();
        });
        stopWatch.start(kSleepMs);
    }
    if (!reply->isFinished())
        loop.exec();
    stopWatch.stop();

    // A status code means a response arrived: it is the answer, whatever it
    // says. Without one the request failed on its way.
    if (!reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
        return false;
    if (stop && stop->load())
        return false;
    answer = QString::fromUtf8(reply->readAll());
    return true;
}

bool isWebAddress(const QString &address)
{
    // The same rule as OpenDocument: only http(s) addresses with a host.
    const QUrl url(address, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("https") || scheme == QLatin1String("http")) &&
           !url.host().isEmpty();
}

// The completion step of a check, on the window thread.
void completeCheck(const std::shared_ptr<Worker> &worker, const QString &answer)
{
    struct Release {
        QSemaphore &done;
        ~Release() { done.release(); }
    } release{worker->stepDone};
    if (worker->stop)
        return;

    bool accepted = false;
    try {
        const QString address =
            JsonUnescape(ExtractBetween(answer, QStringLiteral("\"update\":\""), QStringLiteral("\"")));
        // An address the browser would refuse is not offered to the user.
        if (isWebAddress(address) && worker->ask && worker->ask(answer)) {
            if (worker->stop)
                return;
            OpenDocument(address);
            accepted = true;
        }
    } catch (const JsonUnescapeError &) {
        return; // a malformed answer ends the check quietly
    }
    if (worker->stop)
        return;
    if (worker->callback)
        worker->callback(accepted, answer);
}

void runCheck(const std::shared_ptr<Worker> &worker)
{
    const HttpHeaderList headers{
        {QStringLiteral("User-Version"), GetVersionString(QStringLiteral("%d.%d.%d.%d"))},
        {QStringLiteral("User-Language"), UpdateLanguage()},
        {QStringLiteral("User-Debug"), QStringLiteral("false")},
        {QStringLiteral("User-Union"), GetInstallId()},
    };

    QString answer;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (httpGet(headers, answer, &worker->stop))
            break;
        const int sleeps = retrySleeps.load();
        for (int i = 0; i < sleeps; ++i) {
            if (worker->stop)
                return;
            QThread::msleep(kSleepMs);
        }
        if (worker->stop)
            return;
    }

    // Hand the completion step to the window thread and wait until it ran.
    // The wait watches the stop request, so StopUpdateChecks (which blocks
    // the window thread until this thread ends) never deadlocks with it; a
    // step that runs after a stop does nothing.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [worker, answer] { completeCheck(worker, answer); },
        Qt::QueuedConnection);
    while (!worker->stepDone.tryAcquire(1, kSleepMs)) {
        if (worker->stop)
            return;
    }
}

QString languageFromSystem()
{
    return UpdateLanguageFor(QLocale::system());
}

} // namespace

void InitUpdateModule()
{
    {
        QMutexLocker lock(&randomMutex);
        randomGenerator(); // seeded from the clock on first use
    }
    SetUpdateLanguage(languageFromSystem());
}

QString UpdateLanguageFor(const QLocale &locale)
{
    const QLocale::Language language = locale.language();
    if (language == QLocale::C || language == QLocale::AnyLanguage)
        return QStringLiteral("en");
    const QString code = QLocale::languageToCode(language);
    if (code.size() < 2)
        return QStringLiteral("en");
    return code.left(2);
}

QString ConfiguredUpdateEndpoint()
{
    // Built without the update check: no address, so no check starts and no
    // identifier is ever made.
    if (!ZARVELO_UPDATE_CHECK)
        return QString();
    return TConfig(QStringLiteral("Zarvelo"), QStringLiteral("Update"))
        .ReadString(QStringLiteral("endpoint"), WebHost() + QStringLiteral("/api.init.php"));
}

namespace
{
std::atomic<bool> loopbackOnly{false};

bool isLoopbackEndpoint(const QString &endpoint)
{
    const QHostAddress address(QUrl(endpoint).host());
    return QUrl(endpoint).host() == QLatin1String("localhost") || address.isLoopback();
}
} // namespace

void SetUpdateLoopbackOnly(bool on)
{
    loopbackOnly = on;
}

void CheckUpdate(const QString &endpoint, UpdateCallback callback, int layoutOffset, UpdateAsk ask)
{
    if (endpoint.isEmpty() || !QCoreApplication::instance())
        return;
    if (loopbackOnly && !isLoopbackEndpoint(endpoint))
        return;
    {
        QMutexLocker lock(&state().mutex);
        state().endpoint = endpoint;
        state().layoutOffset = layoutOffset;
    }
    auto worker = std::make_shared<Worker>();
    worker->callback = std::move(callback);
    worker->ask = std::move(ask);
    startWorker(worker, [worker] { runCheck(worker); });
}

void StartHoldRequest()
{
    if (!QCoreApplication::instance())
        return;
    auto worker = std::make_shared<Worker>();
    worker->hold = true;
    startWorker(worker, [worker] {
        const HttpHeaderList headers{
            {QStringLiteral("User-Version"), GetVersionString(QStringLiteral("%d.%d.%d.%d"))},
            {QStringLiteral("User-Command"), QStringLiteral("hold")},
        };
        QString ignored;
        httpGet(headers, ignored, &worker->stop);
    });
}

void StopUpdateChecks()
{
    const QList<std::shared_ptr<Worker>> running = workers();
    for (const auto &worker : running) {
        if (!worker->hold)
            worker->stop = true;
    }
    // A hold request is usually answered within milliseconds; let it finish
    // unless the service does not answer.
    QDeadlineTimer grace(kHoldGraceMs);
    for (const auto &worker : running) {
        if (worker->hold && !worker->thread->wait(grace))
            worker->stop = true;
    }
    for (const auto &worker : running)
        reap(worker);
}

int RunningUpdateThreads()
{
    return int(workers().size());
}

QString UpdateEndpoint()
{
    QMutexLocker lock(&state().mutex);
    return state().endpoint;
}

int LayoutOffset()
{
    QMutexLocker lock(&state().mutex);
    return state().layoutOffset;
}

QString UpdateLanguage()
{
    QMutexLocker lock(&state().mutex);
    return state().language;
}

void SetUpdateEndpoint(const QString &endpoint)
{
    QMutexLocker lock(&state().mutex);
    state().endpoint = endpoint;
}

void SetUpdateLanguage(const QString &language)
{
    QMutexLocker lock(&state().mutex);
    state().language = language;
}

QString ExtractBetween(const QString &source, const QString &startMarker, const QString &endMarker,
                       bool withMarkers)
{
    // Upper-case ASCII letters only, so that every position in the copy is
    // the same position in the source.
    const auto asciiUpper = [](QString text) {
        for (QChar &c : text) {
            if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
                c = QChar(c.unicode() - 'a' + 'A');
        }
        return text;
    };
    QString copy = asciiUpper(source);
    const QString start = asciiUpper(startMarker);
    const QString end = asciiUpper(endMarker);

    // A backslash hides a quote end marker: backslash + marker becomes
    // backslashes of the same length, so an escaped quote never ends a field
    // and the copy stays aligned with the source.
    if (!end.isEmpty() && QStringLiteral("\"'").contains(end)) {
        const QString hidden = QLatin1Char('\\') + end;
        const QString filler(hidden.size(), QLatin1Char('\\'));
        qsizetype from = 0;
        while ((from = copy.indexOf(hidden, from)) >= 0) {
            copy.replace(from, hidden.size(), filler);
            from += hidden.size();
        }
    }

    qsizetype first = 0;
    if (!start.isEmpty()) {
        const qsizetype at = copy.indexOf(start);
        if (at < 0)
            return QString();
        first = at + start.size();
    }
    qsizetype last = source.size();
    if (!end.isEmpty()) {
        last = copy.indexOf(end, first);
        if (last < 0)
            return QString();
    }

    QString result = source.mid(first, last - first);
    if (withMarkers) {
        const auto blank = [](const QString &text) {
            for (const QChar c : text) {
                if (c.unicode() > 32)
                    return false;
            }
            return true;
        };
        if (!blank(result))
            result = startMarker + result + endMarker;
    }
    return result;
}

QString JsonUnescape(const QString &text)
{
    QString result;
    result.reserve(text.size());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c != QLatin1Char('\\')) {
            result += c;
            continue;
        }
        if (i + 1 >= n)
            break; // a trailing backslash is dropped
        const QChar e = text[++i];
        switch (e.unicode()) {
        case '"':
        case '\'':
        case '/':
        case '\\':
            result += e;
            break;
        case 'b':
            result += QChar(8);
            break;
        case 'f':
            result += QChar(12);
            break;
        case 'n':
            result += QChar(10);
            break;
        case 'r':
            result += QChar(13);
            break;
        case 't':
            result += QChar(9);
            break;
        case 'u': {
            const QString digits = text.mid(i + 1, 4);
            bool ok = !digits.isEmpty();
            for (const QChar d : digits)
                ok = ok && QStringLiteral("0123456789abcdefABCDEF").contains(d);
            if (!ok)
                throw JsonUnescapeError("malformed \\u escape: \\u" + digits.toStdString());
            result += QChar(char16_t(digits.toUInt(nullptr, 16)));
            i += digits.size();
            break;
        }
        default:
            break; // unknown escape: both characters dropped
        }
    }
    return result;
}

bool HttpGetWithHeaders(const HttpHeaderList &headers, QString &answer)
{
    return httpGet(headers, answer, nullptr);
}

QString UpdateText(int selector)
{
    struct Texts {
        const char *language;
        const char *prompt[3];
        const char *yes;
        const char *no;
    };
    static const Texts table[] = {
        {"ko",
         {"업데이트가 정보가 있습니다.", "안정적으로 사용하기 위해 업데이트를 하시길 권장합니다.",
          "다운로드 받으시겠습니까?"},
         "예",
         "아니오"},
        {"ja",
         {"このプログラムがアップデートされました。",
          "安定的に使用するために新しくダウンロード\u00B7実行することをお勧めします。",
          "ダウンロードしますか。"},
         "はい",
         "いいえ"},
        {"zh", {"该程序已更新。", "建议下载并执行新程序以稳定使用。", "您要下载吗？"}, "是", "否"},
        {"de",
         {"Dieses Programm ist aktualisiert worden.",
          "Es wird empfohlen, es herunterzuladen und neu auszuführen, um es stabil zu verwenden.",
          "Möchten Sie es herunterladen?"},
         "Ja",
         "Nein"},
        {"ru",
         {"Данная программа была обновлена.",
          "Рекомендуется скачать и выполнить новое для стабильного использования.",
          "Вы хотите загрузить ее?"},
         "Да",
         "Нет"},
        {"it",
         {"È disponibile una nuova versione del programma.",
          "Ti suggeriamo di scaricare ed aggiornare il programma.",
          "Vuoi scaricare la nuova versione del programma?"},
         "Sì",
         "No"},
        {"fr",
         {"Ce programme a été mis à jour.",
          "Il est recommandé de télécharger et d'exécuter la nouvelle version pour une utilisation stable.",
          "Voulez-vous le télécharger?"},
         "Oui",
         "Non"},
        {"en",
         {"This program has been updated.", "It is recommended to download and execute new for stable use.",
          "Do you want to download it?"},
         "Yes",
         "No"},
    };
    const QString language = UpdateLanguage();
    const Texts *texts = &table[std::size(table) - 1]; // English unless one of the others matches
    for (const Texts &candidate : table) {
        if (language == QLatin1String(candidate.language)) {
            texts = &candidate;
            break;
        }
    }
    switch (selector) {
    case 0: {
        const QString separator(2, QChar(13));
        return QString::fromUtf8(texts->prompt[0]) + separator + QString::fromUtf8(texts->prompt[1]) +
               separator + QString::fromUtf8(texts->prompt[2]);
    }
    case 1:
        return QString::fromUtf8(texts->yes);
    case 2:
        return QString::fromUtf8(texts->no);
    default:
        return QString();
    }
}

QString MakeInstallId()
{
    const quint32 first = randomBelow(0x7FFFFFFF);
    const QString date = QDate::currentDate().toString(QStringLiteral("yyMMdd"));
    const quint32 middle = randomBelow(0xFFFF);
    const QString time = QTime::currentTime().toString(QStringLiteral("HHmmss"));
    const quint32 last = randomBelow(0x7FFFFFFF);
    return hex(first, 8) + date + hex(middle, 4) + time + hex(last, 8);
}

QString GetInstallId()
{
    QString storePath;
    {
        QMutexLocker lock(&state().mutex);
        storePath = state().installIdStore;
    }
    const QString key = QStringLiteral("TUID");
    std::unique_ptr<QSettings> settings =
        storePath.isEmpty() ? OpenInstallIdStore() : std::make_unique<QSettings>(storePath, QSettings::IniFormat);
    if (settings->status() != QSettings::NoError)
        return QString();
    if (!settings->contains(key)) {
        settings->setValue(key, MakeInstallId());
        settings->sync();
        // An identifier that could not be stored would change at every start.
        if (settings->status() != QSettings::NoError)
            return QString();
    }
    const QVariant value = settings->value(key);
    if (value.typeId() != QMetaType::QString)
        return QString();
    return value.toString();
}

void SetUpdateRetrySleeps(int sleeps)
{
    retrySleeps = sleeps < 0 ? kDefaultRetrySleeps : sleeps;
}

void SetInstallIdStore(const QString &iniPath)
{
    QMutexLocker lock(&state().mutex);
    state().installIdStore = iniPath;
}
