#include "conversion.h"

#include "common.h"
#include "tools.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace
{
const QLatin1Char slash('/');
const QLatin1Char quote('"');

QString imageTool()
{
    return ProgramFolder() + QStringLiteral("vendor/magick");
}

QString jpegEncoder()
{
    return ProgramFolder() + QStringLiteral("vendor/cjpeg");
}

QString postScriptInterpreter()
{
    return ProgramFolder() + QStringLiteral("vendor/gs");
}

QString quoted(const QString &text)
{
    return quote + text + quote;
}

// Everything after the last '/'.
QString fileNamePart(const QString &path)
{
    return path.mid(path.lastIndexOf(slash) + 1);
}

// Everything up to and including the last '/' (empty when there is none).
QString folderPart(const QString &path)
{
    return path.left(path.lastIndexOf(slash) + 1);
}

// A file name less its last extension (from the last '.' on); a name without
// a dot stays whole.
QString withoutExtension(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? fileName : fileName.left(dot);
}

// Local date and time to the millisecond: eighteen characters.
QString timestamp()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_hhmmsszzz"));
}

// The interpreter reads "%" in an output file name as a page-number format;
// doubling it makes it a literal "%".
QString escapedForOutputFile(const QString &path)
{
    QString escaped = path;
    return escaped.replace(QLatin1Char('%'), QStringLiteral("%%"));
}

// A path that holds a double quote cannot be passed through the quoted
// command line intact: the quote would end the argument early and the rest of
// the name would become arguments of their own.
bool passableInCommandLine(const QString &path)
{
    return !path.contains(quote);
}

// A temporary folder for one conversion: a fresh folder of its own inside the
// user's temporary folder, so that no other call or running copy of the
// program can meet its files. It is removed with everything in it when the
// object goes, on every path.
class ScratchFolder
{
  public:
    ScratchFolder() : m_dir(GetSpecialFolder(CSIDL_INTERNET_CACHE) + QStringLiteral("/zarvelo-XXXXXX")) {}
    bool isValid() const { return m_dir.isValid(); }
    // The folder's path, ending with '/'.
    QString path() const { return m_dir.path() + slash; }

  private:
    QTemporaryDir m_dir;
};

// ImageMagick 6 prints this warning when it writes a greyscale PNG from a
// picture that carries a colour profile of the other kind (a black-and-white
// photo or drawing with an RGB profile): the PNG is complete and correct, only
// the profile is left out. Such a line alone is no failure; every other
// printed text still is.
QString withoutProfileNotices(const QString &printed)
{
    static const QRegularExpression notice(
        QStringLiteral("^[^\\n]*profile 'icc': [^\\n]*color space not permitted on \\w+ PNG[^\\n]*$"),
        QRegularExpression::MultilineOption);
    QString rest = printed;
    return rest.remove(notice).trimmed();
}

bool isFileAt(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() && !info.isDir();
}

// The JPEG path: the image tool writes an uncompressed bitmap, the JPEG
// encoder compresses it, the result is copied to outputPath.
bool convertThroughEncoder(const ConversionOptions &options, const QString &inputPath,
                           const QString &outputPath, const QString &readOptions, const QString &writeOptions)
{
    const ScratchFolder scratch;
    if (!scratch.isValid())
        return false;

    // "-type TrueColor" keeps the bitmap at 24 bits: for an image of few
    // colours the image tool would otherwise write a 1- or 4-bit bitmap, which
    // the encoder cannot read.
    const QString bitmapPath = scratch.path() + timestamp() + QStringLiteral(".bmp");
    RunAndCapture(imageTool(), readOptions + quoted(inputPath + QStringLiteral("[0]")) + QLatin1Char(' ') +
                                   writeOptions +
                                   QStringLiteral("-type TrueColor -colorspace sRGB -compress none BMP3:") +
                                   quoted(bitmapPath));

    const QString encodedPath = scratch.path() + timestamp() + QLatin1Char('.') + options.SaveFormat;
    RunAndCapture(jpegEncoder(), QStringLiteral("-quality ") + QString::number(options.Quality) +
                                     QStringLiteral(" -outfile ") + quoted(encodedPath) + QLatin1Char(' ') +
                                     quoted(bitmapPath));

    // An encoder that failed may leave an empty file: that is no JPEG. And
    // QFile::copy never replaces a file: a file that appeared under the output
    // name since it was chosen is left alone, and the call fails.
    const bool copied = QFileInfo(encodedPath).size() > 0 && QFile::copy(encodedPath, outputPath);
    QFile::remove(bitmapPath);
    QFile::remove(encodedPath);
    return copied && isFileAt(outputPath);
}
} // namespace

QString MakeOutputPath(const ConversionOptions &options, const QString &sourcePath, const QString &format)
{
    const QString name = withoutExtension(fileNamePart(sourcePath));
    QString folder = options.SavePath;
    if (folder.isEmpty())
        folder = folderPart(sourcePath);
    else if (!folder.endsWith(slash))
        folder += slash;

    const QString base = folder + name;
    const QString extension = format.toLower();
    // A folder under the name does not take it; any other entry does, a
    // dangling link included (the tool would write through it).
    const auto taken = [](const QString &path) {
        const QFileInfo info(path);
        return (info.exists() || info.isSymLink()) && !info.isDir();
    };
    QString candidate = base + QLatin1Char('.') + extension;
    for (qint64 n = 1; taken(candidate); ++n)
        candidate = base + QStringLiteral(" (") + QString::number(n) + QStringLiteral(").") + extension;
    return candidate;
}

static bool convertRasterOld(const ConversionOptions &options, const QString &sourcePath, const QString &imageType,
                   int scalePercent, const QString &readFrom)
{
    const QString outputPath = MakeOutputPath(options, sourcePath, options.SaveFormat);
    const QString inputPath = readFrom.isEmpty() ? sourcePath : readFrom;
    if (!passableInCommandLine(inputPath) || !passableInCommandLine(outputPath))
        return false;

    const bool svg = imageType == QLatin1String("SVG");
    QString readOptions;
    QString writeOptions = QStringLiteral("-auto-orient ");
    if (svg)
        readOptions += QStringLiteral("-background none ");
    if (options.UseWidth && svg)
        readOptions += QStringLiteral("-density ") + QString::number(options.Width) + QLatin1Char(' ');
    if (options.UseWidth)
        writeOptions += QStringLiteral(" -resize ") + QString::number(options.Width) + QStringLiteral("x ");
    else if (scalePercent > 0)
        writeOptions += QStringLiteral(" -resize ") + QString::number(scalePercent) + QStringLiteral("% ");

    if (options.SaveFormat == QLatin1String("JPG"))
        return convertThroughEncoder(options, inputPath, outputPath, readOptions, writeOptions);

    if (imageType == QLatin1String("GIF") || imageType == QLatin1String("JPG") ||
        imageType == QLatin1String("RAW"))
        writeOptions += QStringLiteral("-quality ") + QString::number(options.Quality) + QLatin1Char(' ');
    // GIF and WEBP keep every frame; other formats take the first frame only.
    const bool allFrames =
        options.SaveFormat == QLatin1String("GIF") || options.SaveFormat == QLatin1String("WEBP");
    const QString frame = allFrames ? QString() : QStringLiteral("[0]");

    const QString printed =
        RunAndCapture(imageTool(), readOptions + quoted(inputPath + frame) + QLatin1Char(' ') + writeOptions +
                                       quoted(outputPath));
    // A successful run prints nothing; anything printed, a warning included,
    // makes the output count as failed.
    if (!withoutProfileNotices(printed).isEmpty())
        QFile::remove(outputPath);
    return isFileAt(outputPath);
}

static bool convertAiOld(const ConversionOptions &options, const QString &sourcePath)
{
    if (!passableInCommandLine(sourcePath))
        return false;
    const ScratchFolder scratch;
    if (!scratch.isValid())
        return false;

    const QString pngPath =
        scratch.path() + withoutExtension(fileNamePart(sourcePath)) + QStringLiteral(".png");
    RunAndCapture(
        postScriptInterpreter(),
        QStringLiteral("-dNOPAUSE -dBATCH -dNOPROMPT -dQUIET -sDEVICE=pngalpha -r96 -sOutputFile=") +
            quoted(escapedForOutputFile(pngPath)) + QLatin1Char(' ') + quoted(sourcePath));

    const bool result = convertRasterOld(options, sourcePath, QStringLiteral("PNG"), 0, pngPath);
    QFile::remove(pngPath);
    return result;
}

static bool convertPdfOld(const ConversionOptions &options, const QString &sourcePath)
{
    if (!passableInCommandLine(sourcePath))
        return false;
    const ScratchFolder scratch;
    if (!scratch.isValid())
        return false;

    const QString sourceFolder = folderPart(sourcePath);
    const QString name = withoutExtension(fileNamePart(sourcePath));
    const QString pagePattern = escapedForOutputFile(scratch.path() + name) + QStringLiteral("-%03d.bmp");
    const QString fontsFolder = GetSpecialFolder(CSIDL_FONTS);
    RunAndCapture(postScriptInterpreter(),
                  QStringLiteral("-dNOPAUSE -dBATCH -dNOPROMPT -dQUIET -sFONTPATH=") + quoted(fontsFolder) +
                      QStringLiteral(" -dTextAlphaBits=4 -dGraphicsAlphaBits=4 -sDEVICE=bmp16m -r384 "
                                     "-sOutputFile=") +
                      quoted(pagePattern) + QLatin1Char(' ') + quoted(sourcePath));

    // The pages are the entries "<name>-*.bmp" of the scratch folder, which
    // only the interpreter has written to. Name order is page order.
    const QString prefix = name + QLatin1Char('-');
    const QString suffix = QStringLiteral(".bmp");
    const QStringList entries =
        QDir(scratch.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    bool result = false;
    for (const QString &entry : entries) {
        if (entry.size() < prefix.size() + suffix.size() || !entry.startsWith(prefix) ||
            !entry.endsWith(suffix))
            continue;
        result =
            convertRasterOld(options, sourceFolder + entry, QStringLiteral("BMP"), 25, scratch.path() + entry);
        QFile::remove(scratch.path() + entry);
    }
    return result;
}

// Interim wrappers: the pipelines above still answer with a bool.
namespace
{
ConversionResult fromBool(bool ok)
{
    ConversionResult r;
    r.Success = ok;
    if (!ok)
        r.Reason = QStringLiteral("conversion failed");
    return r;
}
} // namespace

ConversionResult ConvertRaster(const ConversionOptions &options, const QString &sourcePath,
                               const QString &imageType, int scalePercent, const QString &readFrom)
{
    return fromBool(convertRasterOld(options, sourcePath, imageType, scalePercent, readFrom));
}

ConversionResult ConvertAi(const ConversionOptions &options, const QString &sourcePath)
{
    return fromBool(convertAiOld(options, sourcePath));
}

ConversionResult ConvertPdf(const ConversionOptions &options, const QString &sourcePath)
{
    return fromBool(convertPdfOld(options, sourcePath));
}

ConversionResult ConvertFile(const ConversionOptions &options, const QString &fileName, const QString &type)
{
    if (type.isEmpty()) {
        ConversionResult r;
        r.Reason = QStringLiteral("not a supported image");
        return r;
    }
    if (type == QLatin1String("PDF"))
        return ConvertPdf(options, fileName);
    if (type == QLatin1String("AI"))
        return ConvertAi(options, fileName);
    return ConvertRaster(options, fileName, type, 0, QString());
}

QString TOutputNames::Reserve(const ConversionOptions &options, const QString &sourcePath, const QString &format)
{
    QMutexLocker lock(&FMutex);
    const auto found = FBySource.constFind(sourcePath);
    if (found != FBySource.constEnd())
        return *found;
    QString path = MakeOutputPath(options, sourcePath, format);
    // Interim: a held name is skipped by asking for the next one.
    while (FHeld.contains(path)) {
        lock.unlock();
        path = ReserveNext(path);
        lock.relock();
    }
    FHeld.insert(path);
    FBySource.insert(sourcePath, path);
    return path;
}

QString TOutputNames::ReserveNext(const QString &path)
{
    QMutexLocker lock(&FMutex);
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    const QString base = dot < 0 ? path : path.left(dot);
    const QString ext = dot < 0 ? QString() : path.mid(dot);
    QString candidate = path;
    for (qint64 n = 1; FHeld.contains(candidate) || QFileInfo::exists(candidate); ++n)
        candidate = base + QStringLiteral(" (") + QString::number(n) + QLatin1Char(')') + ext;
    FHeld.insert(candidate);
    return candidate;
}
