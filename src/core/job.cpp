#include "job.h"

#include "formats.h"
#include "taskgroup.h"
#include "tools.h"

#include <QDir>
#include <QMutex>
#include <QThread>
#include <QWaitCondition>

#include <atomic>
#include <deque>
#include <memory>
#include <vector>

struct TConversionJob::Private {
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
};

TConversionJob::TConversionJob(QList<TJobItem> items, ConversionOptions options, int workers, QObject *parent)
    : QObject(parent), d(new Private)
{
    qRegisterMetaType<ConversionResult>();
    d->items = std::move(items);
    d->options = std::move(options);
    d->run.Cancel = &d->cancel;
    d->run.Names = std::make_shared<TOutputNames>();
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
            ConversionOptions options;
            int index = -1;
            std::shared_ptr<TTaskGroup> help;
            {
                // Taking the next item and reserving its output name happen
                // under one lock, in item order: a name is held before any
                // later item can ask for one, as in a one-worker run.
                QMutexLocker lock(&d->mutex);
                // Shared parts of started items first; with no item left, a
                // worker waits for parts while other items are converted.
                for (;;) {
                    while (!d->shared.empty() && !d->shared.front()->HasWork())
                        d->shared.pop_front();
                    if (!d->shared.empty() || d->cancel.IsCancelled() || d->next < total || d->busy == 0)
                        break;
                    d->wake.wait(&d->mutex);
                }
                if (!d->shared.empty()) {
                    help = d->shared.front();
                } else {
                    if (d->cancel.IsCancelled() || d->next >= total)
                        break;
                    index = d->next++;
                    ++d->busy;
                    const TJobItem &item = d->items.at(index);
                    options = d->options;
                    if (!options.SavePath.isEmpty() && !item.RelativeFolder.isEmpty()) {
                        options.SavePath += item.RelativeFolder + QLatin1Char('/');
                        QDir().mkpath(options.SavePath);
                    }
                    // A PDF writes only page files, whose names its pages
                    // reserve in page order; a name of its own would only
                    // push a later "name.ext" to "name (1).ext".
                    if (const InputKind kind = InputKindOf(item.Type); kind != InputKind::None && kind != InputKind::Pdf)
                        d->run.Names->Reserve(options, item.FileName, options.SaveFormat);
                }
            }
            if (help) {
                help->Help();
                continue;
            }
            emit RowStarted(index);

            ConversionResult result;
            try {
                result = ConvertFile(options, d->items.at(index).FileName, d->items.at(index).Type, d->run);
            } catch (...) {
                // An unexpected error fails this item; the job goes on.
                result = ConversionResult();
                result.Reason = QStringLiteral("unexpected error");
            }
            QMutexLocker lock(&d->mutex);
            --d->busy;
            d->wake.wakeAll();
            // An item stopped by the cancel request is not finished: it is
            // reported by no signal and stays to be converted another time.
            if (result.Cancelled || (!result.Success && d->cancel.IsCancelled()))
                continue;
            emit RowFinished(index, result);
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
