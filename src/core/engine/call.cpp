#include "call.h"

#include "pathparts.h"
#include "scratch.h"
#include "tools.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryFile>

#include <algorithm>
#include <filesystem>

namespace Engine
{
namespace
{
constexpr int defaultTimeoutSeconds = 120;

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

// Copies all of source into file; the reason when that fails, else empty.
QString copyWhole(QFile &source, QFile &file)
{
    QByteArray block;
    while (!(block = source.read(1 << 20)).isEmpty())
        if (file.write(block) != block.size())
            return file.error() == QFileDevice::ResourceError ? QStringLiteral("no space left on device")
                                                              : QStringLiteral("output could not be written");
    // A read error ends the loop like the end of the file would.
    if (source.error() != QFileDevice::NoError || !file.flush())
        return QStringLiteral("output could not be written");
    return QString();
}
} // namespace

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

TCall::TCall(const ConversionOptions &options, const TRunContext &run, ConversionResult &result)
    : FOptions(options), FRun(run), FResult(result),
      FNames(run.Names ? run.Names : std::make_shared<TOutputNames>())
{
}

TCall::TCall(TCall &parent, ConversionResult &result)
    : FOptions(parent.FOptions), FRun(parent.FRun), FResult(result), FNames(parent.FNames),
      FScratchPath(parent.FScratchPath), FCounter(parent.FCounter)
{
}

TCall::~TCall() = default;

bool TCall::OpenFor(const QString &sourcePath)
{
    FNames->AddSource(sourcePath);
    const QFileInfo input(sourcePath);
    if (!input.isFile())
        return Fail(input.exists() ? QStringLiteral("source is not a regular file")
                                   : QStringLiteral("source file missing"));
    if (!FScratchPath.isEmpty())
        return true;
    if (cancelRequested())
        return Cancelled();
    FScratch = std::make_unique<TScratchFolder>();
    if (!FScratch->IsValid())
        return Fail(QStringLiteral("no temporary folder could be made"));
    FScratchPath = FScratch->Path();
    return true;
}

QString TCall::FreshName(const QString &stem, const QString &extension)
{
    // A name a drawing's reference took is passed over: a tool writing
    // there would write through the entry into the user's picture.
    for (;;) {
        const QString name = stem + QString::number(++*FCounter) +
                             (extension.isEmpty() ? QString() : QLatin1Char('.') + extension);
        const QFileInfo entry(Scratch() + name);
        if (Scratch().isEmpty() || (!entry.exists() && !entry.isSymLink()))
            return name;
    }
}

QString TCall::LinkInput(const QString &target, const QString &stem)
{
    const QString name = FreshName(stem, PlainExtension(target));
    if (!MakeReadEntry(QFileInfo(target).absoluteFilePath(), Scratch() + name)) {
        Fail(QStringLiteral("no temporary entry could be made"));
        return QString();
    }
    return name;
}

bool TCall::Cancelled()
{
    FResult.Cancelled = true;
    return Fail(QStringLiteral("cancelled"));
}

bool TCall::Fail(const QString &reason)
{
    if (FResult.Reason.isEmpty())
        FResult.Reason = reason;
    return false;
}

int TCall::TimeoutMs(qint64 inputBytes, int extraSeconds) const
{
    const qint64 base = FOptions.TimeoutSeconds > 0 ? FOptions.TimeoutSeconds : defaultTimeoutSeconds;
    // One more second for every MiB to read.
    const qint64 seconds = base + extraSeconds + inputBytes / (1024 * 1024);
    return int(std::min<qint64>(seconds, 24 * 3600) * 1000);
}

bool TCall::cancelRequested() const
{
    return FRun.Cancel && FRun.Cancel->IsCancelled();
}

bool TCall::Run(ExternalTool tool, const QStringList &arguments, int timeoutMs, bool printedFails,
                QString *printed)
{
    if (cancelRequested())
        return Cancelled();
    const ToolRequest request = requestFor(tool, arguments, timeoutMs);
    if (request.Program.isEmpty())
        return Fail(toolLabel(tool) + QStringLiteral(" missing"));
    const ToolOutcome outcome = RunTool(request);
    if (printed)
        *printed = outcome.Printed;
    return judge(tool, outcome, printedFails);
}

bool TCall::RunPipe(ExternalTool firstTool, const QStringList &firstArguments, ExternalTool secondTool,
                    const QStringList &secondArguments, int timeoutMs)
{
    if (cancelRequested())
        return Cancelled();
    const ToolRequest first = requestFor(firstTool, firstArguments, timeoutMs);
    const ToolRequest second = requestFor(secondTool, secondArguments, timeoutMs);
    if (first.Program.isEmpty())
        return Fail(toolLabel(firstTool) + QStringLiteral(" missing"));
    if (second.Program.isEmpty())
        return Fail(toolLabel(secondTool) + QStringLiteral(" missing"));
    const auto [firstOutcome, secondOutcome] = RunToolPipe(first, second);
    // A second tool that ended first leaves the first one without a reader
    // (it dies of the broken pipe): the second one's reason counts then.
    if (firstOutcome.State == ToolOutcome::Status::Crashed && firstOutcome.Printed.trimmed().isEmpty())
        return judgeBrokenPipe(firstTool, firstOutcome, secondTool, secondOutcome);
    const bool firstOk = judge(firstTool, firstOutcome, true);
    return judge(secondTool, secondOutcome, true) && firstOk;
}

bool TCall::judgeBrokenPipe(ExternalTool firstTool, const ToolOutcome &first, ExternalTool secondTool,
                            const ToolOutcome &second)
{
    const bool hadReason = !FResult.Reason.isEmpty();
    const bool secondOk = judge(secondTool, second, true);
    // The first tool's crash stays in view: it may also be the cause (a tool
    // that died before writing leaves the second one an empty input).
    if (!secondOk && !hadReason && !FResult.Cancelled)
        FResult.Reason += QStringLiteral("; ") + toolLabel(firstTool) + QStringLiteral(": ") + first.Reason();
    return judge(firstTool, first, true) && secondOk;
}

void TCall::ReserveName(const QString &nameSource, const QString &format)
{
    FNames->Reserve(FOptions, nameSource, format);
}

bool TCall::OutputAlreadyThere(const QString &nameSource, const QString &format)
{
    if (FOptions.Existing != TExistingPolicy::Skip)
        return false;
    const QString path = FNames->Reserve(FOptions, nameSource, format);
    if (!HoldsEarlierOutput(path))
        return false;
    FResult.Existing << path;
    return true;
}

bool TCall::Place(const QString &scratchFile, const QString &nameSource, const QString &format)
{
    if (cancelRequested())
        return Cancelled();
    QString target = FNames->Reserve(FOptions, nameSource, format);
    QString from = Scratch() + scratchFile;
    std::unique_ptr<TPartFile> copy;
    for (int attempt = 0; attempt < 10000; ++attempt) {
        if (FOptions.Existing == TExistingPolicy::Overwrite && HoldsEarlierOutput(target) &&
            !FNames->IsSource(target))
            return replaceOutput(from, target);
        QString error;
        switch (MoveWithoutReplacing(from, target, &error)) {
        case TMoveOutcome::Moved:
            if (copy)
                copy->Keep();
            FResult.Outputs << target;
            return true;
        case TMoveOutcome::NameTaken:
            target = FNames->ReserveNext(target, FOptions.Existing);
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

ToolRequest TCall::requestFor(ExternalTool tool, const QStringList &arguments, int timeoutMs) const
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

bool TCall::judge(ExternalTool tool, const ToolOutcome &outcome, bool printedFails)
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
        return Fail(label + QStringLiteral(" printed: ") + FirstLine(rest));
    return true;
}

std::unique_ptr<TPartFile> TCall::copyBeside(const QString &from, const QString &target)
{
    QString name;
    {
        QTemporaryFile file(FolderPart(target) + QStringLiteral(".zarvelo-XXXXXX.part"));
        QFile source(from);
        if (!file.open() || !source.open(QIODevice::ReadOnly)) {
            Fail(QStringLiteral("output name not available: ") + file.errorString());
            return nullptr;
        }
        name = file.fileName();
        RememberTemporaryFile(name);
        const QString failure = copyWhole(source, file);
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

std::unique_ptr<TPartFile> TCall::moveBeside(const QString &from, const QString &target)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString name =
            FolderPart(target) + QStringLiteral(".zarvelo-%1.part")
                                     .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
        RememberTemporaryFile(name);
        QString error;
        switch (MoveWithoutReplacing(from, name, &error)) {
        case TMoveOutcome::Moved:
            return std::make_unique<TPartFile>(name);
        case TMoveOutcome::NameTaken:
            ForgetTemporaryFile(name);
            continue;
        case TMoveOutcome::OtherFileSystem:
            ForgetTemporaryFile(name);
            return copyBeside(from, target);
        case TMoveOutcome::Failed:
            ForgetTemporaryFile(name);
            Fail(QStringLiteral("output could not be written: ") + error);
            return nullptr;
        }
    }
    Fail(QStringLiteral("output could not be written"));
    return nullptr;
}

bool TCall::replaceOutput(const QString &from, const QString &target)
{
    const std::unique_ptr<TPartFile> beside = moveBeside(from, target);
    if (!beside)
        return false;
    // Looked at again just before: a source or a folder that took the name
    // meanwhile is never replaced.
    if (!HoldsEarlierOutput(target) || FNames->IsSource(target))
        return Fail(QStringLiteral("output name not available"));
    std::error_code error;
    std::filesystem::rename(QFileInfo(beside->Path()).filesystemAbsoluteFilePath(),
                            QFileInfo(target).filesystemAbsoluteFilePath(), error);
    if (error)
        return Fail(QStringLiteral("earlier output could not be replaced: ") +
                    QString::fromStdString(error.message()));
    beside->Keep();
    FResult.Outputs << target;
    return true;
}
} // namespace Engine
