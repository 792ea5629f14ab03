#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <utility>

// Sees the program path and the arguments (joined by JoinArguments) of a
// tool run, on the calling thread, just before the program is started; for
// tests and benchmarks that want the exact texts the runner receives.
using ToolRunObserver = std::function<void(const QString &programPath, const QString &parameters)>;

#include <QProcessEnvironment>

#include <atomic>

// A cancel request shared by a caller and the tool runs it started. Set once;
// every running and later RunTool call that holds it ends promptly.
class TCancelFlag
{
  public:
    void Cancel() { FCancelled.store(true); }
    bool IsCancelled() const { return FCancelled.load(); }

  private:
    std::atomic<bool> FCancelled{false};
};

// One run of an external program.
struct ToolRequest {
    QString Program;       // full path of the executable; never looked up on PATH
    QStringList Arguments; // passed as they are: no splitting, no quoting
    QString ScratchFolder; // the tool's temporary folder (TMPDIR and the like); empty: unchanged
    QString WorkingFolder; // the tool's current folder; empty: the program's folder
    int TimeoutMs = 0;     // 0: no limit
    const TCancelFlag *Cancel = nullptr;
    ToolRunObserver Observer; // empty: nobody watches
};

// How a tool run ended.
struct ToolOutcome {
    enum class Status { Finished, NotStarted, TimedOut, Cancelled, Crashed };
    Status State = Status::NotStarted;
    int ExitCode = -1;
    QString Printed;    // standard output and error, merged, decoded from UTF-8
    int TimeoutMs = 0;  // the limit that was reached, for TimedOut
    QString StartError; // the system's reason, for NotStarted when it has one
    bool Finished() const { return State == Status::Finished; }
    // A short reason a person can read ("timed out after 60 s", "exit status 1:
    // <first printed line>", ...); empty for a clean run that printed nothing.
    QString Reason() const;
};

// Runs a program with its standard input closed and its output captured, the
// working folder being the program's folder. A time-out or a cancel request
// kills the program and everything it started. The request's observer sees the
// program and the arguments joined by JoinArguments. A program file
// that is there but did not start, or failed before it ran
// (FailedBeforeRunning), runs again, up to three runs in all. Reentrant.
ToolOutcome RunTool(const ToolRequest &request);

// Runs two programs joined by a pipe: the first one's standard output is the
// second one's standard input. The first one's printed text is its standard
// error; the second one's both its channels. The larger of the two time-outs
// and the first one's cancel request end both, with everything they started.
// Each request's observer sees its own. When either one failed before it ran, both run
// again, as RunTool does. Reentrant.
std::pair<ToolOutcome, ToolOutcome> RunToolPipe(const ToolRequest &first, const ToolRequest &second);

// The arguments as one text: separated by one space, an argument that is
// empty or holds a space put in double quotes. For observers and messages only.
QString JoinArguments(const QStringList &arguments);

// Kills every tool run in progress, with everything each one started (used
// when the program is asked to end). The waiting RunTool calls then return.
void KillAllToolRuns();

// The formats the image tool's "-list format" text marks writable (a 'w' in
// the mode column), in upper case without the '*' of a coder module.
QStringList ParseWritableFormats(const QString &printed);

// The formats the image tool writes, asked from the tool once per process;
// empty when it cannot be asked (then no format is held back for it).
QStringList ImageToolWritableFormats();

// Why the output format caption cannot be written here ("the image tool
// cannot write AVIF"), or empty. A format the image tool writes itself is
// held back only when the tool answered and did not name it.
QString FormatUnavailableReason(const QString &caption);
QString FormatUnavailableReason(const QString &caption, const QStringList &writable);
