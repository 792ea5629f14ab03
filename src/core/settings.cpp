#include "settings.h"

#include "common.h"
#include "config.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <algorithm>
#include <climits>

namespace
{

TSettingKey textKey(TSettingId id, const char *name, const QString &fallback, TWriteBack writeBack)
{
    return {id, QLatin1String(name), TSettingKey::Text, 0, 0, false, fallback, writeBack};
}

TSettingKey booleanKey(TSettingId id, const char *name, bool fallback)
{
    return {id, QLatin1String(name), TSettingKey::Boolean, 0, 1, false, fallback, TWriteBack::WhenChanged};
}

TSettingKey integerKey(TSettingId id, const char *name, int min, int max, int fallback,
                       TWriteBack writeBack = TWriteBack::WhenChanged)
{
    return {id, QLatin1String(name), TSettingKey::Integer, min, max, false, fallback, writeBack};
}

// The value of key as the file holds it, pulled into the key's type and range.
QVariant readKey(const TConfig &config, const TSettingKey &key)
{
    switch (key.Kind) {
    case TSettingKey::Text:
        return config.ReadString(key.Name, key.Default.toString());
    case TSettingKey::Boolean:
        return config.ReadBoolean(key.Name, key.Default.toBool());
    case TSettingKey::Integer:
        break;
    }
    const int value = config.ReadInteger(key.Name, key.Default.toInt());
    if (value >= key.Min && value <= key.Max)
        return value;
    if (key.OutsideIsDefault)
        return key.Default;
    return std::clamp(value, key.Min, key.Max);
}

void writeKey(const TSettingKey &key, const QVariant &value)
{
    TConfig config(SettingsFileName());
    switch (key.Kind) {
    case TSettingKey::Text:
        config.WriteString(key.Name, value.toString());
        break;
    case TSettingKey::Boolean:
        config.WriteBoolean(key.Name, value.toBool());
        break;
    case TSettingKey::Integer:
        config.WriteInteger(key.Name, value.toInt());
        break;
    }
}

bool writtenBack(const TSettingKey &key, const QVariant &value)
{
    switch (key.WriteBack) {
    case TWriteBack::Never:
        return false;
    case TWriteBack::Always:
        return true;
    case TWriteBack::WhenChanged:
        return value != key.Default;
    case TWriteBack::WhenKnownFormat:
        return FindOutputFormat(value.toString()) != nullptr;
    }
    return false;
}

// The keys of the resize modes; false for any other key.
bool applyResizeKey(ConversionOptions &options, TSettingId id, const QVariant &value)
{
    switch (id) {
    case TSettingId::ResizeMode:
        options.ResizeMode = ParseResizeMode(value.toString()).value_or(TResizeMode::Width);
        return true;
    case TSettingId::LongEdge:
        options.LongEdge = value.toInt();
        return true;
    case TSettingId::FitWidth:
        options.FitWidth = value.toInt();
        return true;
    case TSettingId::FitHeight:
        options.FitHeight = value.toInt();
        return true;
    case TSettingId::Percent:
        options.Percent = value.toInt();
        return true;
    case TSettingId::ShrinkOnly:
        options.ShrinkOnly = value.toBool();
        return true;
    default:
        return false;
    }
}

void applyKey(TStoredSettings &settings, TSettingId id, const QVariant &value)
{
    ConversionOptions &options = settings.Options;
    if (applyResizeKey(options, id, value))
        return;
    switch (id) {
    case TSettingId::SavePath:
        settings.OutputFolder = value.toString();
        break;
    case TSettingId::ResizeWidth:
        options.UseWidth = value.toBool();
        break;
    case TSettingId::Width:
        options.Width = value.toInt();
        break;
    case TSettingId::Quality:
        options.Quality = value.toInt();
        break;
    case TSettingId::Workers:
        options.Workers = value.toInt();
        break;
    case TSettingId::KeepMeta:
        options.KeepMetadata = value.toBool();
        break;
    case TSettingId::KeepTree:
        options.KeepTree = value.toBool();
        break;
    case TSettingId::Save:
        settings.IntoOutputFolder = value.toInt() == 2;
        break;
    case TSettingId::Format:
        options.SaveFormat = value.toString();
        break;
    case TSettingId::ToolTimeout:
        options.TimeoutSeconds = value.toInt();
        break;
    case TSettingId::KeepDates:
        options.KeepDates = value.toBool();
        break;
    case TSettingId::Existing:
        // An unknown word reads as the default.
        options.Existing = ParseExistingPolicy(value.toString()).value_or(TExistingPolicy::Rename);
        break;
    default:
        break;
    }
}

// A whole number from min to max, or nothing.
std::optional<int> parseNumber(const QString &text, int min, int max)
{
    bool ok = false;
    const int number = text.trimmed().toInt(&ok);
    if (!ok || number < min || number > max)
        return std::nullopt;
    return number;
}

// The resize options of a command line into options; the usage error, or
// empty. One mode at most; --shrink-only only with one.
QString resizeFromCommandLine(const QCommandLineParser &parser, ConversionOptions &options)
{
    using namespace FormatLimits;
    const auto value = [&parser](const char *name) { return parser.value(QLatin1String(name)); };
    QStringList given;
    for (const char *name : {"width", "long-edge", "fit", "percent"})
        if (parser.isSet(QLatin1String(name)))
            given << QStringLiteral("--") + QLatin1String(name);
    if (given.size() > 1)
        return given.join(QStringLiteral(" and ")) + QStringLiteral(" exclude each other: choose one.");
    options.ShrinkOnly = parser.isSet(QStringLiteral("shrink-only"));
    if (given.isEmpty())
        return options.ShrinkOnly
                   ? QStringLiteral("--shrink-only needs --width, --long-edge, --fit or --percent.")
                   : QString();
    options.UseWidth = true;
    const QString pixels =
        QStringLiteral("%1 needs a number from %2 to %3.").arg(given.first()).arg(MinWidth).arg(MaxWidth);
    if (parser.isSet(QStringLiteral("width"))) {
        const std::optional<int> width = parseNumber(value("width"), MinWidth, MaxWidth);
        if (!width)
            return pixels;
        options.Width = *width;
    } else if (parser.isSet(QStringLiteral("long-edge"))) {
        const std::optional<int> edge = parseNumber(value("long-edge"), MinWidth, MaxWidth);
        if (!edge)
            return pixels;
        options.ResizeMode = TResizeMode::LongEdge;
        options.LongEdge = *edge;
    } else if (parser.isSet(QStringLiteral("fit"))) {
        const std::optional<QSize> box = ParseBox(value("fit"));
        if (!box)
            return QStringLiteral("--fit needs WxH, each from %1 to %2 (for example 800x600).")
                .arg(MinWidth)
                .arg(MaxWidth);
        options.ResizeMode = TResizeMode::Fit;
        options.FitWidth = box->width();
        options.FitHeight = box->height();
    } else {
        const std::optional<int> percent =
            parseNumber(value("percent").remove(QLatin1Char('%')), MinPercent, MaxPercent);
        if (!percent)
            return QStringLiteral("--percent needs a number from %1 to %2.").arg(MinPercent).arg(MaxPercent);
        options.ResizeMode = TResizeMode::Percent;
        options.Percent = *percent;
    }
    return QString();
}

} // namespace

QString ResizeModeName(TResizeMode mode)
{
    switch (mode) {
    case TResizeMode::Width:
        break;
    case TResizeMode::LongEdge:
        return QStringLiteral("longedge");
    case TResizeMode::Fit:
        return QStringLiteral("fit");
    case TResizeMode::Percent:
        return QStringLiteral("percent");
    }
    return QStringLiteral("width");
}

std::optional<TResizeMode> ParseResizeMode(const QString &name)
{
    for (TResizeMode mode :
         {TResizeMode::Width, TResizeMode::LongEdge, TResizeMode::Fit, TResizeMode::Percent})
        if (name.trimmed().compare(ResizeModeName(mode), Qt::CaseInsensitive) == 0)
            return mode;
    return std::nullopt;
}

QString ExistingPolicyName(TExistingPolicy policy)
{
    switch (policy) {
    case TExistingPolicy::Rename:
        break;
    case TExistingPolicy::Skip:
        return QStringLiteral("skip");
    case TExistingPolicy::Overwrite:
        return QStringLiteral("overwrite");
    }
    return QStringLiteral("rename");
}

std::optional<TExistingPolicy> ParseExistingPolicy(const QString &text)
{
    for (const TExistingPolicy policy :
         {TExistingPolicy::Rename, TExistingPolicy::Skip, TExistingPolicy::Overwrite}) {
        if (text == ExistingPolicyName(policy))
            return policy;
    }
    return std::nullopt;
}

QString SettingsFileName()
{
    return QStringLiteral("Zarvelo");
}

QList<TSettingKey> SettingKeys()
{
    using namespace FormatLimits;
    TSettingKey save = integerKey(TSettingId::Save, "save", 1, 2, 1, TWriteBack::Always);
    save.OutsideIsDefault = true;
    // The width box reads 0 when emptied, so the stored width may be 0 too.
    return {
        textKey(TSettingId::SavePath, "savepath",
                GetSpecialFolder(CSIDL_DESKTOP) + QStringLiteral("/Zarvelo"), TWriteBack::Never),
        booleanKey(TSettingId::ResizeWidth, "resize_w", false),
        integerKey(TSettingId::Width, "width", 0, MaxWidth, DefaultWidth),
        integerKey(TSettingId::Quality, "quality", MinQuality, MaxQuality, DefaultQuality),
        integerKey(TSettingId::Workers, "workers", 0, MaxWindowWorkers, 0),
        booleanKey(TSettingId::KeepMeta, "keepmeta", true),
        booleanKey(TSettingId::KeepTree, "keeptree", false),
        save,
        textKey(TSettingId::Format, "format", OutputFormats().first().Caption, TWriteBack::WhenKnownFormat),
        integerKey(TSettingId::ToolTimeout, "tooltimeout", INT_MIN, INT_MAX, 0, TWriteBack::Never),
        booleanKey(TSettingId::KeepDates, "keepdates", false),
        textKey(TSettingId::ResizeMode, "resize_mode", ResizeModeName(TResizeMode::Width), TWriteBack::Never),
        integerKey(TSettingId::LongEdge, "long_edge", 0, MaxWidth, DefaultWidth),
        integerKey(TSettingId::FitWidth, "fit_w", 0, MaxWidth, DefaultWidth),
        integerKey(TSettingId::FitHeight, "fit_h", 0, MaxWidth, DefaultWidth),
        integerKey(TSettingId::Percent, "percent", MinPercent, MaxPercent, DefaultPercent),
        booleanKey(TSettingId::ShrinkOnly, "shrink_only", false),
        textKey(TSettingId::Existing, "existing", ExistingPolicyName(TExistingPolicy::Rename),
                TWriteBack::Never),
    };
}

TSettingKey SettingKey(TSettingId id)
{
    const QList<TSettingKey> keys = SettingKeys();
    for (const TSettingKey &key : keys) {
        if (key.Id == id)
            return key;
    }
    Q_UNREACHABLE();
}

QVariant ReadSetting(TSettingId id)
{
    return readKey(TConfig(SettingsFileName()), SettingKey(id));
}

void SaveSetting(TSettingId id, const QVariant &value)
{
    writeKey(SettingKey(id), value);
}

TStoredSettings LoadSettings()
{
    TStoredSettings settings;
    const QList<TSettingKey> keys = SettingKeys();
    for (const TSettingKey &key : keys) {
        const QVariant value = readKey(TConfig(SettingsFileName()), key);
        applyKey(settings, key.Id, value);
        if (writtenBack(key, value))
            writeKey(key, value);
    }
    return settings;
}

QString FormatCaptionsText()
{
    QStringList captions = OutputFormatCaptions();
    const QString last = captions.takeLast();
    return captions.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

TCommandLineOptions OptionsFromCommandLine(const QCommandLineParser &parser)
{
    using namespace FormatLimits;
    TCommandLineOptions result;
    ConversionOptions &options = result.Options;
    const auto value = [&parser](const char *name) { return parser.value(QLatin1String(name)); };
    const auto isSet = [&parser](const char *name) { return parser.isSet(QLatin1String(name)); };
    const auto fail = [&result](const QString &message) {
        result.Error = message;
        return result;
    };

    if (!isSet("convert"))
        return fail(QStringLiteral("--convert FORMAT is missing."));
    const TOutputFormat *format = ParseOutputFormat(value("convert"));
    if (!format)
        return fail(QStringLiteral("unknown format '%1' (%2).").arg(value("convert"), FormatCaptionsText()));
    options.SaveFormat = format->Caption;
    const QString resizeProblem = resizeFromCommandLine(parser, options);
    if (!resizeProblem.isEmpty())
        return fail(resizeProblem);
    if (isSet("quality")) {
        const std::optional<int> quality = parseNumber(value("quality"), MinQuality, MaxQuality);
        if (!quality)
            return fail(
                QStringLiteral("--quality needs a number from %1 to %2.").arg(MinQuality).arg(MaxQuality));
        options.Quality = *quality;
    }
    if (isSet("workers")) {
        const std::optional<int> workers = parseNumber(value("workers"), 0, MaxCommandLineWorkers);
        if (!workers)
            return fail(QStringLiteral("--workers needs a number from 0 to %1.").arg(MaxCommandLineWorkers));
        options.Workers = *workers;
    }
    if (isSet("keep-metadata") && isSet("strip-metadata"))
        return fail(QStringLiteral("--keep-metadata and --strip-metadata exclude each other."));
    options.KeepMetadata = !isSet("strip-metadata");
    options.KeepTree = isSet("keep-tree");
    options.KeepDates = isSet("keep-dates");
    if (isSet("shard")) {
        const std::optional<TShard> shard = ParseShard(value("shard"));
        if (!shard)
            return fail(
                QStringLiteral("--shard needs K/N with 1 <= K <= N <= %1 (for example 2/3).").arg(MaxShards));
        result.Shard = *shard;
    }
    if (isSet("existing")) {
        const std::optional<TExistingPolicy> policy = ParseExistingPolicy(value("existing"));
        if (!policy)
            return fail(QStringLiteral("--existing needs rename, skip or overwrite."));
        options.Existing = *policy;
    }
    return result;
}

std::optional<QSize> ParseBox(const QString &text)
{
    static const QRegularExpression box(QStringLiteral("^\\s*(\\d+)\\s*[xX*\u00D7]\\s*(\\d+)\\s*$"));
    const QRegularExpressionMatch match = box.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const std::optional<int> width =
        parseNumber(match.captured(1), FormatLimits::MinWidth, FormatLimits::MaxWidth);
    const std::optional<int> height =
        parseNumber(match.captured(2), FormatLimits::MinWidth, FormatLimits::MaxWidth);
    if (!width || !height)
        return std::nullopt;
    return QSize(*width, *height);
}

std::optional<TShard> ParseShard(const QString &text)
{
    const QStringList parts = text.trimmed().split(QLatin1Char('/'));
    if (parts.size() != 2)
        return std::nullopt;
    const std::optional<int> count = parseNumber(parts[1], 1, MaxShards);
    if (!count)
        return std::nullopt;
    const std::optional<int> index = parseNumber(parts[0], 1, *count);
    if (!index)
        return std::nullopt;
    return TShard{*index, *count};
}
