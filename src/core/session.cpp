#include "session.h"

#include "engine/toollimits.h"
#include "job.h"
#include "platform.h"
#include "translate.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

QString DurationText(qint64 ms)
{
    const qint64 seconds = (ms + 500) / 1000;
    const qint64 h = seconds / 3600, m = seconds / 60 % 60, sec = seconds % 60;
    const auto two = [](qint64 v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
    return h > 0 ? QStringLiteral("%1:%2:%3").arg(h).arg(two(m), two(sec))
                 : QStringLiteral("%1:%2").arg(m).arg(two(sec));
}

QString OutputGroupKey(const TFileInfo &info, const QString &outputFolder, bool keepTree)
{
    const QFileInfo source(info.FileName);
    QString folder = outputFolder;
    if (folder.isEmpty())
        folder = source.absolutePath() + QLatin1Char('/');
    else if (keepTree)
        folder += RelativeFolderOf(info) + QLatin1Char('/');
    // "a.png", "a (1).jpg" and "a-001.pdf" may all end up as "a…" names.
    static const QRegularExpression suffix(QStringLiteral("(( \\(\\d+\\))|(-\\d+))+$"));
    QString stem = source.fileName();
    const qsizetype dot = stem.lastIndexOf(QLatin1Char('.'));
    if (dot > 0)
        stem.truncate(dot);
    stem.remove(suffix);
    return (folder + stem).toLower();
}

int ShardOfKey(const QString &key, int count)
{
    // 64-bit FNV-1a over the UTF-8 bytes.
    quint64 hash = 14695981039346656037ULL;
    for (const char byte : key.toUtf8()) {
        hash ^= quint8(byte);
        hash *= 1099511628211ULL;
    }
    return count <= 1 ? 1 : int(hash % quint64(count)) + 1;
}

TConversionSession::TConversionSession(TFileListModel &list, QObject *parent, TShard shard)
    : QObject(parent), FList(list), FShard(shard)
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

QString TConversionSession::OutputFolderProblem(const QString &folder)
{
    if (folder.trimmed().isEmpty())
        return QStringLiteral("no folder named");
    const QFileInfo info(folder);
    if (info.exists() && !info.isDir())
        return QStringLiteral("it is a file");
    // The nearest part of the path that exists decides.
    QString parent = QDir::cleanPath(info.absoluteFilePath());
    QFileInfo existing(parent);
    while (!existing.exists() && !existing.isSymLink()) {
        const QString up = existing.absolutePath();
        if (up == parent)
            return QString();
        parent = up;
        existing.setFile(parent);
    }
    if (!existing.isDir())
        return QStringLiteral("'%1' is a file").arg(parent);
    if (!existing.isWritable())
        return QStringLiteral("no permission to write in '%1'").arg(parent);
    return QString();
}


TIntakeGuard TConversionSession::IntakeGuard(const QString &outputFolder) const
{
    TIntakeGuard guard;
    if (!outputFolder.isEmpty())
        guard.SkipFolder = FolderIdentity(outputFolder);
    guard.SkipFiles = FWritten;
    return guard;
}

QList<TIntakeEntry> TConversionSession::Take(const QStringList &paths, const QString &outputFolder)
{
    const TIntakeGuard guard = IntakeGuard(outputFolder);
    QList<TIntakeEntry> entries;
    for (const QString &given : paths) {
        const QString path =
            given.isEmpty() ? QString() : QDir::cleanPath(QDir::current().absoluteFilePath(given));
        const QFileInfo info(path);
        // A name whose bytes are not UTF-8 is not there by its decoded name:
        // intake lists it as a refused row.
        const bool undecodable = path.contains(QChar(QChar::ReplacementCharacter));
        TIntakeNote note = TIntakeNote::NotFound;
        if (!path.isEmpty() && (info.exists() || undecodable)) {
            const bool listed = FList.contains(path);
            const int before = FList.rowCount();
            AddPath(FList, path, guard);
            const bool added = FList.rowCount() > before;
            if (info.isDir())
                note = added ? TIntakeNote::Added : TIntakeNote::NoImages;
            else
                note = added ? TIntakeNote::Added : listed ? TIntakeNote::Listed : TIntakeNote::NotAnImage;
        }
        // A path that adds nothing is reported by one part of a split batch.
        const bool inShard = FShard.Count <= 1 || ShardOfKey(path, FShard.Count) == FShard.Index;
        if (inShard && (note == TIntakeNote::NotFound || note == TIntakeNote::NotAnImage))
            ++FIntakeFailed;
        entries.append({given, note, inShard});
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

bool TConversionSession::inShard(int row, const ConversionOptions &options) const
{
    if (FShard.Count <= 1)
        return true;
    const QString key = OutputGroupKey(FList.fileInfo(row), options.SavePath, options.KeepTree);
    return ShardOfKey(key, FShard.Count) == FShard.Index;
}

TStartResult TConversionSession::start(const QList<int> &given, bool resetAll, ConversionOptions options,
                                       const std::optional<QString> &outputFolder)
{
    if (given.isEmpty() && FIntakeFailed == 0)
        return TStartResult::NothingToDo;
    options.SavePath.clear();
    if (outputFolder) {
        options.SavePath = PrepareOutputFolder(*outputFolder);
        if (options.SavePath.isEmpty())
            return TStartResult::BadOutputFolder;
    }
    QList<int> rows;
    for (int row : given) {
        if (inShard(row, options))
            rows.append(row);
    }
    QList<int> refused, converted;
    for (int row : rows)
        (FList.fileInfo(row).Refused == TReasonKind::None ? converted : refused).append(row);
    // The job works on a copy of the rows; the views keep the list still
    // while it runs, so that row numbers stay valid for its signals.
    const QList<TJobItem> items = jobItems(converted, options.KeepTree && !options.SavePath.isEmpty());
    if (resetAll) {
        for (int i = 0; i < FList.rowCount(); ++i)
            FList.setState(i, TRowState::Ready);
    } else {
        for (int row : std::as_const(rows))
            FList.setState(row, TRowState::Ready);
    }

    FRows = converted;
    FCounts = TSessionCounts();
    FCounts.Total = int(rows.size()) + FIntakeFailed;
    FCounts.Failed = FIntakeFailed;
    FCounts.LeftAlone = FList.rowCount() - int(rows.size());
    FIntakeFailed = 0;
    FResultFolder = options.SavePath;
    FResume = false;
    FKeepDates = options.KeepDates;
    FElapsed = 0;
    FTimer.start();

    if (items.isEmpty()) {
        // Only given paths that added nothing and refused rows: the run ends at once.
        emit Started(0);
        failRefused(refused);
        FCounts.Cancelled = 0;
        emit Finished(false);
        return TStartResult::Started;
    }
    const int workers = options.Workers;
    FJob = new TConversionJob(items, std::move(options), workers, this);
    connectJob();
    emit Started(int(converted.size()));
    failRefused(refused);
    FJob->Start();
    return TStartResult::Started;
}

void TConversionSession::connectJob()
{
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
}

void TConversionSession::Cancel()
{
    if (FJob)
        FJob->Cancel();
}

void TConversionSession::failRefused(const QList<int> &rows)
{
    for (int row : rows) {
        TReason why;
        why.Kind = FList.fileInfo(row).Refused;
        ConversionResult result;
        result.Reason = ReasonText(why, QStringLiteral("en"));
        FList.setFailed(row, why, result.Reason);
        ++FCounts.Failed;
        emit RowFinished(row, result);
    }
}

namespace
{
// The failure in plain words, from the engine's reason, what the tools
// printed and the source file itself.
TReason explain(const QString &source, const ConversionResult &result)
{
    TReason why = ExplainFailure(result.Reason, result.Printed);
    if (why.Kind != TReasonKind::Damaged && why.Kind != TReasonKind::TooLarge &&
        why.Kind != TReasonKind::Other && why.Kind != TReasonKind::NotAnImage &&
        why.Kind != TReasonKind::NotFound)
        return why;
    const Engine::TPixelLimits limits = Engine::ImageToolLimits();
    return ExplainFileFailure(source, result.Reason, result.Printed, limits.Width, limits.Height);
}
} // namespace

void TConversionSession::jobRowFinished(int index, const ConversionResult &result)
{
    const int row = FRows.value(index, -1);
    if (result.Cancelled && !result.Success) {
        // Counted with the other unfinished rows when the run ends.
        FList.setState(row, TRowState::Ready);
        return;
    }
    if (result.Skipped) {
        // Earlier outputs are left exactly as they are, their dates too.
        FList.setState(row, TRowState::Skipped, result.Reason);
        ++FCounts.OutputExisted;
        if (FResultFolder.isEmpty())
            FResultFolder = QFileInfo(result.Existing.first()).absolutePath();
        emit RowFinished(row, result);
        return;
    }
    if (FKeepDates)
        keepDates(row, result.Outputs);
    if (result.Success) {
        FList.setState(row, TRowState::Success, result.Reason, result.Printed);
        for (const QString &output : result.Outputs)
            FWritten.insert(output);
    } else {
        // The details keep the engine's own words above what the tools printed.
        const QString details =
            result.Reason + (result.Printed.isEmpty() ? QString() : QStringLiteral("\n\n") + result.Printed);
        FList.setFailed(row, explain(FList.fileInfo(row).FileName, result), details);
    }
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

void TConversionSession::keepDates(int row, const QStringList &outputs) const
{
    const QDateTime time = QFileInfo(FList.fileInfo(row).FileName).lastModified();
    if (!time.isValid())
        return;
    for (const QString &output : outputs) {
        // Opened without truncating; a file that cannot be opened keeps its time.
        QFile file(output);
        if (file.open(QIODevice::ReadWrite)) {
            file.setFileTime(time, QFileDevice::FileModificationTime);
            file.setFileTime(time, QFileDevice::FileAccessTime);
        }
    }
}

void TConversionSession::jobFinished(bool cancelled)
{
    // Rows the job did not finish can be converted another time.
    for (int row : std::as_const(FRows)) {
        if (row >= 0 && FList.state(row) == TRowState::Converting)
            FList.setState(row, TRowState::Ready);
    }
    FCounts.Cancelled = FCounts.Total - FCounts.Converted - FCounts.OutputExisted - FCounts.Failed;
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
    if (FCounts.OutputExisted > 0)
        text += Translate(QStringLiteral("건너뜀")) + QLatin1Char(' ') +
                QString::number(FCounts.OutputExisted) + dot;
    if (FCounts.Cancelled > 0)
        text +=
            Translate(QStringLiteral("취소")) + QLatin1Char(' ') + QString::number(FCounts.Cancelled) + dot;
    return text + DurationText(ElapsedMs());
}

QString TConversionSession::CancelNote() const
{
    if (!FResume || IsRunning())
        return QString();
    return Translate(QStringLiteral("변환 취소됨 \u00B7 남은 파일 %s"))
        .replace(QStringLiteral("%s"), QString::number(FCounts.Cancelled));
}

QString TConversionSession::Report() const
{
    const TSessionCounts &c = FCounts;
    QString text = QStringLiteral("%1 of %2 %3 converted")
                       .arg(c.Converted)
                       .arg(c.Total)
                       .arg(c.Total == 1 ? QStringLiteral("file") : QStringLiteral("files"));
    if (c.OutputExisted > 0)
        text += QStringLiteral(", %1 skipped (output exists)").arg(c.OutputExisted);
    if (c.Failed > 0)
        text += QStringLiteral(", %1 failed").arg(c.Failed);
    if (c.Cancelled > 0)
        text += QStringLiteral(", %1 not converted (interrupted)").arg(c.Cancelled);
    return text + QLatin1Char('.');
}
