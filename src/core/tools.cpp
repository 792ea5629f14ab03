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
