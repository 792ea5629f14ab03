// EXIF data for the encoder's JPEG, on hand-made segments and files: the
// segment found in a JPEG, the orientation set to normal in either byte
// order, and the segment put after the JFIF header.

#include "engine/exif.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Engine;

namespace
{
// An APP1 Exif segment whose first directory holds the given (tag, type,
// value) entries, in big- or little-endian order.
QByteArray exifSegment(bool big, const QList<std::array<quint16, 3>> &entries)
{
    QByteArray tiff;
    const auto u16 = [&](quint16 v) {
        tiff.append(char(big ? v >> 8 : v & 0xFF));
        tiff.append(char(big ? v & 0xFF : v >> 8));
    };
    const auto u32 = [&](quint32 v) {
        big ? (u16(quint16(v >> 16)), u16(quint16(v))) : (u16(quint16(v)), u16(quint16(v >> 16)));
    };
    tiff += big ? "MM" : "II";
    u16(42);
    u32(8);
    u16(quint16(entries.size()));
    for (const auto &[tag, type, value] : entries) {
        u16(tag), u16(type), u32(1), u16(value), u16(0);
    }
    u32(0);
    const QByteArray body = QByteArray("Exif\0\0", 6) + tiff;
    QByteArray segment("\xFF\xE1", 2);
    segment.append(char((body.size() + 2) >> 8));
    segment.append(char((body.size() + 2) & 0xFF));
    return segment + body;
}

// A segment of the given marker and body.
QByteArray segmentOf(quint8 marker, const QByteArray &body)
{
    QByteArray segment("\xFF", 1);
    segment.append(char(marker));
    segment.append(char((body.size() + 2) >> 8));
    segment.append(char((body.size() + 2) & 0xFF));
    return segment + body;
}

const QByteArray start("\xFF\xD8", 2);
const QByteArray jfif = segmentOf(0xE0, QByteArray("JFIF\0\1\1\0\0\1\0\1\0\0", 14));
const QByteArray scan = segmentOf(0xDA, "pixels") + "\xFF\xD9";
const QByteArray xmp = segmentOf(0xE1, "http://ns.adobe.com/xap/1.0/\0<x/>");
} // namespace

class TestExif : public QObject
{
    Q_OBJECT

  private slots:
    void orientationNormal_data();
    void orientationNormal();
    void segmentOfFile_data();
    void segmentOfFile();
    void withSegment_data();
    void withSegment();
};

void TestExif::orientationNormal_data()
{
    QTest::addColumn<QByteArray>("segment");
    QTest::addColumn<QByteArray>("expected");

    const std::array<quint16, 3> date{0x0132, 2, 0};
    QTest::newRow("little-endian") << exifSegment(false, {date, {0x0112, 3, 6}})
                                   << exifSegment(false, {date, {0x0112, 3, 1}});
    QTest::newRow("big-endian") << exifSegment(true, {{0x0112, 3, 8}}) << exifSegment(true, {{0x0112, 3, 1}});
    QTest::newRow("no orientation") << exifSegment(false, {date}) << exifSegment(false, {date});
    QTest::newRow("orientation of another type")
        << exifSegment(true, {{0x0112, 4, 6}}) << exifSegment(true, {{0x0112, 4, 6}});
    const QByteArray cut = exifSegment(false, {date, {0x0112, 3, 6}}).chopped(14);
    QTest::newRow("directory cut short") << cut << cut;
    QByteArray neither = exifSegment(false, {{0x0112, 3, 6}});
    neither[10] = 'X';
    QTest::newRow("no byte order") << neither << neither;
    QTest::newRow("too short") << QByteArray("\xFF\xE1\0\x08", 4) << QByteArray("\xFF\xE1\0\x08", 4);
}

void TestExif::orientationNormal()
{
    QFETCH(QByteArray, segment);
    QFETCH(QByteArray, expected);
    SetOrientationNormal(segment);
    QCOMPARE(segment.toHex(' '), expected.toHex(' '));
}

void TestExif::segmentOfFile_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("segment");

    const QByteArray exif = exifSegment(false, {{0x0112, 3, 6}});
    QTest::newRow("after JFIF") << start + jfif + exif + scan << exif;
    QTest::newRow("after an XMP segment") << start + jfif + xmp + exif + scan << exif;
    QTest::newRow("none") << start + jfif + xmp + scan << QByteArray();
    QTest::newRow("after the scan") << start + jfif + scan + exif << QByteArray();
    QTest::newRow("cut short") << start + jfif + exif.chopped(3) << QByteArray();
    QTest::newRow("not a JPEG") << QByteArray("\x89PNG") + exif << QByteArray();
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void TestExif::segmentOfFile()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, segment);
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("in.jpg"));
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(file);
    out.close();
    QCOMPARE(ExifSegmentOf(path).toHex(' '), segment.toHex(' '));
}

void TestExif::withSegment_data()
{
    QTest::addColumn<QByteArray>("jpeg");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray exif = exifSegment(true, {{0x0112, 3, 1}});
    QTest::newRow("after JFIF") << start + jfif + scan << start + jfif + exif + scan;
    QTest::newRow("no JFIF: after the start") << start + xmp + scan << start + exif + xmp + scan;
}

void TestExif::withSegment()
{
    QFETCH(QByteArray, jpeg);
    QFETCH(QByteArray, expected);
    QCOMPARE(WithSegment(jpeg, exifSegment(true, {{0x0112, 3, 1}})).toHex(' '), expected.toHex(' '));
}

QTEST_APPLESS_MAIN(TestExif)
#include "tst_exif.moc"
