#include "tiffexif.h"

#include "exif.h"

#include <QFile>
#include <QList>

#include <algorithm>

namespace Engine
{
namespace
{
constexpr quint16 exifPointer = 0x8769;
constexpr quint16 gpsPointer = 0x8825;
constexpr quint16 interopPointer = 0xA005;

// One directory entry, its value in the byte order it will be written in.
struct TEntry {
    quint16 Tag = 0;
    quint16 Type = 0;
    quint32 Count = 0;
    QByteArray Value;
};

// The size of one value of a TIFF field type, and of the unit turned when
// the byte order changes (a rational is two longs); 0 for an unknown type.
int typeSize(quint16 type)
{
    static const int sizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    return type < std::size(sizes) ? sizes[type] : 0;
}

int unitSize(quint16 type)
{
    return type == 5 || type == 10 ? 4 : typeSize(type);
}

// Reads numbers of a TIFF structure that starts at Base in Data.
struct TReader {
    const QByteArray &Data;
    qsizetype Base = 0;
    bool Big = false;
    bool Ok = true;

    quint32 Read(qsizetype at, int size)
    {
        if (at < 0 || at + size > Data.size()) {
            Ok = false;
            return 0;
        }
        quint32 value = 0;
        for (int i = 0; i < size; ++i) {
            const auto byte = quint32(static_cast<quint8>(Data[at + (Big ? i : size - 1 - i)]));
            value = value << 8 | byte;
        }
        return value;
    }
    quint16 U16(qsizetype offset) { return quint16(Read(Base + offset, 2)); }
    quint32 U32(qsizetype offset) { return Read(Base + offset, 4); }
};

// The entries of the directory at offset; next: the offset of the one after.
bool readDirectory(TReader &reader, quint32 offset, bool targetBig, QList<TEntry> &entries, quint32 *next)
{
    const quint16 count = reader.U16(offset);
    if (!reader.Ok || count > 1000)
        return false;
    for (quint16 i = 0; i < count; ++i) {
        const qsizetype at = qsizetype(offset) + 2 + qsizetype(i) * 12;
        TEntry entry{reader.U16(at), reader.U16(at + 2), reader.U32(at + 4), QByteArray()};
        const qint64 size = qint64(typeSize(entry.Type)) * entry.Count;
        if (!reader.Ok || size <= 0 || size > (1 << 20))
            continue; // an unknown type or a broken entry is left out
        const qsizetype from = reader.Base + (size <= 4 ? at + 8 : qsizetype(reader.U32(at + 8)));
        if (!reader.Ok || from + size > reader.Data.size())
            return false;
        entry.Value = reader.Data.mid(from, size);
        const int unit = unitSize(entry.Type);
        for (qsizetype u = 0; reader.Big != targetBig && unit > 1 && u < entry.Value.size(); u += unit)
            std::reverse(entry.Value.begin() + u, entry.Value.begin() + u + unit);
        entries << entry;
    }
    if (next)
        *next = reader.U32(qsizetype(offset) + 2 + qsizetype(count) * 12);
    return reader.Ok;
}

void append(QByteArray &bytes, quint32 value, int size, bool big)
{
    for (int i = 0; i < size; ++i)
        bytes.append(char(value >> (8 * (big ? size - 1 - i : i)) & 0xFF));
}

// The directory entries placed at file offset at (even), followed by their
// longer values, with next as the offset of the directory after it.
QByteArray writeDirectory(QList<TEntry> entries, quint32 at, bool big, quint32 next)
{
    std::sort(entries.begin(), entries.end(), [](const TEntry &a, const TEntry &b) { return a.Tag < b.Tag; });
    QByteArray head, values;
    const quint32 valuesAt = at + 2 + 12 * quint32(entries.size()) + 4;
    append(head, quint32(entries.size()), 2, big);
    for (const TEntry &entry : entries) {
        append(head, entry.Tag, 2, big);
        append(head, entry.Type, 2, big);
        append(head, entry.Count, 4, big);
        if (entry.Value.size() <= 4) {
            head += entry.Value + QByteArray(4 - entry.Value.size(), '\0');
            continue;
        }
        append(head, valuesAt + quint32(values.size()), 4, big);
        values += entry.Value;
        if (values.size() % 2)
            values.append('\0');
    }
    append(head, next, 4, big);
    return head + values;
}

TEntry pointer(quint16 tag, quint32 offset, bool big)
{
    TEntry entry{tag, 4, 1, QByteArray()};
    append(entry.Value, offset, 4, big);
    return entry;
}

// The sub-directory a pointer entry of entries leads to, read into sub.
bool readSub(TReader &reader, const QList<TEntry> &entries, quint16 tag, bool targetBig, QList<TEntry> &sub)
{
    for (const TEntry &entry : entries)
        if (entry.Tag == tag && entry.Value.size() == 4) {
            TReader value{entry.Value, 0, targetBig};
            return readDirectory(reader, value.U32(0), targetBig, sub, nullptr);
        }
    return true;
}
} // namespace

QByteArray WithExifDirectories(const QByteArray &tiff, const QByteArray &segment)
{
    constexpr qsizetype exifStart = 4 + 6; // marker, length, "Exif\0\0"
    const bool big = tiff.startsWith("MM\0*");
    const bool exifBig = segment.mid(exifStart, 2) == "MM";
    if (!big && !tiff.startsWith(QByteArray("II*\0", 4)))
        return QByteArray();
    TReader target{tiff, 0, big};
    TReader source{segment, exifStart, exifBig};
    QList<TEntry> first, camera, exif, gps;
    quint32 next = 0;
    if (!readDirectory(target, target.U32(4), big, first, &next) ||
        !readDirectory(source, source.U32(4), big, camera, nullptr) ||
        !readSub(source, camera, exifPointer, big, exif) || !readSub(source, camera, gpsPointer, big, gps))
        return QByteArray();
    exif.removeIf([](const TEntry &entry) { return entry.Tag == interopPointer; });
    if (exif.isEmpty() && gps.isEmpty() && camera.isEmpty())
        return tiff;
    static const QList<quint16> cameraTags{0x010E, 0x010F, 0x0110, 0x0131, 0x0132, 0x013B, 0x8298};
    for (const TEntry &entry : camera)
        if (cameraTags.contains(entry.Tag) &&
            std::none_of(first.begin(), first.end(), [&](const TEntry &own) { return own.Tag == entry.Tag; }))
            first << entry;
    QByteArray whole = tiff;
    if (whole.size() % 2)
        whole.append('\0');
    const auto place = [&](quint16 tag, const QList<TEntry> &entries) {
        if (entries.isEmpty())
            return;
        first.removeIf([tag](const TEntry &entry) { return entry.Tag == tag; });
        first << pointer(tag, quint32(whole.size()), big);
        whole += writeDirectory(entries, quint32(whole.size()), big, 0);
    };
    place(exifPointer, exif);
    place(gpsPointer, gps);
    const quint32 firstAt = quint32(whole.size());
    whole += writeDirectory(first, firstAt, big, next);
    QByteArray header;
    append(header, firstAt, 4, big);
    whole.replace(4, 4, header);
    return whole;
}

bool CarryExifIntoTiff(const QString &source, const QString &target, QString *reason)
{
    const QByteArray exif = ExifSegmentOf(source);
    if (exif.isEmpty())
        return true;
    QFile file(target);
    if (!file.open(QIODevice::ReadWrite)) {
        *reason = QStringLiteral("the TIFF could not be read back");
        return false;
    }
    const QByteArray whole = WithExifDirectories(file.readAll(), exif);
    // A TIFF or EXIF data this cannot read is left as the image tool wrote it.
    if (whole.isEmpty())
        return true;
    if (!file.seek(0) || file.write(whole) != whole.size() || !file.flush()) {
        *reason = QStringLiteral("no space left on device");
        return false;
    }
    return true;
}
} // namespace Engine
