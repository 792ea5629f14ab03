#include "tools.h"

#include "formats.h"
#include "platform.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QThread>

#include <algorithm>
#include <optional>

QString ToolOutcome::Reason() const
{
    switch (State) {
    case Status::NotStarted:
        return QStringLiteral("program missing or not startable") +
               (StartError.isEmpty() ? QString() : QStringLiteral(": ") + StartError);
    case Status::TimedOut:
        return TimeoutMs > 0 ? QStringLiteral("timed out after %1 s").arg((TimeoutMs + 999) / 1000)
                             : QStringLiteral("timed out");
    case Status::Cancelled:
        return QStringLiteral("cancelled");
    case Status::Crashed:
        // Unix reports the signal; Windows a status code such as 0xC0000005.
        return (ExitCode >= 0 && ExitCode < 256
                    ? QStringLiteral("program crashed (signal %1)").arg(ExitCode)
                    : QStringLiteral("program crashed (code 0x%1)")
                          .arg(QString::number(quint32(ExitCode), 16).toUpper())) +
               (Printed.trimmed().isEmpty()
                    ? QString()
                    : QStringLiteral(": ") + Printed.trimmed().section(QLatin1Char('\n'), 0, 0).trimmed());
    case Status::Finished:
        break;
    }
    const QString first = Printed.trimmed().section(QLatin1Char('\n'), 0, 0).trimmed();
    if (ExitCode != 0)
        return QStringLiteral("exit status ") + QString::number(ExitCode) +
               (first.isEmpty() ? QString() : QStringLiteral(": ") + first);
    return first;
}

namespace
{
// Process groups of the tool runs in progress, so that a program asked to end
// can stop them all (KillAllToolRuns).
QMutex runningMutex;
QSet<qint64> runningGroups;

// Tools start one at a time. A Windows program inherits every inheritable
// handle open in this program while it starts, and the pipe ends made for a
// run stay inheritable until that run's start has closed them: a tool
// started meanwhile by another worker would hold the other run's pipe open,
// and that pipe's reader would wait for the end of its input as long as the
// tool lives (for ever when two readers hold each other's pipes).
QMutex startMutex;

// How long a killed tool is waited for before its run is given up.
constexpr int killWaitMs = 10000;

} // namespace

void KillAllToolRuns()
{
    QMutexLocker lock(&runningMutex);
    for (const qint64 pid : std::as_const(runningGroups))
        KillToolTree(pid);
}

QString JoinArguments(const QStringList &arguments)
{
    QStringList parts;
    parts.reserve(arguments.size());
    for (const QString &argument : arguments)
        parts << (argument.isEmpty() || argument.contains(QLatin1Char(' '))
                      ? QLatin1Char('"') + argument + QLatin1Char('"')
                      : argument);
    return parts.join(QLatin1Char(' '));
}

namespace
{
void notifyObserver(const ToolRequest &request)
{
    if (request.Observer)
        request.Observer(request.Program, JoinArguments(request.Arguments));
}

bool startable(const ToolRequest &request)
{
    const QFileInfo program(request.Program);
    return !request.Program.isEmpty() && program.isFile() && program.isExecutable();
}

void configure(QProcess &process, const ToolRequest &request)
{
    const QFileInfo program(request.Program);
    process.setProgram(program.absoluteFilePath());
    process.setArguments(request.Arguments);
    process.setWorkingDirectory(request.WorkingFolder.isEmpty() ? program.absolutePath()
                                                                : request.WorkingFolder);
    if (!request.ScratchFolder.isEmpty()) {
        // The program's own environment, read once: reading it is a
        // noticeable part of a short tool run.
        static const QProcessEnvironment inherited = QProcessEnvironment::systemEnvironment();
        QProcessEnvironment environment = inherited;
        for (const char *name : {"TMPDIR", "TMP", "TEMP", "MAGICK_TEMPORARY_PATH"})
            environment.insert(QLatin1String(name), request.ScratchFolder);
        process.setProcessEnvironment(environment);
    }
    // A time-out or a cancel must be able to stop everything the tool started.
    PrepareToolProcess(process);
}

// Waits for started processes until all have ended, or until the time-out or
// the cancel request, which kill them all with everything they started.
// Returns how the wait ended (Finished: every process ended by itself).
ToolOutcome::Status waitForAll(const QList<QProcess *> &processes, int timeoutMs, const TCancelFlag *cancel)
{
    QList<qint64> groups;
    for (QProcess *process : processes)
        if (process->state() != QProcess::NotRunning)
            groups << process->processId();
    {
        QMutexLocker lock(&runningMutex);
        for (const qint64 pid : std::as_const(groups))
            runningGroups.insert(pid);
    }
    QElapsedTimer clock;
    clock.start();
    ToolOutcome::Status stopped = ToolOutcome::Status::Finished;
    // QProcess keeps reading each pipe while it waits, so a program that
    // writes more than a pipe holds never stalls. Short waits let the cancel
    // flag and the time-out be seen promptly.
    const int slice = processes.size() > 1 ? 20 : 50;
    for (;;) {
        bool running = false;
        for (QProcess *process : processes)
            if (process->state() != QProcess::NotRunning && !process->waitForFinished(slice))
                running = running || process->state() != QProcess::NotRunning;
        if (!running)
            break;
        if (cancel && cancel->IsCancelled())
            stopped = ToolOutcome::Status::Cancelled;
        else if (timeoutMs > 0 && clock.elapsed() >= timeoutMs)
            stopped = ToolOutcome::Status::TimedOut;
        if (stopped != ToolOutcome::Status::Finished) {
            for (const qint64 pid : std::as_const(groups))
                KillToolTree(pid);
            // The process itself through its own handle too, so that the
            // wait below ends even if its group could not be reached.
            for (QProcess *process : processes) {
                process->kill();
                process->waitForFinished(killWaitMs);
            }
            break;
        }
    }
    // Anything a tool left running in its group goes with it.
    QMutexLocker lock(&runningMutex);
    for (const qint64 pid : std::as_const(groups)) {
        KillToolTree(pid);
        runningGroups.remove(pid);
    }
    return stopped;
}

ToolOutcome notStarted(const QProcess &process)
{
    ToolOutcome outcome;
    outcome.StartError = process.errorString();
    return outcome;
}

ToolOutcome outcomeOf(QProcess &process, ToolOutcome::Status stopped, int timeoutMs, QByteArray printed)
{
    ToolOutcome outcome;
    outcome.Printed = QString::fromUtf8(printed);
    outcome.ExitCode = process.exitCode();
    if (stopped != ToolOutcome::Status::Finished) {
        outcome.State = stopped;
        outcome.TimeoutMs = timeoutMs;
    } else {
        outcome.State = process.exitStatus() == QProcess::NormalExit ? ToolOutcome::Status::Finished
                                                                     : ToolOutcome::Status::Crashed;
    }
    return outcome;
}

// Runs of a tool that failed before running are repeated up to this many
// runs in all, after a short pause each.
constexpr int startAttempts = 3;

// A program file that is there and executable, yet did not start, or that
// the system ended before it ran (FailedBeforeRunning): a shortage of the
// moment, as when many programs start at once. The tool has done nothing
// yet, so running it again is safe.
bool failedBeforeRunning(const ToolOutcome &outcome)
{
    return outcome.State == ToolOutcome::Status::NotStarted ||
           (outcome.State == ToolOutcome::Status::Crashed && FailedBeforeRunning(outcome.ExitCode));
}

// Whether to run again after attempt (counted from 1) ended with outcomes;
// pauses before saying yes.
bool runAgain(int attempt, std::initializer_list<ToolOutcome> outcomes, const TCancelFlag *cancel)
{
    if (attempt >= startAttempts || (cancel && cancel->IsCancelled()) ||
        std::none_of(outcomes.begin(), outcomes.end(), failedBeforeRunning))
        return false;
    QThread::msleep(100 * attempt);
    return true;
}

// A start is waited for as long as the run may take, or for ever with no
// limit.
int startWaitMs(int timeoutMs)
{
    return timeoutMs > 0 ? timeoutMs : -1;
}

ToolOutcome runOnce(const ToolRequest &request)
{
    QProcess process;
    configure(process, request);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    {
        QMutexLocker lock(&startMutex);
        process.start(QIODevice::ReadOnly);
    }
    if (!process.waitForStarted(startWaitMs(request.TimeoutMs)))
        return notStarted(process);
    const ToolOutcome::Status stopped = waitForAll({&process}, request.TimeoutMs, request.Cancel);
    return outcomeOf(process, stopped, request.TimeoutMs, process.readAll());
}

std::pair<ToolOutcome, ToolOutcome> runPipeOnce(const ToolRequest &first, const ToolRequest &second)
{
    QProcess producer;
    QProcess consumer;
    configure(producer, first);
    configure(consumer, second);
    producer.setStandardInputFile(QProcess::nullDevice());
    producer.setStandardOutputProcess(&consumer);
    consumer.setProcessChannelMode(QProcess::MergedChannels);
    const int timeoutMs = std::max(first.TimeoutMs, second.TimeoutMs);
    {
        // Both under one lock: the pipe between them is inheritable until
        // the second one has started.
        QMutexLocker lock(&startMutex);
        producer.start(QIODevice::ReadOnly);
        consumer.start(QIODevice::ReadOnly);
    }
    const bool producerStarted = producer.waitForStarted(startWaitMs(timeoutMs));
    const bool consumerStarted = consumer.waitForStarted(startWaitMs(timeoutMs));
    const ToolOutcome::Status stopped = waitForAll({&producer, &consumer}, timeoutMs, first.Cancel);
    return {producerStarted ? outcomeOf(producer, stopped, timeoutMs, producer.readAllStandardError())
                            : notStarted(producer),
            consumerStarted ? outcomeOf(consumer, stopped, timeoutMs, consumer.readAll())
                            : notStarted(consumer)};
}
} // namespace

ToolOutcome RunTool(const ToolRequest &request)
{
    notifyObserver(request);
    if (!startable(request))
        return ToolOutcome();
    for (int attempt = 1;; ++attempt) {
        const ToolOutcome outcome = runOnce(request);
        if (!runAgain(attempt, {outcome}, request.Cancel))
            return outcome;
    }
}

std::pair<ToolOutcome, ToolOutcome> RunToolPipe(const ToolRequest &first, const ToolRequest &second)
{
    notifyObserver(first);
    notifyObserver(second);
    if (!startable(first) || !startable(second))
        return {ToolOutcome(), ToolOutcome()};
    // Either tool failing before it ran spoils the run of both: the other
    // one lacks its input or its reader. Both run again.
    for (int attempt = 1;; ++attempt) {
        const auto outcomes = runPipeOnce(first, second);
        if (!runAgain(attempt, {outcomes.first, outcomes.second}, first.Cancel))
            return outcomes;
    }
}

QStringList ParseWritableFormats(const QString &printed)
{
    // "     AVIF* HEIC      rw+   AV1 Image File Format (1.15.1)": the name,
    // the module (absent on some builds), then the mode "r", "w" and "+"/"-".
    static const QRegularExpression row(
        QStringLiteral("^\\s*([A-Z0-9][A-Z0-9-]*)\\*?\\s+(?:\\S+\\s+)?([r-])([w-])([+-])\\s"),
        QRegularExpression::MultilineOption);
    QStringList formats;
    auto it = row.globalMatch(printed);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        if (match.captured(3) == QLatin1String("w"))
            formats << match.captured(1);
    }
    return formats;
}

QStringList ImageToolWritableFormats()
{
    static QMutex mutex;
    static std::optional<QStringList> formats;
    QMutexLocker lock(&mutex);
    if (formats)
        return *formats;
    ToolRequest request;
    request.Program = ExternalToolPath(ExternalTool::ImageTool);
    request.Arguments = QStringList{QStringLiteral("-list"), QStringLiteral("format")};
    request.TimeoutMs = 30000;
    const ToolOutcome outcome = RunTool(request);
    // A run that did not answer is asked again next time.
    if (!outcome.Finished())
        return {};
    formats = ParseWritableFormats(outcome.Printed);
    return *formats;
}

QString FormatUnavailableReason(const QString &caption, const QStringList &writable)
{
    const TOutputFormat *format = FindOutputFormat(caption);
    if (!format || format->JpegRoute || writable.isEmpty() || writable.contains(format->Extension.toUpper()))
        return QString();
    return QStringLiteral("the image tool cannot write %1").arg(format->Caption);
}

QString FormatUnavailableReason(const QString &caption)
{
    const TOutputFormat *format = FindOutputFormat(caption);
    if (!format || format->JpegRoute)
        return QString();
    return FormatUnavailableReason(caption, ImageToolWritableFormats());
}
