// The tool argument lists of every route, built without running a tool: each
// row is what the tools are told for one combination of input, options and
// facts measured before.

#include "engine/arguments.h"
#include "engine/svgrefs.h"
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
    void resizeGeometry_data();
    void resizeGeometry();
    void svgDensity_data();
    void svgDensity();
    void drawingWidth_data();
    void drawingWidth();
    void optionsProblem_data();
    void optionsProblem();
    void modeProblem_data();
    void modeProblem();
    void interpreterArguments_data();
    void interpreterArguments();
    void resourceList_data();
    void resourceList();
    void pictureArguments_data();
    void pictureArguments();
    void inspection_data();
    void inspection();
    void svgReferences_data();
    void svgReferences();
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
        << "in1.png[0] -auto-orient -background white -alpha remove -profile /icc/srgb.icc -strip -type TrueColor -colorspace sRGB PPM:-"
        << "-quality 80 -outfile out2.JPG";
    QTest::newRow("JPG without a profile") << "PNG" << "JPG" << 120 << 0 << 95 << true << 0 << 0.0 << ""
        << "in1.png[0] -auto-orient -resize 120x -background white -alpha remove -strip -type TrueColor -colorspace sRGB PPM:-"
        << "-quality 95 -outfile out2.JPG";
    QTest::newRow("lower-case jpg is direct") << "JPG" << "jpg" << 0 << 0 << 80 << true << 0 << 0.0 << "/icc/srgb.icc"
        << "in1.png[0] -auto-orient -profile /icc/srgb.icc -background white -alpha remove -quality 80 out2.jpg" << "";
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
        << "in1.png[0] -auto-orient -background white -alpha remove -strip -type TrueColor -colorspace sRGB PPM:-"
        << "-quality 80 -outfile out2.JPG";
    QTest::newRow("one tool thread") << "PNG" << "PNG" << 0 << 0 << 80 << true << 1 << 0.0 << ""
        << "-limit thread 1 in1.png[0] -auto-orient out2.png" << "";
    QTest::newRow("threads before a drawing's background") << "SVG" << "PNG" << 300 << 0 << 80 << true << 2 << 9.0 << ""
        << "-limit thread 2 -background none -density 9 in1.png[0] -auto-orient -resize 300x out2.png" << "";
    QTest::newRow("AVIF gets quality from any input, no transparency") << "PNG" << "AVIF" << 0 << 0 << 62 << true << 0 << 0.0 << ""
        << "in1.png[0] -auto-orient -background white -alpha remove -quality 62 out2.avif" << "";
    QTest::newRow("threads on the JPG route") << "PNG" << "JPG" << 0 << 0 << 70 << true << 1 << 0.0 << "/p.icc"
        << "-limit thread 1 in1.png[0] -auto-orient -background white -alpha remove -profile /p.icc -strip -type TrueColor -colorspace sRGB PPM:-"
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
    QTest::addColumn<QSize>("canvas");
    QTest::addColumn<QSize>("resize");
    QTest::addColumn<QSize>("keep");
    QTest::addColumn<QString>("imageTool");

    const QSize letter(816, 1056);
    QTest::newRow("exact size") << "PNG" << 0 << QSize() << letter << letter
                                << "in1.png[0] +profile * -auto-orient -resize 816x1056! out2.png";
    QTest::newRow("an odd side padded, then cropped")
        << "PNG" << 0 << QSize(3175, 2245) << QSize(1588, 1123) << QSize(794, 1123)
        << "in1.png[0] +profile * -auto-orient -background white -gravity NorthWest -extent 3175x2245 "
           "-resize 1588x1123! -crop 794x1123+0+0 +repage out2.png";
    QTest::newRow("the fit stands for a width") << "GIF" << 300 << QSize() << letter << letter
                                << "in1.png[0] +profile * -auto-orient -resize 816x1056! out2.gif";
    QTest::newRow("no size known") << "PNG" << 0 << QSize() << QSize() << QSize()
                                   << "in1.png[0] +profile * -auto-orient out2.png";
    QTest::newRow("JPG route") << "JPG" << 0 << QSize() << letter << letter
                               << "in1.png[0] +profile * -auto-orient -resize 816x1056! -background white -alpha remove -strip -type TrueColor "
                                  "-colorspace sRGB PPM:-";
}

void TestArguments::pageResize()
{
    QFETCH(QString, format);
    QFETCH(int, width);
    QFETCH(QSize, canvas);
    QFETCH(QSize, resize);
    QFETCH(QSize, keep);
    QFETCH(QString, imageTool);
    ConversionOptions options;
    options.SaveFormat = format;
    options.UseWidth = width > 0;
    options.Width = width;
    options.KeepMetadata = true;
    TImageFacts facts;
    facts.InputType = QStringLiteral("PNG");
    facts.InputName = QStringLiteral("in1.png");
    facts.OutputName = QStringLiteral("out2.") + ScratchOutputExtension(format);
    facts.PageFit = {canvas, resize, keep};
    facts.Frame = 0;
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
             "in1.png[0] -auto-orient -background white -alpha remove -strip -type TrueColor -colorspace sRGB -format \"%x %y %U\" -write "
             "info:density3.txt PPM:-");
}

namespace
{
// Options resizing in mode to values (one number, or two for a box).
ConversionOptions resizing(const QString &mode, const QList<int> &values, bool shrinkOnly)
{
    ConversionOptions options;
    options.UseWidth = !mode.isEmpty();
    options.ResizeMode = ParseResizeMode(mode).value_or(TResizeMode::Width);
    options.ShrinkOnly = shrinkOnly;
    const int first = values.value(0, 540);
    options.Width = options.LongEdge = options.FitWidth = options.Percent = first;
    options.FitHeight = values.value(1, first);
    return options;
}
} // namespace

void TestArguments::resizeGeometry_data()
{
    QTest::addColumn<QString>("mode"); // empty: no resize
    QTest::addColumn<QList<int>>("values");
    QTest::addColumn<bool>("shrinkOnly");
    QTest::addColumn<int>("scale"); // the picture's own size in percent of its pixels
    QTest::addColumn<QStringList>("geometries");

    using L = QStringList;
    QTest::newRow("off") << "" << QList<int>{} << false << 0 << L{};
    QTest::newRow("off, page scale") << "" << QList<int>{} << false << 25 << L{"25%"};
    QTest::newRow("width") << "width" << QList<int>{300} << false << 0 << L{"300x"};
    QTest::newRow("width, shrink only") << "width" << QList<int>{300} << true << 0 << L{"300x>"};
    QTest::newRow("long edge") << "longedge" << QList<int>{800} << false << 0 << L{"800x800"};
    QTest::newRow("long edge, shrink only") << "longedge" << QList<int>{800} << true << 0 << L{"800x800>"};
    QTest::newRow("fit") << "fit" << QList<int>{640, 480} << false << 0 << L{"640x480"};
    QTest::newRow("fit, shrink only") << "fit" << QList<int>{640, 480} << true << 0 << L{"640x480>"};
    QTest::newRow("percent") << "percent" << QList<int>{150} << false << 0 << L{"150%"};
    QTest::newRow("percent, shrink only caps at 100") << "percent" << QList<int>{150} << true << 0 << L{};
    QTest::newRow("percent below 100, shrink only") << "percent" << QList<int>{40} << true << 0 << L{"40%"};
    QTest::newRow("percent 100") << "percent" << QList<int>{100} << false << 0 << L{};
    // A page rendered at four times its size: the modes mean its own size.
    QTest::newRow("page width") << "width" << QList<int>{300} << false << 25 << L{"300x"};
    QTest::newRow("page width, shrink only") << "width" << QList<int>{300} << true << 25 << L{"25%", "300x>"};
    QTest::newRow("page fit, shrink only")
        << "fit" << QList<int>{300, 200} << true << 25 << L{"25%", "300x200>"};
    QTest::newRow("page percent") << "percent" << QList<int>{50} << false << 25 << L{"12.5%"};
    QTest::newRow("page percent, shrink only") << "percent" << QList<int>{300} << true << 25 << L{"25%"};
}

void TestArguments::resizeGeometry()
{
    QFETCH(QString, mode);
    QFETCH(QList<int>, values);
    QFETCH(bool, shrinkOnly);
    QFETCH(int, scale);
    QFETCH(QStringList, geometries);
    QCOMPARE(ResizeGeometries(resizing(mode, values, shrinkOnly), scale), geometries);

    // The image tool is told them in order, after the turn.
    TImageFacts facts;
    facts.InputType = QStringLiteral("BMP");
    facts.InputName = QStringLiteral("in.bmp");
    facts.OutputName = QStringLiteral("out.png");
    facts.ScalePercent = scale;
    ConversionOptions options = resizing(mode, values, shrinkOnly);
    options.SaveFormat = QStringLiteral("PNG");
    QString expected = QStringLiteral("in.bmp[0] -auto-orient");
    for (const QString &geometry : geometries)
        expected += QStringLiteral(" -resize ") + geometry;
    QCOMPARE(JoinArguments(ImageArguments(options, facts).ImageTool), expected + QStringLiteral(" out.png"));
}

void TestArguments::drawingWidth_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QList<int>>("values");
    QTest::addColumn<bool>("shrinkOnly");
    QTest::addColumn<double>("natural"); // the drawing's own width
    QTest::addColumn<int>("width");      // 0: its own size

    QTest::newRow("width") << "width" << QList<int>{300} << false << 100.0 << 300;
    QTest::newRow("width, shrink only, larger") << "width" << QList<int>{300} << true << 100.0 << 0;
    QTest::newRow("width, shrink only, smaller") << "width" << QList<int>{300} << true << 1000.0 << 300;
    QTest::newRow("long edge") << "longedge" << QList<int>{400} << false << 100.0 << 400;
    QTest::newRow("fit: the larger side") << "fit" << QList<int>{200, 500} << false << 100.0 << 500;
    QTest::newRow("percent") << "percent" << QList<int>{250} << false << 100.0 << 250;
    QTest::newRow("percent, shrink only") << "percent" << QList<int>{250} << true << 100.0 << 0;
    QTest::newRow("percent below 100, shrink only") << "percent" << QList<int>{50} << true << 100.0 << 50;
    QTest::newRow("percent of a tiny drawing") << "percent" << QList<int>{1} << false << 10.0 << 1;
}

void TestArguments::drawingWidth()
{
    QFETCH(QString, mode);
    QFETCH(QList<int>, values);
    QFETCH(bool, shrinkOnly);
    QFETCH(double, natural);
    QFETCH(int, width);
    const ConversionOptions options = resizing(mode, values, shrinkOnly);
    QCOMPARE(DrawingWidth(options, natural), width);
    QCOMPARE(SvgNaturalWidth(QStringLiteral("%1 72 PixelsPerInch\n").arg(natural)), natural);
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

void TestArguments::modeProblem_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QList<int>>("values");
    QTest::addColumn<QString>("problem");

    QTest::newRow("long edge fine") << "PNG"
                                    << "longedge" << QList<int>{16000} << "";
    QTest::newRow("long edge 0") << "PNG"
                                 << "longedge" << QList<int>{0} << "longest edge must be at least 1 pixel";
    QTest::newRow("long edge above WEBP")
        << "WEBP"
        << "longedge" << QList<int>{16384} << "longest edge 16384 is above the WEBP limit of 16383 pixels";
    QTest::newRow("box height above the tool")
        << "PNG"
        << "fit" << QList<int>{10, 16001} << "box side 16001 is above the image tool's limit of 16000 pixels";
    QTest::newRow("box with a zero side")
        << "PNG"
        << "fit" << QList<int>{0, 300} << "box side must be at least 1 pixel";
    QTest::newRow("percent fine") << "WEBP"
                                  << "percent" << QList<int>{1000} << "";
    QTest::newRow("percent 0") << "PNG"
                               << "percent" << QList<int>{0} << "percent must be from 1 to 1000";
}

void TestArguments::modeProblem()
{
    QFETCH(QString, format);
    QFETCH(QString, mode);
    QFETCH(QList<int>, values);
    QFETCH(QString, problem);
    ConversionOptions options = resizing(mode, values, false);
    options.SaveFormat = format;
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
        << safe + "\"-sFONTPATH=/fonts dir\" -dTextAlphaBits=4 -dGraphicsAlphaBits=4 -sDEVICE=png16m "
                  "-r384 -dDownScaleFactor=2 -dFirstPage=9 -dLastPage=16 -sOutputFile=page3-%03d.png in1.pdf";
    QTest::newRow("PDF batch for a width")
        << PdfRenderArguments(QStringLiteral("in1.pdf"), QStringLiteral("/f"), 1, 1, QStringLiteral("page2-"),
                              24)
        << safe + "-sFONTPATH=/f -dTextAlphaBits=4 -dGraphicsAlphaBits=4 -sDEVICE=png16m "
                  "-r96 -dDownScaleFactor=2 -dFirstPage=1 -dLastPage=1 -sOutputFile=page2-%03d.png in1.pdf";
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

void TestArguments::pictureArguments_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("frame"); // the page asked for; -1: all the output holds
    QTest::addColumn<bool>("cmyk");
    QTest::addColumn<QString>("profile");
    QTest::addColumn<bool>("keep");
    QTest::addColumn<QString>("imageTool");

    // clang-format off
    QTest::newRow("TIFF pages kept together in TIFF") << "TIFF" << "TIFF" << -1 << false << "" << true
        << "in1.png -auto-orient out2.tiff";
    QTest::newRow("TIFF page 3 to PNG") << "TIFF" << "PNG" << 2 << false << "" << true
        << "in1.png[2] -auto-orient out2.png";
    QTest::newRow("TIFF page 2 to GIF: a page is no frame") << "TIFF" << "GIF" << 1 << false << "" << true
        << "in1.png[1] -auto-orient out2.gif";
    QTest::newRow("lower-case tiff takes the first page") << "TIFF" << "tiff" << -1 << false << "" << true
        << "in1.png[0] -auto-orient out2.tiff";
    QTest::newRow("GIF frames to TIFF: the first") << "GIF" << "TIFF" << -1 << false << "" << true
        << "in1.png[0] -auto-orient -quality 80 out2.tiff";
    QTest::newRow("WEBP frames to WEBP") << "WEBP" << "WEBP" << -1 << false << "" << true
        << "in1.png -auto-orient out2.webp";
    QTest::newRow("profiled picture to PNG") << "JPG" << "PNG" << -1 << false << "/p.icc" << true
        << "in1.png[0] -auto-orient -profile /p.icc -quality 80 out2.png";
    QTest::newRow("CMYK without a profile to WEBP") << "JPG" << "WEBP" << -1 << true << "" << true
        << "in1.png -auto-orient -colorspace sRGB -quality 80 out2.webp";
    QTest::newRow("CMYK profile used before the strip") << "JPG" << "TIFF" << -1 << true << "/p.icc" << false
        << "in1.png[0] -auto-orient -profile /p.icc -colorspace sRGB -strip -quality 80 out2.tiff";
    QTest::newRow("transparency over white in jpg") << "PNG" << "jpeg" << -1 << false << "" << true
        << "in1.png[0] -auto-orient -background white -alpha remove out2.jpeg";
    QTest::newRow("a drawing over white in JPG") << "SVG" << "JPG" << -1 << false << "" << true
        << "-background none in1.png[0] -auto-orient -background white -alpha remove -strip -type TrueColor -colorspace sRGB PPM:-";
    QTest::newRow("GIF keeps its transparency") << "PNG" << "GIF" << -1 << false << "" << true
        << "in1.png -auto-orient out2.gif";
    // clang-format on
}

// Which pictures of a source are read, and what is done to colours and
// transparency, for what the inspection found.
void TestArguments::pictureArguments()
{
    QFETCH(QString, type);
    QFETCH(QString, format);
    QFETCH(int, frame);
    QFETCH(bool, cmyk);
    QFETCH(QString, profile);
    QFETCH(bool, keep);
    QFETCH(QString, imageTool);

    ConversionOptions options;
    options.SaveFormat = format;
    options.Quality = 80;
    options.KeepMetadata = keep;
    TImageFacts facts;
    facts.InputType = type;
    facts.InputName = QStringLiteral("in1.png");
    facts.OutputName = QStringLiteral("out2.") + ScratchOutputExtension(format);
    facts.Pages = TypeHoldsPages(type);
    facts.Frame = frame;
    facts.Cmyk = cmyk;
    facts.Profile = profile;
    QCOMPARE(JoinArguments(ImageArguments(options, facts).ImageTool), imageTool);
}

void TestArguments::inspection_data()
{
    QTest::addColumn<QString>("printed");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("cmyk");
    QTest::addColumn<bool>("profiled");

    QTest::newRow("five pages") << "5 sRGB \n5 sRGB \n5 sRGB \n5 Gray \n5 Gray \n" << 5 << false << false;
    QTest::newRow("CMYK with a profile") << "1 CMYK icc\n" << 1 << true << true;
    QTest::newRow("profiles among others") << "1 sRGB exif,icc,xmp\n" << 1 << false << true;
    QTest::newRow("EXIF is no colour profile") << "1 sRGB exif\n" << 1 << false << false;
    QTest::newRow("warning first") << "convert: unknown image property \"%[profiles]\" @ "
                                      "warning/property.c/InterpretImageProperties/4063.\n3 sRGB \n"
                                   << 3 << false << false;
    QTest::newRow("Windows line ends") << "2 Gray icc\r\n2 Gray icc\r\n" << 2 << false << true;
    QTest::newRow("nothing printed") << "" << 1 << false << false;
    QTest::newRow("an error only") << "convert: improper image header `in1.tif'\n" << 1 << false << false;
}

void TestArguments::inspection()
{
    QFETCH(QString, printed);
    QFETCH(int, count);
    QFETCH(bool, cmyk);
    QFETCH(bool, profiled);
    QCOMPARE(InspectArguments(QStringLiteral("in1.tif")).join(QLatin1Char(' ')),
             QStringLiteral("-ping in1.tif -format %n %[colorspace] %[profiles]\\n info:"));
    const TPictureFacts facts = ParseInspection(printed);
    QCOMPARE(facts.Count, count);
    QCOMPARE(facts.Cmyk, cmyk);
    QCOMPARE(facts.Profiled, profiled);
}

void TestArguments::svgReferences_data()
{
    QTest::addColumn<QString>("body"); // inside <svg>, or a whole file when it does not start with '<'
    QTest::addColumn<QString>("names");
    QTest::addColumn<QString>("problem"); // the start of the reason; empty: drawn

    const QString refused = QStringLiteral("the drawing refers to ");
    // clang-format off
    QTest::newRow("beside") << "<image xlink:href=\"photo.png\"/>" << "photo.png" << "";
    QTest::newRow("below, listed once") << "<image xlink:href=\"sub/p.png\"/><image href=\"sub/p.png\"/>"
        << "sub/p.png" << "";
    QTest::newRow("internal and embedded") << "<use xlink:href=\"#a\"/><rect fill=\"url(#g)\"/>"
        "<image xlink:href=\"data:image/png;base64,iVBO\"/>" << "" << "";
    QTest::newRow("absolute") << "<image xlink:href=\"/home/u/secret.png\"/>" << ""
        << refused + "\"/home/u/secret.png\": an absolute path";
    QTest::newRow("climbing out") << "<image xlink:href=\"../secret.png\"/>" << ""
        << refused + "\"../secret.png\": a name that climbs out";
    QTest::newRow("climbing out from below") << "<image xlink:href=\"sub/../../secret.png\"/>" << ""
        << refused + "\"sub/../../secret.png\": a name that climbs out";
    QTest::newRow("file scheme") << "<image xlink:href=\"file:///etc/secret.png\"/>" << ""
        << refused + "\"file:///etc/secret.png\": only names beside";
    QTest::newRow("web scheme") << "<image xlink:href=\"https://example.com/a.png\"/>" << ""
        << refused + "\"https://example.com/a.png\": only names beside";
    QTest::newRow("drive letter") << "<image xlink:href=\"C:/secret.png\"/>" << ""
        << refused + "\"C:/secret.png\": an absolute path is not read";
    QTest::newRow("backslash") << "<image xlink:href=\"..\\secret.png\"/>" << ""
        << refused + "\"..\\secret.png\": a name with '\\'";
    QTest::newRow("tool pattern") << "<image xlink:href=\"photo[1].png\"/>" << ""
        << refused + "\"photo[1].png\": a name with [";
    QTest::newRow("after a good one") << "<image xlink:href=\"photo.png\"/><image xlink:href=\"/s.png\"/>"
        << "" << refused + "\"/s.png\"";
    QTest::newRow("url in a style attribute") << "<rect style=\"fill:url('/s.png')\"/>" << ""
        << refused + "\"/s.png\"";
    QTest::newRow("url in a style sheet") << "<style>rect { fill: url(../s.png) }</style>" << ""
        << refused + "\"../s.png\"";
    QTest::newRow("imported style sheet") << "<style>@import 'a.css';</style>" << ""
        << "the drawing imports a style sheet";
    QTest::newRow("undeclared prefix still read") << "<image xl:href=\"/s.png\"/>" << ""
        << refused + "\"/s.png\"";
    QTest::newRow("outside entity")
        << "<?xml version=\"1.0\"?><!DOCTYPE svg [<!ENTITY e SYSTEM \"/etc/passwd\">]><svg>&e;</svg>"
        << "" << "the drawing declares an outside entity \"e\"";
    QTest::newRow("document type from a file")
        << "<?xml version=\"1.0\"?><!DOCTYPE svg SYSTEM \"/etc/svg.dtd\"><svg/>" << ""
        << "the drawing's document type refers to \"/etc/svg.dtd\"";
    QTest::newRow("the usual document type")
        << "<?xml version=\"1.0\"?><!DOCTYPE svg PUBLIC \"-//W3C//DTD SVG 1.1//EN\" "
           "\"http://www.w3.org/Graphics/SVG/1.1/DTD/svg11.dtd\"><svg><image xlink:href=\"a.png\"/></svg>"
        << "a.png" << "";
    QTest::newRow("broken after a start") << "<svg><image xlink:href=\"a.png\"></svg>" << ""
        << "the drawing could not be read";
    QTest::newRow("no XML at all") << "\x89PNG\r\n" << "" << "";
    // clang-format on
}

// The pictures a drawing may read, and why one is refused.
void TestArguments::svgReferences()
{
    QFETCH(QString, body);
    QFETCH(QString, names);
    QFETCH(QString, problem);
    const QString svg = body.startsWith(QLatin1Char('<')) && !body.startsWith(QLatin1String("<?")) &&
                                !body.startsWith(QLatin1String("<svg"))
                            ? QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" "
                                             "xmlns:xlink=\"http://www.w3.org/1999/xlink\">%1</svg>")
                                  .arg(body)
                            : body;
    const TSvgReferences found = SvgReferences(svg.toUtf8());
    QVERIFY2(problem.isEmpty() ? found.Problem.isEmpty() : found.Problem.startsWith(problem),
             qPrintable(found.Problem));
    QCOMPARE(found.Names.join(QLatin1Char(' ')), names);
}

QTEST_APPLESS_MAIN(TestArguments)
#include "tst_arguments.moc"
