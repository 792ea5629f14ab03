#include "exif.h"

#include <QFile>

namespace Engine
{
namespace
{
quint16 readU16(const QByteArray &bytes, qsizetype at, bool bigEndian)
{
    const auto b0 = static_cast<quint8>(bytes[at]);
    const auto b1 = static_cast<quint8>(bytes[at + 1]);
    return bigEndian ? quint16(b0 << 8 | b1) : quint16(b1 << 8 | b0);
}

quint32 readU32(const QByteArray &bytes, qsizetype at, bool bigEndian)
{
    const quint32 high = readU16(bytes, at, bigEndian);
    const quint32 low = readU16(bytes, at + 2, bigEndian);
    return bigEndian ? (high << 16 | low) : (low << 16 | high);
}
} // namespace

QByteArray ExifSegmentOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    if (file.read(2) != QByteArray("\xFF\xD8", 2))
        return QByteArray();
    for (int segments = 0; segments < 64; ++segments) {
        const QByteArray header = file.read(4);
        if (header.size() < 4 || static_cast<quint8>(header[0]) != 0xFF)
            return QByteArray();
        const auto marker = static_cast<quint8>(header[1]);
        const quint16 length = readU16(header, 2, true);
        if (marker == 0xDA || marker == 0xD9 || length < 2)
            return QByteArray();
        const QByteArray body = file.read(length - 2);
        if (body.size() != length - 2)
            return QByteArray();
        if (marker == 0xE1 && body.startsWith(QByteArray("Exif\0\0", 6)))
            return header + body;
    }
    return QByteArray();
}

void SetOrientationNormal(QByteArray &segment)
{
    constexpr qsizetype tiff = 4 + 6; // marker, length, "Exif\0\0"
    if (segment.size() < tiff + 8)
        return;
    const bool big = segment.mid(tiff, 2) == "MM";
    if (!big && segment.mid(tiff, 2) != "II")
        return;
    const quint32 directory = readU32(segment, tiff + 4, big);
    const qsizetype at = tiff + qsizetype(directory);
    if (directory < 8 || at + 2 > segment.size())
        return;
    const quint16 count = readU16(segment, at, big);
    for (quint16 i = 0; i < count; ++i) {
        const qsizetype entry = at + 2 + qsizetype(i) * 12;
        if (entry + 12 > segment.size())
            return;
        if (readU16(segment, entry, big) == 0x0112 && readU16(segment, entry + 2, big) == 3) {
            segment[entry + 8] = big ? char(0) : char(1);
            segment[entry + 9] = big ? char(1) : char(0);
            return;
        }
    }
}

QByteArray WithSegment(const QByteArray &jpeg, const QByteArray &segment)
{
    qsizetype at = 2;
    if (jpeg.size() > 6 && static_cast<quint8>(jpeg[2]) == 0xFF && static_cast<quint8>(jpeg[3]) == 0xE0)
        at = 4 + readU16(jpeg, 4, true);
    if (at > jpeg.size())
        return jpeg;
    return jpeg.left(at) + segment + jpeg.mid(at);
}

bool CarryExif(const QString &source, const QString &target, QString *reason)
{
    QByteArray exif = ExifSegmentOf(source);
    if (exif.isEmpty())
        return true;
    SetOrientationNormal(exif);
    QFile file(target);
    if (!file.open(QIODevice::ReadWrite)) {
        *reason = QStringLiteral("the JPEG could not be read back");
        return false;
    }
    const QByteArray whole = WithSegment(file.readAll(), exif);
    if (!file.seek(0) || file.write(whole) != whole.size() || !file.flush()) {
        *reason = QStringLiteral("no space left on device");
        return false;
    }
    return true;
}
} // namespace Engine
