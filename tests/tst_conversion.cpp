// The conversion pipelines, run against the real image tool, JPEG encoder and
// PostScript interpreter on fixtures made here.

#include "common.h"
#include "conversion.h"
#include "testutil.h"
#include "tools.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

namespace
{

QString vendorTool(const QString &name)
{
    return testutil::binFolder() + QStringLiteral("vendor/") + name;
}

// Runs a real tool directly (not through the code under test).
QString runTool(const QString &name, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(vendorTool(name), arguments);
    process.waitForFinished(-1);
    return QString::fromUtf8(process.readAll());
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

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

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
    const QByteArray program = "%!PS\n<< /PageSize [612 792] >> setpagedevice\n"
                               "/Helvetica findfont 48 scalefont setfont\n1 1 " +
                               QByteArray::number(pages) +
                               (colour ? " { /n exch def 0 0 1 setrgbcolor 72 72 468 648 rectfill\n"
                                         "1 setgray 100 400 moveto (Page ) show n 3 string cvs show showpage } for\n"
                                       : " { /n exch def 0 setgray 100 400 moveto (Page ) show n 3 string cvs show "
                                         "showpage } for\n");
    if (!writeFile(ps, program))
        return false;
    runTool(QStringLiteral("gs"),
            {QStringLiteral("-q"), QStringLiteral("-dNOPAUSE"), QStringLiteral("-dBATCH"),
             QStringLiteral("-sDEVICE=pdfwrite"), QStringLiteral("-sOutputFile=") + path, ps});
    QFile::remove(ps);
    return QFile::exists(path);
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

// Records every program run as "<tool>: <parameters>".
class RunRecorder
{
  public:
    RunRecorder()
    {
        SetToolRunObserver([this](const QString &program, const QString &parameters) {
            m_calls << program.mid(ProgramFolder().size() + 7) + QStringLiteral(": ") + parameters;
        });
    }
    ~RunRecorder() { SetToolRunObserver({}); }
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
    void makeOutputPath_data();
    void makeOutputPath();
    void parameterTexts_data();
    void parameterTexts();
    void pngToJpeg();
    void jpegToOtherFormats_data();
    void jpegToOtherFormats();
    void animatedGif_data();
    void animatedGif();
    void svgAtWidth();
    void pdfPages_data();
    void pdfPages();
    void pdfWithoutPages();
    void aiToPng();
    void warningOnDirectPath_data();
    void warningOnDirectPath();
    void greyPictureWithRgbProfile_data();
    void greyPictureWithRgbProfile();
    void missingTools();
    void quoteInName();
    void concurrentCallsKeepApart();

  private:
    QString fixture(const QString &name) const { return m_fixtures.path() + QLatin1Char('/') + name; }
    QTemporaryDir m_fixtures;
};

void TestConversion::initTestCase()
{
    QVERIFY(m_fixtures.isValid());
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
    QVERIFY(writePdf(fixture(QStringLiteral("doc.pdf")), 3));
    QVERIFY(writePdf(fixture(QStringLiteral("one.pdf")), 1));
    QVERIFY(QFile::copy(fixture(QStringLiteral("one.pdf")), fixture(QStringLiteral("doc.ai"))));
}

void TestConversion::makeOutputPath_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("savePath");     // "@OUT" stands for a second folder
    QTest::addColumn<QStringList>("existing"); // names made first; a trailing '/' makes a folder
    QTest::addColumn<QString>("expected");

    QTest::newRow("free name") << "photo.jpg"
                               << "PNG"
                               << "" << QStringList{} << "photo.png";
    QTest::newRow("first collision") << "photo.jpg"
                                     << "PNG"
                                     << "" << QStringList{"photo.png"} << "photo (1).png";
    QTest::newRow("second collision") << "photo.jpg"
                                      << "PNG"
                                      << "" << QStringList{"photo.png", "photo (1).png"} << "photo (2).png";
    QTest::newRow("gap is not reused") << "photo.jpg"
                                       << "PNG"
                                       << "" << QStringList{"photo.png", "photo (2).png"} << "photo (1).png";
    QTest::newRow("last extension only") << "a.b.jpg"
                                         << "PNG"
                                         << "" << QStringList{} << "a.b.png";
    QTest::newRow("no extension") << "noext"
                                  << "GIF"
                                  << "" << QStringList{} << "noext.gif";
    QTest::newRow("TIFF lower case") << "photo.jpg"
                                     << "TIFF"
                                     << "" << QStringList{} << "photo.tiff";
    QTest::newRow("WEBP lower case") << "photo.jpg"
                                     << "WEBP"
                                     << "" << QStringList{} << "photo.webp";
    QTest::newRow("folder does not count") << "photo.jpg"
                                           << "PNG"
                                           << "" << QStringList{"photo.png/"} << "photo.png";
    QTest::newRow("same name other case") << "photo.jpg"
                                          << "PNG"
                                          << "" << QStringList{"photo.PNG"} << "photo.png";
    QTest::newRow("save folder without slash") << "photo.jpg"
                                               << "PNG"
                                               << "@OUT" << QStringList{} << "@OUT/photo.png";
    QTest::newRow("save folder with slash")
        << "photo.jpg"
        << "PNG"
        << "@OUT/" << QStringList{"@OUT/photo.png"} << "@OUT/photo (1).png";
    QTest::newRow("taken beside source only") << "photo.jpg"
                                              << "PNG"
                                              << "@OUT/" << QStringList{"photo.png"} << "@OUT/photo.png";
    QTest::newRow("dangling link is taken") << "photo.jpg"
                                            << "PNG"
                                            << "" << QStringList{"photo.png@"} << "photo (1).png";
}

void TestConversion::makeOutputPath()
{
    QFETCH(QString, source);
    QFETCH(QString, format);
    QFETCH(QString, savePath);
    QFETCH(QStringList, existing);
    QFETCH(QString, expected);

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
    ConversionOptions options = optionsFor(format);
    options.SavePath = savePath.isEmpty() ? QString() : resolve(savePath);
    QCOMPARE(MakeOutputPath(options, resolve(source), format), resolve(expected));
}

void TestConversion::parameterTexts_data()
{
    QTest::addColumn<QString>("pipeline"); // "raster" on in.png, "ai" on doc.ai, "pdf" on doc.pdf
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("useWidth");
    QTest::addColumn<int>("scale");
    QTest::addColumn<QString>("expected");

    // $F fixture folder, $O output folder, $T the call's temporary folder,
    // $D a timestamp, $FONTS the fonts folder.
    QTest::newRow("PNG to PNG") << "raster"
                                << "PNG"
                                << "PNG" << false << 0
                                << "magick: \"$F/in.png[0]\" -auto-orient \"$O/in.png\"";
    QTest::newRow("BMP to TIFF") << "raster"
                                 << "BMP"
                                 << "TIFF" << false << 0
                                 << "magick: \"$F/in.png[0]\" -auto-orient \"$O/in.tiff\"";
    QTest::newRow("JPG source gets quality")
        << "raster"
        << "JPG"
        << "PNG" << false << 0 << "magick: \"$F/in.png[0]\" -auto-orient -quality 80 \"$O/in.png\"";
    QTest::newRow("RAW to TIFF gets quality")
        << "raster"
        << "RAW"
        << "TIFF" << false << 0 << "magick: \"$F/in.png[0]\" -auto-orient -quality 80 \"$O/in.tiff\"";
    QTest::newRow("GIF to GIF keeps frames")
        << "raster"
        << "GIF"
        << "GIF" << false << 0 << "magick: \"$F/in.png\" -auto-orient -quality 80 \"$O/in.gif\"";
    QTest::newRow("PNG to WEBP at width")
        << "raster"
        << "PNG"
        << "WEBP" << true << 0 << "magick: \"$F/in.png\" -auto-orient  -resize 300x \"$O/in.webp\"";
    QTest::newRow("GIF to WEBP at width") << "raster"
                                          << "GIF"
                                          << "WEBP" << true << 0
                                          << "magick: \"$F/in.png\" -auto-orient  -resize 300x -quality 80 "
                                             "\"$O/in.webp\"";
    QTest::newRow("SVG at width") << "raster"
                                  << "SVG"
                                  << "PNG" << true << 0
                                  << "magick: -background none -density 300 \"$F/in.png[0]\" -auto-orient  "
                                     "-resize 300x \"$O/in.png\"";
    QTest::newRow("SVG without width")
        << "raster"
        << "SVG"
        << "GIF" << false << 0 << "magick: -background none \"$F/in.png\" -auto-orient \"$O/in.gif\"";
    QTest::newRow("scale") << "raster"
                           << "BMP"
                           << "PNG" << false << 25
                           << "magick: \"$F/in.png[0]\" -auto-orient  -resize 25% \"$O/in.png\"";
    QTest::newRow("width wins over scale")
        << "raster"
        << "BMP"
        << "PNG" << true << 25 << "magick: \"$F/in.png[0]\" -auto-orient  -resize 300x \"$O/in.png\"";
    QTest::newRow("JPG through the encoder") << "raster"
                                             << "JPG"
                                             << "JPG" << false << 0
                                             << "magick: \"$F/in.png[0]\" -auto-orient -type TrueColor "
                                                "-colorspace sRGB -compress none BMP3:\"$T/$D.bmp\"\n"
                                                "cjpeg: -quality 80 -outfile \"$T/$D.JPG\" \"$T/$D.bmp\"";
    QTest::newRow("SVG to JPG at width") << "raster"
                                         << "SVG"
                                         << "JPG" << true << 0
                                         << "magick: -background none -density 300 \"$F/in.png[0]\" "
                                            "-auto-orient  -resize 300x -type TrueColor "
                                            "-colorspace sRGB -compress none BMP3:\"$T/$D.bmp\"\n"
                                            "cjpeg: -quality 80 -outfile \"$T/$D.JPG\" \"$T/$D.bmp\"";
    QTest::newRow("lower-case jpg is direct")
        << "raster"
        << "JPG"
        << "jpg" << false << 0 << "magick: \"$F/in.png[0]\" -auto-orient -quality 80 \"$O/in.jpg\"";
    QTest::newRow("AI") << "ai"
                        << "AI"
                        << "PNG" << false << 0
                        << "gs: -dNOPAUSE -dBATCH -dNOPROMPT -dQUIET -sDEVICE=pngalpha -r96 "
                           "-sOutputFile=\"$T/doc.png\" \"$F/doc.ai\"\n"
                           "magick: \"$T/doc.png[0]\" -auto-orient \"$O/doc.png\"";
    const QString pdfRender =
        "gs: -dNOPAUSE -dBATCH -dNOPROMPT -dQUIET -sFONTPATH=\"$FONTS\" -dTextAlphaBits=4 "
        "-dGraphicsAlphaBits=4 -sDEVICE=bmp16m -r384 -sOutputFile=\"$T/doc-%03d.bmp\" "
        "\"$F/doc.pdf\"\n";
    QTest::newRow("PDF pages at 25%")
        << "pdf"
        << "PDF"
        << "PNG" << false << 0
        << pdfRender + "magick: \"$T/doc-001.bmp[0]\" -auto-orient  -resize 25% \"$O/doc-001.png\"\n"
                       "magick: \"$T/doc-002.bmp[0]\" -auto-orient  -resize 25% \"$O/doc-002.png\"\n"
                       "magick: \"$T/doc-003.bmp[0]\" -auto-orient  -resize 25% \"$O/doc-003.png\"";
    QTest::newRow("PDF pages at width")
        << "pdf"
        << "PDF"
        << "GIF" << true << 0
        << pdfRender + "magick: \"$T/doc-001.bmp\" -auto-orient  -resize 300x \"$O/doc-001.gif\"\n"
                       "magick: \"$T/doc-002.bmp\" -auto-orient  -resize 300x \"$O/doc-002.gif\"\n"
                       "magick: \"$T/doc-003.bmp\" -auto-orient  -resize 300x \"$O/doc-003.gif\"";
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
            QVERIFY(ConvertAi(options, fixture(QStringLiteral("doc.ai"))));
        else if (pipeline == QLatin1String("pdf"))
            QVERIFY(ConvertPdf(options, fixture(QStringLiteral("doc.pdf"))));
        else
            QVERIFY(ConvertRaster(options, fixture(QStringLiteral("in.png")), type, scale, QString()));
        calls = recorder.calls();
    }

    QString actual = calls.join(QLatin1Char('\n'));
    actual.replace(
        QRegularExpression(QRegularExpression::escape(cacheFolder()) + QStringLiteral("/zarvelo-\\w+/")),
        QStringLiteral("$T/"));
    actual.replace(QRegularExpression(QStringLiteral("\\d{8}_\\d{9}")), QStringLiteral("$D"));
    actual.replace(m_fixtures.path(), QStringLiteral("$F"));
    actual.replace(outDir.path(), QStringLiteral("$O"));
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
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("frames");

    QTest::newRow("GIF keeps frames") << "GIF"
                                      << "3";
    QTest::newRow("WEBP keeps frames") << "WEBP"
                                       << "3";
    QTest::newRow("PNG takes the first") << "PNG"
                                         << "1";
    QTest::newRow("TIFF takes the first") << "TIFF"
                                          << "1";
    // Flat frames of few colours: the bitmap for the encoder must still be
    // one it can read.
    QTest::newRow("JPG takes the first") << "JPG"
                                         << "1";
}

void TestConversion::animatedGif()
{
    QFETCH(QString, format);
    QFETCH(QString, frames);

    QTemporaryDir outDir;
    ConversionOptions options = optionsFor(format);
    options.SavePath = outDir.path();
    QVERIFY(ConvertRaster(options, fixture(QStringLiteral("anim.gif")), QStringLiteral("GIF"), 0, QString()));
    // One output file only: a multi-frame write to a single-image format
    // would have made anim-0.png, anim-1.png, ...
    QCOMPARE(entries(outDir.path()), QStringList{QStringLiteral("anim.") + format.toLower()});
    QCOMPARE(imageProperty(outDir.path() + QStringLiteral("/anim.") + format.toLower(), QStringLiteral("%n")),
             frames);
}

void TestConversion::svgAtWidth()
{
    QTemporaryDir outDir;
    ConversionOptions options = optionsFor(QStringLiteral("PNG"), true, 300);
    options.SavePath = outDir.path();
    QVERIFY(
        ConvertRaster(options, fixture(QStringLiteral("drawing.svg")), QStringLiteral("SVG"), 0, QString()));
    const QImage image(outDir.path() + QStringLiteral("/drawing.png"));
    QCOMPARE(image.size(), QSize(300, 150));
    // "-background none": outside the rectangle stays transparent.
    QCOMPARE(qAlpha(image.pixel(2, 2)), 0);
    QCOMPARE(qAlpha(image.pixel(150, 75)), 255);
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
        QVERIFY(!ConvertPdf(optionsFor(QStringLiteral("PNG")), source));
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

void TestConversion::warningOnDirectPath_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("result");

    // The image tool warns about the truncated JPEG but writes an image. On
    // the direct path any printed text fails the file; on the encoder path
    // printed texts are ignored.
    QTest::newRow("direct path") << "PNG" << false;
    QTest::newRow("encoder path") << "JPG" << true;
}

void TestConversion::warningOnDirectPath()
{
    QFETCH(QString, format);
    QFETCH(bool, result);

    QTemporaryDir sourceDir;
    const QString source = sourceDir.path() + QStringLiteral("/cut.jpg");
    QFile whole(fixture(QStringLiteral("photo.jpg")));
    QVERIFY(whole.open(QIODevice::ReadOnly));
    QVERIFY(writeFile(source, whole.read(whole.size() / 2)));

    QTemporaryDir outDir;
    ConversionOptions options = optionsFor(format);
    options.SavePath = outDir.path();
    QCOMPARE(ConvertRaster(options, source, QStringLiteral("JPG"), 0, QString()).Success, result);
    QCOMPARE(entries(outDir.path()).size(), result ? 1 : 0);
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
                                                     : ConvertRaster(options, path, type, 0, QString())).Success;
    QVERIFY(result);
    const QStringList outputs = entries(outDir.path());
    QCOMPARE(outputs.size(), 1);
    QVERIFY(!QImage(outDir.path() + QLatin1Char('/') + outputs.first()).isNull());
}

void TestConversion::missingTools()
{
    QTemporaryDir emptyProgramFolder;
    QTemporaryDir sourceDir;
    for (const char *name : {"photo.png", "doc.pdf", "doc.ai"})
        QVERIFY(QFile::copy(fixture(QLatin1String(name)),
                            sourceDir.path() + QLatin1Char('/') + QLatin1String(name)));
    const QStringList sourcesBefore = entries(sourceDir.path());
    const QStringList cacheBefore = entries(cacheFolder());

    SetProgramFolder(emptyProgramFolder.path());
    const QString folder = sourceDir.path() + QLatin1Char('/');
    for (const QString &format : {QStringLiteral("JPG"), QStringLiteral("PNG")}) {
        const ConversionOptions options = optionsFor(format);
        QVERIFY(!ConvertRaster(options, folder + QStringLiteral("photo.png"), QStringLiteral("PNG"), 0,
                               QString()));
        QVERIFY(!ConvertPdf(options, folder + QStringLiteral("doc.pdf")));
        QVERIFY(!ConvertAi(options, folder + QStringLiteral("doc.ai")));
    }
    SetProgramFolder(QString());

    QCOMPARE(entries(sourceDir.path()), sourcesBefore);
    QCOMPARE(entries(emptyProgramFolder.path()), QStringList());
    QCOMPARE(entries(cacheFolder()), cacheBefore);
}

void TestConversion::quoteInName()
{
    // A double quote would end the quoted argument early and turn the rest of
    // the name into options of the tool: such a file is refused untouched.
    QTemporaryDir sourceDir;
    const QString source = sourceDir.path() + QStringLiteral("/a\" -write \"b.png");
    QVERIFY(QFile::copy(fixture(QStringLiteral("photo.png")), source));
    QStringList calls;
    {
        RunRecorder recorder;
        QVERIFY(
            !ConvertRaster(optionsFor(QStringLiteral("PNG")), source, QStringLiteral("PNG"), 0, QString()));
        QVERIFY(
            !ConvertRaster(optionsFor(QStringLiteral("JPG")), source, QStringLiteral("PNG"), 0, QString()));
        QVERIFY(!ConvertPdf(optionsFor(QStringLiteral("PNG")), source));
        QVERIFY(!ConvertAi(optionsFor(QStringLiteral("PNG")), source));
        calls = recorder.calls();
    }
    QCOMPARE(calls, QStringList());
    QCOMPARE(entries(sourceDir.path()).size(), 1);
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
                                              fixture(QStringLiteral("photo.png"))).Success;
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

QTEST_MAIN(TestConversion)
#include "tst_conversion.moc"
