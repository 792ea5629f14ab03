// Reasons for people: the tools' messages (captured from ImageMagick 6,
// cjpeg and Ghostscript run on truncated, empty, unreadable and oversized
// files) sorted into kinds, the engine's reasons explained, and each kind in
// plain words in English and French.

#include "reasons.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(TReasonKind)
Q_DECLARE_METATYPE(TReason)

class TestReasons : public QObject
{
    Q_OBJECT

  private slots:
    void toolText_data();
    void toolText();
    void engineReason_data();
    void engineReason();
    void sourceFile();
    void words_data();
    void words();
};

void TestReasons::toolText_data()
{
    QTest::addColumn<QString>("printed");
    QTest::addColumn<TReasonKind>("kind");

    const auto row = [](const char *name, const char *printed, TReasonKind kind) {
        QTest::newRow(name) << QString::fromUtf8(printed) << kind;
    };
    using K = TReasonKind;
    row("truncated GIF",
        "convert: insufficient image data in file `in1.gif' @ error/gif.c/ReadGIFImage/1069.\n"
        "convert: no images defined `BMP3:-' @ error/convert.c/ConvertImageCommand/3234.\n",
        K::Damaged);
    row("truncated JPEG",
        "convert: Premature end of JPEG file `in2.jpg' @ warning/jpeg.c/JPEGWarningHandler/389.\n"
        "convert: Corrupt JPEG data: premature end of data segment `in2.jpg' @ "
        "warning/jpeg.c/JPEGWarningHandler/389.\n",
        K::Damaged);
    row("truncated PNG says only that nothing was read",
        "convert: no images defined `BMP3:-' @ error/convert.c/ConvertImageCommand/3234.\n", K::Damaged);
    row("truncated TIFF",
        "convert: in8.tif: Can not read TIFF directory count. `TIFFFetchDirectory' @ "
        "error/tiff.c/TIFFErrors/603.\n"
        "convert: Failed to read directory at offset 9668. `TIFFReadDirectory' @ "
        "error/tiff.c/TIFFErrors/603.\n",
        K::Damaged);
    row("broken PDF", "   **** Error: Couldn't initialise file.\n               Output may be incorrect.\n",
        K::Damaged);
    row("empty PNG",
        "convert: improper image header `in3.png' @ error/png.c/ReadPNGImage/4115.\n"
        "convert: no images defined `BMP3:-' @ error/convert.c/ConvertImageCommand/3234.\n",
        K::NotAnImage);
    row("text named bmp", "convert: improper image header `in9.bmp' @ error/bmp.c/ReadBMPImage/637.\n",
        K::NotAnImage);
    row("cjpeg on a text", "Unrecognized input file format --- perhaps you need -targa\n", K::NotAnImage);
    row("cjpeg on a cut BMP", "Invalid BMP file: bad header length\n", K::NotAnImage);
    row("unreadable file",
        "convert: unable to open image `/tmp/in5.png': Invalid argument @ error/blob.c/OpenBlob/3014.\n"
        "convert: no images defined `BMP3:-' @ error/convert.c/ConvertImageCommand/3234.\n",
        K::NoPermission);
    row("permission denied",
        "convert: unable to open image `in5.png': Permission denied @ error/blob.c/OpenBlob/3014.\n",
        K::NoPermission);
    row("gone",
        "convert: unable to open image `in1.png': No such file or directory @ error/blob.c/OpenBlob/3014.\n",
        K::NotFound);
    row("over the pixel limit",
        "convert: width or height exceeds limit `in1.png' @ error/cache.c/OpenPixelCache/4039.\n"
        "convert: no images defined `BMP3:-' @ error/convert.c/ConvertImageCommand/3234.\n",
        K::TooLarge);
    // The Windows build's image tool prints its messages' tags.
    row("tag: text named png", "magick.exe: ImproperImageHeader `in1.png' @ error/png.c/ReadPNGImage/4110.\r\n",
        K::NotAnImage);
    row("tag: cut png",
        "magick.exe: InsufficientImageDataInFile `in1.png' @ error/png.c/ReadPNGImage/4110.\r\n", K::Damaged);
    row("disk full", "convert: unable to write `out1.png': No space left on device\n", K::NoSpace);
    row("nothing known", "something else entirely\n", K::Other);
    row("nothing printed", "", K::Other);
}

void TestReasons::toolText()
{
    QFETCH(QString, printed);
    QFETCH(TReasonKind, kind);
    QCOMPARE(ClassifyToolText(printed), kind);
}

void TestReasons::engineReason_data()
{
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("printed");
    QTest::addColumn<QString>("english");

    const QString cut = QStringLiteral(
        "convert: insufficient image data in file `in1.png' @ error/png.c/ReadPNGImage/4121.\n");
    QTest::newRow("tool exit") << QStringLiteral(
                                      "image tool: exit status 1: convert: insufficient image data")
                               << cut << "the file is damaged or truncated";
    QTest::newRow("timed out") << QStringLiteral("image tool: timed out after 121 s") << QString()
                               << "timed out after 121 s";
    QTest::newRow("cancelled") << QStringLiteral("cancelled") << QString() << "cancelled";
    QTest::newRow("tool missing") << QStringLiteral("JPEG encoder missing") << QString()
                                  << "a program it needs is missing or does not start";
    QTest::newRow("tool not startable")
        << QStringLiteral("image tool: program missing or not startable: Permission denied") << QString()
        << "a program it needs is missing or does not start";
    QTest::newRow("no space") << QStringLiteral("image tool: no space left on device") << QString()
                              << "no space left on the disk";
    QTest::newRow("name taken") << QStringLiteral("output name not available: Permission denied") << QString()
                                << "the output name is not available";
    QTest::newRow("source gone") << QStringLiteral("source file missing") << QString()
                                 << "the file was not found";
    QTest::newRow("not an image") << QStringLiteral("not a supported image") << QString()
                                  << "the file is not an image";
    QTest::newRow("page too large")
        << QStringLiteral(
               "page 2 of 3 failed: page too large (38400x38400 pixels at 1152 dpi; the image tool "
               "takes at most 16000x16000)")
        << QString()
        << QStringLiteral("page 2 of 3 failed: the picture is too large (limit 16000\u00D716000 pixels)");
    QTest::newRow("pages failed")
        << QStringLiteral("pages 7, 9 of 12 failed: PostScript interpreter: timed out after 30 s")
        << QString() << "page 7 of 12 failed: timed out after 30 s";
    QTest::newRow("printed only") << QStringLiteral("image tool printed: convert: Corrupt JPEG data")
                                  << QStringLiteral("convert: Corrupt JPEG data: bad Huffman code\n")
                                  << "the file is damaged or truncated";
    QTest::newRow("unknown") << QStringLiteral("unexpected error") << QString() << "the conversion failed";
}

void TestReasons::engineReason()
{
    QFETCH(QString, reason);
    QFETCH(QString, printed);
    QFETCH(QString, english);
    QCOMPARE(ReasonText(ExplainFailure(reason, printed), QStringLiteral("en")), english);
}

// The source itself tells what the tool's words leave open: a file that
// cannot be opened, or a header that promises more pixels than the limit.
void TestReasons::sourceFile()
{
    QTemporaryDir dir;
    const QString noImage = QStringLiteral("convert: no images defined `BMP3:-'\n");
    const QString big = dir.filePath(QStringLiteral("big.png"));
    QVERIFY(QImage(300, 20, QImage::Format_RGB32).save(big));
    TReason why = ExplainFileFailure(big, QStringLiteral("image tool printed: x"), noImage, 200, 200);
    QCOMPARE(why.Kind, TReasonKind::TooLarge);
    QCOMPARE(ReasonText(why, QStringLiteral("en")),
             QStringLiteral("the picture is too large (limit 200\u00D7200 pixels)"));
    // Within the limit the tool's words stand.
    why = ExplainFileFailure(big, QStringLiteral("image tool printed: x"), noImage, 1000, 1000);
    QCOMPARE(why.Kind, TReasonKind::Damaged);
    why = ExplainFileFailure(dir.filePath(QStringLiteral("gone.png")), QStringLiteral("x"), noImage, 0, 0);
    QCOMPARE(why.Kind, TReasonKind::NotFound);
    // A cancel stays a cancel whatever the file.
    why = ExplainFileFailure(big, QStringLiteral("cancelled"), noImage, 200, 200);
    QCOMPARE(why.Kind, TReasonKind::Cancelled);
}

void TestReasons::words_data()
{
    QTest::addColumn<TReason>("reason");
    QTest::addColumn<QString>("english");
    QTest::addColumn<QString>("french");

    const auto kind = [](TReasonKind k) {
        TReason r;
        r.Kind = k;
        return r;
    };
    using K = TReasonKind;
    QTest::newRow("damaged") << kind(K::Damaged) << "the file is damaged or truncated"
                             << "le fichier est endommagé ou tronqué";
    QTest::newRow("not an image") << kind(K::NotAnImage) << "the file is not an image"
                                  << "le fichier n'est pas une image";
    QTest::newRow("no permission") << kind(K::NoPermission) << "no permission to read the file"
                                   << "pas le droit de lire le fichier";
    TReason large = kind(K::TooLarge);
    large.Limit = QStringLiteral("16000\u00D716000");
    QTest::newRow("too large") << large
                               << QStringLiteral("the picture is too large (limit 16000\u00D716000 pixels)")
                               << QStringLiteral("l'image est trop grande (limite 16000\u00D716000 pixels)");
    TReason page = kind(K::PageFailed);
    page.Page = 2;
    page.Pages = 5;
    page.PageKind = K::Damaged;
    QTest::newRow("page failed") << page << "page 2 of 5 failed: the file is damaged or truncated"
                                 << "échec de la page 2 sur 5 : le fichier est endommagé ou tronqué";
    TReason late = kind(K::TimedOut);
    late.Seconds = 60;
    QTest::newRow("timed out") << late << "timed out after 60 s"
                               << "délai dépassé après 60 s";
    QTest::newRow("cancelled") << kind(K::Cancelled) << "cancelled"
                               << "annulé";
    QTest::newRow("no space") << kind(K::NoSpace) << "no space left on the disk"
                              << "plus de place sur le disque";
    QTest::newRow("name") << kind(K::NameNotAvailable) << "the output name is not available"
                          << "le nom du fichier de sortie n'est pas disponible";
    QTest::newRow("tool missing") << kind(K::ToolMissing) << "a program it needs is missing or does not start"
                                  << "un programme nécessaire est absent ou ne démarre pas";
    QTest::newRow("not found") << kind(K::NotFound) << "the file was not found"
                               << "fichier introuvable";
    QTest::newRow("bad name") << kind(K::BadName) << "the name is not valid UTF-8; rename it"
                              << "le nom n'est pas en UTF-8 valide ; renommez-le";
    QTest::newRow("folder") << kind(K::FolderUnreadable) << "the folder cannot be read"
                            << "impossible de lire le dossier";
    QTest::newRow("other") << kind(K::Other) << "the conversion failed"
                           << "la conversion a échoué";
    QTest::newRow("none") << kind(K::None) << ""
                          << "";
}

void TestReasons::words()
{
    QFETCH(TReason, reason);
    QFETCH(QString, english);
    QFETCH(QString, french);
    QCOMPARE(ReasonText(reason, QStringLiteral("en")), english);
    QCOMPARE(ReasonText(reason, QStringLiteral("fr")), french);
    // Every language has its own words; one the table lacks reads English.
    for (const char *language : {"ko", "ja", "zh", "ru", "it"})
        QVERIFY(reason.Kind == TReasonKind::None || ReasonText(reason, QLatin1String(language)) != english);
    QCOMPARE(ReasonText(reason, QStringLiteral("de")), english);
}

QTEST_GUILESS_MAIN(TestReasons)
#include "tst_reasons.moc"
