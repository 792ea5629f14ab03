#pragma once

#include "conversion.h"
#include "filelist.h"
#include "settings.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

class TConversionJob;
class TFileListModel;
class TFileInfo;
struct TJobItem;

// The counts of one run, kept in one place. Converted + OutputExisted +
// Failed + Cancelled is always Total.
struct TSessionCounts {
    int Total = 0;         // the run's rows, and the given paths that added nothing
    int Converted = 0;     // rows written
    int OutputExisted = 0; // rows skipped because every output was there (shown as "skipped")
    int Failed = 0;        // rows that failed, and given paths that name nothing or no image
    int Cancelled = 0;     // rows a cancel left unfinished (Ready again)
    int LeftAlone = 0;     // listed rows outside the run (a retry, a run that goes on after a cancel)
};

// What a start request came to.
enum class TStartResult {
    Started,
    NothingToDo,     // no rows to convert, or a run is going on
    BadOutputFolder, // the output folder is not named, or cannot be made
};

// How Take() dealt with one given path.
enum class TIntakeNote {
    Added,      // a file listed, or a folder with at least one image listed
    Listed,     // a file that was listed already
    NotFound,   // names nothing (or is empty): a failure of the next run
    NotAnImage, // a file that is no supported image: a failure of the next run
    NoImages,   // a folder without images: only noted
};

struct TIntakeEntry {
    QString Given;
    TIntakeNote Note;
    bool InShard = true; // false: another part of a split batch reports this path
};

// The sources that may compete for one output name share a key: the output
// folder and the name's stem without a page number ("-001") or a " (n)"
// suffix, in lower case. outputFolder is the folder of a run into one folder
// (ending in '/'), empty for outputs next to their sources.
QString OutputGroupKey(const TFileInfo &info, const QString &outputFolder, bool keepTree);
// The part (1..count) that key falls into: a hash that every process and
// every machine computes alike.
int ShardOfKey(const QString &key, int count);

// A conversion session over one file list: turns rows into job items,
// checks and makes the output folder, runs a TConversionJob, keeps every
// row's state, counts the outcomes and words the summary. The window,
// /auto and the command line show what it reports and never count
// themselves. Lives on the thread of its list.
class TConversionSession : public QObject
{
    Q_OBJECT
  public:
    // shard: the part of a split batch this session converts; rows and given
    // paths of the other parts are left alone and not counted.
    explicit TConversionSession(TFileListModel &list, QObject *parent = nullptr, TShard shard = TShard());
    ~TConversionSession() override; // cancels a running job and waits for it

    // The folder ending in '/', made when missing; empty when folder is
    // blank or cannot be made.
    static QString PrepareOutputFolder(const QString &folder);
    // Why folder cannot be the output folder ("it is a file", ...), in
    // English for the command line; empty when nothing explains it.
    static QString OutputFolderProblem(const QString &folder);

    // Lists the given paths (relative ones below the current folder), each
    // file once. Paths that name nothing or no image count as failures of
    // the next run. A walk never enters outputFolder (when given) and never
    // takes a file this session wrote.
    QList<TIntakeEntry> Take(const QStringList &paths, const QString &outputFolder = QString());
    // What a walk for this session must leave alone, given the output folder
    // of the coming run (empty: outputs next to their sources).
    TIntakeGuard IntakeGuard(const QString &outputFolder) const;

    // Converts every row; after a cancelled run only the rows still Ready.
    // The outputs go to outputFolder (made when missing), or next to their
    // sources without one; options.SavePath is set from it, and
    // options.KeepTree keeps the walked folders below it.
    TStartResult StartAll(ConversionOptions options, const std::optional<QString> &outputFolder);
    // Converts the failed rows again; the others are left alone.
    TStartResult RetryFailed(ConversionOptions options, const std::optional<QString> &outputFolder);
    // Stops the run; rows not finished become Ready, Finished(true) follows.
    void Cancel();

    bool IsRunning() const { return FJob != nullptr; }
    // The last run (or the running one) as it stands.
    TSessionCounts Counts() const { return FCounts; }
    // Where the last run's outputs went: the output folder, or the folder of
    // the first output written next to its source; empty when none.
    QString ResultFolder() const { return FResultFolder; }
    qint64 ElapsedMs() const;
    // The window's line: "성공 N · 실패 M · m:ss" translated, with the
    // skipped rows ("건너뜀 N") and the cancelled rows ("취소 N") before the
    // time when there are any.
    QString Summary() const;
    // After a cancelled run: "변환 취소됨 · 남은 파일 N" translated, N the
    // files not converted; empty otherwise.
    QString CancelNote() const;
    // The command line's line: "N of M files converted, S skipped (output
    // exists), F failed, C not converted (interrupted)." with the parts that
    // are not zero.
    QString Report() const;

  signals:
    // A run started with this many rows (after the rows were set Ready).
    void Started(int rows);
    void RowStarted(int row);
    // A row's end; a failed row's reason in plain words is list.reason(row).
    void RowFinished(int row, const ConversionResult &result);
    // A page of a document row was written to output (pages written so far
    // of pages); the row's status shows "written/pages" meanwhile.
    void PageWritten(int row, int page, int written, int pages, const QString &output);
    void Progress(int finished, int total);
    // After the last row; the counts are final, the session idle again.
    void Finished(bool cancelled);

  private:
    // Fails the rows intake refused, as the run's first results.
    void failRefused(const QList<int> &rows);
    // Forwards the new job's signals to the list and the views.
    void connectJob();
    TStartResult start(const QList<int> &rows, bool resetAll, ConversionOptions options,
                       const std::optional<QString> &outputFolder);
    // The rows as job items; keepTree: each keeps its folder below the walked one.
    QList<TJobItem> jobItems(const QList<int> &rows, bool keepTree) const;
    void jobRowFinished(int index, const ConversionResult &result);
    void jobFinished(bool cancelled);
    bool inShard(int row, const ConversionOptions &options) const;
    // Gives the row's outputs the source's modification time.
    void keepDates(int row, const QStringList &outputs) const;

    TFileListModel &FList;
    const TShard FShard;
    bool FKeepDates = false;        // the running job's outputs take their sources' times
    TConversionJob *FJob = nullptr; // the running job; null when idle
    QList<int> FRows;               // list row of each job item
    TSessionCounts FCounts;
    int FIntakeFailed = 0; // given paths that added nothing, for the next run
    QString FResultFolder;
    QSet<QString> FWritten; // every output this session wrote
    QElapsedTimer FTimer;
    qint64 FElapsed = 0;  // the last run's length, once it ended
    bool FResume = false; // the last run was cancelled: StartAll goes on with Ready rows
};

// "m:ss", or "h:mm:ss" from an hour on.
QString DurationText(qint64 ms);
