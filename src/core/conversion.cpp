#include "conversion.h"

#include "common.h"
#include "formats.h"
#include "platform.h"
#include "scratch.h"
#include "taskgroup.h"
#include "tools.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSizeF>
#include <QStorageInfo>
#include <QTemporaryFile>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <map>
#include <vector>

namespace
{
const QLatin1Char slash('/');

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

// ASCII letters and digits only, 1 to 16 of them: safe to show a tool.
bool isPlainWord(const QString &text)
{
    if (text.isEmpty() || text.size() > 16)
        return false;
    return std::all_of(text.begin(), text.end(), [](QChar c) {
        return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
               (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
               (c >= QLatin1Char('0') && c <= QLatin1Char('9'));
    });
}

// The plain extension of a path ("png"), or empty when it has none that is
// plain letters and digits.
QString plainExtension(const QString &path)
{
    const QString name = fileNamePart(path);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot < 0 ? QString() : name.mid(dot + 1);
    return isPlainWord(extension) ? extension : QString();
}

// ImageMagick 6 prints this warning when it writes a greyscale PNG from a
// picture that carries a colour profile of the other kind (a black-and-white
// photo or drawing with an RGB profile): the PNG is complete and correct, only
// the profile is left out. Such a line alone is no failure; every other
// printed text still is.
QString withoutHarmlessNotices(const QString &printed)
{
    static const QRegularExpression notice(
        QStringLiteral("^[^\\n]*profile 'icc': [^\\n]*color space not permitted on \\w+ PNG[^\\n]*$"),
        QRegularExpression::MultilineOption);
    QString rest = printed;
    return rest.remove(notice).trimmed();
}

QString firstLine(const QString &text)
{
    return text.trimmed().section(QLatin1Char('\n'), 0, 0).trimmed();
}

// The image tool's size limits, from its resource policy ("Width: 16KP").
struct ImageToolLimits {
    qint64 Width = 16000;
    qint64 Height = 16000;
};

qint64 parsePixelLimit(const QString &text, qint64 fallback)
{
    static const QRegularExpression number(QStringLiteral("^([0-9.]+)\\s*([KMGTP]?)P"));
    const QRegularExpressionMatch match = number.match(text.trimmed());
    if (!match.hasMatch())
        return fallback;
    double value = match.captured(1).toDouble();
    const QString unit = match.captured(2);
    for (const char *step : {"K", "M", "G", "T", "P"}) {
        value *= 1000;
        if (unit == QLatin1String(step))
            break;
        if (unit.isEmpty()) {
            value /= 1000;
            break;
        }
    }
    return value >= 1 && value < 1e15 ? static_cast<qint64>(value) : fallback;
}

ImageToolLimits imageToolLimits()
{
    static QMutex mutex;
    static bool known = false;
    static ImageToolLimits limits;
    QMutexLocker lock(&mutex);
    if (known)
        return limits;
    ToolRequest request;
    request.Program = ExternalToolPath(ExternalTool::ImageTool);
    request.Arguments = {QStringLiteral("-list"), QStringLiteral("resource")};
    request.TimeoutMs = 30000;
    const ToolOutcome outcome = RunTool(request);
    if (!outcome.Finished())
        return limits;
    const QStringList lines = outcome.Printed.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const QString key = line.section(QLatin1Char(':'), 0, 0).trimmed();
        const QString value = line.section(QLatin1Char(':'), 1).trimmed();
        if (key == QLatin1String("Width"))
            limits.Width = parsePixelLimit(value, limits.Width);
        else if (key == QLatin1String("Height"))
            limits.Height = parsePixelLimit(value, limits.Height);
    }
    known = true;
    return limits;
}

// An sRGB colour profile to convert JPEG-route pixels into; empty when none
// is installed. Looked up on each call (a few file checks), since the program
// folder it looks in first can change.
QString srgbProfile()
{
    for (const QString &path : {ProgramFolder() + QStringLiteral("vendor/srgb.icc"),
                                QStringLiteral("/usr/share/color/icc/ghostscript/srgb.icc"),
                                QStringLiteral("/usr/share/color/icc/sRGB.icc"),
                                QStringLiteral("/usr/share/color/icc/colord/sRGB.icc")})
        if (QFileInfo(path).isFile())
            return path;
    return QString();
}

// --- EXIF carried into the encoder's JPEG ---------------------------------

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

// The whole APP1 "Exif" segment (marker included) of a JPEG file, or empty.
QByteArray exifSegmentOf(const QString &path)
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

// Sets the orientation tag of the first image directory to 1 (normal): the
// pixels were turned already.
void setOrientationNormal(QByteArray &segment)
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

// jpeg with segment put right after the start marker and its JFIF header.
QByteArray withSegment(const QByteArray &jpeg, const QByteArray &segment)
{
    qsizetype at = 2;
    if (jpeg.size() > 6 && static_cast<quint8>(jpeg[2]) == 0xFF && static_cast<quint8>(jpeg[3]) == 0xE0)
        at = 4 + readU16(jpeg, 4, true);
    if (at > jpeg.size())
        return jpeg;
    return jpeg.left(at) + segment + jpeg.mid(at);
}

// --- One conversion call ---------------------------------------------------

QString toolLabel(ExternalTool tool)
{
    switch (tool) {
    case ExternalTool::ImageTool:
        return QStringLiteral("image tool");
    case ExternalTool::JpegEncoder:
        return QStringLiteral("JPEG encoder");
    case ExternalTool::Interpreter:
        return QStringLiteral("PostScript interpreter");
    }
    return QString();
}

constexpr int defaultTimeoutSeconds = 120;

// A finished file under a temporary name: removed when this ends, unless
// kept (it then has its final name).
class TPartFile
{
  public:
    explicit TPartFile(QString path) : FPath(std::move(path)) {}
    TPartFile(const TPartFile &) = delete;
    TPartFile &operator=(const TPartFile &) = delete;
    ~TPartFile()
    {
        ForgetTemporaryFile(FPath);
        if (!FKept)
            QFile::remove(FPath);
    }
    const QString &Path() const { return FPath; }
    void Keep() { FKept = true; }

  private:
    QString FPath;
    bool FKept = false;
};

// The work of one public call: its scratch folder, its output names and the
// result it builds. Tools run with the scratch folder as their current and
// temporary folder and see only the plain names made there.
class TCall
{
  public:
    TCall(const ConversionOptions &options, const TRunContext &run, ConversionResult &result)
        : FOptions(options), FRun(run), FResult(result),
          FNames(run.Names ? run.Names : std::make_shared<TOutputNames>())
    {
    }
    // A part of parent's call (one page of a document) with a result of its
    // own, working in parent's open scratch folder and drawing fresh names
    // from parent's counter, so that parts can run on several threads at once.
    TCall(TCall &parent, ConversionResult &result)
        : FOptions(parent.FOptions), FRun(parent.FRun), FResult(result), FNames(parent.FNames),
          FScratchPath(parent.FScratchPath), FCounter(parent.FCounter)
    {
    }

    const ConversionOptions &Options() const { return FOptions; }
    const TRunContext &Run() const { return FRun; }
    ConversionResult &Result() { return FResult; }

    // Makes the scratch folder; false (with the reason) when it cannot.
    bool Open()
    {
        if (!FScratchPath.isEmpty())
            return true;
        if (FRun.Cancel && FRun.Cancel->IsCancelled())
            return Cancelled();
        FScratch = std::make_unique<TScratchFolder>();
        if (!FScratch->IsValid())
            return Fail(QStringLiteral("no temporary folder could be made"));
        FScratchPath = FScratch->Path();
        return true;
    }
    // The scratch folder, ending with '/'; empty before Open().
    QString Scratch() const { return FScratchPath; }

    // A fresh plain name in the scratch folder: stem + number + "." + extension.
    QString FreshName(const QString &stem, const QString &extension)
    {
        return stem + QString::number(++*FCounter) +
               (extension.isEmpty() ? QString() : QLatin1Char('.') + extension);
    }

    // An entry in the scratch folder leading to target, named stem with
    // target's extension when that is plain letters and digits.
    QString LinkInput(const QString &target, const QString &stem)
    {
        const QString name = FreshName(stem, plainExtension(target));
        if (!MakeReadEntry(QFileInfo(target).absoluteFilePath(), Scratch() + name)) {
            Fail(QStringLiteral("no temporary entry could be made"));
            return QString();
        }
        return name;
    }

    bool Cancelled()
    {
        FResult.Cancelled = true;
        return Fail(QStringLiteral("cancelled"));
    }

    // Records the first failure's reason; always false.
    bool Fail(const QString &reason)
    {
        if (FResult.Reason.isEmpty())
            FResult.Reason = reason;
        return false;
    }

    int TimeoutMs(qint64 inputBytes, int extraSeconds = 0) const
    {
        const qint64 base = FOptions.TimeoutSeconds > 0 ? FOptions.TimeoutSeconds : defaultTimeoutSeconds;
        // One more second for every MiB to read.
        const qint64 seconds = base + extraSeconds + inputBytes / (1024 * 1024);
        return int(std::min<qint64>(seconds, 24 * 3600) * 1000);
    }

    // Runs a tool in the scratch folder. printedFails: a clean run prints
    // nothing but harmless notices. The reason of a failure names the tool.
    bool Run(ExternalTool tool, const QStringList &arguments, int timeoutMs, bool printedFails,
             QString *printed = nullptr)
    {
        if (FRun.Cancel && FRun.Cancel->IsCancelled())
            return Cancelled();
        const ToolRequest request = requestFor(tool, arguments, timeoutMs);
        if (request.Program.isEmpty())
            return Fail(toolLabel(tool) + QStringLiteral(" missing"));
        const ToolOutcome outcome = RunTool(request);
        if (printed)
            *printed = outcome.Printed;
        return judge(tool, outcome, printedFails);
    }

    // Runs two tools joined by a pipe (the first one's output is the second
    // one's input); both must run cleanly and print nothing.
    bool RunPipe(ExternalTool firstTool, const QStringList &firstArguments, ExternalTool secondTool,
                 const QStringList &secondArguments, int timeoutMs)
    {
        if (FRun.Cancel && FRun.Cancel->IsCancelled())
            return Cancelled();
        const ToolRequest first = requestFor(firstTool, firstArguments, timeoutMs);
        const ToolRequest second = requestFor(secondTool, secondArguments, timeoutMs);
        if (first.Program.isEmpty())
            return Fail(toolLabel(firstTool) + QStringLiteral(" missing"));
        if (second.Program.isEmpty())
            return Fail(toolLabel(secondTool) + QStringLiteral(" missing"));
        const auto [firstOutcome, secondOutcome] = RunToolPipe(first, second);
        // A second tool that ended first leaves the first one without a
        // reader (it dies of the broken pipe): the second one's reason
        // counts then.
        if (firstOutcome.State == ToolOutcome::Status::Crashed && firstOutcome.Printed.trimmed().isEmpty()) {
            const bool hadReason = !FResult.Reason.isEmpty();
            const bool secondOk = judge(secondTool, secondOutcome, true);
            // The first tool's crash stays in view: it may also be the
            // cause (a tool that died before writing leaves the second one
            // an empty input).
            if (!secondOk && !hadReason && !FResult.Cancelled)
                FResult.Reason += QStringLiteral("; ") + toolLabel(firstTool) + QStringLiteral(": ") +
                                  firstOutcome.Reason();
            return judge(firstTool, firstOutcome, true) && secondOk;
        }
        const bool firstOk = judge(firstTool, firstOutcome, true);
        return judge(secondTool, secondOutcome, true) && firstOk;
    }
    // Holds the output name for nameSource in format from now on (the name
    // Place will give it).
    void ReserveName(const QString &nameSource, const QString &format)
    {
        FNames->Reserve(FOptions, nameSource, format);
    }

    // Gives the finished scratch file its reserved output name (nameSource
    // and format choose it), never replacing anything: a name taken meanwhile
    // gives way to the next free " (n)" name.
    bool Place(const QString &scratchFile, const QString &nameSource, const QString &format)
    {
        if (FRun.Cancel && FRun.Cancel->IsCancelled())
            return Cancelled();
        QString target = FNames->Reserve(FOptions, nameSource, format);
        QString from = Scratch() + scratchFile;
        std::unique_ptr<TPartFile> copy;
        for (int attempt = 0; attempt < 10000; ++attempt) {
            QString error;
            switch (MoveWithoutReplacing(from, target, &error)) {
            case TMoveOutcome::Moved:
                if (copy)
                    copy->Keep();
                FResult.Outputs << target;
                return true;
            case TMoveOutcome::NameTaken:
                target = FNames->ReserveNext(target);
                break;
            case TMoveOutcome::OtherFileSystem:
                if (copy)
                    return Fail(QStringLiteral("output name not available"));
                copy = copyBeside(from, target);
                if (!copy)
                    return false;
                from = copy->Path();
                break;
            case TMoveOutcome::Failed:
                return Fail(QStringLiteral("output name not available: ") + error);
            }
        }
        return Fail(QStringLiteral("output name not available"));
    }

  private:
    ToolRequest requestFor(ExternalTool tool, const QStringList &arguments, int timeoutMs) const
    {
        ToolRequest request;
        request.Program = ExternalToolPath(tool);
        request.Arguments = arguments;
        request.ScratchFolder = Scratch().chopped(1);
        request.WorkingFolder = request.ScratchFolder;
        request.TimeoutMs = timeoutMs;
        request.Cancel = FRun.Cancel;
        request.Observer = FRun.ToolObserver;
        return request;
    }

    // Adds a run's printed text to the result and judges it; the reason of a
    // failure names the tool. printedFails: a clean run prints nothing but
    // harmless notices.
    bool judge(ExternalTool tool, const ToolOutcome &outcome, bool printedFails)
    {
        const QString label = toolLabel(tool);
        FResult.Printed += outcome.Printed;
        if (outcome.State == ToolOutcome::Status::Cancelled)
            return Cancelled();
        if (outcome.Printed.contains(QLatin1String("No space left on device")))
            return Fail(label + QStringLiteral(": no space left on device"));
        if (outcome.State != ToolOutcome::Status::Finished || outcome.ExitCode != 0)
            return Fail(label + QStringLiteral(": ") + outcome.Reason());
        const QString rest = withoutHarmlessNotices(outcome.Printed);
        if (printedFails && !rest.isEmpty())
            return Fail(label + QStringLiteral(" printed: ") + firstLine(rest));
        return true;
    }

    // A whole copy of from under a hidden temporary name in target's folder.
    std::unique_ptr<TPartFile> copyBeside(const QString &from, const QString &target)
    {
        QString name;
        {
            QTemporaryFile file(folderPart(target) + QStringLiteral(".zarvelo-XXXXXX.part"));
            QFile source(from);
            if (!file.open() || !source.open(QIODevice::ReadOnly)) {
                Fail(QStringLiteral("output name not available: ") + file.errorString());
                return nullptr;
            }
            name = file.fileName();
            RememberTemporaryFile(name);
            QString failure;
            QByteArray block;
            while (failure.isEmpty() && !(block = source.read(1 << 20)).isEmpty())
                if (file.write(block) != block.size())
                    failure = file.error() == QFileDevice::ResourceError
                                  ? QStringLiteral("no space left on device")
                                  : QStringLiteral("output could not be written");
            // A read error ends the loop like the end of the file would.
            if (failure.isEmpty() && (source.error() != QFileDevice::NoError || !file.flush()))
                failure = QStringLiteral("output could not be written");
            if (!failure.isEmpty()) {
                ForgetTemporaryFile(name);
                Fail(failure);
                return nullptr; // the temporary file removes itself
            }
            // A temporary file holds its handle until it is destroyed, and
            // Windows renames no file that is open.
            file.setAutoRemove(false);
        }
        auto copy = std::make_unique<TPartFile>(name);
        // A temporary file is private to its owner; the output gets the
        // permissions the tool gave it.
        QFile::setPermissions(name, QFileInfo(from).permissions());
        return copy;
    }

    const ConversionOptions &FOptions;
    const TRunContext &FRun;
    ConversionResult &FResult;
    std::shared_ptr<TOutputNames> FNames;
    std::unique_ptr<TScratchFolder> FScratch; // null for a part of another call
    QString FScratchPath;
    std::atomic<int> FOwnCounter{0};
    std::atomic<int> *FCounter = &FOwnCounter;
};

// Converts one picture that is reachable in the scratch folder as inputName
// (of inputBytes bytes) to the output format, named after nameSource.
// imageType is the source's type text; scalePercent a resize used only when
// UseWidth is off (0: none).
bool convertImage(TCall &call, const QString &nameSource, const QString &inputName, qint64 inputBytes,
                  const QString &imageType, int scalePercent)
{
    const ConversionOptions &options = call.Options();
    const QString format = options.SaveFormat;
    const QString extension = format.toLower();
    if (!isPlainWord(format))
        return call.Fail(QStringLiteral("unknown output format \"%1\"").arg(format));

    if (options.UseWidth) {
        if (options.Width < 1)
            return call.Fail(QStringLiteral("width must be at least 1 pixel"));
        // A format named in any case ("webp" from a settings file) keeps its limit.
        const TOutputFormat *known = ParseOutputFormat(format);
        const qint64 formatLimit = known ? known->WidthLimit : 0;
        if (formatLimit > 0 && options.Width > formatLimit)
            return call.Fail(QStringLiteral("width %1 is above the %2 limit of %3 pixels")
                                 .arg(options.Width)
                                 .arg(format)
                                 .arg(formatLimit));
        const qint64 toolLimit = imageToolLimits().Width;
        if (options.Width > toolLimit)
            return call.Fail(QStringLiteral("width %1 is above the image tool's limit of %2 pixels")
                                 .arg(options.Width)
                                 .arg(toolLimit));
    }

    const bool svg = InputKindOf(imageType) == InputKind::Svg;
    const TOutputFormat *known = FindOutputFormat(format);
    const bool jpegRoute = known && known->JpegRoute;
    // Formats that hold an animation keep every frame; others take the first.
    const bool allFrames = known && known->HoldsFrames;
    const int timeoutMs = call.TimeoutMs(inputBytes);

    QStringList arguments;
    if (call.Run().ToolThreads > 0)
        arguments << QStringLiteral("-limit") << QStringLiteral("thread")
                  << QString::number(call.Run().ToolThreads);
    if (svg)
        arguments << QStringLiteral("-background") << QStringLiteral("none");
    if (svg && options.UseWidth) {
        // Drawn at the density that gives about the width: the drawing's own
        // size at the tool's default density tells which.
        QString printed;
        if (!call.Run(ExternalTool::ImageTool,
                      {QStringLiteral("-background"), QStringLiteral("none"),
                       inputName + QStringLiteral("[0]"), QStringLiteral("-format"),
                       QStringLiteral("%w %x %U\\n"), QStringLiteral("info:")},
                      timeoutMs, false, &printed))
            return false;
        const QStringList parts = firstLine(printed).split(QLatin1Char(' '));
        const double naturalWidth = parts.value(0).toDouble();
        double density = parts.value(1).toDouble();
        if (parts.value(2) == QLatin1String("PixelsPerCentimeter"))
            density *= 2.54;
        if (density <= 0)
            density = 72;
        if (naturalWidth <= 0)
            return call.Fail(QStringLiteral("image tool: the drawing's size could not be read"));
        const double wanted = std::max(1.0, std::ceil(density * options.Width / naturalWidth));
        arguments << QStringLiteral("-density") << QString::number(wanted, 'f', 0);
    }
    arguments << (allFrames ? inputName : inputName + QStringLiteral("[0]"));
    arguments << QStringLiteral("-auto-orient");
    if (options.UseWidth)
        arguments << QStringLiteral("-resize") << QString::number(options.Width) + QLatin1Char('x');
    else if (scalePercent > 0)
        arguments << QStringLiteral("-resize") << QString::number(scalePercent) + QLatin1Char('%');
    if (!options.KeepMetadata && !jpegRoute)
        arguments << QStringLiteral("-strip");

    if (!jpegRoute) {
        if (InputTypeTakesQuality(imageType))
            arguments << QStringLiteral("-quality") << QString::number(options.Quality);
        const QString output = call.FreshName(QStringLiteral("out"), extension);
        arguments << output;
        if (!call.Run(ExternalTool::ImageTool, arguments, timeoutMs, true))
            return false;
        if (QFileInfo(call.Scratch() + output).size() <= 0)
            return call.Fail(QStringLiteral("image tool wrote no output"));
        return call.Place(output, nameSource, format);
    }

    // The JPEG route: an uncompressed 24-bit bitmap in sRGB (pixels with a
    // colour profile converted first), compressed by the encoder. "-type
    // TrueColor" keeps the bitmap at 24 bits: for an image of few colours the
    // tool would otherwise write a 1- or 4-bit bitmap the encoder cannot read.
    const QString profile = srgbProfile();
    if (!profile.isEmpty())
        arguments << QStringLiteral("-profile") << profile;
    // The bitmap carries nothing but pixels: the tool would append the
    // profile after them, which the encoder never reads (and, through the
    // pipe, the tool would then write to a reader that has gone).
    arguments << QStringLiteral("-strip");
    // The bitmap goes through a pipe: no bitmap on disk.
    arguments << QStringLiteral("-type") << QStringLiteral("TrueColor") << QStringLiteral("-colorspace")
              << QStringLiteral("sRGB") << QStringLiteral("-compress") << QStringLiteral("none")
              << QStringLiteral("BMP3:-");
    const QString encoded = call.FreshName(QStringLiteral("out"), format);
    if (!call.RunPipe(ExternalTool::ImageTool, arguments, ExternalTool::JpegEncoder,
                      {QStringLiteral("-quality"), QString::number(options.Quality),
                       QStringLiteral("-outfile"), encoded},
                      timeoutMs))
        return false;
    if (QFileInfo(call.Scratch() + encoded).size() <= 0)
        return call.Fail(QStringLiteral("JPEG encoder wrote no output"));

    if (options.KeepMetadata) {
        QByteArray exif = exifSegmentOf(call.Scratch() + inputName);
        if (!exif.isEmpty()) {
            setOrientationNormal(exif);
            QFile file(call.Scratch() + encoded);
            if (!file.open(QIODevice::ReadWrite))
                return call.Fail(QStringLiteral("the JPEG could not be read back"));
            const QByteArray whole = withSegment(file.readAll(), exif);
            if (!file.seek(0) || file.write(whole) != whole.size() || !file.flush())
                return call.Fail(QStringLiteral("no space left on device"));
        }
    }
    return call.Place(encoded, nameSource, format);
}

// Page sizes from the interpreter's PDF summary ("Page 3 MediaBox: [0 0 612
// 792]"), in points; the list has one entry per page ("File has N pages").
QList<QSizeF> pdfPageSizes(const QString &summary)
{
    static const QRegularExpression countLine(QStringLiteral("File has (\\d+) pages?"));
    static const QRegularExpression pageLine(QStringLiteral(
        "Page (\\d+) MediaBox: \\[\\s*([-0-9.eE]+)\\s+([-0-9.eE]+)\\s+([-0-9.eE]+)\\s+([-0-9.eE]+)\\s*\\]"));
    const QRegularExpressionMatch count = countLine.match(summary);
    if (!count.hasMatch())
        return {};
    const int pages = std::min(count.captured(1).toInt(), 100000);
    QList<QSizeF> sizes(pages, QSizeF(612, 792));
    auto it = pageLine.globalMatch(summary);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const int page = m.captured(1).toInt();
        if (page >= 1 && page <= pages)
            sizes[page - 1] = QSizeF(std::abs(m.captured(4).toDouble() - m.captured(2).toDouble()),
                                     std::abs(m.captured(5).toDouble() - m.captured(3).toDouble()));
    }
    return sizes;
}

constexpr int pdfDpi = 384;
// A batch of rendered pages holds at most this many bytes of bitmaps (and
// this many pages), so scratch disk stays bounded whatever the page count.
constexpr qint64 batchBytes = 256LL * 1024 * 1024;
constexpr int batchPages = 8;
// No single page bitmap may be larger than this.
constexpr qint64 pageBytesLimit = 768LL * 1024 * 1024;

struct PdfPage {
    qint64 Width = 0;
    qint64 Height = 0;
    qint64 Bytes = 0;
};

PdfPage pagePixels(const QSizeF &points)
{
    PdfPage page;
    page.Width = qint64(std::ceil(points.width() * pdfDpi / 72.0));
    page.Height = qint64(std::ceil(points.height() * pdfDpi / 72.0));
    page.Bytes = ((page.Width * 3 + 3) / 4 * 4) * page.Height + 54;
    return page;
}

QString pageNumber(int page)
{
    return QStringLiteral("%1").arg(page, 3, 10, QLatin1Char('0'));
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

namespace
{
// A source must be a regular file; then the call's scratch folder is made.
// On failure the call holds the reason.
bool openForSource(TCall &call, const QFileInfo &input)
{
    if (!input.isFile()) {
        call.Fail(input.exists() ? QStringLiteral("source is not a regular file")
                                 : QStringLiteral("source file missing"));
        return false;
    }
    return call.Open();
}
} // namespace

ConversionResult ConvertRaster(const ConversionOptions &options, const QString &sourcePath,
                               const QString &imageType, int scalePercent, const QString &readFrom,
                               const TRunContext &run)
{
    ConversionResult result;
    TCall call(options, run, result);
    const QString inputPath = readFrom.isEmpty() ? sourcePath : readFrom;
    const QFileInfo input(inputPath);
    if (!openForSource(call, input))
        return result;
    const QString entry = call.LinkInput(inputPath, QStringLiteral("in"));
    result.Success =
        !entry.isEmpty() && convertImage(call, sourcePath, entry, input.size(), imageType, scalePercent);
    return result;
}

ConversionResult ConvertAi(const ConversionOptions &options, const QString &sourcePath, const TRunContext &run)
{
    ConversionResult result;
    TCall call(options, run, result);
    const QFileInfo input(sourcePath);
    if (!openForSource(call, input))
        return result;
    const QString entry = call.LinkInput(sourcePath, QStringLiteral("in"));
    if (entry.isEmpty())
        return result;
    // The interpreter may read the document and nothing else, and write only
    // its output and its own temporary files in the scratch folder.
    const QString rendered = call.FreshName(QStringLiteral("render"), QStringLiteral("png"));
    if (!call.Run(ExternalTool::Interpreter,
                  {QStringLiteral("-dSAFER"), QStringLiteral("-dNOPAUSE"), QStringLiteral("-dBATCH"),
                   QStringLiteral("-dNOPROMPT"), QStringLiteral("-dQUIET"),
                   QStringLiteral("--permit-file-read=") + entry, QStringLiteral("-sDEVICE=pngalpha"),
                   QStringLiteral("-r96"), QStringLiteral("-sOutputFile=") + rendered, entry},
                  call.TimeoutMs(input.size()), false))
        return result;
    const qint64 renderedBytes = QFileInfo(call.Scratch() + rendered).size();
    if (renderedBytes <= 0) {
        call.Fail(QStringLiteral("PostScript interpreter rendered nothing"));
        return result;
    }
    result.Success = convertImage(call, sourcePath, rendered, renderedBytes, QStringLiteral("PNG"), 0);
    return result;
}

ConversionResult ConvertPdf(const ConversionOptions &options, const QString &sourcePath, const TRunContext &run)
{
    ConversionResult result;
    TCall call(options, run, result);
    const QFileInfo input(sourcePath);
    if (!openForSource(call, input))
        return result;
    const QString entry = call.LinkInput(sourcePath, QStringLiteral("in"));
    if (entry.isEmpty())
        return result;
    const QStringList safe = {QStringLiteral("-dSAFER"), QStringLiteral("-dNOPAUSE"),
                              QStringLiteral("-dBATCH"), QStringLiteral("-dNOPROMPT"),
                              QStringLiteral("-dQUIET"), QStringLiteral("--permit-file-read=") + entry};

    // The page count and sizes first, so that no page is rendered that the
    // disk or the image tool could not take.
    QString summary;
    if (!call.Run(ExternalTool::Interpreter,
                  QStringList{QStringLiteral("-dNODISPLAY")} + safe +
                      QStringList{QStringLiteral("-dPDFINFO"), entry},
                  call.TimeoutMs(input.size()), false, &summary))
        return result;
    const QList<QSizeF> sizes = pdfPageSizes(summary);
    const int pageCount = int(sizes.size());
    if (pageCount == 0) {
        call.Fail(QStringLiteral("PostScript interpreter found no page: ") + firstLine(summary));
        return result;
    }

    const QString sourceFolder = folderPart(sourcePath);
    const QString name = withoutExtension(fileNamePart(sourcePath));
    const ImageToolLimits limits = imageToolLimits();
    const QString fontsFolder = GetSpecialFolder(CSIDL_FONTS);
    // Failed pages with their reasons, in page order (pages too large are
    // known before earlier pages have been converted).
    std::map<int, QString> failedPages;
    const auto pageFailed = [&](int page, const QString &reason) { failedPages.emplace(page, reason); };

    // A batch of pages rendered by one interpreter run, and the results of
    // its pages' conversions.
    struct Batch {
        int First = 0;
        int Last = 0;
        QString Stem;
        bool Rendered = false;
        QString RenderReason;
        std::vector<ConversionResult> Pages;
        std::shared_ptr<TTaskGroup> Group;
    };
    const auto pageSource = [&](int page) {
        return sourceFolder + name + QLatin1Char('-') + pageNumber(page) + QStringLiteral(".bmp");
    };

    // The next batch from page first on: pages too large for the image tool
    // fail alone, unrendered; a batch the disk cannot take fails whole.
    // Returns false when no page is left.
    int first = 1;
    const auto nextBatch = [&](Batch &batch) {
        while (first <= pageCount && !result.Cancelled) {
            const PdfPage firstPage = pagePixels(sizes[first - 1]);
            if (firstPage.Width > limits.Width || firstPage.Height > limits.Height ||
                firstPage.Bytes > pageBytesLimit) {
                pageFailed(first,
                           QStringLiteral(
                               "page too large (%1x%2 pixels at %3 dpi; the image tool takes at most %4x%5)")
                               .arg(firstPage.Width)
                               .arg(firstPage.Height)
                               .arg(pdfDpi)
                               .arg(limits.Width)
                               .arg(limits.Height));
                ++first;
                continue;
            }
            int last = first;
            qint64 bytes = firstPage.Bytes;
            while (last < pageCount && last - first + 1 < batchPages) {
                const PdfPage next = pagePixels(sizes[last]);
                if (next.Width > limits.Width || next.Height > limits.Height ||
                    bytes + next.Bytes > batchBytes)
                    break;
                bytes += next.Bytes;
                ++last;
            }
            const qint64 available = QStorageInfo(call.Scratch()).bytesAvailable();
            if (available >= 0 && available < bytes + 16 * 1024 * 1024) {
                for (int page = first; page <= last; ++page)
                    pageFailed(page, QStringLiteral("no space left on device"));
                first = last + 1;
                continue;
            }
            batch.First = first;
            batch.Last = last;
            first = last + 1;
            return true;
        }
        return false;
    };

    const auto render = [&](Batch &batch) {
        batch.Stem = call.FreshName(QStringLiteral("page"), QString()) + QLatin1Char('-');
        const QString saved = result.Reason;
        result.Reason.clear();
        batch.Rendered = call.Run(
            ExternalTool::Interpreter,
            safe + QStringList{QStringLiteral("-sFONTPATH=") + fontsFolder,
                               QStringLiteral("-dTextAlphaBits=4"), QStringLiteral("-dGraphicsAlphaBits=4"),
                               QStringLiteral("-sDEVICE=bmp16m"), QStringLiteral("-r%1").arg(pdfDpi),
                               QStringLiteral("-dFirstPage=%1").arg(batch.First),
                               QStringLiteral("-dLastPage=%1").arg(batch.Last),
                               QStringLiteral("-sOutputFile=") + batch.Stem + QStringLiteral("%03d.bmp"),
                               entry},
            call.TimeoutMs(input.size(), 10 * (batch.Last - batch.First + 1)), false);
        batch.RenderReason = result.Reason;
        result.Reason = saved;
    };

    // The conversions of a rendered batch's pages as a group of tasks, one
    // per page, each with its own result. Output names are reserved here,
    // in page order, whichever thread then converts which page.
    const auto convertTasks = [&](Batch &batch) {
        batch.Pages.assign(size_t(batch.Last - batch.First + 1), ConversionResult());
        std::vector<std::function<void()>> tasks;
        for (int page = batch.First; page <= batch.Last; ++page) {
            const QString bitmap = batch.Stem + pageNumber(page - batch.First + 1) + QStringLiteral(".bmp");
            const qint64 size = QFileInfo(call.Scratch() + bitmap).size();
            ConversionResult &pageResult = batch.Pages[size_t(page - batch.First)];
            if (size <= 0) {
                pageResult.Reason = batch.Rendered ? QStringLiteral("PostScript interpreter rendered nothing")
                                                   : batch.RenderReason;
                continue;
            }
            if (isPlainWord(options.SaveFormat))
                call.ReserveName(pageSource(page), options.SaveFormat);
            tasks.push_back([&call, &pageResult, bitmap, size, source = pageSource(page)] {
                TCall part(call, pageResult);
                pageResult.Success = convertImage(part, source, bitmap, size, QStringLiteral("BMP"), 25);
                if (!pageResult.Success && pageResult.Reason.isEmpty())
                    pageResult.Reason = QStringLiteral("unexpected error");
                QFile::remove(call.Scratch() + bitmap);
            });
        }
        batch.Group = std::make_shared<TTaskGroup>(std::move(tasks));
    };

    // Waits for a batch's pages (converting some itself) and takes their
    // results in page order.
    const auto collect = [&](Batch &batch) {
        batch.Group->Finish();
        for (int page = batch.First; page <= batch.Last; ++page) {
            const ConversionResult &pageResult = batch.Pages[size_t(page - batch.First)];
            result.Printed += pageResult.Printed;
            result.Outputs += pageResult.Outputs;
            if (pageResult.Cancelled)
                result.Cancelled = true;
            if (!pageResult.Success)
                pageFailed(page, pageResult.Reason);
        }
        batch.Group.reset();
    };

    // With workers to share with, the next batch is rendered while the
    // workers convert the pages of the one before (so at most two batches
    // are on disk); alone, one batch is rendered and converted at a time.
    const bool shared = bool(run.ShareWork);
    std::unique_ptr<Batch> pending;
    // The pending batch's tasks use this call's data: they end before it goes.
    const auto finishPending = qScopeGuard([&] {
        if (pending && pending->Group)
            pending->Group->Finish();
    });
    for (;;) {
        auto batch = std::make_unique<Batch>();
        const bool more = nextBatch(*batch);
        if (more && !result.Cancelled)
            render(*batch);
        if (pending) {
            collect(*pending);
            pending.reset();
        }
        if (!more || result.Cancelled)
            break;
        convertTasks(*batch);
        if (shared) {
            run.ShareWork(batch->Group);
            pending = std::move(batch);
        } else {
            collect(*batch);
        }
    }

    if (result.Cancelled) {
        result.Reason = QStringLiteral("cancelled");
        return result;
    }
    if (failedPages.empty()) {
        result.Success = true;
        return result;
    }
    QStringList numbers;
    for (const auto &failed : failedPages)
        numbers << QString::number(failed.first);
    result.Reason = (failedPages.size() == 1 ? QStringLiteral("page ") : QStringLiteral("pages ")) +
                    numbers.join(QStringLiteral(", ")) + QStringLiteral(" of %1 failed: ").arg(pageCount) +
                    failedPages.begin()->second;
    return result;
}

ConversionResult ConvertFile(const ConversionOptions &options, const QString &fileName, const QString &type,
                             const TRunContext &run)
{
    switch (InputKindOf(type)) {
    case InputKind::None: {
        ConversionResult r;
        r.Reason = QStringLiteral("not a supported image");
        return r;
    }
    case InputKind::Pdf:
        return ConvertPdf(options, fileName, run);
    case InputKind::Illustrator:
        return ConvertAi(options, fileName, run);
    case InputKind::Raster:
    case InputKind::Svg:
        break;
    }
    return ConvertRaster(options, fileName, type, 0, QString(), run);
}

QString TOutputNames::Reserve(const ConversionOptions &options, const QString &sourcePath,
                              const QString &format)
{
    QMutexLocker lock(&FMutex);
    const auto found = FBySource.constFind(sourcePath);
    if (found != FBySource.constEnd())
        return *found;
    QString path = MakeOutputPath(options, sourcePath, format);
    if (FHeld.contains(path))
        path = nextFree(path);
    FHeld.insert(path);
    FBySource.insert(sourcePath, path);
    return path;
}

QString TOutputNames::ReserveNext(const QString &path)
{
    QMutexLocker lock(&FMutex);
    const QString next = nextFree(path);
    FHeld.insert(next);
    return next;
}

QString TOutputNames::nextFree(const QString &path) const
{
    // "name (n).ext" after "name.ext" or after "name (m).ext".
    static const QRegularExpression numbered(QStringLiteral("^(.*) \\((\\d+)\\)$"));
    const qsizetype slashAt = path.lastIndexOf(slash);
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    const bool hasExtension = dot > slashAt;
    QString base = hasExtension ? path.left(dot) : path;
    const QString extension = hasExtension ? path.mid(dot) : QString();
    qint64 n = 1;
    const QRegularExpressionMatch match = numbered.match(base.mid(slashAt + 1));
    if (match.hasMatch()) {
        base = path.left(slashAt + 1) + match.captured(1);
        n = match.captured(2).toLongLong() + 1;
    }
    const auto taken = [this](const QString &candidate) {
        const QFileInfo info(candidate);
        return FHeld.contains(candidate) || info.exists() || info.isSymLink();
    };
    QString candidate;
    do
        candidate = base + QStringLiteral(" (") + QString::number(n++) + QLatin1Char(')') + extension;
    while (taken(candidate));
    return candidate;
}
