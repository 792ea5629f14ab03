// The tool argument lists of every route, built without running a tool: each
// row is what the tools are told for one combination of input, options and
// facts measured before.

#include "engine/arguments.h"
#include "engine/toollimits.h"
#include "tools.h"

#include <QTest>

using namespace Engine;

class TestArguments : public QObject
{
    Q_OBJECT

  private slots:
    void imageArguments_data();
    void imageArguments();
    void pageResize_data();
    void pageResize();
    void jfifDensity_data();
    void jfifDensity();
    void svgDensity_data();
    void svgDensity();
    void optionsProblem_data();
    void optionsProblem();
    void interpreterArguments_data();
    void interpreterArguments();
    void resourceList_data();
    void resourceList();
};

void TestArguments::imageArguments_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("width"); // 0: UseWidth off
    QTest::addColumn<int>("scale");
    QTest::addColumn<int>("quality");
    QTest::addColumn<bool>("keep");
    QTest::addColumn<int>("threads");
    QTest::addColumn<double>("density"); // measured for a drawing
    QTest::addColumn<QString>("profile");
    QTest::addColumn<QString>("imageTool");
    QTest::addColumn<QString>("encoder"); // empty: the direct route

    // clang-format off
    QTest::newRow("PNG to PNG") << "PNG" << "PNG" << 0 << 0 << 80 << true << 0 << 0.0 << ""
        << "in1.png[0] -auto-orient out2.png" << "";
    QTest::newRow("BMP to TIFF") << "BMP" << "TIFF" << 0 << 0 << 80 << true << 0 << 0.0 << ""
        << "in1.png[0] -auto-orient out2.tiff" << "";
    QTest::newRow("JPG source gets quality") << "JPG" << "PNG" << 0 << 0 << 80 << true << 0 << 0.0 << ""
        << "in1.png[0] -auto-orient -quality 80 out2.png" << "";
    QTest::newRow("RAW to TIFF gets quality") << "RAW" << "TIFF" << 0 << 0 << 55 << true << 0 << 0.0 << ""
        << "in1.png[0] -auto-orient -quality 55 out2.tiff" << "";
    QTest::newRow("GIF to GIF keeps frames") << "GIF" << "GIF" << 0 << 0 << 80 << true << 0 << 0.0 << ""
        << "in1.png -auto-orient -quality 80 out2.gif" << "";
    QTest::newRow("PNG to WEBP at width") << "PNG" << "WEBP" << 300 << 0 << 80 << true << 0 << 0.0 << ""
        << "in1.png -auto-orient -resize 300x out2.webp" << "";
    QTest::newRow("GIF to WEBP at width") << "GIF" << "WEBP" << 300 << 0 << 80 << true << 0 << 0.0 << ""
        << "in1.png -auto-orient -resize 300x -quality 80 out2.webp" << "";
    QTest::newRow("SVG at width") << "SVG" << "PNG" << 300 << 0 << 80 << true << 0 << 451.0 << ""
        << "-background none -density 451 in1.png[0] -auto-orient -resize 300x out2.png" << "";
    QTest::newRow("SVG without width ignores a density") << "SVG" << "GIF" << 0 << 0 << 80 << true << 0 << 451.0 << ""
        << "-background none in1.png -auto-orient out2.gif" << "";
    QTest::newRow("scale") << "BMP" << "PNG" << 0 << 25 << 80 << true << 0 << 0.0 << ""
        << "in1.png[0] -auto-orient -resize 25% out2.png" << "";
    QTest::newRow("width wins over scale") << "BMP" << "PNG" << 300 << 25 << 80 << true << 0 << 0.0 << ""
        << "in1.png[0] -auto-orient -resize 300x out2.png" << "";
    QTest::newRow("PDF page") << "BMP" << "GIF" << 0 << 25 << 80 << true << 0 << 0.0 << ""
        << "in1.png -auto-orient -resize 25% out2.gif" << "";
    QTest::newRow("JPG through the encoder") << "JPG" << "JPG" << 0 << 0 << 80 << true << 0 << 0.0 << "/icc/srgb.icc"
        << "in1.png[0] -auto-orient -profile /icc/srgb.icc -strip -type TrueColor -colorspace sRGB PPM:-"
        << "-quality 80 -outfile out2.JPG";
    QTest::newRow("JPG without a profile") << "PNG" << "JPG" << 120 << 0 << 95 << true << 0 << 0.0 << ""
        << "in1.png[0] -auto-orient -resize 120x -strip -type TrueColor -colorspace sRGB PPM:-"
        << "-quality 95 -outfile out2.JPG";
    QTest::newRow("lower-case jpg is direct") << "JPG" << "jpg" << 0 << 0 << 80 << true << 0 << 0.0 << "/icc/srgb.icc"
        << "in1.png[0] -auto-orient -quality 80 out2.jpg" << "";
    QTest::newRow("other plain format is direct") << "PNG" << "BMP" << 0 << 0 << 80 << true << 0 << 0.0 << ""
        << "in1.png[0] -auto-orient out2.bmp" << "";
    QTest::newRow("strip PNG") << "PNG" << "PNG" << 0 << 0 << 80 << false << 0 << 0.0 << ""
        << "in1.png[0] -auto-orient -strip out2.png" << "";
    QTest::newRow("strip GIF before quality") << "GIF" << "GIF" << 0 << 0 << 80 << false << 0 << 0.0 << ""
        << "in1.png -auto-orient -strip -quality 80 out2.gif" << "";
    QTest::newRow("strip WEBP after resize") << "JPG" << "WEBP" << 200 << 0 << 80 << false << 0 << 0.0 << ""
        << "in1.png -auto-orient -resize 200x -strip -quality 80 out2.webp" << "";
    QTest::newRow("strip TIFF") << "JPG" << "TIFF" << 0 << 0 << 80 << false << 0 << 0.0 << ""
        << "in1.png[0] -auto-orient -strip -quality 80 out2.tiff" << "";
    QTest::newRow("strip JPG: the bitmap's strip only") << "JPG" << "JPG" << 0 << 0 << 80 << false << 0 << 0.0 << ""
        << "in1.png[0] -auto-orient -strip -type TrueColor -colorspace sRGB PPM:-"
        << "-quality 80 -outfile out2.JPG";
    QTest::newRow("one tool thread") << "PNG" << "PNG" << 0 << 0 << 80 << true << 1 << 0.0 << ""
        << "-limit thread 1 in1.png[0] -auto-orient out2.png" << "";
    QTest::newRow("threads before a drawing's background") << "SVG" << "PNG" << 300 << 0 << 80 << true << 2 << 9.0 << ""
        << "-limit thread 2 -background none -density 9 in1.png[0] -auto-orient -resize 300x out2.png" << "";
    QTest::newRow("threads on the JPG route") << "PNG" << "JPG" << 0 << 0 << 70 << true << 1 << 0.0 << "/p.icc"
        << "-limit thread 1 in1.png[0] -auto-orient -profile /p.icc -strip -type TrueColor -colorspace sRGB PPM:-"
        << "-quality 70 -outfile out2.JPG";
    // clang-format on
}

void TestArguments::imageArguments()
{
    QFETCH(QString, type);
    QFETCH(QString, format);
    QFETCH(int, width);
    QFETCH(int, scale);
    QFETCH(int, quality);
    QFETCH(bool, keep);
    QFETCH(int, threads);
    QFETCH(double, density);
    QFETCH(QString, profile);
    QFETCH(QString, imageTool);
    QFETCH(QString, encoder);

    ConversionOptions options;
    options.SaveFormat = format;
    options.UseWidth = width > 0;
    options.Width = width > 0 ? width : 540;
    options.Quality = quality;
    options.KeepMetadata = keep;
    TImageFacts facts;
    facts.InputType = type;
    facts.InputName = QStringLiteral("in1.png");
    facts.OutputName = QStringLiteral("out2.") + ScratchOutputExtension(format);
    facts.ScalePercent = scale;
    facts.ToolThreads = threads;
    facts.SvgDensity = density;
    facts.Profile = profile;

    const TImageArguments lists = ImageArguments(options, facts);
    QCOMPARE(JoinArguments(lists.ImageTool), imageTool);
    QCOMPARE(JoinArguments(lists.Encoder), encoder);
    QCOMPARE(UsesJpegRoute(format), !encoder.isEmpty());
}

// A PDF page reduced by the interpreter loses the interpreter's colour
// profile and gets the image tool's last resize: to the exact 96-dpi size,
// or to the chosen width, which wins.
void TestArguments::pageResize_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("width"); // 0: UseWidth off
    QTest::addColumn<QSize>("exact");
    QTest::addColumn<QString>("imageTool");

    QTest::newRow("exact size") << "PNG" << 0 << QSize(793, 1123)
                                << "in1.tif[0] +profile * -auto-orient -resize 793x1123! out2.png";
    QTest::newRow("width wins") << "GIF" << 300 << QSize(793, 1123)
                                << "in1.tif +profile * -auto-orient -resize 300x out2.gif";
    QTest::newRow("no size known") << "PNG" << 0 << QSize() << "in1.tif[0] +profile * -auto-orient out2.png";
    QTest::newRow("JPG route")
        << "JPG" << 0 << QSize(816, 1056)
        << "in1.tif[0] +profile * -auto-orient -resize 816x1056! -strip -type TrueColor "
           "-colorspace sRGB PPM:-";
}

void TestArguments::pageResize()
{
    QFETCH(QString, format);
    QFETCH(int, width);
    QFETCH(QSize, exact);
    QFETCH(QString, imageTool);
    ConversionOptions options;
    options.SaveFormat = format;
    options.UseWidth = width > 0;
    options.Width = width;
    options.KeepMetadata = true;
    TImageFacts facts;
    facts.InputType = QStringLiteral("TIFF");
    facts.InputName = QStringLiteral("in1.tif");
    facts.OutputName = QStringLiteral("out2.") + ScratchOutputExtension(format);
    facts.ExactSize = exact;
    facts.DropProfiles = true;
    QCOMPARE(JoinArguments(ImageArguments(options, facts).ImageTool), imageTool);
}

// The density a bitmap file gave the encoder, for a JPEG made through a PPM:
// pixels per metre cut to whole pixels, then hundreds of them.
void TestArguments::jfifDensity_data()
{
    QTest::addColumn<QString>("printed");
    QTest::addColumn<QByteArray>("fields");

    QTest::newRow("per centimetre") << "37.799999999999997158 37.799999999999997158 PixelsPerCentimeter"
                                    << QByteArray("\x02\x00\x25\x00\x25", 5);
    QTest::newRow("per inch") << "72 72 PixelsPerInch" << QByteArray("\x02\x00\x1c\x00\x1c", 5);
    QTest::newRow("unlike sides") << "300 150 PixelsPerInch" << QByteArray("\x02\x00\x76\x00\x3b", 5);
    QTest::newRow("undefined unit: none") << "72 72 Undefined" << QByteArray();
    QTest::newRow("below a pixel per metre") << "0.001 0.001 PixelsPerInch" << QByteArray();
    QTest::newRow("nothing printed") << "" << QByteArray();
}

void TestArguments::jfifDensity()
{
    QFETCH(QString, printed);
    QFETCH(QByteArray, fields);
    QCOMPARE(JfifDensity(printed), fields);
    // The image tool writes the density beside the bitmap it pipes.
    ConversionOptions options;
    options.SaveFormat = QStringLiteral("JPG");
    TImageFacts facts;
    facts.InputType = QStringLiteral("PNG");
    facts.InputName = QStringLiteral("in1.png");
    facts.OutputName = QStringLiteral("out2.JPG");
    facts.DensityName = QStringLiteral("density3.txt");
    QCOMPARE(JoinArguments(ImageArguments(options, facts).ImageTool),
             "in1.png[0] -auto-orient -strip -type TrueColor -colorspace sRGB -format \"%x %y %U\" -write "
             "info:density3.txt PPM:-");
}

void TestArguments::svgDensity_data()
{
    QTest::addColumn<QString>("measured"); // "%w %x %U" of the drawing
    QTest::addColumn<int>("width");
    QTest::addColumn<double>("density");

    QTest::newRow("pixels per inch") << "100 72 PixelsPerInch\n" << 300 << 216.0;
    QTest::newRow("pixels per centimetre") << "64 37.8 PixelsPerCentimeter" << 300 << 451.0;
    QTest::newRow("rounded up") << "300 72 PixelsPerInch" << 301 << 73.0;
    QTest::newRow("no density: 72") << "100 0 Undefined" << 300 << 216.0;
    QTest::newRow("at least 1") << "4000 96 PixelsPerInch" << 1 << 1.0;
    QTest::newRow("no width") << "0 72 PixelsPerInch" << 300 << 0.0;
    QTest::newRow("nothing printed") << "" << 300 << 0.0;
}

void TestArguments::svgDensity()
{
    QFETCH(QString, measured);
    QFETCH(int, width);
    QFETCH(double, density);
    QCOMPARE(SvgDensity(measured, width), density);
}

void TestArguments::optionsProblem_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("width"); // 0 and below with useWidth
    QTest::addColumn<bool>("useWidth");
    QTest::addColumn<QString>("problem");

    QTest::newRow("fine") << "PNG" << 16000 << true << "";
    QTest::newRow("width off") << "PNG" << 0 << false << "";
    QTest::newRow("unplain format") << "P-NG" << 300 << false << "unknown output format \"P-NG\"";
    QTest::newRow("empty format") << "" << 300 << false << "unknown output format \"\"";
    QTest::newRow("zero") << "PNG" << 0 << true << "width must be at least 1 pixel";
    QTest::newRow("above WEBP") << "WEBP" << 16384 << true
                                << "width 16384 is above the WEBP limit of 16383 pixels";
    QTest::newRow("lower-case webp keeps its limit")
        << "webp" << 16384 << true << "width 16384 is above the webp limit of 16383 pixels";
    QTest::newRow("above the tool") << "PNG" << 16001 << true
                                    << "width 16001 is above the image tool's limit of 16000 pixels";
}

void TestArguments::optionsProblem()
{
    QFETCH(QString, format);
    QFETCH(int, width);
    QFETCH(bool, useWidth);
    QFETCH(QString, problem);
    ConversionOptions options;
    options.SaveFormat = format;
    options.Width = width;
    options.UseWidth = useWidth;
    QCOMPARE(OptionsProblem(options, 16000), problem);
}

void TestArguments::interpreterArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");

    const QString safe =
        QStringLiteral("-dSAFER -dNOPAUSE -dBATCH -dNOPROMPT -dQUIET --permit-file-read=in1.pdf ");
    QTest::newRow("Illustrator render")
        << AiRenderArguments(QStringLiteral("in1.ai"), QStringLiteral("render2.png"))
        << "-dSAFER -dNOPAUSE -dBATCH -dNOPROMPT -dQUIET --permit-file-read=in1.ai -sDEVICE=pngalpha -r96 "
           "-sOutputFile=render2.png in1.ai";
    QTest::newRow("PDF summary") << PdfInfoArguments(QStringLiteral("in1.pdf"))
                                 << "-dNODISPLAY " + safe + "-dPDFINFO in1.pdf";
    // Rendered at four times the output resolution and halved by the
    // interpreter: only the reduced page is written.
    QTest::newRow("PDF batch")
        << PdfRenderArguments(QStringLiteral("in1.pdf"), QStringLiteral("/fonts dir"), 9, 16,
                              QStringLiteral("page3-"), 96)
        << safe + "\"-sFONTPATH=/fonts dir\" -dTextAlphaBits=4 -dGraphicsAlphaBits=4 -sDEVICE=tiffscaled24 "
                  "-r384 -dDownScaleFactor=2 -dFirstPage=9 -dLastPage=16 -sOutputFile=page3-%03d.tif in1.pdf";
    QTest::newRow("PDF batch for a width")
        << PdfRenderArguments(QStringLiteral("in1.pdf"), QStringLiteral("/f"), 1, 1, QStringLiteral("page2-"),
                              24)
        << safe + "-sFONTPATH=/f -dTextAlphaBits=4 -dGraphicsAlphaBits=4 -sDEVICE=tiffscaled24 "
                  "-r96 -dDownScaleFactor=2 -dFirstPage=1 -dLastPage=1 -sOutputFile=page2-%03d.tif in1.pdf";
    QTest::newRow("drawing size") << SvgMeasureArguments(QStringLiteral("in1.svg"))
                                  << "-background none in1.svg[0] -format \"%w %x %U\\n\" info:";
    QTest::newRow("resource limits") << ResourceListArguments() << "-list resource";
}

void TestArguments::interpreterArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    QCOMPARE(JoinArguments(arguments), expected);
}

void TestArguments::resourceList_data()
{
    QTest::addColumn<QString>("printed");
    QTest::addColumn<qint64>("width");
    QTest::addColumn<qint64>("height");

    QTest::newRow("Debian's policy") << "Resource limits:\n  Width: 16KP\n  Height: 16KP\n  Area: 128MP\n"
                                     << qint64(16000) << qint64(16000);
    QTest::newRow("units and fractions") << "  Width: 1.5MP\n  Height: 300P\n"
                                         << qint64(1500000) << qint64(300);
    QTest::newRow("unlimited keeps the default") << "  Width: unlimited\n  Height: 2KP\n"
                                                 << qint64(16000) << qint64(2000);
    QTest::newRow("nothing printed") << "" << qint64(16000) << qint64(16000);
}

void TestArguments::resourceList()
{
    QFETCH(QString, printed);
    QFETCH(qint64, width);
    QFETCH(qint64, height);
    const TPixelLimits limits = ParseResourceList(printed);
    QCOMPARE(limits.Width, width);
    QCOMPARE(limits.Height, height);
}

QTEST_APPLESS_MAIN(TestArguments)
#include "tst_arguments.moc"
