// EXIF data for the encoder's JPEG, on hand-made segments and files: the
// segment found in a JPEG, the orientation set to normal in either byte
// order, and the segment put after the JFIF header. EXIF directories added
// to TIFFs the image tool wrote, read back by the image tool.

#include "engine/exif.h"
#include "engine/tiffexif.h"
#include "testutil.h"

#include <QFile>
#include <QProcess>
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

// An APP1 Exif segment with a make ("Canon") and a description ("Cam 1")
// in its first directory, and an EXIF directory with the original date.
QByteArray cameraSegment(bool big)
{
    QByteArray tiff;
    const auto u16 = [&](quint16 v) {
        tiff.append(char(big ? v >> 8 : v & 0xFF));
        tiff.append(char(big ? v & 0xFF : v >> 8));
    };
    const auto u32 = [&](quint32 v) {
        big ? (u16(quint16(v >> 16)), u16(quint16(v))) : (u16(quint16(v)), u16(quint16(v >> 16)));
    };
    constexpr quint32 makeAt = 8 + 2 + 3 * 12 + 4, descriptionAt = makeAt + 6, exifAt = descriptionAt + 6;
    tiff += big ? "MM" : "II";
    u16(42), u32(8), u16(3);
    u16(0x010F), u16(2), u32(6), u32(makeAt);
    u16(0x010E), u16(2), u32(6), u32(descriptionAt);
    u16(0x8769), u16(4), u32(1), u32(exifAt);
    u32(0);
    tiff.append("Canon\0Cam 1\0", 12);
    u16(1);
    u16(0x9003), u16(2), u32(20), u32(exifAt + 2 + 12 + 4);
    u32(0);
    tiff.append("2020:01:02 03:04:05", 20);
    const QByteArray body = QByteArray("Exif\0\0", 6) + tiff;
    return segmentOf(0xE1, body);
}

// Everything the image tool says of a picture.
QString verbose(const QString &path, const QString &format)
{
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(testutil::vendorTool(QStringLiteral("magick")),
               {path, QStringLiteral("-format"), format, QStringLiteral("info:")});
    tool.waitForFinished(-1);
    return QString::fromUtf8(tool.readAll());
}
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
    void tiffDirectories_data();
    void tiffDirectories();
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

void TestExif::tiffDirectories_data()
{
    QTest::addColumn<bool>("exifBig");
    QTest::addColumn<QString>("endian"); // the TIFF's byte order: lsb or msb
    QTest::addColumn<int>("pages");

    QTest::newRow("same byte order") << false << "lsb" << 1;
    QTest::newRow("big-endian EXIF into a little-endian TIFF") << true << "lsb" << 1;
    QTest::newRow("little-endian EXIF into a big-endian TIFF") << false << "msb" << 1;
    QTest::newRow("every page stays") << true << "lsb" << 3;
}

// The camera's make and the EXIF date come through; the TIFF's own
// description stays; every page keeps its pixels.
void TestExif::tiffDirectories()
{
    QFETCH(bool, exifBig);
    QFETCH(QString, endian);
    QFETCH(int, pages);
    const QString why = testutil::imageToolSkipReason();
    if (!why.isEmpty())
        QSKIP(qPrintable(why));
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("pages.tiff"));
    QStringList make{QStringLiteral("-size"), QStringLiteral("6x4")};
    const QStringList colours{QStringLiteral("red"), QStringLiteral("lime"), QStringLiteral("blue")};
    for (int page = 0; page < pages; ++page)
        make << QStringLiteral("xc:") + colours.at(page);
    make << QStringLiteral("-set") << QStringLiteral("comment") << QStringLiteral("Tool")
         << QStringLiteral("-define") << QStringLiteral("tiff:endian=") + endian << path;
    QProcess tool;
    tool.start(testutil::vendorTool(QStringLiteral("magick")), make);
    QVERIFY(tool.waitForFinished(-1));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray tiff = file.readAll();
    file.close();

    const QByteArray with = WithExifDirectories(tiff, cameraSegment(exifBig));
    QVERIFY(!with.isEmpty());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(with);
    file.close();
    QCOMPARE(verbose(path + QStringLiteral("[0]"), QStringLiteral("%[tiff:make]|%[exif:DateTimeOriginal]|"
                                                                  "%[comment]|%[tiff:endian]")),
             QStringLiteral("Canon|2020:01:02 03:04:05|Tool|") + endian);
    const QStringList lines =
        verbose(path, QStringLiteral("%n %[pixel:p{2,2}]\n")).trimmed().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), pages);
    QCOMPARE(lines.last(), QStringLiteral("%1 srgb(%2)").arg(pages).arg(pages == 3 ? "0,0,255" : "255,0,0"));
}

QTEST_GUILESS_MAIN(TestExif)
#include "tst_exif.moc"
