#pragma once

#include "conversion.h"

#include <QList>
#include <QObject>
#include <QString>

Q_DECLARE_METATYPE(ConversionResult)

// One file of a job, copied from the list when the job starts.
struct TJobItem {
    QString FileName;       // source path
    QString Type;           // image type text ("JPG", "PDF", ...; empty: fails without a tool)
    QString RelativeFolder; // with "keep folder structure": sub-folder below the output folder, else empty
};

// A conversion job: converts a snapshot of files with one set of options on a
// pool of workers, and reports by signals (queued to the thread that made the
// job). Output names are reserved in item order before each conversion
// starts, so any number of workers gives the names of a one-worker run.
class TConversionJob : public QObject
{
    Q_OBJECT
public:
    // workers: how many conversions run at once; 0 = one per core.
    TConversionJob(QList<TJobItem> items, ConversionOptions options, int workers, QObject *parent = nullptr);
    ~TConversionJob() override; // cancels and waits for the workers

    // Starts the workers and returns at once. Once only.
    void Start();
    // Stops the running tools, removes their partial outputs, starts no more
    // items; Finished(true) follows. Items not finished are reported by no
    // RowFinished signal.
    void Cancel();
    bool IsRunning() const;
    int WorkerCount() const;

signals:
    void RowStarted(int index);
    void RowFinished(int index, const ConversionResult &result);
    // A page of item index (a document) was written to output: pages written
    // so far of pages. Between the item's RowStarted and RowFinished.
    void PageWritten(int index, int page, int written, int pages, const QString &output);
    void Progress(int finished, int total);
    // After the last RowFinished; cancelled when Cancel() left items unfinished.
    void Finished(bool cancelled);

private:
    struct Private;
    Private *d;
};
