#include "config.h"

#include "common.h"
#include "platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QMutex>
#include <QSaveFile>
#include <QStringDecoder>

#include <cstring>

namespace
{

// ---- Bytes and lines -------------------------------------------------------

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

QByteArrayView trimmed(QByteArrayView v)
{
    qsizetype b = 0;
    qsizetype e = v.size();
    while (b < e && isBlank(v[b]))
        ++b;
    while (e > b && isBlank(v[e - 1]))
        --e;
    return v.sliced(b, e - b);
}

qsizetype indexOf(QByteArrayView v, char c)
{
    if (v.isEmpty())
        return -1;
    const void *p = std::memchr(v.data(), c, size_t(v.size()));
    return p ? static_cast<const char *>(p) - v.data() : -1;
}

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

// Names compare byte for byte in UTF-8, ignoring the case of ASCII letters.
bool sameName(QByteArrayView a, QByteArrayView b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    }
    return true;
}

// The file's text as UTF-8 (body) and the byte-order mark to write back in
// front of it. UTF-16 files become UTF-8 without a mark.
struct Body {
    QByteArray bom;
    QByteArray text;
};

Body decodeFile(const QByteArray &content)
{
    Body body;
    const bool le = content.startsWith("\xFF\xFE");
    const bool be = content.startsWith("\xFE\xFF");
    if (le || be) {
        QStringDecoder decoder(le ? QStringConverter::Utf16LE : QStringConverter::Utf16BE,
                               QStringConverter::Flag::Stateless);
        const QString text = decoder.decode(QByteArrayView(content).sliced(2));
        body.text = text.toUtf8();
    } else if (content.startsWith("\xEF\xBB\xBF")) {
        body.bom = content.left(3);
        body.text = content.sliced(3);
    } else {
        body.text = content;
    }
    return body;
}

struct Line {
    qsizetype begin;      // first byte
    qsizetype contentEnd; // end of the text, before CR LF / LF
    qsizetype end;        // after the line end
};

QList<Line> splitLines(QByteArrayView text)
{
    QList<Line> lines;
    qsizetype pos = 0;
    while (pos < text.size()) {
        const qsizetype nl = indexOf(text.sliced(pos), '\n');
        Line line{pos, text.size(), text.size()};
        if (nl >= 0) {
            line.end = pos + nl + 1;
            line.contentEnd = pos + nl;
            if (line.contentEnd > pos && text[line.contentEnd - 1] == '\r')
                --line.contentEnd;
        }
        lines.append(line);
        pos = line.end;
    }
    return lines;
}

enum class Kind { Other, Section, Key };

struct Parsed {
    Kind kind = Kind::Other;
    QByteArrayView name;
    QByteArrayView value;
};

// "[name]" opens a section (a missing ']' ends the name at the line's end);
// "name=value" is a key; blank lines, ';' comments and anything else are
// kept but never match.
Parsed parseLine(QByteArrayView content)
{
    Parsed parsed;
    const QByteArrayView t = trimmed(content);
    if (t.isEmpty() || t[0] == ';')
        return parsed;
    if (t[0] == '[') {
        const qsizetype close = indexOf(t, ']');
        parsed.kind = Kind::Section;
        parsed.name = trimmed(t.sliced(1, (close < 0 ? t.size() : close) - 1));
        return parsed;
    }
    const qsizetype eq = indexOf(t, '=');
    if (eq < 0)
        return parsed;
    parsed.kind = Kind::Key;
    parsed.name = trimmed(t.first(eq));
    parsed.value = trimmed(t.sliced(eq + 1));
    return parsed;
}

QByteArrayView unquoted(QByteArrayView value)
{
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
        return value.sliced(1, value.size() - 2);
    return value;
}

// Where a key sits: the section's header line (-1: no section), the key's
// line (-1: no key), and the line after which a new key goes.
struct Location {
    qsizetype section = -1;
    qsizetype key = -1;
    qsizetype lastFilled = -1;
    Parsed keyLine;
};

Location locate(QByteArrayView text, const QList<Line> &lines, QByteArrayView section, QByteArrayView key)
{
    Location loc;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArrayView content = text.sliced(lines[i].begin, lines[i].contentEnd - lines[i].begin);
        const Parsed parsed = parseLine(content);
        if (loc.section < 0) {
            if (parsed.kind == Kind::Section && sameName(parsed.name, section)) {
                loc.section = i;
                loc.lastFilled = i;
            }
            continue;
        }
        if (parsed.kind == Kind::Section)
            break;
        if (!trimmed(content).isEmpty())
            loc.lastFilled = i;
        if (parsed.kind == Kind::Key && sameName(parsed.name, key)) {
            loc.key = i;
            loc.keyLine = parsed;
            break;
        }
    }
    return loc;
}

bool hasLineBreak(const QString &s)
{
    return s.contains(QLatin1Char('\n')) || s.contains(QLatin1Char('\r'));
}

bool isTrimmedName(const QString &s)
{
    return !s.isEmpty() && s == s.trimmed() && !hasLineBreak(s);
}

// ---- The file --------------------------------------------------------------

using ReadStatus = FileReadStatus;

// Reads a whole regular file of at most IniMaxFileSize bytes. A named pipe,
// a folder or a device is never read (and never blocks the caller).
ReadStatus readFile(const QString &path, QByteArray &content)
{
    return ReadRegularFile(path, IniMaxFileSize, content);
}

std::optional<QString> readValue(const QString &path, const QString &section, const QString &key)
{
    QByteArray content;
    if (readFile(path, content) != ReadStatus::Ok)
        return std::nullopt;
    return IniReadValue(content, section, key);
}

QMutex failedHandlerMutex;
ConfigWriteFailedHandler failedHandler;

void reportWriteFailed(const QString &path)
{
    ConfigWriteFailedHandler handler;
    {
        QMutexLocker lock(&failedHandlerMutex);
        handler = failedHandler;
    }
    if (handler)
        handler(path);
}

// False when the value should have been stored but could not be.
bool writeValue(const QString &path, const QString &section, const QString &key, const QString &value)
{
    QByteArray content;
    const ReadStatus status = readFile(path, content);
    // A file that exists but cannot be read is never overwritten.
    if (status == ReadStatus::Unreadable)
        return false;
    const std::optional<QByteArray> updated = IniWriteValue(content, section, key, value);
    if (!updated || (status == ReadStatus::Ok && *updated == content))
        return true;
    // The user's configuration folder may not exist yet.
    if (status == ReadStatus::Missing)
        QDir().mkpath(QFileInfo(path).absolutePath());
    // Written beside and renamed over the old file, so an interrupted write
    // leaves the old file whole. No in-place fallback: that would lose this.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(*updated) != updated->size())
        return false;
    return file.commit();
}

void writeOrReport(const QString &path, const QString &section, const QString &key, const QString &value)
{
    if (!writeValue(path, section, key, value))
        reportWriteFailed(path);
}

} // namespace

std::optional<QString> IniReadValue(const QByteArray &content, const QString &section, const QString &key)
{
    if (section.isEmpty() || key.isEmpty() || content.size() > IniMaxFileSize)
        return std::nullopt;
    const Body body = decodeFile(content);
    const QList<Line> lines = splitLines(body.text);
    const Location loc = locate(body.text, lines, section.toUtf8(), key.toUtf8());
    if (loc.key < 0)
        return std::nullopt;
    return QString::fromUtf8(unquoted(loc.keyLine.value));
}

std::optional<QByteArray> IniWriteValue(const QByteArray &content, const QString &section, const QString &key,
                                        const QString &value)
{
    if (!isTrimmedName(section) || section.contains(QLatin1Char(']')) || !isTrimmedName(key) ||
        key.contains(QLatin1Char('=')) || key.startsWith(QLatin1Char('[')) ||
        key.startsWith(QLatin1Char(';')) || hasLineBreak(value) || content.size() > IniMaxFileSize)
        return std::nullopt;

    const Body body = decodeFile(content);
    const QByteArrayView text(body.text);
    const QList<Line> lines = splitLines(text);
    const QByteArray keyUtf8 = key.toUtf8();
    const Location loc = locate(text, lines, section.toUtf8(), keyUtf8);

    // New lines follow the file's own line ends.
    QByteArray nl;
    if (text.contains("\r\n"))
        nl = "\r\n";
    else if (text.contains('\n'))
        nl = "\n";
    else
        nl = NativeLineBreak();
    // The reader trims blanks and removes one pair of enclosing quotes, so
    // such a value is stored in quotes to read back as written.
    QByteArray stored = value.toUtf8();
    if (!stored.isEmpty() &&
        (isBlank(stored.front()) || isBlank(stored.back()) || unquoted(stored).size() != stored.size()))
        stored = '"' + stored + '"';
    const QByteArray entry = keyUtf8 + '=' + stored;

    QByteArray out = body.bom;
    out.reserve(body.bom.size() + text.size() + entry.size() + section.size() + 16);
    if (loc.key >= 0) {
        const Line &line = lines[loc.key];
        out += text.first(line.begin);
        out += entry;
        out += text.sliced(line.contentEnd);
    } else if (loc.section >= 0) {
        const Line &after = lines[loc.lastFilled];
        out += text.first(after.end);
        if (after.contentEnd == after.end)
            out += nl;
        out += entry;
        out += nl;
        out += text.sliced(after.end);
    } else {
        out += text;
        if (!lines.isEmpty()) {
            const Line &last = lines.back();
            if (last.contentEnd == last.end)
                out += nl;
            if (!trimmed(text.sliced(last.begin, last.contentEnd - last.begin)).isEmpty())
                out += nl;
        }
        out += '[' + section.toUtf8() + ']' + nl + entry + nl;
    }
    return out;
}

std::optional<int> IniParseInteger(QStringView text)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    int base = 10;
    if (text.sliced(i).startsWith(QLatin1Char('$'))) {
        base = 16;
        i += 1;
    } else if (text.sliced(i).startsWith(QLatin1String("0x")) ||
               text.sliced(i).startsWith(QLatin1String("0X"))) {
        base = 16;
        i += 2;
    }
    if (i == text.size())
        return std::nullopt;

    // Decimal must fit an int; hexadecimal is a 32-bit pattern.
    const quint64 limit = base == 16 ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
    quint64 magnitude = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        int digit;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        else
            return std::nullopt;
        magnitude = magnitude * quint64(base) + quint64(digit);
        if (magnitude > limit)
            return std::nullopt;
    }
    const quint32 bits = negative ? quint32(0u - quint32(magnitude)) : quint32(magnitude);
    return int(qint32(bits));
}

TConfig::TConfig(const QString &name, const QString &section)
    : FIni(SettingsFolder() + name + QStringLiteral(".ini")), FSection(section)
{
}

int TConfig::ReadInteger(const QString &name, int defaultValue) const
{
    const std::optional<QString> text = readValue(FIni, FSection, name);
    if (!text)
        return defaultValue;
    return IniParseInteger(*text).value_or(defaultValue);
}

QString TConfig::ReadString(const QString &name, const QString &defaultValue) const
{
    return readValue(FIni, FSection, name).value_or(defaultValue);
}

bool TConfig::ReadBoolean(const QString &name, bool defaultValue) const
{
    return ReadInteger(name, defaultValue ? 1 : 0) != 0;
}

void TConfig::WriteInteger(const QString &name, int value)
{
    writeOrReport(FIni, FSection, name, QString::number(value));
}

void TConfig::WriteString(const QString &name, const QString &value)
{
    writeOrReport(FIni, FSection, name, value);
}

void TConfig::WriteBoolean(const QString &name, bool value)
{
    writeOrReport(FIni, FSection, name, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void SetConfigWriteFailedHandler(ConfigWriteFailedHandler handler)
{
    QMutexLocker lock(&failedHandlerMutex);
    failedHandler = std::move(handler);
}
