#include "cli.h"

#include "common.h"
#include "filelist.h"
#include "reasons.h"
#include "scratch.h"
#include "session.h"
#include "settings.h"
#include "tools.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QLoggingCategory>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <unistd.h>

namespace
{

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

std::atomic<bool> interrupted{false};

extern "C" void onInterrupt(int)
{
    interrupted = true;
}

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

int usageError(const QString &message)
{
    err() << "zarvelo: " << message << "\nTry 'zarvelo --help' for more information.\n";
    err().flush();
    return kExitUsage;
}

// A name as one line of text: control characters (a newline, an escape
// sequence) and the backslash are written as escapes, so a name can neither
// split a line nor forge one.
QString escaped(const QString &text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\\')
            result += QStringLiteral("\\\\");
        else if (u == u'\n')
            result += QStringLiteral("\\n");
        else if (u == u'\r')
            result += QStringLiteral("\\r");
        else if (u == u'\t')
            result += QStringLiteral("\\t");
        else if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0))
            result += QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'));
        else if (u == 0x2028 || u == 0x2029)
            result += QStringLiteral("\\u%1").arg(int(u), 4, 16, QLatin1Char('0'));
        else
            result += c;
    }
    return result;
}

// The reason a given path that added no row gets, if any, and whether it
// counts as a failure.
QString intakeReason(TIntakeNote note, bool *failed)
{
    *failed = note == TIntakeNote::NotFound || note == TIntakeNote::NotAnImage;
    switch (note) {
    case TIntakeNote::NotFound:
        return QStringLiteral("not found");
    case TIntakeNote::NotAnImage:
        return QStringLiteral("not a supported image");
    case TIntakeNote::NoImages:
        return QStringLiteral("no images found");
    case TIntakeNote::Added:
    case TIntakeNote::Listed:
        break;
    }
    return QString();
}

// Writes what a run reports: human lines or JSON lines on standard output,
// and, when standard error is a terminal, a progress line there.
class TReporter
{
  public:
    TReporter(const TFileListModel &list, bool json, bool progress, bool verbose)
        : FList(list), FJson(json), FProgress(progress), FVerbose(verbose)
    {
    }

    void Intake(const TIntakeEntry &entry)
    {
        bool failed = false;
        const QString reason = intakeReason(entry.Note, &failed);
        if (reason.isEmpty() || !entry.InShard)
            return;
        const QString given = entry.Given.isEmpty() ? QStringLiteral("(empty path)") : entry.Given;
        if (FJson)
            json(given, {}, failed ? QStringLiteral("failed") : QStringLiteral("empty"), reason);
        else
            line(escaped(given) + QStringLiteral(": ") + reason);
    }

    void Row(int row, const ConversionResult &result)
    {
        const QString &source = FList.fileInfo(row).FileName;
        // A success may carry a note of what was left out ("first of 20 frames").
        // A failure in plain English words; the engine's own reason when no
        // plain words fit it.
        QString reason = result.Success ? result.Reason : ReasonText(FList.why(row), QStringLiteral("en"));
        if (reason.isEmpty() && !result.Success)
            reason = result.Reason.isEmpty() ? QStringLiteral("failed") : result.Reason;
        reason = reason.simplified();
        if (result.Skipped) {
            skipped(source, result.Existing, reason);
            return;
        }
        if (FJson) {
            json(source, result.Outputs,
                 result.Success ? QStringLiteral("converted") : QStringLiteral("failed"), reason);
            return;
        }
        QStringList outputs;
        for (const QString &output : result.Outputs)
            outputs.append(escaped(output));
        if (!result.Success) {
            line(escaped(source) + QStringLiteral(": ") + escaped(reason));
            if (FVerbose)
                verboseLines(FList.printed(row));
        } else if (reason.isEmpty())
            line(escaped(source) + QStringLiteral(" -> ") + outputs.join(QStringLiteral(", ")));
        else
            line(escaped(source) + QStringLiteral(" -> ") + outputs.join(QStringLiteral(", ")) +
                 QStringLiteral(" (") + escaped(reason) + QLatin1Char(')'));
    }

    // A page of a document of several pages, as it is written (human lines
    // only: the JSON lines stay one per source).
    void Page(int row, int page, int pages, const QString &output)
    {
        if (FJson || row < 0 || pages < 2)
            return;
        line(escaped(FList.fileInfo(row).FileName) + QStringLiteral(": page %1 of %2 -> ").arg(page).arg(pages) +
             escaped(output));
    }

    void Progress(int finished, int total, qint64 elapsedMs)
    {
        if (!FProgress)
            return;
        QString text = QStringLiteral("%1/%2").arg(finished).arg(total);
        if (finished > 0 && finished < total)
            text += QStringLiteral(", %1 left").arg(DurationText(elapsedMs * (total - finished) / finished));
        err() << "\r\x1b[K" << text;
        err().flush();
        FShown = true;
    }

    void Summary(const TConversionSession &session, const TShard &shard)
    {
        clearProgress();
        if (!FJson) {
            line(session.Report());
            return;
        }
        const TSessionCounts counts = session.Counts();
        QJsonObject object{{QStringLiteral("summary"), true},
                           {QStringLiteral("total"), counts.Total},
                           {QStringLiteral("converted"), counts.Converted},
                           {QStringLiteral("skipped"), counts.OutputExisted},
                           {QStringLiteral("failed"), counts.Failed},
                           {QStringLiteral("cancelled"), counts.Cancelled},
                           {QStringLiteral("seconds"), double(session.ElapsedMs()) / 1000.0}};
        if (shard.Count > 1)
            object.insert(QStringLiteral("shard"), QStringLiteral("%1/%2").arg(shard.Index).arg(shard.Count));
        write(object);
    }

  private:
    // A source whose outputs were all there already: they are named, as for
    // a converted source.
    void skipped(const QString &source, const QStringList &existing, const QString &reason)
    {
        if (FJson) {
            json(source, existing, QStringLiteral("skipped"), reason);
            return;
        }
        QStringList outputs;
        for (const QString &output : existing)
            outputs.append(escaped(output));
        line(escaped(source) + QStringLiteral(" -> ") + outputs.join(QStringLiteral(", ")) +
             QStringLiteral(" (skipped: ") + escaped(reason) + QLatin1Char(')'));
    }

    void clearProgress()
    {
        if (!FShown)
            return;
        err() << "\r\x1b[K";
        err().flush();
        FShown = false;
    }

    // What the tools printed (with the engine's reason first), indented.
    void verboseLines(const QString &printed)
    {
        for (const QString &text : printed.trimmed().split(QLatin1Char('\n')))
            out() << (text.trimmed().isEmpty() ? QString() : QStringLiteral("    ") + text) << '\n';
        out().flush();
    }

    void line(const QString &text)
    {
        clearProgress();
        out() << text << '\n';
        out().flush();
    }

    void json(const QString &source, const QStringList &outputs, const QString &status, const QString &reason)
    {
        write(QJsonObject{{QStringLiteral("source"), source},
                          {QStringLiteral("outputs"), QJsonArray::fromStringList(outputs)},
                          {QStringLiteral("status"), status},
                          {QStringLiteral("reason"), reason},
                          {QStringLiteral("pages"), int(outputs.size())}});
    }

    void write(const QJsonObject &object)
    {
        clearProgress();
        out() << QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) << '\n';
        out().flush();
    }

    const TFileListModel &FList;
    const bool FJson;
    const bool FProgress;
    const bool FVerbose;
    bool FShown = false; // a progress line stands on the terminal
};

// Runs the session's job until it ends; Ctrl+C or a stop request stops the
// running tools and removes their partial outputs before the program ends.
void runSession(QCoreApplication &app, TConversionSession &session, TReporter &reporter,
                const ConversionOptions &options, const std::optional<QString> &folder)
{
    const auto previousInt = std::signal(SIGINT, onInterrupt);
    const auto previousTerm = std::signal(SIGTERM, onInterrupt);
    QObject::connect(&session, &TConversionSession::RowFinished, &app,
                     [&reporter](int row, const ConversionResult &result) { reporter.Row(row, result); });
    QObject::connect(&session, &TConversionSession::Progress, &app, [&](int finished, int total) {
        reporter.Progress(finished, total, session.ElapsedMs());
    });
    // Each page of a document as it is written, so that an interrupted run
    // tells which pages are finished.
    QObject::connect(&session, &TConversionSession::PageWritten, &app,
                     [&reporter](int row, int page, int, int pages, const QString &output) {
                         reporter.Page(row, page, pages, output);
                     });
    QObject::connect(&session, &TConversionSession::Finished, &app, [&app] { app.quit(); });
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &app, [&session] {
        if (interrupted)
            session.Cancel();
    });
    watch.start(100);
    if (session.StartAll(options, folder) == TStartResult::Started && session.IsRunning())
        app.exec();
    std::signal(SIGINT, previousInt == SIG_ERR ? SIG_DFL : previousInt);
    std::signal(SIGTERM, previousTerm == SIG_ERR ? SIG_DFL : previousTerm);
}

} // namespace

bool IsCommandLineRun(int argc, char **argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "/auto") == 0)
        return false;
    // Any option, known or not, is the command line's: an unknown one gets
    // its usage error there, with or without a display.
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (std::strcmp(arg, "--") == 0)
            return false;
        if (arg[0] == '-' && arg[1] != '\0')
            return true;
    }
    return false;
}

namespace
{

void addOptions(QCommandLineParser &parser)
{
    using namespace FormatLimits;
    parser.setApplicationDescription(
        QStringLiteral("Converts image files, and every image below the given folders, into one format.\n"
                       "Without --out each output is written next to its source. Existing files are never\n"
                       "replaced: a taken name gets \" (1)\", \" (2)\", ... before its extension (see\n"
                       "--existing for skipping those sources or replacing earlier outputs instead).\n"
                       "Prints one line per file (source -> output, or source: reason) and a summary;\n"
                       "control characters and '\\' in names are written as escapes (\\n, \\\\).\n"
                       "When standard error is a terminal it shows the progress there.\n"
                       "Put -- before paths that start with '-'.\n"
                       "Exit status: 0 every file converted, 1 some failed, 2 usage error."));
    const auto valued = [](const char *name, const QString &text, const char *value) {
        return QCommandLineOption(QLatin1String(name), text, QLatin1String(value));
    };
    parser.addOptions({
        QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")},
                           QStringLiteral("Shows this help and exits.")),
        QCommandLineOption(QStringLiteral("version"), QStringLiteral("Shows the version and exits.")),
        valued("convert", QStringLiteral("Output format: %1 (any case).").arg(FormatCaptionsText()),
               "FORMAT"),
        valued("width",
               QStringLiteral("Resizes every output to N pixels wide (%1-%2).").arg(MinWidth).arg(MaxWidth),
               "N"),
        valued("long-edge",
               QStringLiteral("Resizes every output so that its longer side is N pixels (%1-%2).")
                   .arg(MinWidth)
                   .arg(MaxWidth),
               "N"),
        valued("fit", QStringLiteral("Resizes every output to the largest size inside a W x H box."), "WxH"),
        valued("percent",
               QStringLiteral("Resizes every output to P percent of its size (%1-%2).")
                   .arg(MinPercent)
                   .arg(MaxPercent),
               "P"),
        QCommandLineOption(
            QStringLiteral("shrink-only"),
            QStringLiteral("With a resize, never enlarges: a smaller picture keeps its size.")),
        valued("quality",
               QStringLiteral("Quality of lossy outputs, %1-%2 (default %3).")
                   .arg(MinQuality)
                   .arg(MaxQuality)
                   .arg(DefaultQuality),
               "Q"),
        valued("out", QStringLiteral("Writes the outputs into DIR (made when missing)."), "DIR"),
        valued("workers", QStringLiteral("Converts N files at once (default 0: one per core)."), "N"),
        QCommandLineOption(
            QStringLiteral("keep-tree"),
            QStringLiteral("With --out, keeps each given folder and its sub-folders below DIR.")),
        QCommandLineOption(QStringLiteral("keep-metadata"),
                           QStringLiteral("Carries EXIF and other metadata over (default).")),
        QCommandLineOption(QStringLiteral("strip-metadata"),
                           QStringLiteral("Leaves all metadata out of the outputs.")),
        QCommandLineOption(QStringLiteral("keep-dates"),
                           QStringLiteral("Gives each output its source's modification time.")),
        QCommandLineOption(
            QStringLiteral("json"),
            QStringLiteral("Prints one JSON object per line for each source (source, outputs,\n"
                           "status, reason, pages) and a final summary object.")),
        valued("shard",
               QStringLiteral("Converts only part K of N of the sources (1 <= K <= N); N runs with the\n"
                              "same arguments and K = 1..N together convert each source once."),
               "K/N"),
        valued("existing",
               QStringLiteral("When an output's name is taken: rename (default; \" (1)\" before the "
                              "extension), skip (leaves the source alone) or overwrite (replaces an "
                              "earlier output; never a source, never a file of this run)."),
               "WHAT"),
        QCommandLineOption(QStringLiteral("verbose"),
                           QStringLiteral("Prints below a failed file what the tools printed.")),
    });
    parser.addPositionalArgument(QStringLiteral("PATH"), QStringLiteral("Image files or folders."),
                                 QStringLiteral("PATH..."));
}

// The output folder of --out, made when missing; the usage error when it
// cannot be, with the reason.
std::optional<QString> outputFolder(const QCommandLineParser &parser, QString *error)
{
    if (!parser.isSet(QStringLiteral("out")))
        return std::nullopt;
    const QString given = parser.value(QStringLiteral("out"));
    const QString path =
        given.isEmpty() ? QString() : QDir::cleanPath(QDir::current().absoluteFilePath(given));
    const QString folder = TConversionSession::PrepareOutputFolder(path);
    if (folder.isEmpty()) {
        const QString why = TConversionSession::OutputFolderProblem(path);
        *error = QStringLiteral("cannot make the output folder '%1'%2.")
                     .arg(escaped(given), why.isEmpty() ? QString() : QStringLiteral(": ") + escaped(why));
    }
    return folder;
}

// The conversion itself: the output folder, the intake, the job, the summary.
int convert(QCoreApplication &app, const QCommandLineParser &parser)
{
    const TCommandLineOptions choice = OptionsFromCommandLine(parser);
    if (!choice.Error.isEmpty())
        return usageError(choice.Error);
    const QString unavailable = FormatUnavailableReason(choice.Options.SaveFormat);
    if (!unavailable.isEmpty())
        return usageError(unavailable + QStringLiteral("."));
    const QStringList paths = parser.positionalArguments();
    if (paths.isEmpty())
        return usageError(QStringLiteral("no files or folders given."));
    QString error;
    const std::optional<QString> folder = outputFolder(parser, &error);
    if (!error.isEmpty())
        return usageError(error);

    TFileListModel list;
    TConversionSession session(list, nullptr, choice.Shard);
    TReporter reporter(list, parser.isSet(QStringLiteral("json")), isatty(fileno(stderr)) != 0,
                       parser.isSet(QStringLiteral("verbose")));
    // A folder without images is no file that failed, but the run did not
    // do what was asked.
    bool folderWithoutImages = false;
    for (const TIntakeEntry &entry : session.Take(paths, folder.value_or(QString()))) {
        reporter.Intake(entry);
        folderWithoutImages |= entry.InShard && entry.Note == TIntakeNote::NoImages;
    }
    runSession(app, session, reporter, choice.Options, folder);
    reporter.Summary(session, choice.Shard);
    const TSessionCounts counts = session.Counts();
    return counts.Failed > 0 || counts.Cancelled > 0 || folderWithoutImages ? kExitFailed : kExitOk;
}

} // namespace

int RunCommandLine(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zarvelo"));
    QCoreApplication::setApplicationVersion(GetVersionString(QStringLiteral("%d.%d.%d")));
    out().setEncoding(QStringConverter::Utf8);
    err().setEncoding(QStringConverter::Utf8);
    // Standard error carries this program's own lines: the image decoders'
    // warnings on a damaged file (read to explain its failure) stay out.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio*=false"));
    // As at the window's start: leftovers of killed runs go, and a stop
    // request outside a conversion still removes what a run left.
    RemoveStaleScratchFolders();
    InstallTerminationCleanup();

    QCommandLineParser parser;
    addOptions(parser);
    if (!parser.parse(app.arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        out() << parser.helpText()
              << "\nExamples:\n"
                 "  zarvelo --convert PNG ~/Pictures\n"
                 "  zarvelo --convert jpg --width 1024 --quality 85 --out ~/web photo.heic scans/\n"
                 "  zarvelo --convert avif --long-edge 1600 --shrink-only --out ~/small ~/Pictures\n";
        return kExitOk;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        out() << "zarvelo " << GetVersionString(QStringLiteral("%d.%d.%d")) << '\n';
        return kExitOk;
    }
    return convert(app, parser);
}
