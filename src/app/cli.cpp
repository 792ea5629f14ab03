#include "cli.h"

#include "common.h"
#include "filelist.h"
#include "scratch.h"
#include "session.h"
#include "settings.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace
{

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// Options that make a command line the batch command line.
const char *const kOptionNames[] = {"help", "version", "convert",   "width",         "quality",
                                    "out",  "workers", "keep-tree", "keep-metadata", "strip-metadata"};

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

// The line a given path that added no row gets, if any.
QString intakeLine(const TIntakeEntry &entry)
{
    const QString given = entry.Given.isEmpty() ? QStringLiteral("(empty path)") : entry.Given;
    switch (entry.Note) {
    case TIntakeNote::NotFound:
        return given + QStringLiteral(": not found");
    case TIntakeNote::NotAnImage:
        return given + QStringLiteral(": not a supported image");
    case TIntakeNote::NoImages:
        return given + QStringLiteral(": no images found");
    case TIntakeNote::Added:
    case TIntakeNote::Listed:
        break;
    }
    return QString();
}

void printRow(const TFileListModel &list, int row, const ConversionResult &result)
{
    const QString &source = list.fileInfo(row).FileName;
    if (result.Success) {
        out() << source << " -> " << result.Outputs.join(QStringLiteral(", ")) << '\n';
    } else {
        const QString reason = result.Reason.isEmpty() ? QStringLiteral("failed") : result.Reason;
        out() << source << ": " << reason.simplified() << '\n';
    }
    out().flush();
}

// Runs the session's job until it ends; Ctrl+C or a stop request stops the
// running tools and removes their partial outputs before the program ends.
void runSession(QCoreApplication &app, TConversionSession &session, const TFileListModel &list,
                const ConversionOptions &options, const std::optional<QString> &folder)
{
    const auto previousInt = std::signal(SIGINT, onInterrupt);
    const auto previousTerm = std::signal(SIGTERM, onInterrupt);
    QObject::connect(&session, &TConversionSession::RowFinished, &app,
                     [&list](int row, const ConversionResult &result) { printRow(list, row, result); });
    // Each page of a document as it is written, so that an interrupted run
    // tells which pages are finished.
    QObject::connect(&session, &TConversionSession::PageWritten, &app,
                     [&list](int row, int page, int, int pages, const QString &output) {
                         if (row < 0)
                             return;
                         out() << list.fileInfo(row).FileName << ": page " << page << " of " << pages
                               << " -> " << output << '\n';
                         out().flush();
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
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (std::strcmp(arg, "--") == 0)
            return false;
        if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "-?") == 0)
            return true;
        if (std::strncmp(arg, "--", 2) != 0)
            continue;
        const char *name = arg + 2;
        const size_t length = std::strcspn(name, "=");
        for (const char *option : kOptionNames) {
            if (std::strlen(option) == length && std::strncmp(name, option, length) == 0)
                return true;
        }
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
                       "replaced: a taken name gets \" (1)\", \" (2)\", ... before its extension.\n"
                       "Prints one line per file (source -> output, or source: reason) and a summary.\n"
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
    });
    parser.addPositionalArgument(QStringLiteral("PATH"), QStringLiteral("Image files or folders."),
                                 QStringLiteral("PATH..."));
}

// The conversion itself: the output folder, the intake, the job, the summary.
int convert(QCoreApplication &app, const QCommandLineParser &parser)
{
    const TCommandLineOptions choice = OptionsFromCommandLine(parser);
    if (!choice.Error.isEmpty())
        return usageError(choice.Error);
    const QStringList paths = parser.positionalArguments();
    if (paths.isEmpty())
        return usageError(QStringLiteral("no files or folders given."));
    std::optional<QString> folder;
    if (parser.isSet(QStringLiteral("out"))) {
        const QString given = parser.value(QStringLiteral("out"));
        folder = TConversionSession::PrepareOutputFolder(
            given.isEmpty() ? QString() : QDir::cleanPath(QDir::current().absoluteFilePath(given)));
        if (folder->isEmpty())
            return usageError(QStringLiteral("cannot make the output folder '%1'.").arg(given));
    }

    TFileListModel list;
    TConversionSession session(list);
    for (const TIntakeEntry &entry : session.Take(paths)) {
        const QString line = intakeLine(entry);
        if (!line.isEmpty())
            out() << line << '\n';
    }
    out().flush();
    runSession(app, session, list, choice.Options, folder);

    const TSessionCounts counts = session.Counts();
    out() << session.Report() << '\n';
    out().flush();
    return counts.Failed > 0 || counts.Cancelled > 0 ? kExitFailed : kExitOk;
}

} // namespace

int RunCommandLine(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zarvelo"));
    QCoreApplication::setApplicationVersion(GetVersionString(QStringLiteral("%d.%d.%d")));
    out().setEncoding(QStringConverter::Utf8);
    err().setEncoding(QStringConverter::Utf8);
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
                 "  zarvelo --convert jpg --width 1024 --quality 85 --out ~/web photo.heic scans/\n";
        return kExitOk;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        out() << "zarvelo " << GetVersionString(QStringLiteral("%d.%d.%d")) << '\n';
        return kExitOk;
    }
    return convert(app, parser);
}
