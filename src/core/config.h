#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

// Accessor of one INI file in the settings folder (SettingsFolder() + name +
// ".ini": beside the executable when that folder can be written, else in the
// user's configuration folder), one section. Nothing is cached: every call
// opens, reads or updates, and closes the file. Reads fall back to their
// default; a write that fails is dropped and reported to the handler set by
// SetConfigWriteFailedHandler. Key and section names match without regard to
// ASCII case.
//
// Values: a text key present with an empty value reads as empty; only a
// missing key (or an unreadable file) gives the default. Surrounding blanks
// and one pair of enclosing quotes are not part of a stored value; a value
// written with surrounding blanks or enclosing quotes is stored in quotes, so
// every value without a line break reads back exactly as written. Integers are
// decimal with an optional sign, or hexadecimal after "$", "0x" or "0X" (a
// 32-bit pattern: "$FFFFFFFF" is -1); any other text reads as the default.
// Booleans are integers, non-zero is true, written "1" or "0".
//
// Files: read as UTF-8 (with or without a byte-order mark) or UTF-16 with a
// byte-order mark; written as UTF-8. A write keeps every other line as it
// stands (other sections, keys, comments, their order and line ends) and
// replaces the file atomically; the file and the section are created when
// missing. Anything but a regular file, and files over IniMaxFileSize, are
// left alone: reads give the default, writes are dropped.
class TConfig
{
  public:
    explicit TConfig(const QString &name, const QString &section = QStringLiteral("Config"));

    int ReadInteger(const QString &name, int defaultValue) const;
    QString ReadString(const QString &name, const QString &defaultValue) const;
    bool ReadBoolean(const QString &name, bool defaultValue) const;
    void WriteInteger(const QString &name, int value);
    void WriteString(const QString &name, const QString &value);
    void WriteBoolean(const QString &name, bool value);

    QString fileName() const { return FIni; }

  private:
    QString FIni;     // path of the INI file
    QString FSection; // section every call uses
};

// Called on the writing thread for every TConfig write that could not be
// stored in the file (file unreadable, folder or file not writable, disk
// full), with the file's path. A value that cannot be stored on one line is
// refused without a call. Replaces the previous handler; empty: none.
using ConfigWriteFailedHandler = std::function<void(const QString &file)>;
void SetConfigWriteFailedHandler(ConfigWriteFailedHandler handler);

// The INI text rules behind TConfig, on a file's bytes (for tests and fuzzing).

inline constexpr qsizetype IniMaxFileSize = 64 * 1024 * 1024;

// The value of key in the first section named section, or nothing when
// either is missing.
std::optional<QString> IniReadValue(const QByteArray &content, const QString &section, const QString &key);

// The file's bytes with key set to value: the key's first line in the
// section replaced, or a line added at the end of the section, or the
// section added at the end of the file. Nothing when the pair cannot be
// stored as one line (a line break in a name or value, an empty name, a key
// starting with '[' or ';', a section name containing ']', names with
// surrounding blanks) or when content is too large.
std::optional<QByteArray> IniWriteValue(const QByteArray &content, const QString &section, const QString &key,
                                        const QString &value);

// The integer rule of ReadInteger; nothing for text that is not an integer
// or lies outside the 32-bit range.
std::optional<int> IniParseInteger(QStringView text);
