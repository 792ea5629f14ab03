#include "job.h"

#include "tools.h"

#include <QThread>

#include <atomic>

// Interim: one worker thread, items in order.
struct TConversionJob::Private {
    QList<TJobItem> items;
    ConversionOptions options;
    int workers = 1;
    TCancelFlag cancel;
    QThread *thread = nullptr;
    std::atomic<bool> running{false};
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
}

TConversionJob::~TConversionJob()
{
    Cancel();
    if (d->thread) {
        d->thread->wait();
        delete d->thread;
    }
    delete d;
}

void TConversionJob::Start()
{
    if (d->thread)
        return;
    d->running = true;
    d->thread = QThread::create([this] {
        const int total = int(d->items.size());
        int done = 0;
        for (int i = 0; i < total && !d->cancel.IsCancelled(); ++i) {
            emit RowStarted(i);
            ConversionResult result = ConvertFile(d->options, d->items[i].FileName, d->items[i].Type);
            if (d->cancel.IsCancelled())
                break;
            emit RowFinished(i, result);
            emit Progress(++done, total);
        }
        d->running = false;
        emit Finished(d->cancel.IsCancelled());
    });
    d->thread->start();
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
