#include "update.h"

#include "version.h"

#include "common.h"
#include "config.h"
#include "platform.h"

#include <QDate>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRandomGenerator>
#include <QSettings>
#include <QTime>
#include <QUrl>

namespace
{

// How long a hold request on its way may still take when the check stops.
constexpr int kHoldGraceMs = 1000;

QString hex(quint32 value, int digits)
{
    return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

QString versionHeader()
{
    return GetVersionString(QStringLiteral("%d.%d.%d.%d"));
}

bool isWebAddress(const QString &address)
{
    // The same rule as OpenDocument: only http(s) addresses with a host.
    const QUrl url(address, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("https") || scheme == QLatin1String("http")) &&
           !url.host().isEmpty();
}

// Drops a request on its way without letting it report to receiver.
void drop(QNetworkReply *reply, QObject *receiver)
{
    if (!reply)
        return;
    QObject::disconnect(reply, nullptr, receiver, nullptr);
    reply->abort();
    reply->manager()->deleteLater();
}

} // namespace

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

TUpdateConfig ConfiguredUpdateConfig()
{
    TUpdateConfig config;
    config.Endpoint = ConfiguredUpdateEndpoint();
    config.Language = UpdateLanguageFor(QLocale::system());
    return config;
}

TUpdateChecker::TUpdateChecker(TUpdateConfig config, QObject *parent)
    : QObject(parent), FConfig(std::move(config))
{
    FRetryTimer.setSingleShot(true);
    connect(&FRetryTimer, &QTimer::timeout, this, &TUpdateChecker::retryWaitOver);
}

TUpdateChecker::~TUpdateChecker()
{
    dropRequests(true);
}

bool TUpdateChecker::IsBusy() const
{
    return FChecking || !FHoldReplies.isEmpty() || !FCheckReplies.isEmpty();
}

QNetworkReply *TUpdateChecker::send(const HttpHeaderList &headers,
                                    std::function<void(bool, const QString &)> done)
{
    // A client of its own for every request, released with it.
    auto *network = new QNetworkAccessManager(this);
    QNetworkRequest request{QUrl(FConfig.Endpoint)};
    for (const auto &[name, value] : headers) {
        // A null value would remove the header; an empty one is still sent.
        QByteArray bytes = value.toUtf8();
        if (bytes.isNull())
            bytes = QByteArray("");
        request.setRawHeader(name.toUtf8(), bytes);
    }
    QNetworkReply *reply = network->get(request);
    connect(reply, &QNetworkReply::finished, this, [this, reply, done = std::move(done)] {
        FCheckReplies.removeAll(reply);
        FHoldReplies.removeAll(reply);
        // A status code means a response arrived: it is the answer, whatever
        // it says. Without one the request failed on its way.
        const bool ok = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
        const QString answer = ok ? QString::fromUtf8(reply->readAll()) : QString();
        reply->manager()->deleteLater();
        if (done)
            done(ok, answer);
    });
    return reply;
}

void TUpdateChecker::Get(const HttpHeaderList &headers, std::function<void(bool, const QString &)> done)
{
    FCheckReplies.append(send(headers, std::move(done)));
}

void TUpdateChecker::Check(UpdateCallback callback, UpdateAsk ask)
{
    if (FConfig.Endpoint.isEmpty() || FChecking)
        return;
    FChecking = true;
    FAttempt = 0;
    FCallback = std::move(callback);
    FAsk = std::move(ask);
    FCheckHeaders = {
        {QStringLiteral("User-Version"), versionHeader()},
        {QStringLiteral("User-Language"), FConfig.Language},
        {QStringLiteral("User-Debug"), QStringLiteral("false")},
        {QStringLiteral("User-Union"), GetInstallId(FConfig.InstallIdStore)},
    };
    attempt();
}

void TUpdateChecker::attempt()
{
    ++FAttempt;
    Get(FCheckHeaders, [this](bool ok, const QString &answer) {
        if (ok)
            complete(answer);
        else
            FRetryTimer.start(std::max(0, FConfig.RetryWaitMs));
    });
}

void TUpdateChecker::retryWaitOver()
{
    // After the last failed attempt and its wait the check completes without
    // an answer.
    if (FAttempt >= FConfig.Attempts)
        complete(QString());
    else
        attempt();
}

void TUpdateChecker::complete(const QString &answer)
{
    // The notice and the callback may stop or even delete this checker.
    const QPointer<TUpdateChecker> self(this);
    const UpdateCallback callback = std::exchange(FCallback, {});
    const UpdateAsk ask = std::exchange(FAsk, {});
    bool accepted = false;
    try {
        const QString address =
            JsonUnescape(ExtractBetween(answer, QStringLiteral("\"update\":\""), QStringLiteral("\"")));
        // An address the browser would refuse is not offered to the user.
        if (isWebAddress(address) && ask && ask(answer)) {
            if (!self || !FChecking)
                return; // stopped while the notice was open
            OpenDocument(address);
            accepted = true;
        }
    } catch (const JsonUnescapeError &) {
        if (self)
            FChecking = false;
        return; // a malformed answer ends the check quietly
    }
    if (!self || !FChecking)
        return;
    FChecking = false;
    if (callback)
        callback(accepted, answer);
}

void TUpdateChecker::SendHold()
{
    if (FConfig.Endpoint.isEmpty())
        return;
    const HttpHeaderList headers{
        {QStringLiteral("User-Version"), versionHeader()},
        {QStringLiteral("User-Command"), QStringLiteral("hold")},
    };
    FHoldReplies.append(send(headers, {}));
}

void TUpdateChecker::Stop()
{
    dropRequests(false);
    FHoldReplies.removeAll(nullptr);
    if (!FHoldReplies.isEmpty()) {
        // The hold requests run in this thread's event loop; user input waits.
        QEventLoop loop;
        QTimer poll;
        QDeadlineTimer grace(kHoldGraceMs);
        connect(&poll, &QTimer::timeout, &loop, [this, &loop, &grace] {
            if (FHoldReplies.isEmpty() || grace.hasExpired())
                loop.quit();
        });
        poll.start(5);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    dropRequests(true);
}

void TUpdateChecker::dropRequests(bool holdsToo)
{
    FRetryTimer.stop();
    FChecking = false;
    FCallback = {};
    FAsk = {};
    for (const QPointer<QNetworkReply> &reply : std::exchange(FCheckReplies, {}))
        drop(reply, this);
    if (holdsToo) {
        for (const QPointer<QNetworkReply> &reply : std::exchange(FHoldReplies, {}))
            drop(reply, this);
    }
}

void StopUpdateChecks(QObject *owner)
{
    if (!owner)
        return;
    for (TUpdateChecker *checker : owner->findChildren<TUpdateChecker *>(Qt::FindDirectChildrenOnly))
        checker->Stop();
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

namespace
{
struct Texts {
    const char *language;
    const char *prompt[3];
    const char *yes;
    const char *no;
};
const Texts kNoticeTexts[] = {
    {"ko",
     {"업데이트가 정보가 있습니다.", "안정적으로 사용하기 위해 업데이트를 하시길 권장합니다.",
      "다운로드 받으시겠습니까?"},
     "예",
     "아니오"},
    {"ja",
     {"このプログラムがアップデートされました。",
      "安定的に使用するために新しくダウンロード\u00B7実行することをお勧めします。", "ダウンロードしますか。"},
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
      "Рекомендуется скачать и выполнить новое для стабильного использования.", "Вы хотите загрузить ее?"},
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
} // namespace

QString UpdateText(int selector, const QString &language)
{
    const Texts *texts =
        &kNoticeTexts[std::size(kNoticeTexts) - 1]; // English unless one of the others matches
    for (const Texts &candidate : kNoticeTexts) {
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
    QRandomGenerator *random = QRandomGenerator::global();
    const quint32 first = random->bounded(0x7FFFFFFFu);
    const QString date = QDate::currentDate().toString(QStringLiteral("yyMMdd"));
    const quint32 middle = random->bounded(0xFFFFu);
    const QString time = QTime::currentTime().toString(QStringLiteral("HHmmss"));
    const quint32 last = random->bounded(0x7FFFFFFFu);
    return hex(first, 8) + date + hex(middle, 4) + time + hex(last, 8);
}

QString GetInstallId(const QString &storePath)
{
    const QString key = QStringLiteral("TUID");
    std::unique_ptr<QSettings> settings = storePath.isEmpty()
                                              ? OpenInstallIdStore()
                                              : std::make_unique<QSettings>(storePath, QSettings::IniFormat);
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
