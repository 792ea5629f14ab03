// The conversion pipelines, run against the real image tool, JPEG encoder and
// PostScript interpreter on fixtures made here.

#include "common.h"
#include "conversion.h"
#include "job.h"
#include "scratch.h"
#include "testutil.h"
#include "tools.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <atomic>
#include <thread>

namespace
{

using testutil::vendorTool;

// Runs a real tool directly (not through the code under test).
QString runTool(const QString &name, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(vendorTool(name), arguments);
    // A start that fails (seen now and then under wine) would look like a
    // clean run that printed nothing: it is tried once more, then told.
    if (!process.waitForStarted(60000)) {
        process.start(vendorTool(name), arguments);
        if (!process.waitForStarted(60000))
            return QStringLiteral("(%1 did not start: %2)").arg(name, process.errorString());
    }
    process.waitForFinished(-1);
    const QString printed = testutil::unixLines(process.readAll());
    // A tool that did not run cleanly shows why in the comparison that fails.
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0 ||
        process.error() != QProcess::UnknownError)
        return QStringLiteral("(%1: %2, exit code %3) %4")
            .arg(name, process.errorString())
            .arg(process.exitCode())
            .arg(printed);
    return printed;
}

// "%w", "%h", "%Q" (JPEG quality) or "%n" (frames) of an image's first frame.
QString imageProperty(const QString &path, const QString &format)
{
    return runTool(QStringLiteral("magick"),
                   {path, QStringLiteral("-format"), format + QLatin1Char('\n'), QStringLiteral("info:")})
        .section(QLatin1Char('\n'), 0, 0);
}

QByteArray head(const QString &path, int size)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(size) : QByteArray();
}

QByteArray digest(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

QString cacheFolder()
{
    return GetSpecialFolder(CSIDL_INTERNET_CACHE);
}

using testutil::writeFile;

// A small photo-like picture: a gradient with a few shapes.
bool writePng(const QString &path, int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x * 255 / width, y * 255 / height, (x + y) % 256));
    QPainter painter(&image);
    painter.setBrush(Qt::yellow);
    painter.drawEllipse(width / 4, height / 4, width / 2, height / 2);
    painter.end();
    return image.save(path, "PNG");
}

// A PDF of the given number of Letter pages, made by the interpreter from
// PostScript.
bool writePdf(const QString &path, int pages, bool colour = true)
{
    const QString ps = path + QStringLiteral(".ps");
    const QByteArray program =
        "%!PS\n<< /PageSize [612 792] >> setpagedevice\n"
        "/Helvetica findfont 48 scalefont setfont\n1 1 " +
        QByteArray::number(pages) +
        (colour ? " { /n exch def 0 0 1 setrgbcolor 72 72 468 648 rectfill\n"
                  "1 setgray 100 400 moveto (Page ) show n 3 string cvs show showpage } for\n"
                : " { /n exch def 0 setgray 100 400 moveto (Page ) show n 3 string cvs show "
                  "showpage } for\n");
    if (!writeFile(ps, program))
        return false;
    const bool made = testutil::psToPdf(ps, path);
    QFile::remove(ps);
    return made;
}

ConversionOptions optionsFor(const QString &format, bool useWidth = false, int width = 300, int quality = 80)
{
    ConversionOptions options;
    options.SaveFormat = format;
    options.UseWidth = useWidth;
    options.Width = width;
    options.Quality = quality;
    return options;
}

// An image property of any file, read through a plain-named link so that the
// tool never interprets the name.
QString propertyOf(const QString &path, const QString &format)
{
    QTemporaryDir probe;
    const QString extension = QFileInfo(path).suffix();
    const QString link = probe.path() + QStringLiteral("/probe.") +
                         (QRegularExpression(QStringLiteral("^[A-Za-z0-9]+$")).match(extension).hasMatch()
                              ? extension
                              : QStringLiteral("img"));
    if (!MakeReadEntry(QFileInfo(path).absoluteFilePath(), link))
        return QString();
    return imageProperty(link, format);
}

// 'R' when the picture's centre is red, 'B' when blue, '?' otherwise.
char centreColour(const QString &path)
{
    const QStringList rgb =
        propertyOf(path, QStringLiteral("%[fx:int(255*p{w/2,h/2}.r)],%[fx:int(255*p{w/2,h/2}.g)],"
                                        "%[fx:int(255*p{w/2,h/2}.b)]"))
            .split(QLatin1Char(','));
    if (rgb.size() != 3)
        return '?';
    const int r = rgb[0].toInt(), g = rgb[1].toInt(), b = rgb[2].toInt();
    if (r > 200 && g < 60 && b < 60)
        return 'R';
    if (b > 200 && r < 60 && g < 60)
        return 'B';
    return '?';
}

// Bytes in the scratch folders ("zarvelo-*") of the cache folder, except
// those in older (folders that were there before, such as a dead program's).
qint64 scratchBytes(const QStringList &older)
{
    qint64 total = 0;
    const QString cache = GetSpecialFolder(CSIDL_INTERNET_CACHE);
    const QStringList folders =
        QDir(cache).entryList({QStringLiteral("zarvelo-*")}, QDir::Dirs | QDir::Hidden);
    for (const QString &folder : folders) {
        if (older.contains(folder))
            continue;
        const QFileInfoList files =
            QDir(cache + QLatin1Char('/') + folder).entryInfoList(QDir::Files | QDir::Hidden);
        for (const QFileInfo &file : files)
            if (!file.isSymLink())
                total += file.size();
    }
    return total;
}

// An APP1 Exif segment (little-endian) with an orientation, a date and a GPS
// latitude of 48° 30' N.
QByteArray exifSegment(quint16 orientation)
{
    QByteArray t;
    const auto u16 = [&t](quint16 v) {
        t.append(char(v & 0xFF));
        t.append(char(v >> 8));
    };
    const auto u32 = [&t](quint32 v) {
        for (int i = 0; i < 4; ++i)
            t.append(char((v >> (8 * i)) & 0xFF));
    };
    t += "II";
    u16(42);
    u32(8);
    constexpr quint32 gpsAt = 50, dateAt = 80, latitudeAt = 100;
    u16(3); // first directory, at 8
    u16(0x0112), u16(3), u32(1), u16(orientation), u16(0);
    u16(0x0132), u16(2), u32(20), u32(dateAt);
    u16(0x8825), u16(4), u32(1), u32(gpsAt);
    u32(0);
    u16(2); // GPS directory, at 50
    u16(0x0001), u16(2), u32(2);
    t.append("N\0\0\0", 4);
    u16(0x0002), u16(5), u32(3), u32(latitudeAt);
    u32(0);
    t.append("2021:05:06 07:08:09", 20); // at 80, with its zero
    u32(48), u32(1), u32(30), u32(1), u32(0), u32(1);
    const QByteArray body = QByteArray("Exif\0\0", 6) + t;
    QByteArray segment("\xFF\xE1", 2);
    segment.append(char((body.size() + 2) >> 8));
    segment.append(char((body.size() + 2) & 0xFF));
    return segment + body;
}

// A JPEG made by the image tool, 60×40, red on the left and blue on the
// right (with the colour profile at profile, when given), with the Exif
// segment put after its JFIF header.
bool writeExifJpeg(const QString &path, quint16 orientation, const QString &profile = QString())
{
    QStringList arguments = {QStringLiteral("-size"),  QStringLiteral("30x40"), QStringLiteral("xc:red"),
                             QStringLiteral("-size"),  QStringLiteral("30x40"), QStringLiteral("xc:blue"),
                             QStringLiteral("+append")};
    if (!profile.isEmpty())
        arguments << QStringLiteral("-profile") << profile;
    runTool(QStringLiteral("magick"), arguments << path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray jpeg = file.readAll();
    file.close();
    const int at = 4 + ((quint8(jpeg[4]) << 8) | quint8(jpeg[5]));
    jpeg.insert(at, exifSegment(orientation));
    return writeFile(path, jpeg);
}

// The red, green and blue of a pixel (0-255) of a picture ("file[2]": its
// third page).
QList<int> rgbAt(const QString &picture, int x, int y)
{
    const QString at = QStringLiteral("p{%1,%2}").arg(x).arg(y);
    const QStringList parts =
        imageProperty(picture, QStringLiteral("%[fx:int(255*%1.r+0.5)],%[fx:int(255*%1.g+0.5)],"
                                              "%[fx:int(255*%1.b+0.5)]")
                                   .arg(at))
            .split(QLatin1Char(','));
    QList<int> rgb;
    for (const QString &part : parts)
        rgb << part.toInt();
    return rgb.size() == 3 ? rgb : QList<int>{-999, -999, -999};
}

// The largest difference of a channel between two colours.
int colourDistance(const QList<int> &a, const QList<int> &b)
{
    int distance = 0;
    for (int i = 0; i < 3; ++i)
        distance = std::max(distance, std::abs(a.value(i) - b.value(i)));
    return distance;
}

QString rgbText(const QList<int> &rgb)
{
    return QStringLiteral("%1,%2,%3").arg(rgb.value(0)).arg(rgb.value(1)).arg(rgb.value(2));
}

// The EXIF date of a picture. The image tool keeps a WEBP's EXIF chunk but
// reads no tags from it: there, the chunk itself is looked at. In a TIFF the
// date is a tag of the first directory, which the tool calls a timestamp.
QString exifDateTime(const QString &path)
{
    const QByteArray whole = head(path, 1 << 20);
    if (whole.startsWith(QByteArray("II*\0", 4)) || whole.startsWith(QByteArray("MM\0*", 4)))
        return imageProperty(path, QStringLiteral("%[tiff:timestamp]"));
    if (!whole.startsWith("RIFF") || whole.mid(8, 4) != "WEBP")
        return imageProperty(path, QStringLiteral("%[EXIF:DateTime]"));
    for (qsizetype at = 12; at + 8 <= whole.size();) {
        const QByteArray id = whole.mid(at, 4);
        const qsizetype size = qFromLittleEndian<quint32>(whole.constData() + at + 4);
        const QByteArray payload = whole.mid(at + 8, size);
        if (id == "EXIF" && payload.startsWith("II*\0") && payload.contains("2021:05:06 07:08:09"))
            return QStringLiteral("2021:05:06 07:08:09");
        at += 8 + size + (size & 1);
    }
    return QString();
}

// Records every program run of the conversions given run() as
// "<tool>: <parameters>".
class RunRecorder
{
  public:
    TRunContext run()
    {
        TRunContext context;
        context.ToolObserver = [this](const QString &program, const QString &parameters) {
            m_calls << testutil::toolLabel(program) + QStringLiteral(": ") + parameters;
        };
        return context;
    }
    QStringList calls() const { return m_calls; }

  private:
    QStringList m_calls;
};

} // namespace

class TestConversion : public QObject
{
    Q_OBJECT

  private slots:
    void initTestCase();
    void init();
    void makeOutputPath_data();
    void makeOutputPath();
    void parameterTexts_data();
    void parameterTexts();
    void pngToJpeg();
    void jpegToOtherFormats_data();
    void jpegToOtherFormats();
    void animatedGif_data();
    void animatedGif();
    void svgAtWidth_data();
    void svgAtWidth();
    void svgTextWithoutItsFont_data();
    void svgTextWithoutItsFont();
    void pdfPages_data();
    void pdfPages();
    void pdfWithoutPages();
    void aiToPng();
    void jpgPipeSameBytes_data();
    void jpgPipeSameBytes();
    void jpgPipeBrokenSource();
    void truncatedSourceFails_data();
    void truncatedSourceFails();
    void greyPictureWithRgbProfile_data();
    void greyPictureWithRgbProfile();
    void missingTools_data();
    void missingTools();
    void hostileNames_data();
    void hostileNames();
    void nameTakenMeanwhile();
    void existingAtOutputName_data();
    void existingAtOutputName();
    void overwriteKeepsEarlierOutputOnFailure();
    void outputOnAnotherFileSystem();
    void widthRules_data();
    void widthRules();
    void adobeRgbKeepsItsRed();
    void exifCarriedOrientationNormal();
    void keepMetadataOffStrips_data();
    void keepMetadataOffStrips();
    void pdfScratchDiskBounded();
    void pdfHugePageFailsAlone();
    void aiKeptToItsFolder_data();
    void aiKeptToItsFolder();
    void endlessDocumentEnds_data();
    void endlessDocumentEnds();
    void programEndedDuringWrite_data();
    void programEndedDuringWrite();
    void concurrentCallsKeepApart();
    void multiPageTiff_data();
    void multiPageTiff();
    void pageNamesHeldInItemOrder();
    void transparencyOverWhite_data();
    void transparencyOverWhite();
    void coloursIntoSrgb_data();
    void coloursIntoSrgb();
    void svgReferencesConfined_data();
    void svgReferencesConfined();
    void resizeModes_data();
    void resizeModes();
    void avifOutput();

  private:
    QString fixture(const QString &name) const { return m_fixtures.path() + QLatin1Char('/') + name; }
    QTemporaryDir m_fixtures;
};

void TestConversion::initTestCase()
{
    QVERIFY(m_fixtures.isValid());
    if (!testutil::missingToolReason(ExternalTool::ImageTool).isEmpty())
        return; // every test that needs the fixtures is skipped in init()
    QVERIFY2(QFileInfo(vendorTool(QStringLiteral("magick"))).isExecutable(), "vendor/magick is missing");
    QVERIFY2(QFileInfo(vendorTool(QStringLiteral("cjpeg"))).isExecutable(), "vendor/cjpeg is missing");
    QVERIFY2(QFileInfo(vendorTool(QStringLiteral("gs"))).isExecutable(), "vendor/gs is missing");
    QVERIFY(writePng(fixture(QStringLiteral("in.png")), 64, 48));
    QVERIFY(writePng(fixture(QStringLiteral("photo.png")), 400, 300));
    runTool(QStringLiteral("magick"), {fixture(QStringLiteral("photo.png")), QStringLiteral("-quality"),
                                       QStringLiteral("90"), fixture(QStringLiteral("photo.jpg"))});
    QVERIFY(QFile::exists(fixture(QStringLiteral("photo.jpg"))));
    runTool(QStringLiteral("magick"),
            {QStringLiteral("-delay"), QStringLiteral("10"), QStringLiteral("-size"), QStringLiteral("40x30"),
             QStringLiteral("xc:red"), QStringLiteral("xc:green"), QStringLiteral("xc:blue"),
             fixture(QStringLiteral("anim.gif"))});
    QCOMPARE(imageProperty(fixture(QStringLiteral("anim.gif")), QStringLiteral("%n")), QStringLiteral("3"));
    QVERIFY(writeFile(fixture(QStringLiteral("drawing.svg")),
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"100\" height=\"50\">"
                      "<rect x=\"10\" y=\"10\" width=\"80\" height=\"30\" fill=\"blue\"/></svg>"));
    QVERIFY(writePng(fixture(QStringLiteral("portrait.png")), 150, 200));
    QVERIFY(writePdf(fixture(QStringLiteral("doc.pdf")), 3));
    QVERIFY(writePdf(fixture(QStringLiteral("one.pdf")), 1));
    QVERIFY(QFile::copy(fixture(QStringLiteral("one.pdf")), fixture(QStringLiteral("doc.ai"))));
}

void TestConversion::init()
{
    const QString why = testutil::imageToolSkipReason({QStringLiteral("makeOutputPath")});
    if (!why.isEmpty())
        QSKIP(qPrintable(why));
}

void TestConversion::makeOutputPath_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("savePath");     // "@OUT" stands for a second folder
    QTest::addColumn<QStringList>("existing"); // names made first; a trailing '/' makes a folder
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("next"); // the name a file appearing under expected pushes the output to

    QTest::newRow("free name") << "photo.jpg"
                               << "PNG"
                               << "" << QStringList{} << "photo.png"
                               << "photo (1).png";
    QTest::newRow("first collision") << "photo.jpg"
                                     << "PNG"
                                     << "" << QStringList{"photo.png"} << "photo (1).png"
                                     << "photo (2).png";
    QTest::newRow("second collision") << "photo.jpg"
                                      << "PNG"
                                      << "" << QStringList{"photo.png", "photo (1).png"} << "photo (2).png"
                                      << "photo (3).png";
    QTest::newRow("gap is not reused") << "photo.jpg"
                                       << "PNG"
                                       << "" << QStringList{"photo.png", "photo (2).png"} << "photo (1).png"
                                       << "photo (3).png";
    QTest::newRow("last extension only") << "a.b.jpg"
                                         << "PNG"
                                         << "" << QStringList{} << "a.b.png"
                                         << "a.b (1).png";
    QTest::newRow("no extension") << "noext"
                                  << "GIF"
                                  << "" << QStringList{} << "noext.gif"
                                  << "noext (1).gif";
    QTest::newRow("TIFF lower case") << "photo.jpg"
                                     << "TIFF"
                                     << "" << QStringList{} << "photo.tiff"
                                     << "photo (1).tiff";
    QTest::newRow("WEBP lower case") << "photo.jpg"
                                     << "WEBP"
                                     << "" << QStringList{} << "photo.webp"
                                     << "photo (1).webp";
    QTest::newRow("folder does not count") << "photo.jpg"
                                           << "PNG"
                                           << "" << QStringList{"photo.png/"} << "photo.png"
                                           << "photo (1).png";
    // "?" marks the name expected where the file system tells case apart,
    // the one after it where it does not (Windows): there "photo.png" is
    // photo.PNG and would replace it.
    QTest::newRow("same name other case") << "photo.jpg"
                                          << "PNG"
                                          << "" << QStringList{"photo.PNG"} << "photo.png?photo (1).png"
                                          << "photo (1).png?photo (2).png";
    QTest::newRow("save folder without slash") << "photo.jpg"
                                               << "PNG"
                                               << "@OUT" << QStringList{} << "@OUT/photo.png"
                                               << "@OUT/photo (1).png";
    QTest::newRow("save folder with slash")
        << "photo.jpg"
        << "PNG"
        << "@OUT/" << QStringList{"@OUT/photo.png"} << "@OUT/photo (1).png"
        << "@OUT/photo (2).png";
    QTest::newRow("taken beside source only") << "photo.jpg"
                                              << "PNG"
                                              << "@OUT/" << QStringList{"photo.png"} << "@OUT/photo.png"
                                              << "@OUT/photo (1).png";
    QTest::newRow("dangling link is taken") << "photo.jpg"
                                            << "PNG"
                                            << "" << QStringList{"photo.png@"} << "photo (1).png"
                                            << "photo (2).png";
    // The same rule for the next name: a folder leaves it free, a file or a
    // dangling link takes it.
    QTest::newRow("next: folder does not count")
        << "photo.jpg"
        << "PNG"
        << "" << QStringList{"photo (1).png/", "photo (2).png"} << "photo.png"
        << "photo (1).png";
    QTest::newRow("next: file and link are taken")
        << "photo.jpg"
        << "PNG"
        << "" << QStringList{"photo (1).png", "photo (2).png@"} << "photo.png"
        << "photo (3).png";
}

void TestConversion::makeOutputPath()
{
    QFETCH(QString, source);
    QFETCH(QString, format);
    QFETCH(QString, savePath);
    QFETCH(QStringList, existing);
    QFETCH(QString, expected);
    QFETCH(QString, next);

    QTemporaryDir sourceDir;
    QTemporaryDir outDir;
    const auto resolve = [&](QString name) {
        if (name.startsWith(QLatin1String("@OUT")))
            return name.replace(QStringLiteral("@OUT"), outDir.path());
        return sourceDir.path() + QLatin1Char('/') + name;
    };
    for (const QString &name : existing) {
        if (name.endsWith(QLatin1Char('/')))
            QVERIFY(QDir().mkpath(resolve(name)));
        else if (name.endsWith(QLatin1Char('@')))
            QVERIFY(QFile::link(resolve(QStringLiteral("nowhere")), resolve(name.chopped(1))));
        else
            QVERIFY(writeFile(resolve(name), "x"));
    }
    if (expected.contains(QLatin1Char('?'))) {
        const int choice = QFileInfo::exists(resolve(existing.first().toLower())) ? 1 : 0;
        expected = expected.section(QLatin1Char('?'), choice, choice);
        next = next.section(QLatin1Char('?'), choice, choice);
    }
    ConversionOptions options = optionsFor(format);
    options.SavePath = savePath.isEmpty() ? QString() : resolve(savePath);
    QCOMPARE(MakeOutputPath(options, resolve(source), format), resolve(expected));
    // A job's names follow the same rule.
    TOutputNames names;
    QCOMPARE(names.Reserve(options, resolve(source), format), resolve(expected));
    QCOMPARE(names.ReserveNext(resolve(expected)), resolve(next));
}

void TestConversion::parameterTexts_data()
{
    QTest::addColumn<QString>("pipeline"); // "raster" on in.png, "ai" on doc.ai, "pdf" on doc.pdf
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("useWidth");
    QTest::addColumn<int>("scale");
    QTest::addColumn<QString>("expected");

    // Tools see only plain names in the call's scratch folder (their current
    // folder). $ICC is the sRGB profile, $FONTS the fonts folder. A picture
    // is first asked for its pages, colour space and profiles.
    const QString inspect = "magick: -ping in1.png -format \"%n %[colorspace] %[profiles]\\n\" info:\n";
    QTest::newRow("PNG to PNG") << "raster"
                                << "PNG"
                                << "PNG" << false << 0
                                << inspect + "magick: in1.png[0] -auto-orient out2.png";
    QTest::newRow("BMP to TIFF") << "raster"
                                 << "BMP"
                                 << "TIFF" << false << 0 << "magick: in1.png[0] -auto-orient out2.tiff";
    QTest::newRow("JPG source gets quality")
        << "raster"
        << "JPG"
        << "PNG" << false << 0 << inspect + "magick: in1.png[0] -auto-orient -quality 80 out2.png";
    QTest::newRow("RAW to TIFF gets quality")
        << "raster"
        << "RAW"
        << "TIFF" << false << 0 << inspect + "magick: in1.png[0] -auto-orient -quality 80 out2.tiff";
    QTest::newRow("GIF to GIF keeps frames")
        << "raster"
        << "GIF"
        << "GIF" << false << 0 << inspect + "magick: in1.png -auto-orient -quality 80 out2.gif";
    QTest::newRow("PNG to WEBP at width")
        << "raster"
        << "PNG"
        << "WEBP" << true << 0 << inspect + "magick: in1.png -auto-orient -resize 300x out2.webp";
    QTest::newRow("GIF to WEBP at width")
        << "raster"
        << "GIF"
        << "WEBP" << true << 0 << inspect + "magick: in1.png -auto-orient -resize 300x -quality 80 out2.webp";
    // The drawing's size first, then the density that gives about the width
    // (in.png: 64 pixels wide at 96 dpi).
    QTest::newRow("SVG at width")
        << "raster"
        << "SVG"
        << "PNG" << true << 0
        << "magick: -background none in1.png[0] -format \"%w %x %U\\n\" info:\n"
           "magick: -background none -density 451 in1.png[0] -auto-orient -resize 300x out2.png";
    QTest::newRow("SVG without width")
        << "raster"
        << "SVG"
        << "GIF" << false << 0 << "magick: -background none in1.png -auto-orient out2.gif";
    QTest::newRow("scale") << "raster"
                           << "BMP"
                           << "PNG" << false << 25 << "magick: in1.png[0] -auto-orient -resize 25% out2.png";
    QTest::newRow("width wins over scale")
        << "raster"
        << "BMP"
        << "PNG" << true << 25 << "magick: in1.png[0] -auto-orient -resize 300x out2.png";
    QTest::newRow("JPG through the encoder")
        << "raster"
        << "JPG"
        << "JPG" << false << 0
        << inspect +
               "magick: in1.png[0] -auto-orient -background white -alpha remove -profile $ICC -strip -type "
               "TrueColor -colorspace sRGB -format \"%x %y %U\" -write info:density3.txt PPM:-\n"
               "cjpeg: -quality 80 -outfile out2.JPG";
    QTest::newRow("lower-case jpg is direct")
        << "raster"
        << "JPG"
        << "jpg" << false << 0
        << inspect + "magick: in1.png[0] -auto-orient -background white -alpha remove -quality 80 out2.jpg";
    QTest::newRow("AI") << "ai"
                        << "AI"
                        << "PNG" << false << 0
                        << "gs: -dSAFER -dNOPAUSE -dBATCH -dNOPROMPT -dQUIET --permit-file-read=in1.ai "
                           "-sDEVICE=pngalpha -r96 -sOutputFile=render2.png in1.ai\n"
                           "magick: -ping render2.png -format \"%n %[colorspace] %[profiles]\\n\" info:\n"
                           "magick: render2.png[0] -auto-orient -profile $ICC out3.png";
    // Letter pages: rendered at 384 dpi, halved by the interpreter, then
    // made 96 dpi by the image tool; for 300 pixels the page is 36 dpi
    // (306 pixels), rendered at 144.
    const QString pdfInfo =
        "gs: -dNODISPLAY -dSAFER -dNOPAUSE -dBATCH -dNOPROMPT -dQUIET --permit-file-read=in1.pdf -dPDFINFO "
        "in1.pdf\n";
    const QString pdfRender =
        "gs: -dSAFER -dNOPAUSE -dBATCH -dNOPROMPT -dQUIET --permit-file-read=in1.pdf -sFONTPATH=$FONTS "
        "-dTextAlphaBits=4 -dGraphicsAlphaBits=4 -sDEVICE=png16m -r%1 -dDownScaleFactor=2 "
        "-dFirstPage=1 "
        "-dLastPage=3 -sOutputFile=page2-%03d.png in1.pdf\n";
    QTest::newRow("PDF pages at 96 dpi")
        << "pdf"
        << "PDF"
        << "PNG" << false << 0
        << pdfInfo + pdfRender.arg(384) +
               "magick: page2-001.png[0] +profile * -auto-orient -resize 816x1056! out3.png\n"
               "magick: page2-002.png[0] +profile * -auto-orient -resize 816x1056! out4.png\n"
               "magick: page2-003.png[0] +profile * -auto-orient -resize 816x1056! out5.png";
    QTest::newRow("PDF pages at width")
        << "pdf"
        << "PDF"
        << "GIF" << true << 0
        << pdfInfo + pdfRender.arg(144) +
               "magick: page2-001.png[0] +profile * -auto-orient -resize 300x out3.gif\n"
               "magick: page2-002.png[0] +profile * -auto-orient -resize 300x out4.gif\n"
               "magick: page2-003.png[0] +profile * -auto-orient -resize 300x out5.gif";
}

void TestConversion::parameterTexts()
{
    QFETCH(QString, pipeline);
    QFETCH(QString, type);
    QFETCH(QString, format);
    QFETCH(bool, useWidth);
    QFETCH(int, scale);
    QFETCH(QString, expected);

    QTemporaryDir outDir;
    ConversionOptions options = optionsFor(format, useWidth);
    options.SavePath = outDir.path() + QLatin1Char('/');

    QStringList calls;
    {
        RunRecorder recorder;
        if (pipeline == QLatin1String("ai"))
            QVERIFY(ConvertAi(options, fixture(QStringLiteral("doc.ai")), recorder.run()));
        else if (pipeline == QLatin1String("pdf"))
            QVERIFY(ConvertPdf(options, fixture(QStringLiteral("doc.pdf")), recorder.run()));
        else
            QVERIFY(ConvertRaster(options, fixture(QStringLiteral("in.png")), type, scale, QString(),
                                  recorder.run()));
        calls = recorder.calls();
    }

    // The image tool's size limits are asked for once per process.
    calls.removeAll(QStringLiteral("magick: -list resource"));
    QString actual = calls.join(QLatin1Char('\n'));
    actual.replace(ProgramFolder() + QStringLiteral("vendor/srgb.icc"), QStringLiteral("$ICC"));
    actual.replace(QStringLiteral("/usr/share/color/icc/ghostscript/srgb.icc"), QStringLiteral("$ICC"));
    actual.replace(GetSpecialFolder(CSIDL_FONTS), QStringLiteral("$FONTS"));
    QCOMPARE(actual, expected);
}

void TestConversion::pngToJpeg()
{
    // A folder and a name with spaces and non-ASCII letters stay one argument.
    const QString folder = fixture(QStringLiteral("with space"));
    QVERIFY(QDir().mkpath(folder));
    const QString source = folder + QStringLiteral("/é photo.png");
    QVERIFY(writePng(source, 200, 100));
    const QStringList cacheBefore = entries(cacheFolder());

    const ConversionOptions options = optionsFor(QStringLiteral("JPG"), false, 0, 85);
    QVERIFY(ConvertRaster(options, source, QStringLiteral("PNG"), 0, QString()));
    const QString first = folder + QStringLiteral("/é photo.jpg");
    QCOMPARE(head(first, 3), QByteArray("\xFF\xD8\xFF"));
    QCOMPARE(imageProperty(first, QStringLiteral("%Q")), QStringLiteral("85"));
    QCOMPARE(imageProperty(first, QStringLiteral("%w")), QStringLiteral("200"));

    // A second run takes the next free name and leaves the first output alone.
    const QByteArray firstDigest = digest(first);
    QVERIFY(ConvertRaster(options, source, QStringLiteral("PNG"), 0, QString()));
    QCOMPARE(imageProperty(folder + QStringLiteral("/é photo (1).jpg"), QStringLiteral("%Q")),
             QStringLiteral("85"));
    QCOMPARE(digest(first), firstDigest);
    QCOMPARE(entries(folder), (QStringList{"é photo (1).jpg", "é photo.jpg", "é photo.png"}));
    QCOMPARE(entries(cacheFolder()), cacheBefore);
}

void TestConversion::jpegToOtherFormats_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("useWidth");
    QTest::addColumn<QByteArray>("signature"); // '.' matches any byte
    QTest::addColumn<QString>("width");

    QTest::newRow("PNG") << "PNG" << false << QByteArray("\x89PNG\r\n\x1a\n") << "400";
    QTest::newRow("PNG at width") << "PNG" << true << QByteArray("\x89PNG\r\n\x1a\n") << "120";
    QTest::newRow("GIF") << "GIF" << false << QByteArray("GIF8") << "400";
    QTest::newRow("WEBP") << "WEBP" << false << QByteArray("RIFF....WEBP") << "400";
    QTest::newRow("TIFF") << "TIFF" << true << QByteArray("II*") << "120";
}

void TestConversion::jpegToOtherFormats()
{
    QFETCH(QString, format);
    QFETCH(bool, useWidth);
    QFETCH(QByteArray, signature);
    QFETCH(QString, width);

    QTemporaryDir outDir;
    ConversionOptions options = optionsFor(format, useWidth, 120);
    options.SavePath = outDir.path();
    QVERIFY(
        ConvertRaster(options, fixture(QStringLiteral("photo.jpg")), QStringLiteral("JPG"), 0, QString()));
    const QString output = outDir.path() + QStringLiteral("/photo.") + format.toLower();
    const QByteArray bytes = head(output, signature.size());
    QCOMPARE(bytes.size(), signature.size());
    for (qsizetype i = 0; i < signature.size(); ++i)
        QVERIFY2(signature[i] == '.' || bytes[i] == signature[i], bytes.toHex().constData());
    QCOMPARE(imageProperty(output, QStringLiteral("%w")), width);
    QCOMPARE(entries(outDir.path()).size(), 1);
}

void TestConversion::animatedGif_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("frames");
    QTest::addColumn<QString>("note"); // the result's word on what was left out

    const QString first = QStringLiteral("first of 3 frames");
    QTest::newRow("GIF keeps frames") << "anim.gif"
                                      << "GIF"
                                      << "3"
                                      << "";
    QTest::newRow("WEBP keeps frames") << "anim.gif"
                                       << "WEBP"
                                       << "3"
                                       << "";
    QTest::newRow("PNG takes the first") << "anim.gif"
                                         << "PNG"
                                         << "1" << first;
    QTest::newRow("TIFF takes the first") << "anim.gif"
                                          << "TIFF"
                                          << "1" << first;
    // Flat frames of few colours: the bitmap for the encoder must still be
    // one it can read.
    QTest::newRow("JPG takes the first") << "anim.gif"
                                         << "JPG"
                                         << "1" << first;
    QTest::newRow("animated WEBP to GIF") << "anim.webp"
                                          << "GIF"
                                          << "3"
                                          << "";
    QTest::newRow("animated WEBP to PNG") << "anim.webp"
                                          << "PNG"
                                          << "1" << first;
}

void TestConversion::animatedGif()
{
    QFETCH(QString, source);
    QFETCH(QString, format);
    QFETCH(QString, frames);
    QFETCH(QString, note);

    const QString path = fixture(source);
    if (!QFile::exists(path))
        runTool(QStringLiteral("magick"), {fixture(QStringLiteral("anim.gif")), path});
    QCOMPARE(imageProperty(path, QStringLiteral("%n")), QStringLiteral("3"));
    const QString type =
        source.endsWith(QLatin1String(".gif")) ? QStringLiteral("GIF") : QStringLiteral("WEBP");
    QTemporaryDir outDir;
    ConversionOptions options = optionsFor(format);
    options.SavePath = outDir.path();
    const ConversionResult result = ConvertRaster(options, path, type, 0, QString());
    QVERIFY(result.Success);
    QCOMPARE(result.Reason, note);
    // One output file only: a multi-frame write to a single-image format
    // would have made anim-0.png, anim-1.png, ...
    QCOMPARE(entries(outDir.path()), QStringList{QStringLiteral("anim.") + format.toLower()});
    QCOMPARE(imageProperty(outDir.path() + QStringLiteral("/anim.") + format.toLower(), QStringLiteral("%n")),
             frames);
}

void TestConversion::svgAtWidth_data()
{
    QTest::addColumn<int>("naturalWidth");
    QTest::addColumn<int>("naturalHeight");
    QTest::addColumn<int>("width");

    QTest::newRow("small drawing enlarged") << 100 << 50 << 300;
    // Drawn at a density equal to the width (540 dpi) this one would be
    // 30000 pixels wide, beyond the image tool's limit.
    QTest::newRow("large drawing reduced") << 4000 << 2000 << 540;
}

void TestConversion::svgAtWidth()
{
    QFETCH(int, naturalWidth);
    QFETCH(int, naturalHeight);
    QFETCH(int, width);
    QTemporaryDir work;
    const QString source = work.path() + QStringLiteral("/drawing.svg");
    QVERIFY(writeFile(
        source, QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%2\">"
                               "<rect x=\"%3\" y=\"%4\" width=\"%5\" height=\"%6\" fill=\"blue\"/></svg>")
                    .arg(naturalWidth)
                    .arg(naturalHeight)
                    .arg(naturalWidth / 10)
                    .arg(naturalHeight / 5)
                    .arg(naturalWidth * 8 / 10)
                    .arg(naturalHeight * 3 / 5)
                    .toUtf8()));
    QTemporaryDir outDir;
    ConversionOptions options = optionsFor(QStringLiteral("PNG"), true, width);
    options.SavePath = outDir.path();
    const ConversionResult result = ConvertRaster(options, source, QStringLiteral("SVG"), 0, QString());
    QVERIFY2(result.Success, qPrintable(result.Reason));
    const QImage image(outDir.path() + QStringLiteral("/drawing.png"));
    QCOMPARE(image.width(), width);
    QVERIFY(qAbs(image.height() - width * naturalHeight / naturalWidth) <= 1);
    // "-background none": outside the rectangle stays transparent.
    QCOMPARE(qAlpha(image.pixel(2, 2)), 0);
    QCOMPARE(qAlpha(image.pixel(image.width() / 2, image.height() / 2)), 255);
}

void TestConversion::svgTextWithoutItsFont_data()
{
    QTest::addColumn<QString>("fontAttributes");

    QTest::newRow("family that is nowhere") << QStringLiteral("font-family=\"NoSuchFontAnywhere\"");
    QTest::newRow("list of missing families, bold")
        << QStringLiteral("font-family=\"'Missing One', AlsoMissing\" font-weight=\"bold\"");
    QTest::newRow("no family named") << QString();
}

// Text still renders when the font it names is not on the system: the image
// tool falls back to a font it finds, the bundled one on Windows.
void TestConversion::svgTextWithoutItsFont()
{
    QFETCH(QString, fontAttributes);
    QTemporaryDir work;
    const QString source = work.path() + QStringLiteral("/text.svg");
    QVERIFY(writeFile(source, QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"240\" "
                                             "height=\"60\"><text x=\"10\" y=\"45\" font-size=\"40\" %1 "
                                             "fill=\"black\">Hamburg</text></svg>")
                                  .arg(fontAttributes)
                                  .toUtf8()));
    ConversionOptions options = optionsFor(QStringLiteral("PNG"), false, 0);
    options.SavePath = work.path();
    const ConversionResult result = ConvertRaster(options, source, QStringLiteral("SVG"), 0, QString());
    QVERIFY2(result.Success, qPrintable(result.Reason + QLatin1Char('\n') + result.Printed));
    const QImage image(work.path() + QStringLiteral("/text.png"));
    QVERIFY(!image.isNull());
    // The background stays transparent; the letters are opaque and dark, over
    // a good part of the line they stand on.
    int dark = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            dark += qAlpha(pixel) > 200 && qGray(pixel) < 80;
        }
    QVERIFY2(dark > 600, qPrintable(QString::number(dark)));
    QCOMPARE(qAlpha(image.pixel(5, 5)), 0);
}

void TestConversion::pdfPages_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("toSaveFolder");
    QTest::addColumn<bool>("useWidth");
    QTest::addColumn<QString>("width");

    // Letter at 384 dpi reduced to 25 % is 816 pixels wide (96 dpi).
    QTest::newRow("beside the PDF") << "doc" << false << false << "816";
    QTest::newRow("save folder at width") << "doc" << true << true << "200";
    QTest::newRow("percent and space in the name") << "100% done" << false << false << "816";
}

void TestConversion::pdfPages()
{
    QFETCH(QString, name);
    QFETCH(bool, toSaveFolder);
    QFETCH(bool, useWidth);
    QFETCH(QString, width);

    QTemporaryDir sourceDir;
    QTemporaryDir outDir;
    const QString source = sourceDir.path() + QLatin1Char('/') + name + QStringLiteral(".pdf");
    QVERIFY(QFile::copy(fixture(QStringLiteral("doc.pdf")), source));
    const QStringList cacheBefore = entries(cacheFolder());

    ConversionOptions options = optionsFor(QStringLiteral("PNG"), useWidth, 200);
    if (toSaveFolder)
        options.SavePath = outDir.path() + QLatin1Char('/');
    QVERIFY(ConvertPdf(options, source));

    const QString target = toSaveFolder ? outDir.path() : sourceDir.path();
    QStringList expected;
    for (const char *page : {"-001.png", "-002.png", "-003.png"})
        expected << name + QLatin1String(page);
    if (!toSaveFolder)
        expected << name + QStringLiteral(".pdf");
    expected.sort();
    QCOMPARE(entries(target), expected);
    for (const QString &file : expected)
        if (file.endsWith(QLatin1String(".png")))
            QCOMPARE(imageProperty(target + QLatin1Char('/') + file, QStringLiteral("%w")), width);
    QCOMPARE(entries(cacheFolder()), cacheBefore);
}

void TestConversion::pdfWithoutPages()
{
    // Not a PDF at all: the interpreter renders nothing, the image tool never runs.
    QTemporaryDir sourceDir;
    const QString source = sourceDir.path() + QStringLiteral("/broken.pdf");
    QVERIFY(writeFile(source, "%PDF-1.4\nthis is not a document\n"));
    QStringList calls;
    {
        RunRecorder recorder;
        QVERIFY(!ConvertPdf(optionsFor(QStringLiteral("PNG")), source, recorder.run()));
        calls = recorder.calls();
    }
    QCOMPARE(calls.size(), 1);
    QVERIFY(calls.first().startsWith(QLatin1String("gs: ")));
    QCOMPARE(entries(sourceDir.path()), QStringList{QStringLiteral("broken.pdf")});
}

void TestConversion::aiToPng()
{
    QTemporaryDir outDir;
    ConversionOptions options = optionsFor(QStringLiteral("PNG"));
    options.SavePath = outDir.path();
    const QStringList cacheBefore = entries(cacheFolder());
    QVERIFY(ConvertAi(options, fixture(QStringLiteral("doc.ai"))));
    QCOMPARE(entries(outDir.path()), QStringList{QStringLiteral("doc.png")});
    // One Letter page at 96 dpi, with transparency.
    const QImage image(outDir.path() + QStringLiteral("/doc.png"));
    QCOMPARE(image.size(), QSize(816, 1056));
    QVERIFY(image.hasAlphaChannel());
    QCOMPARE(entries(cacheFolder()), cacheBefore);
}

void TestConversion::jpgPipeSameBytes_data()
{
    QTest::addColumn<QString>("source");
    QTest::newRow("photo") << "photo.png";
    QTest::newRow("16-bit greyscale") << "grey.png";
    QTest::newRow("transparency") << "alpha.png";
    QTest::newRow("animated GIF, first frame") << "anim.gif";
    QTest::newRow("16-bit RGB") << "rgb16.png";
    QTest::newRow("JPEG photo") << "photo.jpg";
}

// The bitmap goes from the image tool to the encoder through a pipe (a PPM);
// the JPEG is byte for byte the one the same two steps give through a BMP
// file, also for 16-bit sources, whose reduction to 8 bits must not change.
void TestConversion::jpgPipeSameBytes()
{
    QFETCH(QString, source);
    if (source == QLatin1String("alpha.png") && !testutil::executableSuffix().isEmpty())
        QSKIP("under wine the two steps through a bitmap file give no JPEG for this picture (not yet "
              "understood); transparencyOverWhite checks the route's pixels");
    const QString path = fixture(source);
    if (!QFile::exists(path)) {
        if (source == QLatin1String("grey.png"))
            runTool(QStringLiteral("magick"),
                    {QStringLiteral("-size"), QStringLiteral("200x150"),
                     QStringLiteral("gradient:white-black"), QStringLiteral("-colorspace"),
                     QStringLiteral("Gray"), QStringLiteral("-depth"), QStringLiteral("16"), path});
        else if (source == QLatin1String("rgb16.png"))
            runTool(QStringLiteral("magick"),
                    {QStringLiteral("-size"), QStringLiteral("200x150"),
                     QStringLiteral("gradient:#ff0010-#0040fe"), QStringLiteral("-depth"),
                     QStringLiteral("16"), QStringLiteral("PNG48:") + path});
        else
            runTool(QStringLiteral("magick"), {QStringLiteral("-size"), QStringLiteral("200x150"),
                                               QStringLiteral("radial-gradient:red-none"), path});
    }
    QVERIFY(QFile::exists(path));
    QTemporaryDir work;
    const QString bitmap = work.path() + QStringLiteral("/step.bmp");
    const QString fileRoute = work.path() + QStringLiteral("/file-route.jpg");
    QStringList first = {path + QStringLiteral("[0]"),  QStringLiteral("-auto-orient"),
                         QStringLiteral("-background"), QStringLiteral("white"),
                         QStringLiteral("-alpha"),      QStringLiteral("remove")};
    const QString icc = QStringLiteral("/usr/share/color/icc/ghostscript/srgb.icc");
    if (QFile::exists(icc))
        first << QStringLiteral("-profile") << icc;
    first << QStringLiteral("-strip") << QStringLiteral("-type") << QStringLiteral("TrueColor")
          << QStringLiteral("-colorspace") << QStringLiteral("sRGB") << QStringLiteral("-compress")
          << QStringLiteral("none") << QStringLiteral("BMP3:") + bitmap;
    QCOMPARE(runTool(QStringLiteral("magick"), first), QString());
    QCOMPARE(runTool(QStringLiteral("cjpeg"), {QStringLiteral("-quality"), QStringLiteral("80"),
                                               QStringLiteral("-outfile"), fileRoute, bitmap}),
             QString());

    ConversionOptions options = optionsFor(QStringLiteral("JPG"));
    options.SavePath = work.path() + QStringLiteral("/out");
    QVERIFY(QDir().mkpath(options.SavePath));
    const QStringList cacheBefore = entries(cacheFolder());
    const ConversionResult result = ConvertRaster(options, path, QStringLiteral("PNG"), 0, QString());
    QVERIFY2(result.Success, qPrintable(result.Reason));
    QCOMPARE(digest(result.Outputs.value(0)), digest(fileRoute));
    QCOMPARE(entries(cacheFolder()), cacheBefore);
}

// A first step that fails (a broken source) fails the conversion with its
// reason, and neither tool is left running.
void TestConversion::jpgPipeBrokenSource()
{
    QTemporaryDir work;
    const QString source = work.path() + QStringLiteral("/broken.png");
    QVERIFY(writeFile(source, "\x89PNG\r\n\x1a\nnot really a picture"));
    ConversionOptions options = optionsFor(QStringLiteral("JPG"));
    const ConversionResult result = ConvertRaster(options, source, QStringLiteral("PNG"), 0, QString());
    QVERIFY(!result.Success);
    QVERIFY2(result.Reason.startsWith(QLatin1String("image tool: exit status 1: ")),
             qPrintable(result.Reason));
    QCOMPARE(testutil::childProcesses(QCoreApplication::applicationPid()), QList<qint64>());
    QCOMPARE(entries(work.path()), QStringList{QStringLiteral("broken.png")});
}

void TestConversion::truncatedSourceFails_data()
{
    QTest::addColumn<QString>("format");
    // The image tool warns about the truncated JPEG but writes a picture with
    // a grey lower half: on both routes that is a failure with the warning
    // as its reason.
    QTest::newRow("direct route") << "PNG";
    QTest::newRow("JPG route") << "JPG";
}

void TestConversion::truncatedSourceFails()
{
    QFETCH(QString, format);

    QTemporaryDir sourceDir;
    const QString source = sourceDir.path() + QStringLiteral("/cut.jpg");
    QFile whole(fixture(QStringLiteral("photo.jpg")));
    QVERIFY(whole.open(QIODevice::ReadOnly));
    QVERIFY(writeFile(source, whole.read(whole.size() / 2)));

    QTemporaryDir outDir;
    ConversionOptions options = optionsFor(format);
    options.SavePath = outDir.path();
    const ConversionResult result = ConvertRaster(options, source, QStringLiteral("JPG"), 0, QString());
    QVERIFY(!result.Success);
    QVERIFY2(result.Reason.startsWith(QLatin1String("image tool printed: ")), qPrintable(result.Reason));
    QVERIFY(result.Printed.contains(QLatin1String("Premature end of JPEG file")));
    QCOMPARE(entries(outDir.path()), QStringList());
}

void TestConversion::greyPictureWithRgbProfile_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("type");
    QTest::newRow("black-and-white photo with an RGB profile") << "grey-profile.jpg"
                                                               << "JPG";
    QTest::newRow("black-and-white drawing") << "grey.ai"
                                             << "AI";
}

// Writing a greyscale PNG from a picture with an RGB colour profile makes the
// image tool print a notice about the profile it leaves out; the PNG itself is
// right, so the conversion succeeds.
void TestConversion::greyPictureWithRgbProfile()
{
    QFETCH(QString, source);
    QFETCH(QString, type);
    const QString icc = QStringLiteral("/usr/share/color/icc/ghostscript/srgb.icc");
    if (!QFile::exists(icc))
        QSKIP("no sRGB profile on this machine");

    QTemporaryDir work;
    const QString path = work.path() + QLatin1Char('/') + source;
    if (type == QLatin1String("AI")) {
        QVERIFY(writePdf(path, 1, false));
    } else {
        runTool(QStringLiteral("magick"),
                {QStringLiteral("-size"), QStringLiteral("120x80"), QStringLiteral("gradient:white-black"),
                 QStringLiteral("-colorspace"), QStringLiteral("sRGB"), QStringLiteral("-type"),
                 QStringLiteral("TrueColor"), QStringLiteral("-profile"), icc, path});
        // The fixture does make the tool print the notice.
        QVERIFY(runTool(QStringLiteral("magick"), {path, work.path() + QStringLiteral("/probe.png")})
                    .contains(QStringLiteral("not permitted on grayscale PNG")));
    }

    QTemporaryDir outDir;
    ConversionOptions options = optionsFor(QStringLiteral("PNG"));
    options.SavePath = outDir.path();
    const bool result = (type == QLatin1String("AI") ? ConvertAi(options, path)
                                                     : ConvertRaster(options, path, type, 0, QString()))
                            .Success;
    QVERIFY(result);
    const QStringList outputs = entries(outDir.path());
    QCOMPARE(outputs.size(), 1);
    QVERIFY(!QImage(outDir.path() + QLatin1Char('/') + outputs.first()).isNull());
}

void TestConversion::missingTools_data()
{
    QTest::addColumn<QStringList>("present"); // the tools in the vendor folder
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("reason");

    QTest::newRow("none: picture") << QStringList{} << "photo.png"
                                   << "PNG"
                                   << "PNG"
                                   << "image tool missing";
    QTest::newRow("none: picture to JPG") << QStringList{} << "photo.png"
                                          << "PNG"
                                          << "JPG"
                                          << "image tool missing";
    QTest::newRow("none: PDF") << QStringList{} << "doc.pdf"
                               << "PDF"
                               << "PNG"
                               << "PostScript interpreter missing";
    QTest::newRow("none: Illustrator") << QStringList{} << "doc.ai"
                                       << "AI"
                                       << "PNG"
                                       << "PostScript interpreter missing";
    QTest::newRow("no encoder") << QStringList{"magick", "gs"} << "photo.png"
                                << "PNG"
                                << "JPG"
                                << "JPEG encoder missing";
    QTest::newRow("no image tool for the pages") << QStringList{"gs", "cjpeg"} << "doc.pdf"
                                                 << "PDF"
                                                 << "PNG"
                                                 << "pages 1, 2, 3 of 3 failed: image tool missing";
    QTest::newRow("no image tool after the render") << QStringList{"gs"} << "doc.ai"
                                                    << "AI"
                                                    << "PNG"
                                                    << "image tool missing";
}

// A tool that is not there fails the conversion with a reason that names
// it, writes nothing and leaves no scratch folder.
void TestConversion::missingTools()
{
    QFETCH(QStringList, present);
    QFETCH(QString, source);
    QFETCH(QString, type);
    QFETCH(QString, format);
    QFETCH(QString, reason);

    QTemporaryDir programFolder;
    QTemporaryDir sourceDir;
    const QString vendor = programFolder.path() + QStringLiteral("/vendor/");
    QVERIFY(QDir().mkpath(vendor));
    for (const QString &tool : present) {
        const QString name = QFileInfo(vendorTool(tool)).fileName();
        // A link on Unix; on Windows a link is a shortcut file that no
        // process can start, so the tool is copied.
        const bool linked = testutil::executableSuffix().isEmpty() && QFile::link(vendorTool(tool), vendor + name);
        QVERIFY(linked || QFile::copy(vendorTool(tool), vendor + name));
    }
    const QString path = sourceDir.path() + QLatin1Char('/') + source;
    QVERIFY(QFile::copy(fixture(source), path));
    const QStringList programBefore = testutil::entriesBelow(programFolder.path());
    const QStringList cacheBefore = entries(cacheFolder());

    // No tools on PATH either (the system's programs are looked up once, in
    // this test: no other test of this program runs without them in vendor/).
    const QByteArray systemPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(programFolder.path()));
    SetProgramFolder(programFolder.path());
    ConversionOptions options = optionsFor(format);
    options.SavePath = sourceDir.path() + QStringLiteral("/out/");
    QVERIFY(QDir().mkpath(options.SavePath));
    const ConversionResult result = ConvertFile(options, path, type);
    SetProgramFolder(QString());
    qputenv("PATH", systemPath);

    QVERIFY(!result.Success);
    QVERIFY(!result.Cancelled);
    QCOMPARE(result.Reason, reason);
    QCOMPARE(result.Outputs, QStringList());
    QCOMPARE(entries(options.SavePath), QStringList());
    QCOMPARE(testutil::entriesBelow(programFolder.path()), programBefore);
    QCOMPARE(entries(cacheFolder()), cacheBefore);
}

void TestConversion::hostileNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("decoyPictures"); // blue pictures a pattern would read
    QTest::addColumn<QStringList>("decoyOutputs");  // files a pattern would write over ("*" = each format)

    QTest::newRow("brackets") << "scan[12].png" << QStringList{"scan1.png", "scan2.png"}
                              << QStringList{"scan1.*"};
    QTest::newRow("star") << "star*.png" << QStringList{"starX.png"} << QStringList{"starX.*"};
    QTest::newRow("question mark") << "q?.png" << QStringList{"qa.png"} << QStringList{"qa.*"};
    QTest::newRow("number patterns") << "n%d %o %x.png" << QStringList{"n0 0 0.png"}
                                     << QStringList{"n0 0 0.*"};
    QTest::newRow("percent") << "sale 50%off.png" << QStringList{"sale 500ff.png"}
                             << QStringList{"sale 500ff.*"};
    QTest::newRow("double quote") << "a\" -write \"b.png" << QStringList{} << QStringList{"b.*"};
    QTest::newRow("frame suffix") << "a.gif[0]" << QStringList{"a.gif"} << QStringList{};
    QTest::newRow("leading dash") << "-write.png" << QStringList{} << QStringList{};
    QTest::newRow("trailing bracket") << "photo]" << QStringList{"photo"} << QStringList{};
    QTest::newRow("long non-ASCII") << QString(122, QChar(0xE9)) + QStringLiteral(".png") << QStringList{}
                                    << QStringList{};
}

// Names that the image tool reads as patterns or options reach no tool: every
// format gets the right picture under the right name, and no neighbour is
// read or written.
void TestConversion::hostileNames()
{
    QFETCH(QString, name);
    QFETCH(QStringList, decoyPictures);
    QFETCH(QStringList, decoyOutputs);
    if (!testutil::executableSuffix().isEmpty() && name.contains(QRegularExpression(QStringLiteral("[*?\"<>|:]"))))
        QSKIP("Windows file names cannot hold * ? \" < > | or :");

    QTemporaryDir folder;
    const QString base = folder.path() + QLatin1Char('/');
    const QImage red = [] {
        QImage image(40, 30, QImage::Format_RGB32);
        image.fill(Qt::red);
        return image;
    }();
    QImage blue = red;
    blue.fill(Qt::blue);
    QVERIFY(red.save(base + name, "PNG"));
    for (const QString &decoy : decoyPictures) {
        if (decoy.endsWith(QLatin1String(".gif"))) {
            const QString plain = fixture(QStringLiteral("blue.gif"));
            runTool(QStringLiteral("magick"),
                    {QStringLiteral("-size"), QStringLiteral("40x30"), QStringLiteral("xc:blue"), plain});
            QVERIFY(QFile::copy(plain, base + decoy));
        } else {
            QVERIFY(blue.save(base + decoy, "PNG"));
        }
    }
    const QStringList formats = {"JPG", "PNG", "GIF", "WEBP", "TIFF"};
    for (const QString &decoy : decoyOutputs)
        for (const QString &format : formats)
            QVERIFY(writeFile(base + QString(decoy).replace(QLatin1Char('*'), format.toLower()), "decoy"));
    QHash<QString, QByteArray> before;
    for (const QString &entry : entries(folder.path()))
        before.insert(entry, digest(base + entry));

    QStringList outputs;
    for (const QString &format : formats) {
        const ConversionOptions options = optionsFor(format);
        const QString expected = MakeOutputPath(options, base + name, format);
        const ConversionResult result =
            ConvertRaster(options, base + name, QStringLiteral("PNG"), 0, QString());
        QVERIFY2(result.Success, qPrintable(format + QStringLiteral(": ") + result.Reason));
        QCOMPARE(result.Outputs, QStringList{expected});
        QCOMPARE(centreColour(expected), 'R');
        outputs << QFileInfo(expected).fileName();
    }
    // Everything that was there is unchanged; only the five outputs are new.
    QStringList after = entries(folder.path());
    for (const QString &output : outputs)
        QVERIFY(after.removeOne(output));
    QStringList was = before.keys();
    was.sort();
    QCOMPARE(after, was);
    for (auto it = before.constBegin(); it != before.constEnd(); ++it)
        QVERIFY2(digest(base + it.key()) == it.value(), qPrintable(it.key()));
}

// A file that appears under the reserved name before the output is moved
// there is never replaced: the output takes the next free name.
void TestConversion::nameTakenMeanwhile()
{
    QTemporaryDir outDir;
    ConversionOptions options = optionsFor(QStringLiteral("PNG"));
    options.SavePath = outDir.path() + QLatin1Char('/');
    TRunContext run;
    run.Names = std::make_shared<TOutputNames>();
    const QString source = fixture(QStringLiteral("in.png"));
    const QString reserved = run.Names->Reserve(options, source, QStringLiteral("PNG"));
    QCOMPARE(reserved, outDir.path() + QStringLiteral("/in.png"));
    // Held by the job: a second source of the same name gets the next name.
    QCOMPARE(run.Names->Reserve(options, fixture(QStringLiteral("other/in.png")), QStringLiteral("PNG")),
             outDir.path() + QStringLiteral("/in (1).png"));
    QVERIFY(writeFile(reserved, "intruder"));

    const ConversionResult result = ConvertRaster(options, source, QStringLiteral("PNG"), 0, QString(), run);
    QVERIFY2(result.Success, qPrintable(result.Reason));
    QCOMPARE(result.Outputs, QStringList{outDir.path() + QStringLiteral("/in (2).png")});
    QCOMPARE(head(reserved, 100), QByteArray("intruder"));
}

void TestConversion::existingAtOutputName_data()
{
    // The source is a copy of photo.jpg, whatever its name; existing are the
    // entries made first: a file, "name/" a folder, "name@" a link to the
    // decoy; written is the output, empty when skipped.
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("policy"); // rename, skip or overwrite
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QString>("written");

    const QStringList earlier{"pic.png"};
    QTest::newRow("rename, earlier output") << "pic.jpg"
                                            << "rename" << earlier << "pic (1).png";
    QTest::newRow("skip, earlier output") << "pic.jpg"
                                          << "skip" << earlier << "";
    QTest::newRow("overwrite, earlier output") << "pic.jpg"
                                               << "overwrite" << earlier << "pic.png";
    QTest::newRow("skip, folder at the name") << "pic.jpg"
                                              << "skip" << QStringList{"pic.png/"} << "pic (1).png";
    QTest::newRow("overwrite, folder at the name")
        << "pic.jpg"
        << "overwrite" << QStringList{"pic.png/", "pic (1).png"} << "pic (1).png";
    QTest::newRow("skip, link at the name") << "pic.jpg"
                                            << "skip" << QStringList{"pic.png@"} << "pic (1).png";
    QTest::newRow("overwrite, link at the name") << "pic.jpg"
                                                 << "overwrite" << QStringList{"pic.png@"} << "pic (1).png";
    // A source with the output's own name is never its output.
    QTest::newRow("skip, the source's own name") << "pic.png"
                                                 << "skip" << QStringList{} << "pic (1).png";
    QTest::newRow("overwrite, the source's own name") << "pic.png"
                                                      << "overwrite" << QStringList{} << "pic (1).png";
    QTest::newRow("skip, the source's earlier output") << "pic.png"
                                                       << "skip" << QStringList{"pic (1).png"} << "";
    QTest::newRow("overwrite, the source's earlier output")
        << "pic.png"
        << "overwrite" << QStringList{"pic (1).png"} << "pic (1).png";
    QTest::newRow("overwrite, hostile name")
        << "-[a] *?%\" ü.jpg"
        << "overwrite" << QStringList{"-[a] *?%\" ü.png"} << "-[a] *?%\" ü.png";
}

// What the choice for an existing output does with each kind of entry at the
// output's name: an earlier output is skipped or replaced; a folder, a link
// and the source itself are left alone and passed over, like a link's target.
void TestConversion::existingAtOutputName()
{
    QFETCH(QString, source);
    QFETCH(QString, policy);
    QFETCH(QStringList, existing);
    QFETCH(QString, written);
    if (!testutil::executableSuffix().isEmpty() &&
        (source.contains(QLatin1Char('"')) || existing.join(QString()).contains(QLatin1Char('@'))))
        QSKIP("Windows names hold no '\"', and its links are shortcut files, not links");

    QTemporaryDir work;
    const QString dir = work.path() + QLatin1Char('/');
    QVERIFY(QFile::copy(fixture(QStringLiteral("photo.jpg")), dir + source));
    QVERIFY(writeFile(dir + QStringLiteral("decoy.png"), "decoy"));
    QHash<QString, QByteArray> before; // every file's digest; folders and links by kind
    for (const QString &entry : existing) {
        if (entry.endsWith(QLatin1Char('/')))
            QVERIFY(QDir().mkpath(dir + entry));
        else if (entry.endsWith(QLatin1Char('@')))
            QVERIFY(QFile::link(dir + QStringLiteral("decoy.png"), dir + entry.chopped(1)));
        else
            QVERIFY(writeFile(dir + entry, "earlier output"));
    }
    for (const QString &name : entries(dir)) {
        const QFileInfo info(dir + name);
        before.insert(name, info.isSymLink() ? "link" : info.isDir() ? "folder" : digest(dir + name));
    }

    ConversionOptions options = optionsFor(QStringLiteral("PNG"));
    options.Existing = *ParseExistingPolicy(policy);
    const ConversionResult result = ConvertFile(options, dir + source, QStringLiteral("JPG"));
    QVERIFY2(result.Success, qPrintable(result.Reason));
    QCOMPARE(result.Skipped, written.isEmpty());
    QCOMPARE(result.Outputs, written.isEmpty() ? QStringList() : QStringList{dir + written});
    if (!written.isEmpty())
        QCOMPARE(QImage(dir + written).size(), QSize(400, 300));

    // Nothing else changed, and nothing was left behind.
    QStringList after = entries(dir);
    after.removeOne(written);
    QStringList expected = before.keys();
    expected.removeOne(written);
    expected.sort();
    QCOMPARE(after, expected);
    for (const QString &name : std::as_const(after)) {
        const QFileInfo info(dir + name);
        QCOMPARE(info.isSymLink() ? "link"
                 : info.isDir()   ? "folder"
                                  : digest(dir + name),
                 before.value(name));
    }
}

// A conversion that fails leaves the earlier output it would have replaced
// as it was, and no part of the new one.
void TestConversion::overwriteKeepsEarlierOutputOnFailure()
{
    QTemporaryDir work;
    const QString dir = work.path() + QLatin1Char('/');
    QFile whole(fixture(QStringLiteral("photo.jpg")));
    QVERIFY(whole.open(QIODevice::ReadOnly));
    QVERIFY(writeFile(dir + QStringLiteral("cut.jpg"), whole.read(whole.size() / 2)));
    QVERIFY(QFile::copy(fixture(QStringLiteral("in.png")), dir + QStringLiteral("cut.png")));
    const QByteArray earlier = digest(dir + QStringLiteral("cut.png"));

    ConversionOptions options = optionsFor(QStringLiteral("PNG"));
    options.Existing = TExistingPolicy::Overwrite;
    const ConversionResult result =
        ConvertFile(options, dir + QStringLiteral("cut.jpg"), QStringLiteral("JPG"));
    QVERIFY(!result.Success);
    QCOMPARE(digest(dir + QStringLiteral("cut.png")), earlier);
    QCOMPARE(entries(dir), (QStringList{"cut.jpg", "cut.png"}));
}

// An output folder on another file system: a hidden copy beside the output
// first, then the move; nothing else is left there. An earlier output
// there is replaced the same way.
void TestConversion::outputOnAnotherFileSystem()
{
    const QString shm = QStringLiteral("/dev/shm");
    if (!QFileInfo(shm).isWritable() || QStorageInfo(shm).device() == QStorageInfo(cacheFolder()).device())
        QSKIP("no second writable file system here");
    QTemporaryDir outDir(shm + QStringLiteral("/zarvelo-test-XXXXXX"));
    QVERIFY(outDir.isValid());
    for (const QString &format : {QStringLiteral("PNG"), QStringLiteral("JPG")}) {
        ConversionOptions options = optionsFor(format);
        options.SavePath = outDir.path();
        const ConversionResult result =
            ConvertRaster(options, fixture(QStringLiteral("photo.png")), QStringLiteral("PNG"), 0, QString());
        QVERIFY2(result.Success, qPrintable(result.Reason));
    }
    QCOMPARE(entries(outDir.path()), (QStringList{"photo.jpg", "photo.png"}));
    QCOMPARE(imageProperty(outDir.path() + QStringLiteral("/photo.jpg"), QStringLiteral("%wx%h")),
             QStringLiteral("400x300"));

    const QString earlier = outDir.path() + QStringLiteral("/photo.png");
    QVERIFY(writeFile(earlier, "earlier output"));
    ConversionOptions options = optionsFor(QStringLiteral("PNG"));
    options.SavePath = outDir.path();
    options.Existing = TExistingPolicy::Overwrite;
    const ConversionResult result =
        ConvertRaster(options, fixture(QStringLiteral("photo.png")), QStringLiteral("PNG"), 0, QString());
    QVERIFY2(result.Success, qPrintable(result.Reason));
    QCOMPARE(result.Outputs, QStringList{earlier});
    QCOMPARE(entries(outDir.path()), (QStringList{"photo.jpg", "photo.png"}));
    QCOMPARE(QImage(earlier).size(), QSize(400, 300));
}

void TestConversion::widthRules_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("reason");

    QTest::newRow("zero") << "PNG" << 0 << "width must be at least 1 pixel";
    QTest::newRow("negative") << "JPG" << -5 << "width must be at least 1 pixel";
    QTest::newRow("above WEBP") << "WEBP" << 16384 << "width 16384 is above the WEBP limit of 16383 pixels";
    QTest::newRow("above JPEG") << "JPG" << 70000 << "width 70000 is above the JPG limit of 65500 pixels";
    QTest::newRow("above the tool") << "PNG" << 20000
                                    << "width 20000 is above the image tool's limit of 16000 pixels";
}

// A width that cannot be honoured fails with its reason; nothing is written.
void TestConversion::widthRules()
{
    QFETCH(QString, format);
    QFETCH(int, width);
    QFETCH(QString, reason);
    QTemporaryDir outDir;
    ConversionOptions options = optionsFor(format, true, width);
    options.SavePath = outDir.path();
    const ConversionResult result =
        ConvertRaster(options, fixture(QStringLiteral("in.png")), QStringLiteral("PNG"), 0, QString());
    QVERIFY(!result.Success);
    QCOMPARE(result.Reason, reason);
    QCOMPARE(entries(outDir.path()), QStringList());
}

// Pixels stored in Adobe RGB are converted to sRGB on the JPG route: the
// sRGB red that was stored as (218,0,0) comes out red again.
void TestConversion::adobeRgbKeepsItsRed()
{
    const QString srgb = QStringLiteral("/usr/share/color/icc/ghostscript/srgb.icc");
    const QString adobe = QStringLiteral("/usr/share/color/icc/ghostscript/a98.icc");
    if (!QFile::exists(srgb) || !QFile::exists(adobe))
        QSKIP("no Adobe RGB or sRGB profile on this machine");
    QTemporaryDir work;
    const QString source = work.path() + QStringLiteral("/adobe.jpg");
    runTool(QStringLiteral("magick"),
            {QStringLiteral("-size"), QStringLiteral("20x20"), QStringLiteral("xc:red"),
             QStringLiteral("-profile"), srgb, QStringLiteral("-profile"), adobe, QStringLiteral("-quality"),
             QStringLiteral("100"), source});
    const QString pixel =
        QStringLiteral("%[fx:int(255*p{10,10}.r)],%[fx:int(255*p{10,10}.g)],%[fx:int(255*p{10,10}.b)]");
    QCOMPARE(imageProperty(source, pixel).section(QLatin1Char(','), 0, 0).toInt() / 10, 21); // stored ~218
    // Also with metadata stripped: the profile is used before it goes.
    for (const bool keep : {true, false}) {
        ConversionOptions options = optionsFor(QStringLiteral("JPG"), false, 0, 100);
        options.KeepMetadata = keep;
        options.SavePath = work.path() + (keep ? QStringLiteral("/kept") : QStringLiteral("/stripped"));
        QVERIFY(QDir().mkpath(options.SavePath));
        const ConversionResult result = ConvertRaster(options, source, QStringLiteral("JPG"), 0, QString());
        QVERIFY2(result.Success, qPrintable(result.Reason));
        const QStringList rgb = imageProperty(result.Outputs.value(0), pixel).split(QLatin1Char(','));
        QCOMPARE(rgb.size(), 3);
        QVERIFY2(rgb[0].toInt() >= 250 && rgb[1].toInt() <= 5 && rgb[2].toInt() <= 5,
                 qPrintable(rgb.join(',')));
    }
}

// The JPG route carries the source's EXIF data (date, GPS) into the JPEG the
// encoder wrote, with the orientation set to normal: the pixels are turned.
void TestConversion::exifCarriedOrientationNormal()
{
    QTemporaryDir work;
    const QString source = work.path() + QStringLiteral("/turned.jpg");
    QVERIFY(writeExifJpeg(source, 6));
    QCOMPARE(imageProperty(source, QStringLiteral("%[EXIF:Orientation] %wx%h")), QStringLiteral("6 60x40"));
    ConversionOptions options = optionsFor(QStringLiteral("JPG"), false, 0, 90);
    options.SavePath = work.path() + QStringLiteral("/out");
    QVERIFY(QDir().mkpath(options.SavePath));
    const ConversionResult result = ConvertRaster(options, source, QStringLiteral("JPG"), 0, QString());
    QVERIFY2(result.Success, qPrintable(result.Reason));
    const QString output = result.Outputs.value(0);
    QCOMPARE(
        imageProperty(output, QStringLiteral("%[EXIF:DateTime]|%[EXIF:GPSLatitude]|%[EXIF:GPSLatitudeRef]")),
        QStringLiteral("2021:05:06 07:08:09|48/1, 30/1, 0/1|N"));
    QCOMPARE(imageProperty(output, QStringLiteral("%[EXIF:Orientation] %wx%h")), QStringLiteral("1 40x60"));
    // Turned a quarter clockwise: red (left) is now on top.
    QCOMPARE(imageProperty(output, QStringLiteral("%[fx:p{20,5}.r>0.8 && p{20,55}.b>0.8]")),
             QStringLiteral("1"));
    QCOMPARE(imageProperty(output, QStringLiteral("%Q")), QStringLiteral("90"));
}

void TestConversion::keepMetadataOffStrips_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("exifKept");    // whether the route carries EXIF data when kept
    QTest::addColumn<bool>("profileKept"); // whether it carries the colour profile when kept
    // The JPG route turns the pixels into sRGB and writes no profile.
    QTest::newRow("JPG") << "JPG" << true << false;
    QTest::newRow("jpg (direct)") << "jpg" << true << true;
    QTest::newRow("PNG") << "PNG" << true << true;
    QTest::newRow("GIF") << "GIF" << false << true;
    QTest::newRow("WEBP") << "WEBP" << true << true;
    QTest::newRow("TIFF") << "TIFF" << true << true;
}

// Kept, the output holds what its route carries of the source's EXIF data
// and colour profile; stripped, it holds neither.
void TestConversion::keepMetadataOffStrips()
{
    QFETCH(QString, format);
    QFETCH(bool, exifKept);
    QFETCH(bool, profileKept);
    const QString icc = QStringLiteral("/usr/share/color/icc/ghostscript/srgb.icc");
    if (!QFile::exists(icc))
        QSKIP("no sRGB profile on this machine");
    QTemporaryDir work;
    const QString source = work.path() + QStringLiteral("/meta.jpg");
    QVERIFY(writeExifJpeg(source, 1, icc));
    QCOMPARE(imageProperty(source, QStringLiteral("%[profiles]")), QStringLiteral("exif,icc"));
    for (const bool keep : {true, false}) {
        ConversionOptions options = optionsFor(format);
        options.KeepMetadata = keep;
        options.SavePath = work.path() + (keep ? QStringLiteral("/kept") : QStringLiteral("/stripped"));
        QVERIFY(QDir().mkpath(options.SavePath));
        const ConversionResult result = ConvertRaster(options, source, QStringLiteral("JPG"), 0, QString());
        QVERIFY2(result.Success, qPrintable(result.Reason));
        const QString output = result.Outputs.value(0);
        QCOMPARE(exifDateTime(output) == QLatin1String("2021:05:06 07:08:09"), keep && exifKept);
        // The tool lists the profiles by name ("exif,icc"), and warns when there is none.
        QCOMPARE(imageProperty(output, QStringLiteral("%[profiles]"))
                     .split(QLatin1Char(','))
                     .contains(QStringLiteral("icc")),
                 keep && profileKept);
    }
}

// A many-page PDF is rendered a few pages at a time, each bitmap removed
// once its page is converted: the scratch disk stays far below all pages'
// bitmaps together (16 Letter pages at 384 dpi: 16 × 41 MB).
void TestConversion::pdfScratchDiskBounded()
{
    QTemporaryDir work;
    const QString source = work.path() + QStringLiteral("/many.pdf");
    QVERIFY(writePdf(source, 16));
    ConversionOptions options = optionsFor(QStringLiteral("PNG"));
    options.SavePath = work.path() + QStringLiteral("/out");
    QVERIFY(QDir().mkpath(options.SavePath));

    const QStringList cacheBefore = entries(cacheFolder());
    std::atomic<bool> done{false};
    std::atomic<qint64> peak{0};
    std::thread watcher([&] {
        while (!done) {
            peak = std::max<qint64>(peak, scratchBytes(cacheBefore));
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    const ConversionResult result = ConvertPdf(options, source);
    done = true;
    watcher.join();
    QVERIFY2(result.Success, qPrintable(result.Reason));
    QCOMPARE(result.Outputs.size(), 16);
    QCOMPARE(QFileInfo(result.Outputs.last()).fileName(), QStringLiteral("many-016.png"));
    // Only pages halved by the interpreter reach the disk (192 dpi, 9.9
    // MiB): a batch of eight and the page being written, never a 384-dpi
    // bitmap (39 MiB).
    constexpr qint64 pageBitmap = 1632LL * 3 * 2112 + 65536;
    qInfo("scratch peak: %lld KB (all page bitmaps: %lld KB)", peak.load() >> 10, (16 * pageBitmap) >> 10);
    QVERIFY(peak > 0);
    QVERIFY2(peak <= 9 * pageBitmap, qPrintable(QString::number(peak >> 10)));
}

// A page whose bitmap would exceed the image tool's limit fails alone and is
// never rendered; the others are written, and the row fails naming the page.
void TestConversion::pdfHugePageFailsAlone()
{
    QTemporaryDir work;
    const QString ps = work.path() + QStringLiteral("/huge.ps");
    const QString source = work.path() + QStringLiteral("/huge.pdf");
    QVERIFY(writeFile(
        ps, "%!PS\n<< /PageSize [612 792] >> setpagedevice 0 0 1 setrgbcolor 0 0 100 100 rectfill showpage\n"
            "<< /PageSize [7200 7200] >> setpagedevice showpage\n"
            "<< /PageSize [612 792] >> setpagedevice 1 0 0 setrgbcolor 0 0 100 100 rectfill showpage\n"));
    QVERIFY(testutil::psToPdf(ps, source));
    ConversionOptions options = optionsFor(QStringLiteral("PNG"));
    options.SavePath = work.path() + QStringLiteral("/out");
    QVERIFY(QDir().mkpath(options.SavePath));
    const ConversionResult result = ConvertPdf(options, source);
    QVERIFY(!result.Success);
    QVERIFY2(
        result.Reason.startsWith(QLatin1String("page 2 of 3 failed: page too large (38400x38400 pixels")),
        qPrintable(result.Reason));
    QCOMPARE(entries(options.SavePath), (QStringList{"huge-001.png", "huge-003.png"}));
    QCOMPARE(result.Outputs.size(), 2);
}

void TestConversion::aiKeptToItsFolder_data()
{
    QTest::addColumn<QString>("where"); // "cache" or "temp"
    QTest::addColumn<QString>("access");
    QTest::newRow("read in the cache folder") << "cache"
                                              << "r";
    QTest::newRow("write in the cache folder") << "cache"
                                               << "w";
    QTest::newRow("read in the temporary folder") << "temp"
                                                  << "r";
    QTest::newRow("write in the temporary folder") << "temp"
                                                   << "w";
}

// A document that reaches for another file (one a running copy could be
// converting, for example) fails and touches nothing.
void TestConversion::aiKeptToItsFolder()
{
    QFETCH(QString, where);
    QFETCH(QString, access);
    QTemporaryDir shared(where == QLatin1String("cache")
                             ? cacheFolder() + QStringLiteral("/zarvelo-decoy-XXXXXX")
                             : QDir::tempPath() + QStringLiteral("/decoy-XXXXXX"));
    QVERIFY(shared.isValid());
    const QString decoy = shared.path() + QStringLiteral("/page.bmp");
    QVERIFY(writeFile(decoy, "decoy bytes"));
    QTemporaryDir work;
    const QString source = work.path() + QStringLiteral("/reach.ai");
    const QByteArray body = access == QLatin1String("r")
                                ? "(" + decoy.toUtf8() + ") (r) file 100 string readstring pop pop\n"
                                : "(" + decoy.toUtf8() + ") (w) file dup (changed) writestring closefile\n";
    QVERIFY(writeFile(source, "%!PS\n" + body + "0 0 1 setrgbcolor 0 0 100 100 rectfill showpage\n"));

    ConversionOptions options = optionsFor(QStringLiteral("PNG"));
    options.SavePath = work.path() + QStringLiteral("/out");
    QVERIFY(QDir().mkpath(options.SavePath));
    const ConversionResult result = ConvertAi(options, source);
    QVERIFY(!result.Success);
    QVERIFY2(result.Reason.startsWith(QLatin1String("PostScript interpreter: exit status")),
             qPrintable(result.Reason));
    QVERIFY(result.Printed.contains(QLatin1String("invalidfileaccess")));
    QCOMPARE(head(decoy, 100), QByteArray("decoy bytes"));
    QCOMPARE(entries(shared.path()), QStringList{QStringLiteral("page.bmp")});
    QCOMPARE(entries(options.SavePath), QStringList());
}

void TestConversion::endlessDocumentEnds_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::newRow("time-out") << false;
    QTest::newRow("cancel") << true;
}

// A 9-byte document that loops for ever ends at the time-out or on cancel,
// with its reason, its scratch folder removed and no interpreter left.
void TestConversion::endlessDocumentEnds()
{
    QFETCH(bool, cancel);
    QTemporaryDir work;
    const QString source = work.path() + QStringLiteral("/loop.ai");
    QVERIFY(writeFile(source, "{ } loop\n"));
    const QStringList cacheBefore = entries(cacheFolder());
    TCancelFlag flag;
    ConversionOptions options = optionsFor(QStringLiteral("PNG"));
    options.SavePath = work.path();
    options.TimeoutSeconds = cancel ? 600 : 1;
    TRunContext run;
    run.Cancel = &flag;
    std::thread canceller;
    if (cancel)
        canceller = std::thread([&flag] {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            flag.Cancel();
        });
    const ConversionResult result = ConvertAi(options, source, run);
    if (canceller.joinable())
        canceller.join();
    QVERIFY(!result.Success);
    QCOMPARE(result.Cancelled, cancel);
    QCOMPARE(result.Reason, cancel ? QStringLiteral("cancelled")
                                   : QStringLiteral("PostScript interpreter: timed out after 1 s"));
    QCOMPARE(testutil::childProcesses(QCoreApplication::applicationPid()), QList<qint64>());
    QCOMPARE(entries(cacheFolder()), cacheBefore);
    QCOMPARE(entries(work.path()), QStringList{QStringLiteral("loop.ai")});
}

void TestConversion::programEndedDuringWrite_data()
{
    QTest::addColumn<bool>("killed");
    QTest::newRow("killed") << true;
    QTest::newRow("asked to end") << false;
}

// The program ends while the image tool writes a large output: no file ever
// appears under the final name and the tool does not outlive it. Asked to
// end, it removes its scratch folder itself; killed, the next start does,
// and a folder of a running program stays.
void TestConversion::programEndedDuringWrite()
{
    QFETCH(bool, killed);
    if (!killed && !testutil::noAskToEndReason().isEmpty())
        QSKIP(qPrintable(testutil::noAskToEndReason()));
    QTemporaryDir work;
    const QString source = work.path() + QStringLiteral("/big.png");
    runTool(QStringLiteral("magick"), {QStringLiteral("-size"), QStringLiteral("5000x4000"),
                                       QStringLiteral("plasma:red-blue"), source});
    QVERIFY(QFile::exists(source));
    const QString outFolder = work.path() + QStringLiteral("/out");
    QVERIFY(QDir().mkpath(outFolder));
    // Folders of earlier runs that ended early are gone first.
    RemoveStaleScratchFolders();
    const QStringList cacheBefore = entries(cacheFolder());

    QProcess helper;
    helper.start(testutil::binFolder() + testutil::exeName(QStringLiteral("convert_helper")),
                 {QCoreApplication::applicationName(), QStringLiteral("WEBP"), source, outFolder});
    QVERIFY(helper.waitForStarted());
    // Wait until the image tool runs, then a little longer so that it writes.
    QList<qint64> tools;
    QVERIFY(QTest::qWaitFor([&] { return !(tools = testutil::childProcesses(helper.processId())).isEmpty(); },
                            30000));
    QTest::qWait(700);
    QVERIFY(helper.state() == QProcess::Running);
    QStringList scratch = entries(cacheFolder());
    for (const QString &entry : cacheBefore)
        scratch.removeOne(entry);
    QCOMPARE(scratch.size(), 1);
    // A running program's folder is never taken for a dead one's.
    QCOMPARE(RemoveStaleScratchFolders(), 0);
    QVERIFY(QFileInfo::exists(cacheFolder() + QLatin1Char('/') + scratch.first()));

    QVERIFY(killed ? testutil::killHard(helper.processId()) : testutil::askToEnd(helper.processId()));
    QVERIFY(helper.waitForFinished(10000));
    for (const qint64 tool : std::as_const(tools))
        QTRY_VERIFY_WITH_TIMEOUT(!testutil::processAlive(tool), 5000);
    QCOMPARE(entries(outFolder), QStringList());

    if (killed) {
        QVERIFY(QFileInfo::exists(cacheFolder() + QLatin1Char('/') + scratch.first()));
        const TScratchFolder live;
        QVERIFY(live.IsValid());
        QCOMPARE(RemoveStaleScratchFolders(), 1);
        QVERIFY(QFileInfo::exists(live.Path()));
    }
    QCOMPARE(entries(cacheFolder()), cacheBefore);
}

void TestConversion::concurrentCallsKeepApart()
{
    // Calls on several threads at once (as two running copies of the program
    // would) never share a temporary file: every JPEG comes out whole.
    QTemporaryDir outDir;
    ConversionOptions options = optionsFor(QStringLiteral("JPG"), false, 0, 70);
    options.SavePath = outDir.path();
    const QStringList cacheBefore = entries(cacheFolder());
    constexpr int threads = 3;
    constexpr int perThread = 3;
    bool results[threads][perThread] = {};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                const QString name = QStringLiteral("/t%1-%2.png").arg(t).arg(i);
                results[t][i] = ConvertRaster(options, m_fixtures.path() + name, QStringLiteral("PNG"), 0,
                                              fixture(QStringLiteral("photo.png")))
                                    .Success;
            }
        });
    }
    for (std::thread &worker : workers)
        worker.join();
    for (int t = 0; t < threads; ++t)
        for (int i = 0; i < perThread; ++i) {
            QVERIFY(results[t][i]);
            const QString output = outDir.path() + QStringLiteral("/t%1-%2.jpg").arg(t).arg(i);
            QCOMPARE(imageProperty(output, QStringLiteral("%wx%h %Q")), QStringLiteral("400x300 70"));
        }
    QCOMPARE(entries(cacheFolder()), cacheBefore);
}

void TestConversion::multiPageTiff_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QStringList>("outputs");

    QStringList png, jpg, gif;
    for (int page = 1; page <= 5; ++page) {
        png << QStringLiteral("pages-%1.png").arg(page, 3, 10, QLatin1Char('0'));
        jpg << QStringLiteral("pages-%1.jpg").arg(page, 3, 10, QLatin1Char('0'));
        gif << QStringLiteral("pages-%1.gif").arg(page, 3, 10, QLatin1Char('0'));
    }
    QTest::newRow("TIFF keeps the pages together") << "TIFF" << QStringList{QStringLiteral("pages.tiff")};
    QTest::newRow("PNG: a file per page") << "PNG" << png;
    QTest::newRow("JPG: a file per page") << "JPG" << jpg;
    QTest::newRow("GIF: a page is no frame") << "GIF" << gif;
}

// A 5-page TIFF gives every page, each its own colour, in page order.
void TestConversion::multiPageTiff()
{
    QFETCH(QString, format);
    QFETCH(QStringList, outputs);
    const QList<QList<int>> colours{{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}, {255, 0, 255}};
    QTemporaryDir work;
    const QString source = work.path() + QStringLiteral("/pages.tiff");
    QStringList arguments{QStringLiteral("-size"), QStringLiteral("32x32")};
    for (const QList<int> &rgb : colours)
        arguments << QStringLiteral("xc:rgb(%1)").arg(rgbText(rgb));
    runTool(QStringLiteral("magick"), arguments << source);
    QCOMPARE(imageProperty(source, QStringLiteral("%n")), QStringLiteral("5"));

    ConversionOptions options = optionsFor(format, false, 0, 95);
    options.SavePath = work.path() + QStringLiteral("/out");
    QVERIFY(QDir().mkpath(options.SavePath));
    const ConversionResult result = ConvertFile(options, source, QStringLiteral("TIFF"));
    QVERIFY2(result.Success, qPrintable(result.Reason));
    QCOMPARE(result.Reason, QString());
    QCOMPARE(entries(options.SavePath), outputs);
    QCOMPARE(result.Outputs.size(), outputs.size());
    for (int page = 0; page < 5; ++page) {
        const QString picture = outputs.size() == 1 ? options.SavePath + QLatin1Char('/') + outputs.first() +
                                                          QStringLiteral("[%1]").arg(page)
                                                    : options.SavePath + QLatin1Char('/') + outputs.at(page);
        if (outputs.size() > 1)
            QCOMPARE(imageProperty(picture, QStringLiteral("%n")), QStringLiteral("1"));
        QVERIFY2(colourDistance(rgbAt(picture, 16, 16), colours.at(page)) <= 8,
                 qPrintable(picture + QStringLiteral(": ") + rgbText(rgbAt(picture, 16, 16))));
    }
}

// A job holds a multi-page source's page names in item order: a later
// source whose own name is one of them gives way, with any number of
// workers.
void TestConversion::pageNamesHeldInItemOrder()
{
    QTemporaryDir work;
    const QString tiff = work.path() + QStringLiteral("/pages.tiff");
    runTool(QStringLiteral("magick"),
            {QStringLiteral("-size"), QStringLiteral("8x8"), QStringLiteral("xc:red"),
             QStringLiteral("xc:lime"), QStringLiteral("xc:blue"), tiff});
    const QString decoy = work.path() + QStringLiteral("/pages-002.png");
    QVERIFY(writePng(decoy, 12, 10));
    ConversionOptions options = optionsFor(QStringLiteral("PNG"));
    options.SavePath = work.path() + QStringLiteral("/out/");
    QVERIFY(QDir().mkpath(options.SavePath));
    TConversionJob job({{tiff, QStringLiteral("TIFF"), QString()}, {decoy, QStringLiteral("PNG"), QString()}},
                       options, 2);
    QSignalSpy finished(&job, &TConversionJob::Finished);
    job.Start();
    QVERIFY(finished.wait(60000));
    QCOMPARE(entries(options.SavePath),
             (QStringList{QStringLiteral("pages-001.png"), QStringLiteral("pages-002 (1).png"),
                          QStringLiteral("pages-002.png"), QStringLiteral("pages-003.png")}));
    QCOMPARE(imageProperty(options.SavePath + QStringLiteral("pages-002 (1).png"), QStringLiteral("%wx%h")),
             QStringLiteral("12x10"));
}

void TestConversion::transparencyOverWhite_data()
{
    QTest::addColumn<QString>("kind"); // PNG colour type: palette, grey+alpha, 16-bit RGBA
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("half"); // the half-transparent stripe over white

    QTest::newRow("palette with transparency") << "palette"
                                               << "JPG"
                                               << "127,127,255";
    QTest::newRow("grey with alpha") << "grey"
                                     << "JPG"
                                     << "127,127,127";
    QTest::newRow("16-bit RGBA") << "rgba16"
                                 << "JPG"
                                 << "127,127,255";
    QTest::newRow("16-bit RGBA, jpg by the image tool") << "rgba16"
                                                        << "jpg"
                                                        << "127,127,255";
}

// Stripes 16 pixels wide: fully transparent over a hidden colour,
// half-transparent, opaque. Where the output holds no transparency, the
// first comes out white and the second half white; the hidden colour never
// shows.
void TestConversion::transparencyOverWhite()
{
    QFETCH(QString, kind);
    QFETCH(QString, format);
    QFETCH(QString, half);
    QTemporaryDir work;
    const QString source = work.path() + QStringLiteral("/clear.png");
    QString opaque = QStringLiteral("0,128,0");
    if (kind == QLatin1String("grey")) {
        runTool(QStringLiteral("magick"),
                {QStringLiteral("-size"), QStringLiteral("16x16"), QStringLiteral("xc:graya(20%,0)"),
                 QStringLiteral("xc:graya(0%,0.5)"), QStringLiteral("xc:graya(40%,1)"),
                 QStringLiteral("+append"), QStringLiteral("-define"), QStringLiteral("png:color-type=4"),
                 source});
        opaque = QStringLiteral("102,102,102");
    } else if (kind == QLatin1String("palette")) {
        QImage image(48, 16, QImage::Format_Indexed8);
        image.setColorTable({qRgba(255, 0, 0, 0), qRgba(0, 0, 255, 128), qRgba(0, 128, 0, 255)});
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 48; ++x)
                image.setPixel(x, y, uint(x / 16));
        QVERIFY(image.save(source, "PNG"));
    } else {
        QImage image(48, 16, QImage::Format_RGBA64);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 48; ++x)
                image.setPixelColor(x, y,
                                    x < 16   ? QColor(255, 0, 0, 0)
                                    : x < 32 ? QColor(0, 0, 255, 128)
                                             : QColor(0, 128, 0, 255));
        QVERIFY(image.save(source, "PNG"));
    }
    // The PNG's colour type and depth, as the row says.
    const QByteArray header = head(source, 26);
    const QMap<QString, QPair<int, int>> typeAndDepth{{QStringLiteral("palette"), {3, 8}},
                                                      {QStringLiteral("grey"), {4, 8}},
                                                      {QStringLiteral("rgba16"), {6, 16}}};
    QCOMPARE(qMakePair(int(quint8(header.at(25))), int(quint8(header.at(24)))), typeAndDepth.value(kind));

    ConversionOptions options = optionsFor(format, false, 0, 95);
    options.SavePath = work.path() + QStringLiteral("/out");
    QVERIFY(QDir().mkpath(options.SavePath));
    const ConversionResult result = ConvertRaster(options, source, QStringLiteral("PNG"), 0, QString());
    QVERIFY2(result.Success, qPrintable(result.Reason));
    const QString output = result.Outputs.value(0);
    const QList<QPair<int, QString>> spots{{8, QStringLiteral("255,255,255")}, {24, half}, {40, opaque}};
    for (const auto &[x, expected] : spots) {
        QList<int> want;
        for (const QString &part : expected.split(QLatin1Char(',')))
            want << part.toInt();
        QVERIFY2(colourDistance(rgbAt(output, x, 8), want) <= 8,
                 qPrintable(
                     QStringLiteral("x=%1: %2, not %3").arg(x).arg(rgbText(rgbAt(output, x, 8)), expected)));
    }
}

void TestConversion::coloursIntoSrgb_data()
{
    QTest::addColumn<bool>("profiled"); // CMYK with its colour profile, or plain CMYK
    QTest::addColumn<QString>("format");

    for (const bool profiled : {true, false})
        for (const char *format : {"PNG", "WEBP", "JPG", "TIFF"})
            QTest::addRow("%s CMYK to %s", profiled ? "profiled" : "plain", format) << profiled << format;
}

// A CMYK JPEG comes out in sRGB with its profile applied on every route,
// as the image tool itself converts it with "-profile sRGB".
void TestConversion::coloursIntoSrgb()
{
    QFETCH(bool, profiled);
    QFETCH(QString, format);
    const QString srgb = QStringLiteral("/usr/share/color/icc/ghostscript/srgb.icc");
    const QString cmyk = QStringLiteral("/usr/share/color/icc/ghostscript/default_cmyk.icc");
    if (!QFile::exists(srgb) || !QFile::exists(cmyk))
        QSKIP("no sRGB or CMYK profile on this machine");
    QTemporaryDir work;
    const QString source = work.path() + QStringLiteral("/rose.jpg");
    QStringList make{QStringLiteral("-size"), QStringLiteral("32x32"), QStringLiteral("xc:rgb(230,120,160)")};
    if (profiled)
        make << QStringLiteral("-profile") << srgb << QStringLiteral("-profile") << cmyk;
    else
        make << QStringLiteral("-colorspace") << QStringLiteral("CMYK");
    runTool(QStringLiteral("magick"), make << QStringLiteral("-quality") << QStringLiteral("100") << source);
    QCOMPARE(imageProperty(source, QStringLiteral("%[colorspace]")), QStringLiteral("CMYK"));
    const QString reference = work.path() + QStringLiteral("/reference.png");
    runTool(QStringLiteral("magick"), {source, QStringLiteral("-profile"), srgb, reference});
    const QList<int> expected = rgbAt(reference, 16, 16);
    if (profiled) {
        // The fixture shows the fault: read without its profile, the rose is magenta.
        const QString naive = work.path() + QStringLiteral("/naive.png");
        runTool(QStringLiteral("magick"), {source, naive});
        QVERIFY2(colourDistance(rgbAt(naive, 16, 16), expected) > 30,
                 qPrintable(rgbText(rgbAt(naive, 16, 16))));
    }

    for (const bool keep : {true, false}) {
        ConversionOptions options = optionsFor(format, false, 0, 95);
        options.KeepMetadata = keep;
        options.SavePath = work.path() + (keep ? QStringLiteral("/kept") : QStringLiteral("/stripped"));
        QVERIFY(QDir().mkpath(options.SavePath));
        const ConversionResult result = ConvertRaster(options, source, QStringLiteral("JPG"), 0, QString());
        QVERIFY2(result.Success, qPrintable(result.Reason));
        const QString output = result.Outputs.value(0);
        QCOMPARE(imageProperty(output, QStringLiteral("%[colorspace]")), QStringLiteral("sRGB"));
        QVERIFY2(
            colourDistance(rgbAt(output, 16, 16), expected) <= 6,
            qPrintable(rgbText(rgbAt(output, 16, 16)) + QStringLiteral(" against ") + rgbText(expected)));
    }
}

void TestConversion::svgReferencesConfined_data()
{
    QTest::addColumn<QString>("href");   // $SECRET: the secret picture's absolute path
    QTest::addColumn<QString>("colour"); // drawn in the middle; empty: refused
    QTest::addColumn<QString>("reason");

    QTest::newRow("beside the drawing") << "photo.png"
                                        << "255,0,0"
                                        << "";
    QTest::newRow("below the drawing") << "sub/p.png"
                                       << "0,0,255"
                                       << "";
    QTest::newRow("absolute path") << "$SECRET"
                                   << ""
                                   << "the drawing refers to \"$SECRET\": an absolute path is not read";
    QTest::newRow("climbing out") << "../secret.png"
                                  << ""
                                  << "the drawing refers to \"../secret.png\": a name that climbs out of its "
                                     "folder is not read";
    QTest::newRow("file scheme")
        << "file://$SECRET"
        << ""
        << "the drawing refers to \"file://$SECRET\": only names beside the drawing are "
           "read";
    QTest::newRow("a link leading out")
        << "escape.png"
        << ""
        << "the drawing refers to \"escape.png\", which is no file in its folder";
    QTest::newRow("missing") << "gone.png"
                             << ""
                             << "the drawing refers to \"gone.png\", which is no file in its folder";
}

// A drawing may show pictures from its own folder and below; any other
// reference is refused with its reason, and the secret picture beside the
// folder (lime) is never drawn.
void TestConversion::svgReferencesConfined()
{
    QFETCH(QString, href);
    QFETCH(QString, colour);
    QFETCH(QString, reason);
    QTemporaryDir work;
    const QString secret = work.path() + QStringLiteral("/secret.png");
    const QString art = work.path() + QStringLiteral("/art");
    QVERIFY(QDir().mkpath(art + QStringLiteral("/sub")));
    runTool(QStringLiteral("magick"),
            {QStringLiteral("-size"), QStringLiteral("8x8"), QStringLiteral("xc:lime"), secret});
    runTool(QStringLiteral("magick"), {QStringLiteral("-size"), QStringLiteral("8x8"),
                                       QStringLiteral("xc:red"), art + QStringLiteral("/photo.png")});
    runTool(QStringLiteral("magick"), {QStringLiteral("-size"), QStringLiteral("8x8"),
                                       QStringLiteral("xc:blue"), art + QStringLiteral("/sub/p.png")});
    // A link that leads out of the folder; on Windows QFile::link makes a
    // shortcut file, which is no link at all.
    if (href == QLatin1String("escape.png") && !testutil::executableSuffix().isEmpty())
        QSKIP("Windows makes a shortcut file, not a link, for QFile::link");
    QVERIFY(QFile::link(secret, art + QStringLiteral("/escape.png")));
    href.replace(QStringLiteral("$SECRET"), secret);
    reason.replace(QStringLiteral("$SECRET"), secret);
    const QString source = art + QStringLiteral("/drawing.svg");
    QVERIFY(writeFile(source, QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" "
                                             "xmlns:xlink=\"http://www.w3.org/1999/xlink\" width=\"20\" "
                                             "height=\"20\"><image xlink:href=\"%1\" x=\"0\" y=\"0\" "
                                             "width=\"20\" height=\"20\"/></svg>")
                                  .arg(href)
                                  .toUtf8()));

    ConversionOptions options = optionsFor(QStringLiteral("PNG"));
    options.SavePath = work.path() + QStringLiteral("/out");
    QVERIFY(QDir().mkpath(options.SavePath));
    const ConversionResult result = ConvertFile(options, source, QStringLiteral("SVG"));
    if (colour.isEmpty()) {
        QVERIFY(!result.Success);
        QCOMPARE(result.Reason, reason);
        QCOMPARE(entries(options.SavePath), QStringList());
        return;
    }
    QVERIFY2(result.Success, qPrintable(result.Reason));
    QCOMPARE(rgbText(rgbAt(result.Outputs.value(0), 10, 10)), colour);
}

// Each resize mode, with and without shrink only, over a landscape (400x300)
// and a portrait (150x200) picture, a drawing (100x50) and a Letter page
// (816x1056 at its own size), on the direct and the JPEG route.
void TestConversion::resizeModes_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QList<int>>("values");
    QTest::addColumn<bool>("shrinkOnly");
    QTest::addColumn<QString>("size"); // of the (first) output

    const QString land = QStringLiteral("photo.png");
    const QString port = QStringLiteral("portrait.png");
    using V = QList<int>;
    // clang-format off
    QTest::newRow("width, landscape") << land << "PNG" << "PNG" << "width" << V{200} << false << "200x150";
    QTest::newRow("width enlarges") << port << "PNG" << "PNG" << "width" << V{600} << false << "600x800";
    QTest::newRow("width, shrink only keeps a small one") << port << "PNG" << "JPG" << "width" << V{600} << true << "150x200";
    QTest::newRow("width, shrink only shrinks a large one") << land << "PNG" << "JPG" << "width" << V{100} << true << "100x75";
    QTest::newRow("long edge, portrait") << port << "PNG" << "JPG" << "longedge" << V{100} << false << "75x100";
    QTest::newRow("long edge, landscape") << land << "PNG" << "JPG" << "longedge" << V{100} << false << "100x75";
    QTest::newRow("long edge, shrink only") << land << "PNG" << "WEBP" << "longedge" << V{1000} << true << "400x300";
    QTest::newRow("fit, landscape") << land << "PNG" << "PNG" << "fit" << V{100, 100} << false << "100x75";
    QTest::newRow("fit, portrait by its height") << port << "PNG" << "JPG" << "fit" << V{300, 100} << false << "75x100";
    QTest::newRow("fit enlarges") << port << "PNG" << "PNG" << "fit" << V{800, 800} << false << "600x800";
    QTest::newRow("fit, shrink only") << port << "PNG" << "PNG" << "fit" << V{800, 800} << true << "150x200";
    QTest::newRow("percent, landscape") << land << "PNG" << "JPG" << "percent" << V{50} << false << "200x150";
    QTest::newRow("percent enlarges") << port << "PNG" << "PNG" << "percent" << V{150} << false << "225x300";
    QTest::newRow("percent, shrink only") << land << "PNG" << "PNG" << "percent" << V{150} << true << "400x300";
    QTest::newRow("drawing, long edge") << "drawing.svg" << "SVG" << "PNG" << "longedge" << V{200} << false << "200x100";
    QTest::newRow("drawing, percent") << "drawing.svg" << "SVG" << "PNG" << "percent" << V{200} << false << "200x100";
    QTest::newRow("drawing, shrink only") << "drawing.svg" << "SVG" << "PNG" << "width" << V{300} << true << "100x50";
    QTest::newRow("drawing, percent, shrink only") << "drawing.svg" << "SVG" << "JPG" << "percent" << V{300} << true << "100x50";
    QTest::newRow("page, width") << "one.pdf" << "PDF" << "PNG" << "width" << V{200} << false << "200x259";
    QTest::newRow("page, long edge") << "one.pdf" << "PDF" << "JPG" << "longedge" << V{300} << false << "232x300";
    QTest::newRow("page, shrink only keeps its size") << "one.pdf" << "PDF" << "PNG" << "width" << V{2000} << true << "816x1056";
    QTest::newRow("page, percent") << "one.pdf" << "PDF" << "PNG" << "percent" << V{50} << false << "408x528";
    // clang-format on
}

void TestConversion::resizeModes()
{
    QFETCH(QString, source);
    QFETCH(QString, type);
    QFETCH(QString, format);
    QFETCH(QString, mode);
    QFETCH(QList<int>, values);
    QFETCH(bool, shrinkOnly);
    QFETCH(QString, size);

    QTemporaryDir outDir;
    ConversionOptions options = optionsFor(format, true);
    options.SavePath = outDir.path() + QLatin1Char('/');
    options.ResizeMode = ParseResizeMode(mode).value();
    options.ShrinkOnly = shrinkOnly;
    options.Width = options.LongEdge = options.FitWidth = options.Percent = values.first();
    options.FitHeight = values.last();
    const ConversionResult result = ConvertFile(options, fixture(source), type);
    QVERIFY2(result.Success, qPrintable(result.Reason + QLatin1Char('\n') + result.Printed));
    const QStringList outputs = entries(outDir.path());
    QVERIFY(!outputs.isEmpty());
    QVERIFY2(outputs.first().endsWith(QLatin1Char('.') + format.toLower()), qPrintable(outputs.first()));
    QCOMPARE(imageProperty(outDir.filePath(outputs.first()), QStringLiteral("%wx%h")), size);
}

// AVIF comes out as an AVIF file of the source's size whose pixels are close
// to the source's; transparency is laid over white, as the format's writer
// here keeps none.
void TestConversion::avifOutput()
{
    if (!ImageToolWritableFormats().isEmpty() && !ImageToolWritableFormats().contains(QStringLiteral("AVIF")))
        QSKIP("this build's image tool has no AVIF coder");
    QTemporaryDir outDir;
    ConversionOptions options = optionsFor(QStringLiteral("AVIF"), false, 300, 90);
    options.SavePath = outDir.path() + QLatin1Char('/');
    const QString source = fixture(QStringLiteral("photo.png"));
    const ConversionResult result = ConvertFile(options, source, QStringLiteral("PNG"));
    QVERIFY2(result.Success, qPrintable(result.Reason + QLatin1Char('\n') + result.Printed));
    QCOMPARE(entries(outDir.path()), QStringList{QStringLiteral("photo.avif")});
    const QString output = outDir.filePath(QStringLiteral("photo.avif"));
    QCOMPARE(head(output, 12).mid(4), QByteArray("ftypavif"));
    QCOMPARE(imageProperty(output, QStringLiteral("%wx%h")), QStringLiteral("400x300"));
    // The tool reads AVIF back as YCbCr: into sRGB before comparing.
    const QString psnr =
        runTool(QStringLiteral("magick"),
                {source, output, QStringLiteral("-colorspace"), QStringLiteral("sRGB"),
                 QStringLiteral("-metric"), QStringLiteral("PSNR"), QStringLiteral("-compare"),
                 QStringLiteral("-format"), QStringLiteral("%[distortion]"), QStringLiteral("info:")});
    QVERIFY2(psnr.toDouble() >= 30, qPrintable(psnr));

    // A lower quality makes a smaller file.
    options.Quality = 40;
    QVERIFY(ConvertFile(options, source, QStringLiteral("PNG")).Success);
    const QString lower = outDir.filePath(QStringLiteral("photo (1).avif"));
    QVERIFY2(
        QFileInfo(lower).size() < QFileInfo(output).size(),
        qPrintable(QStringLiteral("%1 >= %2").arg(QFileInfo(lower).size()).arg(QFileInfo(output).size())));
}

QTEST_MAIN(TestConversion)
#include "tst_conversion.moc"
