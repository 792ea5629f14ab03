#include "arguments.h"
#include "call.h"
#include "common.h"
#include "pathparts.h"
#include "pdfplan.h"
#include "routes.h"
#include "taskgroup.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QStorageInfo>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace Engine
{
namespace
{
// The pixel size in a PNG file's header; invalid when unreadable.
QSize pngSize(const QString &path)
{
    QFile file(path);
    const QByteArray head = file.open(QIODevice::ReadOnly) ? file.read(24) : QByteArray();
    if (head.size() < 24 || !head.startsWith("\x89PNG\r\n\x1a\n") || head.mid(12, 4) != "IHDR")
        return {};
    const auto number = [&head](int at) {
        return int(quint32(quint8(head[at])) << 24 | quint32(quint8(head[at + 1])) << 16 |
                   quint32(quint8(head[at + 2])) << 8 | quint32(quint8(head[at + 3])));
    };
    const int width = number(16);
    const int height = number(20);
    return width > 0 && height > 0 ? QSize(width, height) : QSize();
}

// How a rendered page is resized: to its exact 96-dpi size (Fit), or as the
// options say from a page whose own size is ScalePercent of its pixels.
struct TPageResize {
    TPageFit Fit;
    int ScalePercent = 0;
};

// Without a resize, or with a width that only shrinks and the page already
// narrower, a page comes out at the size the image tool's quarter of the
// full bitmap had; a width is rendered for; any other resize starts from the
// page the planner rendered at PdfReadScale times its 96-dpi size.
TPageResize pageResize(const ConversionOptions &options, const QSize &rendered, const QSizeF &points)
{
    const TPageFit exact = PageFitAt96(rendered, points);
    const bool widthMode = options.UseWidth && options.ResizeMode == TResizeMode::Width;
    if (!options.UseWidth || (widthMode && options.ShrinkOnly && options.Width >= exact.Keep.width()))
        return {exact, 0};
    return {TPageFit(), widthMode ? 0 : 100 / PdfReadScale};
}

// A batch of pages rendered by one interpreter run, and the results of its
// pages' conversions.
struct TBatch {
    TPageRange Pages;
    QString Stem;
    bool Rendered = false;
    QString RenderReason;
    std::vector<ConversionResult> Results;
    std::shared_ptr<TTaskGroup> Group;
};

// The conversion of one PDF: the pages' sizes first, then batch after batch
// rendered and its pages converted. With workers to share with, the next
// batch is rendered while the workers convert the pages of the one before
// (so at most two batches are on disk); alone, one batch is rendered and
// converted at a time.
class TPdfRoute
{
  public:
    TPdfRoute(TCall &call, QString sourcePath) : FCall(call), FSource(std::move(sourcePath)) {}
    bool Convert();

  private:
    ConversionResult &result() { return FCall.Result(); }
    bool readPages();
    void leaveOutExisting();
    void convertBatches();
    void render(TBatch &batch);
    void makeTasks(TBatch &batch);
    void collect(TBatch &batch);
    bool summarise();
    // The name a page's output is named after: "<name>-007.bmp" beside the PDF.
    QString pageSource(int page) const;

    TCall &FCall;
    const QString FSource;
    QString FEntry;
    QString FFonts;
    qint64 FInputBytes = 0;
    int FPageCount = 0;
    std::atomic<int> FWritten{0}; // pages written so far, on any thread
    std::optional<TPdfPlanner> FPlanner;
    // Failed pages with their reasons, in page order (pages too large are
    // known before earlier pages have been converted).
    std::map<int, QString> FFailed;
};

bool TPdfRoute::Convert()
{
    // Options no page could be written with fail before anything renders.
    const QString problem = OutputProblem(FCall.Options());
    if (!problem.isEmpty())
        return FCall.Fail(problem);
    if (!FCall.OpenFor(FSource))
        return false;
    FEntry = FCall.LinkInput(FSource, QStringLiteral("in"));
    if (FEntry.isEmpty() || !readPages())
        return false;
    convertBatches();
    return summarise();
}

// The page count and sizes first, so that no page is rendered that the disk
// or the image tool could not take.
bool TPdfRoute::readPages()
{
    FInputBytes = QFileInfo(FSource).size();
    QString summary;
    if (!FCall.Run(ExternalTool::Interpreter, PdfInfoArguments(FEntry), FCall.TimeoutMs(FInputBytes), false,
                   &summary))
        return false;
    QList<QSizeF> sizes = PdfPageSizes(summary);
    FPageCount = int(sizes.size());
    if (FPageCount == 0)
        return FCall.Fail(QStringLiteral("PostScript interpreter found no page: ") + FirstLine(summary));
    FFonts = GetSpecialFolder(CSIDL_FONTS);
    const QString scratch = FCall.Scratch();
    // A width is rendered for; other resizes start from the 96-dpi page.
    const ConversionOptions &options = FCall.Options();
    const bool widthMode = options.UseWidth && options.ResizeMode == TResizeMode::Width;
    FPlanner.emplace(
        std::move(sizes), ImageToolLimits(), [scratch] { return QStorageInfo(scratch).bytesAvailable(); },
        widthMode ? options.Width : 0, options.ShrinkOnly);
    leaveOutExisting();
    return true;
}

// When earlier outputs are skipped, the pages whose outputs are there are
// not rendered; their names are held in page order like the others'.
void TPdfRoute::leaveOutExisting()
{
    const QString &format = FCall.Options().SaveFormat;
    if (FCall.Options().Existing != TExistingPolicy::Skip || !IsPlainWord(format))
        return;
    std::set<int> existing;
    for (int page = 1; page <= FPageCount; ++page) {
        if (FCall.OutputAlreadyThere(pageSource(page), format))
            existing.insert(page);
    }
    FPlanner->LeaveOut(std::move(existing));
}

void TPdfRoute::convertBatches()
{
    const bool shared = bool(FCall.Context().ShareWork);
    std::unique_ptr<TBatch> pending;
    // The pending batch's tasks use this route's data: they end before it goes.
    const auto finishPending = qScopeGuard([&] {
        if (pending && pending->Group)
            pending->Group->Finish();
    });
    for (;;) {
        auto batch = std::make_unique<TBatch>();
        const bool more = !result().Cancelled && FPlanner->Next(batch->Pages, FFailed);
        if (more && !result().Cancelled)
            render(*batch);
        if (pending) {
            collect(*pending);
            pending.reset();
        }
        if (!more || result().Cancelled)
            break;
        makeTasks(*batch);
        if (shared) {
            FCall.Context().ShareWork(batch->Group);
            pending = std::move(batch);
        } else {
            collect(*batch);
        }
    }
}

void TPdfRoute::render(TBatch &batch)
{
    batch.Stem = FCall.FreshName(QStringLiteral("page"), QString()) + QLatin1Char('-');
    // A failed render fails the batch's pages, not the whole document.
    const QString saved = result().Reason;
    result().Reason.clear();
    const int pages = batch.Pages.Last - batch.Pages.First + 1;
    batch.Rendered = FCall.Run(
        ExternalTool::Interpreter,
        PdfRenderArguments(FEntry, FFonts, batch.Pages.First, batch.Pages.Last, batch.Stem, batch.Pages.Dpi),
        FCall.TimeoutMs(FInputBytes, 10 * pages), false);
    batch.RenderReason = result().Reason;
    result().Reason = saved;
}

// The conversions of a rendered batch's pages as a group of tasks, one per
// page, each with its own result. Output names are reserved here, in page
// order, whichever thread then converts which page.
void TPdfRoute::makeTasks(TBatch &batch)
{
    const TPageRange pages = batch.Pages;
    batch.Results.assign(size_t(pages.Last - pages.First + 1), ConversionResult());
    std::vector<std::function<void()>> tasks;
    for (int page = pages.First; page <= pages.Last; ++page) {
        const QString bitmap = batch.Stem + PageNumber(page - pages.First + 1) + QStringLiteral(".png");
        const qint64 size = QFileInfo(FCall.Scratch() + bitmap).size();
        ConversionResult &pageResult = batch.Results[size_t(page - pages.First)];
        if (size <= 0) {
            pageResult.Reason = batch.Rendered ? QStringLiteral("PostScript interpreter rendered nothing")
                                               : batch.RenderReason;
            continue;
        }
        const QString &format = FCall.Options().SaveFormat;
        if (IsPlainWord(format))
            FCall.ReserveName(pageSource(page), format);
        const TPageResize resize = pageResize(FCall.Options(), pngSize(FCall.Scratch() + bitmap), FPlanner->PageSize(page));
        tasks.push_back([this, &pageResult, bitmap, size, resize, page] {
            TCall part(FCall, pageResult);
            pageResult.Success = ConvertPage(part, pageSource(page), bitmap, size, resize.Fit, resize.ScalePercent);
            if (!pageResult.Success && pageResult.Reason.isEmpty())
                pageResult.Reason = QStringLiteral("unexpected error");
            QFile::remove(FCall.Scratch() + bitmap);
            if (pageResult.Success && FCall.Context().PageDone)
                FCall.Context().PageDone(page, ++FWritten, FPageCount, pageResult.Outputs.value(0));
        });
    }
    batch.Group = std::make_shared<TTaskGroup>(std::move(tasks));
}

// Waits for a batch's pages (converting some itself) and takes their results
// in page order.
void TPdfRoute::collect(TBatch &batch)
{
    batch.Group->Finish();
    for (int page = batch.Pages.First; page <= batch.Pages.Last; ++page) {
        const ConversionResult &pageResult = batch.Results[size_t(page - batch.Pages.First)];
        result().Printed += pageResult.Printed;
        result().Outputs += pageResult.Outputs;
        result().Existing += pageResult.Existing;
        if (pageResult.Cancelled)
            result().Cancelled = true;
        if (!pageResult.Success)
            FFailed.emplace(page, pageResult.Reason);
    }
    batch.Group.reset();
}

bool TPdfRoute::summarise()
{
    if (result().Cancelled) {
        result().Reason = QStringLiteral("cancelled");
        return false;
    }
    if (FFailed.empty())
        return true;
    QStringList numbers;
    for (const auto &failed : FFailed)
        numbers << QString::number(failed.first);
    result().Reason = (FFailed.size() == 1 ? QStringLiteral("page ") : QStringLiteral("pages ")) +
                      numbers.join(QStringLiteral(", ")) + QStringLiteral(" of %1 failed: ").arg(FPageCount) +
                      FFailed.begin()->second;
    return false;
}

QString TPdfRoute::pageSource(int page) const
{
    return FolderPart(FSource) + WithoutExtension(FileNamePart(FSource)) + QLatin1Char('-') +
           PageNumber(page) + QStringLiteral(".bmp");
}
} // namespace

bool ConvertPdfPages(TCall &call, const QString &sourcePath)
{
    return TPdfRoute(call, sourcePath).Convert();
}
} // namespace Engine
