#pragma once

#include "formats.h"

#include <QList>
#include <QSize>
#include <QString>
#include <QVariant>

#include <optional>

class QCommandLineParser;

// What happens when an output's name is taken by an earlier file: the new
// output gets the next free " (n)" name, the source is left alone (nothing
// is written), or the earlier output is replaced. A source of the job, a
// folder, a link and a file the job itself wrote are never replaced.
enum class TExistingPolicy { Rename, Skip, Overwrite };

// "rename", "skip", "overwrite": the words of the settings file and the
// command line.
QString ExistingPolicyName(TExistingPolicy policy);
// The policy of a word (exact, lower case); nothing for any other text.
std::optional<TExistingPolicy> ParseExistingPolicy(const QString &text);

// What the user chose for a conversion: one plain value, read from the
// settings file or built from the command line. A job takes one copy when it
// starts; nothing in it changes while the job runs.
// How a resized output's size is chosen from the picture's own size.
enum class TResizeMode {
    Width,    // Width pixels wide, height in proportion
    LongEdge, // the longer side LongEdge pixels
    Fit,      // as large as fits inside FitWidth x FitHeight
    Percent,  // Percent of the picture's own size
};

// The settings value of a mode ("width", "longedge", "fit", "percent"), and
// back; nothing for any other text.
QString ResizeModeName(TResizeMode mode);
std::optional<TResizeMode> ParseResizeMode(const QString &name);

struct ConversionOptions {
    QString SaveFormat = OutputFormats().first().Caption; // a caption of the format table, or any text
                                                          // from /auto or the settings file
    QString SavePath;          // output folder ending in '/', or empty: next to each source
    bool UseWidth = false;     // resize every output, as ResizeMode says
    int Width = FormatLimits::DefaultWidth;     // pixels (at least 1)
    TResizeMode ResizeMode = TResizeMode::Width;
    int LongEdge = FormatLimits::DefaultWidth;  // pixels
    int FitWidth = FormatLimits::DefaultWidth;  // pixels
    int FitHeight = FormatLimits::DefaultWidth; // pixels
    int Percent = FormatLimits::DefaultPercent;
    bool ShrinkOnly = false;                    // a resize never makes a picture larger than its own size
    int Quality = FormatLimits::DefaultQuality; // encoder quality
    bool KeepMetadata = true;  // carry EXIF data into the output; off: strip metadata on every route
    bool KeepTree = false;     // outputs keep the folder structure below a walked folder
    int Workers = 0;           // conversions at once; 0: one per core
    int TimeoutSeconds = 0;    // base time-out of one tool run (scaled by input size); 0: the default
    bool KeepDates = false;    // each output gets its source's modification time
    TExistingPolicy Existing = TExistingPolicy::Rename; // an output name taken by an earlier file
};

// The keys of the settings file (section "Config" of SettingsFileName).
enum class TSettingId {
    SavePath,
    ResizeWidth,
    Width,
    Quality,
    Workers,
    KeepMeta,
    KeepTree,
    Save,
    Format,
    ToolTimeout,
    KeepDates,
    ResizeMode,
    LongEdge,
    FitWidth,
    FitHeight,
    Percent,
    ShrinkOnly,
    Existing
};

// What loading the file writes straight back for a key.
enum class TWriteBack {
    Never,
    Always,          // the value settled on is stored every time
    WhenChanged,     // stored when it differs from the key's default
    WhenKnownFormat, // stored when it is exactly a caption of the format table
};

// One key of the settings file: its name, type, range and default. Integers
// outside Min..Max are pulled into the range, or take the default when
// OutsideIsDefault (a choice between a few numbers).
struct TSettingKey {
    enum Type { Text, Boolean, Integer };
    TSettingId Id;
    QString Name;
    Type Kind;
    int Min = 0;
    int Max = 0;
    bool OutsideIsDefault = false;
    QVariant Default;
    TWriteBack WriteBack = TWriteBack::Never;
};

// Every key, in the order loading reads them and writes some back.
QList<TSettingKey> SettingKeys();
TSettingKey SettingKey(TSettingId id);

// The settings file's name (without ".ini").
QString SettingsFileName();

// The upper bound of the window's workers box; the command line takes more.
constexpr int MaxWindowWorkers = 64;
constexpr int MaxCommandLineWorkers = 256;

// Everything the settings file holds, as the window shows it.
struct TStoredSettings {
    ConversionOptions Options;     // SavePath left empty: that is decided when a job starts
    QString OutputFolder;          // the chosen output folder (no trailing separator)
    bool IntoOutputFolder = false; // the outputs go to OutputFolder, not next to their sources
};

// One key read from the file, pulled into its type and range.
QVariant ReadSetting(TSettingId id);
// Stores one key at once (one write to the file).
void SaveSetting(TSettingId id, const QVariant &value);

// Reads every key; the keys whose rule says so are written straight back,
// one write each, in table order (a first start stores "save" and "format").
TStoredSettings LoadSettings();

// One part of a batch split over several runs: Index of Count, from 1.
struct TShard {
    int Index = 1;
    int Count = 1;
    bool operator==(const TShard &) const = default;
};

// The options of a `--convert` command line (options named "convert",
// "width", "long-edge", "fit", "percent", "shrink-only", "quality", "workers", "keep-tree", "keep-metadata",
// "strip-metadata", "keep-dates", "shard", "existing"), or the usage error that stops
// it. The output folder ("out") is left to the session, which checks and
// makes it.
struct TCommandLineOptions {
    ConversionOptions Options;
    TShard Shard;
    QString Error; // empty when the options are usable
};
TCommandLineOptions OptionsFromCommandLine(const QCommandLineParser &parser);

// The most parts a batch can be split into.
constexpr int MaxShards = 100000;
// "WxH" (or "W*H", "W×H") as two sizes from MinWidth to MaxWidth; nothing
// when it is not.
std::optional<QSize> ParseBox(const QString &text);

// "K/N" as a shard; nothing when it is not one.
std::optional<TShard> ParseShard(const QString &text);

// "JPG, PNG, GIF, WEBP or TIFF": the format table's captions for messages.
QString FormatCaptionsText();
