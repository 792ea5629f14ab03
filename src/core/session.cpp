#include "session.h"

#include "filelist.h"
#include "job.h"
#include "translate.h"

#include <QDir>
#include <QFileInfo>

QString DurationText(qint64 ms)
{
    const qint64 seconds = (ms + 500) / 1000;
    const qint64 h = seconds / 3600, m = seconds / 60 % 60, sec = seconds % 60;
    const auto two = [](qint64 v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
    return h > 0 ? QStringLiteral("%1:%2:%3").arg(h).arg(two(m), two(sec))
                 : QStringLiteral("%1:%2").arg(m).arg(two(sec));
}

TConversionSession::TConversionSession(TFileListModel &list, QObject *parent) : QObject(parent), FList(list)
{
}

TConversionSession::~TConversionSession()
{
    // The workers end before the list they report on goes.
    if (FJob) {
        FJob->disconnect(this);
        delete FJob;
    }
}

QString TConversionSession::PrepareOutputFolder(const QString &folder)
{
    // A blank name would mean the file-system root: refused like a folder
    // that cannot be made.
    if (folder.trimmed().isEmpty())
        return QString();
    const QString path = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    if (!QFileInfo(path).isDir() && !QDir().mkpath(path))
        return QString();
    return path;
}

QList<TIntakeEntry> TConversionSession::Take(const QStringList &paths)
{
    QList<TIntakeEntry> entries;
    for (const QString &given : paths) {
        const QString path =
            given.isEmpty() ? QString() : QDir::cleanPath(QDir::current().absoluteFilePath(given));
        const QFileInfo info(path);
        TIntakeNote note = TIntakeNote::NotFound;
        if (!path.isEmpty() && info.exists()) {
            const bool listed = FList.contains(path);
            const int before = FList.rowCount();
            AddPath(FList, path);
            const bool added = FList.rowCount() > before;
            if (info.isDir())
                note = added ? TIntakeNote::Added : TIntakeNote::NoImages;
            else
                note = added ? TIntakeNote::Added : listed ? TIntakeNote::Listed : TIntakeNote::NotAnImage;
        }
        if (note == TIntakeNote::NotFound || note == TIntakeNote::NotAnImage)
            ++FIntakeFailed;
        entries.append({given, note});
    }
    return entries;
}

TStartResult TConversionSession::StartAll(ConversionOptions options,
                                          const std::optional<QString> &outputFolder)
{
    if (IsRunning())
        return TStartResult::NothingToDo;
    // After a cancelled run a start goes on with the rows not converted yet;
    // otherwise every row is converted again.
    QList<int> rows;
    if (FResume) {
        for (int i = 0; i < FList.rowCount(); ++i) {
            if (FList.state(i) == TRowState::Ready)
                rows.append(i);
        }
    }
    const bool again = rows.isEmpty();
    if (again) {
        for (int i = 0; i < FList.rowCount(); ++i)
            rows.append(i);
    }
    return start(rows, again, std::move(options), outputFolder);
}

TStartResult TConversionSession::RetryFailed(ConversionOptions options,
                                             const std::optional<QString> &outputFolder)
{
    if (IsRunning())
        return TStartResult::NothingToDo;
    QList<int> rows;
    for (int i = 0; i < FList.rowCount(); ++i) {
        if (FList.state(i) == TRowState::Fail)
            rows.append(i);
    }
    return start(rows, false, std::move(options), outputFolder);
}

QList<TJobItem> TConversionSession::jobItems(const QList<int> &rows, bool keepTree) const
{
    QList<TJobItem> items;
    items.reserve(rows.size());
    for (int row : rows) {
        const TFileInfo &info = FList.fileInfo(row);
        items.append(TJobItem{info.FileName, info.Format, keepTree ? RelativeFolderOf(info) : QString()});
    }
    return items;
}

TStartResult TConversionSession::start(const QList<int> &rows, bool resetAll, ConversionOptions options,
                                       const std::optional<QString> &outputFolder)
{
    if (rows.isEmpty() && FIntakeFailed == 0)
        return TStartResult::NothingToDo;
    options.SavePath.clear();
    if (outputFolder) {
        options.SavePath = PrepareOutputFolder(*outputFolder);
        if (options.SavePath.isEmpty())
            return TStartResult::BadOutputFolder;
    }
    // The job works on a copy of the rows; the views keep the list still
    // while it runs, so that row numbers stay valid for its signals.
    const QList<TJobItem> items = jobItems(rows, options.KeepTree && !options.SavePath.isEmpty());
    for (int i = 0; i < FList.rowCount(); ++i) {
        if (resetAll || rows.contains(i))
            FList.setState(i, TRowState::Ready);
    }

    FRows = rows;
    FCounts = TSessionCounts();
    FCounts.Total = int(rows.size()) + FIntakeFailed;
    FCounts.Failed = FIntakeFailed;
    FCounts.Skipped = FList.rowCount() - int(rows.size());
    FIntakeFailed = 0;
    FResultFolder = options.SavePath;
    FResume = false;
    FElapsed = 0;
    FTimer.start();

    if (items.isEmpty()) {
        // Only given paths that added nothing: the run ends at once.
        emit Started(0);
        FCounts.Cancelled = 0;
        emit Finished(false);
        return TStartResult::Started;
    }
    const int workers = options.Workers;
    FJob = new TConversionJob(items, std::move(options), workers, this);
    connect(FJob, &TConversionJob::RowStarted, this, [this](int index) {
        const int row = FRows.value(index, -1);
        FList.setState(row, TRowState::Converting);
        emit RowStarted(row);
    });
    connect(FJob, &TConversionJob::RowFinished, this, &TConversionSession::jobRowFinished);
    connect(FJob, &TConversionJob::PageWritten, this,
            [this](int index, int page, int written, int pages, const QString &output) {
                const int row = FRows.value(index, -1);
                if (row >= 0 && FList.state(row) == TRowState::Converting)
                    FList.setState(row, TRowState::Converting,
                                   QStringLiteral("%1/%2").arg(written).arg(pages));
                emit PageWritten(row, page, written, pages, output);
            });
    connect(FJob, &TConversionJob::Progress, this, &TConversionSession::Progress);
    connect(FJob, &TConversionJob::Finished, this, &TConversionSession::jobFinished);
    emit Started(int(rows.size()));
    FJob->Start();
    return TStartResult::Started;
}

void TConversionSession::Cancel()
{
    if (FJob)
        FJob->Cancel();
}

void TConversionSession::jobRowFinished(int index, const ConversionResult &result)
{
    const int row = FRows.value(index, -1);
    if (result.Cancelled && !result.Success) {
        // Counted with the other unfinished rows when the run ends.
        FList.setState(row, TRowState::Ready);
        return;
    }
    FList.setState(row, result.Success ? TRowState::Success : TRowState::Fail, result.Reason, result.Printed);
    if (result.Success) {
        ++FCounts.Converted;
        // Without an output folder the outputs lie beside their sources.
        if (FResultFolder.isEmpty())
            FResultFolder =
                QFileInfo(result.Outputs.isEmpty() ? FList.fileInfo(row).FileName : result.Outputs.first())
                    .absolutePath();
    } else {
        ++FCounts.Failed;
    }
    emit RowFinished(row, result);
}

void TConversionSession::jobFinished(bool cancelled)
{
    // Rows the job did not finish can be converted another time.
    for (int row : std::as_const(FRows)) {
        if (row >= 0 && FList.state(row) == TRowState::Converting)
            FList.setState(row, TRowState::Ready);
    }
    FCounts.Cancelled = FCounts.Total - FCounts.Converted - FCounts.Failed;
    FElapsed = FTimer.elapsed();
    FJob->deleteLater();
    FJob = nullptr;
    FResume = cancelled;
    emit Finished(cancelled);
}

qint64 TConversionSession::ElapsedMs() const
{
    return FJob ? FTimer.elapsed() : FElapsed;
}

QString TConversionSession::Summary() const
{
    const QString dot = QStringLiteral(" \u00B7 ");
    QString text = Translate(QStringLiteral("성공")) + QLatin1Char(' ') + QString::number(FCounts.Converted) +
                   dot + Translate(QStringLiteral("실패")) + QLatin1Char(' ') +
                   QString::number(FCounts.Failed) + dot;
    if (FCounts.Cancelled > 0)
        text +=
            Translate(QStringLiteral("취소")) + QLatin1Char(' ') + QString::number(FCounts.Cancelled) + dot;
    return text + DurationText(ElapsedMs());
}

QString TConversionSession::Report() const
{
    const TSessionCounts &c = FCounts;
    QString text = QStringLiteral("%1 of %2 %3 converted")
                       .arg(c.Converted)
                       .arg(c.Total)
                       .arg(c.Total == 1 ? QStringLiteral("file") : QStringLiteral("files"));
    if (c.Failed > 0)
        text += QStringLiteral(", %1 failed").arg(c.Failed);
    if (c.Cancelled > 0)
        text += QStringLiteral(", %1 not converted (interrupted)").arg(c.Cancelled);
    return text + QLatin1Char('.');
}
