// Image type detection: the signature table and its order, the 13-byte
// threshold, the extension stage, and files that cannot be read.

#include "list.h"
#include "testutil.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace
{

enum class Kind { File, Missing, Folder, Fifo, Unreadable };

// 16 bytes: the pattern at its offset, '.' everywhere else ('.' completes no
// earlier row, so each pattern decides on its own).
QByteArray headerWith(int offset, const QByteArray &pattern)
{
    QByteArray bytes(16, '.');
    bytes.replace(offset, pattern.size(), pattern);
    return bytes;
}

#ifdef Q_OS_UNIX
// The type detect_type prints for path when run as the user nobody (uid and
// gid 65534, no groups), who can pass through folder but owns nothing in it.
// Empty with why set when this system cannot run it so.
QString detectAsNobody(const QString &folder, const QString &path, QString *why)
{
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (setpriv.isEmpty()) {
        *why = QStringLiteral("no setpriv to run as another user");
        return QString();
    }
    // A copy the other user can reach, in a folder it can pass through.
    const QString helper = folder + QStringLiteral("/detect_type");
    if (!QFile::copy(testutil::binFolder() + QStringLiteral("detect_type"), helper) ||
        !QFile::setPermissions(folder, QFile::permissions(folder) | QFileDevice::ExeOther) ||
        !QFile::setPermissions(helper,
                               QFile::permissions(helper) | QFileDevice::ReadOther | QFileDevice::ExeOther)) {
        *why = QStringLiteral("cannot make the helper reachable for another user");
        return QString();
    }
    QProcess child;
    child.start(setpriv, {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                          QStringLiteral("--clear-groups"), helper, path});
    if (!child.waitForFinished(30000) || child.exitCode() != 0) {
        *why = QStringLiteral("cannot run as the user nobody: ") +
               QString::fromLocal8Bit(child.readAllStandardError());
        return QString();
    }
    return QString::fromUtf8(child.readAllStandardOutput()).trimmed();
}
#endif

} // namespace

Q_DECLARE_METATYPE(Kind)

namespace
{

// Every signature row, in table order, in a file whose extension is not
// supported: the bytes alone decide.
void addSignatureRows()
{
    const struct {
        int offset;
        const char *hex;
        const char *type;
    } rows[] = {
        {0, "FFD8FF", "JPG"},           {0, "424D", "BMP"},      {0, "47494638", "GIF"},
        {8, "57454250", "WEBP"},        {0, "492049", "TIFF"},   {0, "49492A00", "TIFF"},
        {0, "4D4D002A", "TIFF"},        {0, "4D4D002B", "TIFF"}, {0, "38425053", "PSD"},
        {0, "49495500", "RAW"},         {0, "25504446", "PDF"},  {0, "89504E470D0A1A0A", "PNG"},
        {4, "6674797068656963", "RAW"}, {0, "233F5241", "HDR"},  {0, "55484452", "UltraHDR"},
        {0, "25215053", "EPS"},         {0, "00000100", "ICO"},  {0, "D7CDC69A", "WMF"},
        {0, "59A66A95", "RAS"},         {0, "4949BC", "JXR"},    {0, "6A502020", "JP2"},
        {0, "0000000C", "JPEG2000"},    {0, "464C4946", "FLIF"}, {0, "537072697465", "SPRITE"},
        {0, "767277616C", "VICAR"},     {0, "4F524341", "ORF"},  {0, "46585456", "FTV"},
        {0, "414149", "AAI"},           {0, "415254", "ART"},    {0, "43696E65", "CIN"},
        {0, "444358", "DCX"},           {0, "444453", "DDS"},    {0, "494955", "IIQ"},
        {0, "4A424947", "JBIG"},        {0, "4A4E47", "JNG"},    {0, "504358", "PCX"},
        {0, "504943", "PICT"},          {0, "56494646", "VIFF"}, {0, "58465456", "XCF"},
        {0, "59555659", "YUV"},
    };
    int order = 0;
    for (const auto &row : rows) {
        ++order;
        QTest::addRow("row %d %s", order, row.type)
            << Kind::File << "x.bin" << headerWith(row.offset, QByteArray::fromHex(row.hex))
            << QString::fromLatin1(row.type);
    }
}

} // namespace

class TestDetect : public QObject
{
    Q_OBJECT

  private slots:
    void supportedExtensions();
    void detect_data();
    void detect();
    void headerSizes_data();
    void headerSizes();
    void noFileLeftOpen();
};

void TestDetect::supportedExtensions()
{
    const QStringList expected{"AI",  "JPG", "PNG", "GIF",  "BMP",  "RAW", "PSD",
                               "PDF", "SVG", "TGA", "JPEG", "WEBP", "HEIC"};
    QCOMPARE(SupportedExtensions(), expected);
}

void TestDetect::detect_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("expected");

    addSignatureRows();

    const QByteArray png = QByteArray::fromHex("89504E470D0A1A0A0000000D49484452");
    const QByteArray jpeg12 = QByteArray::fromHex("FFD8FFE000104A4649460001");
    const QByteArray pdf = QByteArray("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
    const QByteArray plain = QByteArray("just some text, no signature\n");

    // Order decides between overlapping rows.
    QTest::newRow("IIU + zero is RAW") << Kind::File << "a.bin" << QByteArray("IIU\0rest-of-it", 14) << "RAW";
    QTest::newRow("IIU + other is IIQ") << Kind::File << "a.bin" << QByteArray("IIU*rest-of-it") << "IIQ";
    QTest::newRow("II + BC is JXR") << Kind::File << "a.bin" << QByteArray("II\xBC\x01rest-of-it") << "JXR";
    QTest::newRow("8BPS any tail") << Kind::File << "a.bin"
                                   << QByteArray("8BPS\xFF\xD8\xFF\x00\x01\x02\x03\x04\x05", 13) << "PSD";

    // The 13-byte threshold: a 12-byte file is judged by its name alone.
    QTest::newRow("12 bytes JPEG named png") << Kind::File << "a.png" << jpeg12 << "PNG";
    QTest::newRow("12 bytes JPEG named bin") << Kind::File << "a.bin" << jpeg12 << "";
    QTest::newRow("13 bytes JPEG named png") << Kind::File << "a.png" << jpeg12 + 'x' << "JPG";
    QTest::newRow("empty file named bmp") << Kind::File << "e.bmp" << QByteArray() << "BMP";

    // A signature wins over the extension, except PDF named .ai.
    QTest::newRow("PNG named jpg") << Kind::File << "photo.jpg" << png << "PNG";
    QTest::newRow("PDF named ai") << Kind::File << "drawing.ai" << pdf << "AI";
    QTest::newRow("PDF named AI") << Kind::File << "drawing.AI" << pdf << "AI";
    QTest::newRow("PDF named aI") << Kind::File << "drawing.aI" << pdf << "AI";
    QTest::newRow("PDF named pdf") << Kind::File << "drawing.pdf" << pdf << "PDF";
    QTest::newRow("PDF named ai.pdf") << Kind::File << "drawing.ai.pdf" << pdf << "PDF";
    QTest::newRow("PS named ai") << Kind::File << "drawing.ai" << QByteArray("%!PS-Adobe-3.0\n") << "EPS";

    // HEIF: the "heic" brand has a row in the signature table, and it says
    // RAW; the other brands of the container are HEIC or AVIF by themselves.
    const auto ftyp = [](const char *brand) {
        return QByteArray("\0\0\0\x18"
                          "ftyp",
                          8) +
               QByteArray(brand) + QByteArray("\0\0\0\0", 4);
    };
    QTest::newRow("ftypheic named heic") << Kind::File << "x.heic" << ftyp("heic") << "RAW";
    QTest::newRow("ftypmif1 named heic") << Kind::File << "x.heic" << ftyp("mif1") << "HEIC";
    QTest::newRow("ftypmif1 named bin") << Kind::File << "x.bin" << ftyp("mif1") << "HEIC";
    QTest::newRow("ftypheix named bin") << Kind::File << "x.bin" << ftyp("heix") << "HEIC";
    QTest::newRow("ftypmsf1 named jpg") << Kind::File << "x.jpg" << ftyp("msf1") << "HEIC";
    QTest::newRow("ftypavif named bin") << Kind::File << "x.bin" << ftyp("avif") << "AVIF";
    QTest::newRow("ftypavis named heic") << Kind::File << "x.heic" << ftyp("avis") << "AVIF";
    QTest::newRow("ftyp of a video") << Kind::File << "x.bin" << ftyp("isom") << "";
    QTest::newRow("avif by its name")
        << Kind::File << "x.Avif" << QByteArray("plain text, no sign") << "AVIF";
    QTest::newRow("WEBP at 8 only") << Kind::File << "x.bin" << QByteArray("abcdefghWEBPVP8 ") << "WEBP";
    QTest::newRow("WEBP at 0 is nothing") << Kind::File << "x.bin" << QByteArray("WEBPabcdefghijkl") << "";

    // The extension stage.
    QTest::newRow("jpeg keeps its name") << Kind::File << "x.jpeg" << plain << "JPEG";
    QTest::newRow("Svg any case") << Kind::File << "x.Svg" << plain << "SVG";
    QTest::newRow("ai without PDF") << Kind::File << "x.ai" << plain << "AI";
    QTest::newRow("tga") << Kind::File << "x.tga" << plain << "TGA";
    QTest::newRow("svgz unsupported") << Kind::File << "x.svgz" << plain << "";
    QTest::newRow("tif unsupported") << Kind::File << "x.tif" << plain << "";
    QTest::newRow("no extension") << Kind::File << "x" << plain << "";
    QTest::newRow("trailing dot") << Kind::File << "x.png." << plain << "";
    QTest::newRow("only a dot") << Kind::File << ".png" << plain << "PNG";
    QTest::newRow("non-ASCII letter not upper-cased") << Kind::File << "x.g\u0131f" << plain << "";
    QTest::newRow("dotted folder, no extension") << Kind::File << "some.png/readme" << plain << "";
    QTest::newRow("dotted folder, signature") << Kind::File << "some.dir/readme" << png << "PNG";
#ifndef Q_OS_WIN
    QTest::newRow("backslash is a name character") << Kind::File << "a.png\\b" << plain << "";
    QTest::newRow("backslash before the dot") << Kind::File << "a\\b.gif" << plain << "GIF";
#endif

    // Files that cannot be read are judged by their name.
    QTest::newRow("missing png") << Kind::Missing << "nofile.png" << QByteArray() << "PNG";
    QTest::newRow("missing bin") << Kind::Missing << "nofile.bin" << QByteArray() << "";
    QTest::newRow("folder named png") << Kind::Folder << "pics.png" << QByteArray() << "PNG";
    QTest::newRow("named pipe") << Kind::Fifo << "pipe.jpg" << QByteArray() << "JPG";
    QTest::newRow("unreadable PNG named gif") << Kind::Unreadable << "locked.gif" << png << "GIF";
}

void TestDetect::detect()
{
    QFETCH(Kind, kind);
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(name);
    QDir().mkpath(QFileInfo(path).path());

    switch (kind) {
    case Kind::File:
    case Kind::Unreadable: {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(content), content.size());
        file.close();
        if (kind == Kind::Unreadable) {
#ifdef Q_OS_UNIX
            QVERIFY(file.setPermissions(QFileDevice::WriteOwner));
            // Permissions do not stop root from reading: ask as nobody.
            if (::geteuid() == 0) {
                QString why;
                const QString type = detectAsNobody(dir.path(), path, &why);
                if (!why.isEmpty())
                    QSKIP(qPrintable(why));
                QCOMPARE(type, expected);
                return;
            }
#else
            QSKIP("permission bits are only a read-only attribute here, which does not stop reading");
#endif
        }
        break;
    }
    case Kind::Missing:
        break;
    case Kind::Folder:
        QVERIFY(QDir().mkpath(path));
        break;
    case Kind::Fifo:
#ifdef Q_OS_UNIX
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
#else
        QSKIP("no named pipes in the file system here");
#endif
        break;
    }

    QCOMPARE(DetectImageType(path), expected);
}

// The decision on an already read header: only exactly 12 bytes are taken as
// a header; anything else leaves the name to decide.
void TestDetect::headerSizes_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QString>("expected");
    const QByteArray png = QByteArray::fromHex("89504E470D0A1A0A0000000D");
    QTest::newRow("12 bytes") << png << "PNG";
    QTest::newRow("11 bytes") << png.left(11) << "GIF";
    QTest::newRow("13 bytes") << png + 'x' << "GIF";
    QTest::newRow("none") << QByteArray() << "GIF";
}

void TestDetect::headerSizes()
{
    QFETCH(QByteArray, header);
    QFETCH(QString, expected);
    QCOMPARE(DetectImageTypeFromHeader(header, QStringLiteral("/tmp/x.gif")), expected);
}

// Whatever happens while reading, no file stays open.
void TestDetect::noFileLeftOpen()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile file(dir.filePath("big.png"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'x'));
    file.close();
    QVERIFY(QDir(dir.path()).mkdir("sub.jpg"));
    QStringList names{"big.png", "sub.jpg"};
#ifdef Q_OS_UNIX
    QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath("pipe.gif")).constData(), 0600), 0);
    names << "pipe.gif";
#endif
    // The check sees a file that is open.
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(testutil::heldOpen(file.fileName()));
    file.close();

    for (int i = 0; i < 50; ++i) {
        for (const QString &name : std::as_const(names))
            DetectImageType(dir.filePath(name));
        DetectImageType(dir.filePath("missing.png"));
    }
    for (const QString &name : std::as_const(names))
        QVERIFY2(!testutil::heldOpen(dir.filePath(name)), qPrintable(name));
}

QTEST_GUILESS_MAIN(TestDetect)
#include "tst_detect.moc"
