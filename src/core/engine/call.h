#pragma once

#include "conversion.h"
#include "platform.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>

class TScratchFolder;
struct ToolOutcome;
struct ToolRequest;

namespace Engine
{
class TPartFile;

// The work of one public call: its scratch folder, its output names and the
// result it builds. Tools run with the scratch folder as their current and
// temporary folder and see only the plain names made there. The job is
// reached only through the run context: its cancel request, its names and
// its idle workers.
class TCall
{
  public:
    TCall(const ConversionOptions &options, const TRunContext &run, ConversionResult &result);
    // A part of parent's call (one page of a document) with a result of its
    // own, working in parent's open scratch folder and drawing fresh names
    // from parent's counter, so that parts can run on several threads at once.
    TCall(TCall &parent, ConversionResult &result);
    ~TCall();
    TCall(const TCall &) = delete;
    TCall &operator=(const TCall &) = delete;

    const ConversionOptions &Options() const { return FOptions; }
    const TRunContext &Context() const { return FRun; }
    ConversionResult &Result() { return FResult; }

    // A source must be a regular file; then the scratch folder is made.
    // False (with the reason) when either fails.
    bool OpenFor(const QString &sourcePath);
    // The scratch folder, ending with '/'; empty before OpenFor().
    QString Scratch() const { return FScratchPath; }

    // A fresh plain name in the scratch folder: stem + number + "." +
    // extension, taken by no entry there.
    QString FreshName(const QString &stem, const QString &extension);
    // An entry in the scratch folder leading to target, named stem with
    // target's extension when that is plain letters and digits; empty (with
    // the reason) when it cannot be made.
    QString LinkInput(const QString &target, const QString &stem);

    // Records the cancel; always false.
    bool Cancelled();
    // Records the first failure's reason; always false.
    bool Fail(const QString &reason);
    // The time-out of a tool run reading inputBytes bytes.
    int TimeoutMs(qint64 inputBytes, int extraSeconds = 0) const;

    // Runs a tool in the scratch folder. printedFails: a clean run prints
    // nothing but harmless notices. The reason of a failure names the tool.
    bool Run(ExternalTool tool, const QStringList &arguments, int timeoutMs, bool printedFails,
             QString *printed = nullptr);
    // Runs two tools joined by a pipe (the first one's output is the second
    // one's input); both must run cleanly and print nothing.
    bool RunPipe(ExternalTool firstTool, const QStringList &firstArguments, ExternalTool secondTool,
                 const QStringList &secondArguments, int timeoutMs);

    // Holds the output name for nameSource in format from now on (the name
    // Place will give it).
    void ReserveName(const QString &nameSource, const QString &format);
    // When earlier outputs are skipped: whether the output name for
    // nameSource in format (held from now on) holds one; it is then noted in
    // the result's Existing and nothing is to be written. Always false for
    // the other choices.
    bool OutputAlreadyThere(const QString &nameSource, const QString &format);
    // Gives the finished scratch file its reserved output name (nameSource
    // and format choose it). Nothing is replaced, except an earlier output
    // when the options say so (atomically, see replaceOutput); a name taken
    // meanwhile gives way to the next free " (n)" name.
    bool Place(const QString &scratchFile, const QString &nameSource, const QString &format);

  private:
    bool cancelRequested() const;
    ToolRequest requestFor(ExternalTool tool, const QStringList &arguments, int timeoutMs) const;
    // Adds a run's printed text to the result and judges it.
    bool judge(ExternalTool tool, const ToolOutcome &outcome, bool printedFails);
    // Judges a pipe whose first tool died of a reader that had gone.
    bool judgeBrokenPipe(ExternalTool firstTool, const ToolOutcome &first, ExternalTool secondTool,
                         const ToolOutcome &second);
    // A whole copy of from under a hidden temporary name in target's folder.
    std::unique_ptr<TPartFile> copyBeside(const QString &from, const QString &target);
    // from under a hidden temporary name in target's folder: moved there, or
    // copied when the folder is on another file system.
    std::unique_ptr<TPartFile> moveBeside(const QString &from, const QString &target);
    // Replaces the earlier output at target by from in one rename within
    // target's folder, so that target holds the old file or the new one,
    // never a part.
    bool replaceOutput(const QString &from, const QString &target);

    const ConversionOptions &FOptions;
    const TRunContext &FRun;
    ConversionResult &FResult;
    std::shared_ptr<TOutputNames> FNames;
    std::unique_ptr<TScratchFolder> FScratch; // null for a part of another call
    QString FScratchPath;
    std::atomic<int> FOwnCounter{0};
    std::atomic<int> *FCounter = &FOwnCounter;
};
} // namespace Engine
