#include "job.h"

#include "tools.h"

#include <QDir>
#include <QMutex>
#include <QThread>

#include <atomic>
#include <vector>

struct TConversionJob::Private {
    QList<TJobItem> items;
    ConversionOptions options;
    int workers = 1;
    TCancelFlag cancel;
    std::vector<QThread *> threads;
    std::atomic<bool> running{false};

    // Guarded by mutex: the next item to take, finished items, live workers.
    QMutex mutex;
    int next = 0;
    int finished = 0;
    int live = 0;
};

TConversionJob::TConversionJob(QList<TJobItem> items, ConversionOptions options, int workers, QObject *parent)
    : QObject(parent), d(new Private)
{
    qRegisterMetaType<ConversionResult>();
    d->items = std::move(items);
    d->options = std::move(options);
    d->options.Cancel = &d->cancel;
    if (!d->options.Names)
        d->options.Names = std::make_shared<TOutputNames>();
    d->workers = workers > 0 ? workers : qMax(1, QThread::idealThreadCount());
    // Several workers share the cores; a tool that spreads over all of them
    // would only make the workers wait for each other.
    if (d->workers > 1)
        d->options.ToolThreads = 1;
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
    const int count = qMax(1, qMin(d->workers, total));
    d->live = count;

    const auto work = [this, total] {
        for (;;) {
            ConversionOptions options;
            int index = -1;
            {
                // Taking the next item and reserving its output name happen
                // under one lock, in item order: a name is held before any
                // later item can ask for one, as in a one-worker run.
                QMutexLocker lock(&d->mutex);
                if (d->cancel.IsCancelled() || d->next >= total)
                    break;
                index = d->next++;
                const TJobItem &item = d->items.at(index);
                options = d->options;
                if (!options.SavePath.isEmpty() && !item.RelativeFolder.isEmpty()) {
                    options.SavePath += item.RelativeFolder + QLatin1Char('/');
                    QDir().mkpath(options.SavePath);
                }
                if (!item.Type.isEmpty())
                    options.Names->Reserve(options, item.FileName, options.SaveFormat);
            }
            emit RowStarted(index);

            ConversionResult result;
            try {
                result = ConvertFile(options, d->items.at(index).FileName, d->items.at(index).Type);
            } catch (...) {
                // An unexpected error fails this item; the job goes on.
                result = ConversionResult();
                result.Reason = QStringLiteral("unexpected error");
            }
            // An item stopped by the cancel request is not finished: it is
            // reported by no signal and stays to be converted another time.
            if (result.Cancelled || (!result.Success && d->cancel.IsCancelled()))
                continue;

            QMutexLocker lock(&d->mutex);
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
