#include "tools.h"

#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>

namespace
{
QMutex observerMutex;
ToolRunObserver runObserver;

void notifyObserver(const QString &programPath, const QString &parameters)
{
    ToolRunObserver observer;
    {
        QMutexLocker lock(&observerMutex);
        observer = runObserver;
    }
    if (observer)
        observer(programPath, parameters);
}
} // namespace

void SetToolRunObserver(ToolRunObserver observer)
{
    QMutexLocker lock(&observerMutex);
    runObserver = std::move(observer);
}

QStringList SplitCommandLine(const QString &parameters)
{
    QStringList arguments;
    QString current;
    bool inQuotes = false;
    bool inToken = false;
    for (const QChar c : parameters) {
        if (c == QLatin1Char('"')) {
            inQuotes = !inQuotes;
            inToken = true;
        } else if (c == QLatin1Char(' ') && !inQuotes) {
            if (inToken) {
                arguments.append(current);
                current.clear();
                inToken = false;
            }
        } else {
            current += c;
            inToken = true;
        }
    }
    if (inToken)
        arguments.append(current);
    return arguments;
}

QString RunAndCapture(const QString &programPath, const QString &parameters)
{
    notifyObserver(programPath, parameters);

    // An absolute path keeps QProcess from looking the program up on PATH.
    const QFileInfo program(programPath);
    QProcess process;
    process.setProgram(program.absoluteFilePath());
    process.setArguments(SplitCommandLine(parameters));
    process.setWorkingDirectory(program.absolutePath());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted(-1))
        return QString();

    // QProcess keeps reading the pipe into its own buffer while it waits, so a
    // program that writes more than the pipe holds never stalls.
    process.waitForFinished(-1);
    return QString::fromUtf8(process.readAll());
}

QString ToolOutcome::Reason() const
{
    switch (State) {
    case Status::NotStarted:
        return QStringLiteral("program missing or not startable");
    case Status::TimedOut:
        return QStringLiteral("timed out");
    case Status::Cancelled:
        return QStringLiteral("cancelled");
    case Status::Crashed:
        return QStringLiteral("program crashed");
    case Status::Finished:
        break;
    }
    const QString first = Printed.trimmed().section(QLatin1Char('\n'), 0, 0).trimmed();
    if (ExitCode != 0)
        return QStringLiteral("exit status ") + QString::number(ExitCode) +
               (first.isEmpty() ? QString() : QStringLiteral(": ") + first);
    return first;
}

// Interim: no time-out or cancel yet.
ToolOutcome RunTool(const ToolRequest &request)
{
    ToolOutcome outcome;
    QProcess process;
    process.setProgram(request.Program);
    process.setArguments(request.Arguments);
    process.setWorkingDirectory(QFileInfo(request.Program).absolutePath());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted(-1))
        return outcome;
    process.waitForFinished(-1);
    outcome.Printed = QString::fromUtf8(process.readAll());
    outcome.State = process.exitStatus() == QProcess::NormalExit ? ToolOutcome::Status::Finished
                                                                 : ToolOutcome::Status::Crashed;
    outcome.ExitCode = process.exitCode();
    return outcome;
}
