#include "job.h"

#include "engine/routes.h"
#include "formats.h"
#include "taskgroup.h"
#include "tools.h"

#include <QDir>
#include <QMutex>
#include <QThread>
#include <QWaitCondition>

#include <algorithm>
#include <atomic>
#include <deque>
#include <memory>
#include <vector>

struct TConversionJob::Private {
    TConversionJob *job = nullptr;
    QList<TJobItem> items;
    ConversionOptions options;
    TRunContext run;
    int workers = 1;
    TCancelFlag cancel;
    std::vector<QThread *> threads;
    std::atomic<bool> running{false};

    // Guarded by mutex: the next item to take, finished items, live workers,
    // items being converted, and work the conversions share with idle
    // workers (the pages of a PDF); wake tells waiting workers of a change.
    QMutex mutex;
    int next = 0;
    int finished = 0;
    int live = 0;
    int busy = 0;
    std::deque<std::shared_ptr<TTaskGroup>> shared;
    QWaitCondition wake;

    // What a worker does next: help with shared work, convert an item, or
    // (neither set) end.
    struct Next {
        std::shared_ptr<TTaskGroup> help;
        int index = -1;
        ConversionOptions options;
        QStringList existing; // every output of the item is there already: nothing to convert
    };
    // Waits for the next thing to do; call with mutex held.
    Next take();
    // Takes item index with the options it is converted with, its output
    // name reserved; call with mutex held. existing receives the item's
    // outputs when earlier outputs are skipped and every one is there.
    ConversionOptions startItem(int index, QStringList &existing);
    // Converts item index; an unexpected error fails it, the job goes on.
    ConversionResult convert(int index, const ConversionOptions &itemOptions) const;
};

TConversionJob::Private::Next TConversionJob::Private::take()
{
    // Shared parts of started items first; with no item left, a worker
    // waits for parts while other items are converted.
    for (;;) {
        while (!shared.empty() && !shared.front()->HasWork())
            shared.pop_front();
        if (!shared.empty() || cancel.IsCancelled() || next < items.size() || busy == 0)
            break;
        wake.wait(&mutex);
    }
    Next what;
    if (!shared.empty())
        what.help = shared.front();
    else if (!cancel.IsCancelled() && next < items.size()) {
        what.index = next++;
        what.options = startItem(what.index, what.existing);
    }
    return what;
}

ConversionOptions TConversionJob::Private::startItem(int index, QStringList &existing)
{
    ++busy;
    const TJobItem &item = items.at(index);
    ConversionOptions itemOptions = options;
    if (!itemOptions.SavePath.isEmpty() && !item.RelativeFolder.isEmpty()) {
        itemOptions.SavePath += item.RelativeFolder + QLatin1Char('/');
        QDir().mkpath(itemOptions.SavePath);
    }
    // Taking the item and reserving its output name happen under one lock,
    // in item order: a name is held before any later item can ask for one,
    // as in a one-worker run. A PDF writes only page files, whose names its
    // pages reserve in page order; a name of its own would only push a
    // later "name.ext" to "name (1).ext".
    // A source of several pages (a TIFF) to a format of one page writes page
    // files, whose names are held here in page order.
    const InputKind kind = InputKindOf(item.Type);
    if (kind == InputKind::None || kind == InputKind::Pdf)
        return itemOptions;
    // With earlier outputs skipped, an item whose outputs are all there is
    // decided here, before any tool runs for it (a source that may hold
    // pages is still counted by the image tool).
    const TOutputFormat *known = FindOutputFormat(itemOptions.SaveFormat);
    const int pages = known && known->HoldsPages ? 1 : Engine::CountPages(item.FileName, item.Type, run);
    QStringList outputs;
    if (pages == 1)
        outputs << run.Names->Reserve(itemOptions, item.FileName, itemOptions.SaveFormat);
    for (int page = 1; pages > 1 && page <= pages; ++page)
        outputs << run.Names->Reserve(itemOptions, Engine::PageSource(item.FileName, page),
                                      itemOptions.SaveFormat);
    if (itemOptions.Existing == TExistingPolicy::Skip &&
        std::all_of(outputs.cbegin(), outputs.cend(), HoldsEarlierOutput))
        existing = outputs;
    return itemOptions;
}

ConversionResult TConversionJob::Private::convert(int index, const ConversionOptions &itemOptions) const
{
    TRunContext itemRun = run;
    itemRun.PageDone = [job = job, index](int page, int written, int pages, const QString &output) {
        emit job->PageWritten(index, page, written, pages, output);
    };
    try {
        return ConvertFile(itemOptions, items.at(index).FileName, items.at(index).Type, itemRun);
    } catch (...) {
        ConversionResult result;
        result.Reason = QStringLiteral("unexpected error");
        return result;
    }
}

TConversionJob::TConversionJob(QList<TJobItem> items, ConversionOptions options, int workers, QObject *parent)
    : QObject(parent), d(new Private)
{
    qRegisterMetaType<ConversionResult>();
    d->job = this;
    d->items = std::move(items);
    d->options = std::move(options);
    d->run.Cancel = &d->cancel;
    d->run.Names = std::make_shared<TOutputNames>();
    for (const TJobItem &item : std::as_const(d->items))
        d->run.Names->AddSource(item.FileName);
    d->workers = workers > 0 ? workers : qMax(1, QThread::idealThreadCount());
    // Several workers share the cores; a tool that spreads over all of them
    // would only make the workers wait for each other.
    if (d->workers > 1) {
        d->run.ToolThreads = 1;
        // A conversion that splits its work (a PDF's pages) offers the parts
        // to workers without an item of their own.
        d->run.ShareWork = [d = d](std::shared_ptr<TTaskGroup> group) {
            QMutexLocker lock(&d->mutex);
            d->shared.push_back(std::move(group));
            d->wake.wakeAll();
        };
    }
}

TConversionJob::~TConversionJob()
{
    Cancel();
    for (QThread *thread : d->threads) {
        thread->wait();
        delete thread;
    }
    delete d;
}

void TConversionJob::Start()
{
    if (!d->threads.empty() || d->running)
        return;
    d->running = true;
    const int total = int(d->items.size());
    // Every worker starts when items may share work (a PDF's pages), even
    // with fewer items than workers.
    const int count = qMax(1, d->run.ShareWork ? d->workers : qMin(d->workers, total));
    d->live = count;

    const auto work = [this, total] {
        for (;;) {
            Private::Next next;
            {
                QMutexLocker lock(&d->mutex);
                next = d->take();
            }
            if (next.help) {
                next.help->Help();
                continue;
            }
            if (next.index < 0)
                break;
            if (!next.existing.isEmpty()) {
                const ConversionResult result = SkippedResult(next.existing);
                QMutexLocker lock(&d->mutex);
                --d->busy;
                d->wake.wakeAll();
                emit RowFinished(next.index, result);
                emit Progress(++d->finished, total);
                continue;
            }
            emit RowStarted(next.index);
            const ConversionResult result = d->convert(next.index, next.options);
            QMutexLocker lock(&d->mutex);
            --d->busy;
            d->wake.wakeAll();
            // An item stopped by the cancel request is not finished: it is
            // reported by no signal and stays to be converted another time.
            if (result.Cancelled || (!result.Success && d->cancel.IsCancelled()))
                continue;
            emit RowFinished(next.index, result);
            emit Progress(++d->finished, total);
        }

        QMutexLocker lock(&d->mutex);
        if (--d->live == 0) {
            d->running = false;
            emit Finished(d->finished < total);
        }
    };

    for (int i = 0; i < count; ++i) {
        QThread *thread = QThread::create(work);
        d->threads.push_back(thread);
    }
    for (QThread *thread : d->threads)
        thread->start();
}

void TConversionJob::Cancel()
{
    d->cancel.Cancel();
}

bool TConversionJob::IsRunning() const
{
    return d->running;
}

int TConversionJob::WorkerCount() const
{
    return d->workers;
}
