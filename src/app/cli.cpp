#include "cli.h"

#include "common.h"
#include "conversion.h"
#include "filelist.h"
#include "job.h"
#include "scratch.h"

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

// "jpg", "JPEG", "tif" ... as one of the five output formats; empty when unknown.
QString outputFormat(const QString &text)
{
    QString format = text.trimmed().toUpper();
    if (format == QLatin1String("JPEG"))
        format = QStringLiteral("JPG");
    else if (format == QLatin1String("TIF"))
        format = QStringLiteral("TIFF");
    static const QStringList formats{QStringLiteral("JPG"), QStringLiteral("PNG"), QStringLiteral("GIF"),
                                     QStringLiteral("WEBP"), QStringLiteral("TIFF")};
    return formats.contains(format) ? format : QString();
}

bool parseNumber(const QString &text, int low, int high, int &value)
{
    bool ok = false;
    const int number = text.trimmed().toInt(&ok);
    if (!ok || number < low || number > high)
        return false;
    value = number;
    return true;
}

struct Intake {
    QList<TJobItem> items;
    int failed = 0; // paths that name nothing or no image
};

// Lists the files of the given paths in order, each file once.
Intake collect(const QStringList &paths, bool keepTree)
{
    Intake intake;
    TFileListModel list;
    for (const QString &given : paths) {
        if (given.isEmpty()) {
            out() << "(empty path): not found\n";
            ++intake.failed;
            continue;
        }
        const QString path = QDir::cleanPath(QDir::current().absoluteFilePath(given));
        const QFileInfo info(path);
        if (!info.exists()) {
            out() << given << ": not found\n";
            ++intake.failed;
            continue;
        }
        const bool listed = list.contains(path);
        const int before = list.rowCount();
        AddPath(list, path);
        const int after = list.rowCount();
        if (info.isDir()) {
            if (after == before)
                out() << given << ": no images found\n";
        } else if (after == before && !listed) {
            out() << given << ": not a supported image\n";
            ++intake.failed;
        }
        for (int row = before; row < after; ++row) {
            const TFileInfo &file = list.fileInfo(row);
            TJobItem item{file.FileName, file.Format, QString()};
            // The window's rule: the walked folder's name and the folders below it.
            if (keepTree)
                item.RelativeFolder = RelativeFolderOf(file);
            intake.items.append(item);
        }
    }
    return intake;
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
    parser.setApplicationDescription(
        QStringLiteral("Converts image files, and every image below the given folders, into one format.\n"
                       "Without --out each output is written next to its source. Existing files are never\n"
                       "replaced: a taken name gets \" (1)\", \" (2)\", ... before its extension.\n"
                       "Prints one line per file (source -> output, or source: reason) and a summary.\n"
                       "Put -- before paths that start with '-'.\n"
                       "Exit status: 0 every file converted, 1 some failed, 2 usage error."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help and exits."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Shows the version and exits."));
    const QCommandLineOption convert(QStringLiteral("convert"),
                                     QStringLiteral("Output format: JPG, PNG, GIF, WEBP or TIFF (any case)."),
                                     QStringLiteral("FORMAT"));
    const QCommandLineOption width(QStringLiteral("width"),
                                   QStringLiteral("Resizes every output to N pixels wide (1-65535)."),
                                   QStringLiteral("N"));
    const QCommandLineOption quality(QStringLiteral("quality"),
                                     QStringLiteral("Quality of lossy outputs, 40-100 (default 75)."),
                                     QStringLiteral("Q"));
    const QCommandLineOption outDir(QStringLiteral("out"),
                                    QStringLiteral("Writes the outputs into DIR (made when missing)."),
                                    QStringLiteral("DIR"));
    const QCommandLineOption workers(QStringLiteral("workers"),
                                     QStringLiteral("Converts N files at once (default 0: one per core)."),
                                     QStringLiteral("N"));
    const QCommandLineOption keepTree(
        QStringLiteral("keep-tree"),
        QStringLiteral("With --out, keeps each given folder and its sub-folders below DIR."));
    const QCommandLineOption keepMeta(QStringLiteral("keep-metadata"),
                                      QStringLiteral("Carries EXIF and other metadata over (default)."));
    const QCommandLineOption stripMeta(QStringLiteral("strip-metadata"),
                                       QStringLiteral("Leaves all metadata out of the outputs."));
    parser.addOptions(
        {help, version, convert, width, quality, outDir, workers, keepTree, keepMeta, stripMeta});
    parser.addPositionalArgument(QStringLiteral("PATH"), QStringLiteral("Image files or folders."),
                                 QStringLiteral("PATH..."));

    if (!parser.parse(app.arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        out() << parser.helpText()
              << "\nExamples:\n"
                 "  zarvelo --convert PNG ~/Pictures\n"
                 "  zarvelo --convert jpg --width 1024 --quality 85 --out ~/web photo.heic scans/\n";
        return kExitOk;
    }
    if (parser.isSet(version)) {
        out() << "zarvelo " << GetVersionString(QStringLiteral("%d.%d.%d")) << '\n';
        return kExitOk;
    }
    if (!parser.isSet(convert))
        return usageError(QStringLiteral("--convert FORMAT is missing."));

    ConversionOptions options;
    options.SaveFormat = outputFormat(parser.value(convert));
    if (options.SaveFormat.isEmpty())
        return usageError(
            QStringLiteral("unknown format '%1' (JPG, PNG, GIF, WEBP or TIFF).").arg(parser.value(convert)));
    if (parser.isSet(width)) {
        if (!parseNumber(parser.value(width), 1, 65535, options.Width))
            return usageError(QStringLiteral("--width needs a number from 1 to 65535."));
        options.UseWidth = true;
    }
    if (parser.isSet(quality) && !parseNumber(parser.value(quality), 40, 100, options.Quality))
        return usageError(QStringLiteral("--quality needs a number from 40 to 100."));
    int workerCount = 0;
    if (parser.isSet(workers) && !parseNumber(parser.value(workers), 0, 256, workerCount))
        return usageError(QStringLiteral("--workers needs a number from 0 to 256."));
    if (parser.isSet(keepMeta) && parser.isSet(stripMeta))
        return usageError(QStringLiteral("--keep-metadata and --strip-metadata exclude each other."));
    options.KeepMetadata = !parser.isSet(stripMeta);
    const QStringList paths = parser.positionalArguments();
    if (paths.isEmpty())
        return usageError(QStringLiteral("no files or folders given."));
    if (parser.isSet(outDir)) {
        const QString given = parser.value(outDir);
        const QString folder = QDir::cleanPath(QDir::current().absoluteFilePath(given));
        if (given.isEmpty() || (!QFileInfo(folder).isDir() && !QDir().mkpath(folder)))
            return usageError(QStringLiteral("cannot make the output folder '%1'.").arg(given));
        options.SavePath = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    }

    const Intake intake = collect(paths, parser.isSet(keepTree) && !options.SavePath.isEmpty());
    out().flush();
    int converted = 0;
    int failed = intake.failed;
    bool cancelled = false;
    if (!intake.items.isEmpty()) {
        const auto previousInt = std::signal(SIGINT, onInterrupt);
        const auto previousTerm = std::signal(SIGTERM, onInterrupt);
        TConversionJob job(intake.items, options, workerCount);
        QObject::connect(
            &job, &TConversionJob::RowFinished, &app, [&](int index, const ConversionResult &result) {
                const QString &source = intake.items.at(index).FileName;
                if (result.Success) {
                    ++converted;
                    out() << source << " -> " << result.Outputs.join(QStringLiteral(", ")) << '\n';
                } else {
                    ++failed;
                    const QString reason = result.Reason.isEmpty() ? QStringLiteral("failed") : result.Reason;
                    out() << source << ": " << reason.simplified() << '\n';
                }
                out().flush();
            });
        QObject::connect(&job, &TConversionJob::Finished, &app, [&](bool wasCancelled) {
            cancelled = wasCancelled;
            app.quit();
        });
        // Ctrl+C or a stop request: the running tools are stopped and their
        // partial outputs removed before the program ends.
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, &app, [&job] {
            if (interrupted)
                job.Cancel();
        });
        watch.start(100);
        job.Start();
        app.exec();
        std::signal(SIGINT, previousInt == SIG_ERR ? SIG_DFL : previousInt);
        std::signal(SIGTERM, previousTerm == SIG_ERR ? SIG_DFL : previousTerm);
    }

    const int total = int(intake.items.size());
    out() << converted << " of " << total << (total == 1 ? " file" : " files") << " converted";
    if (failed > 0)
        out() << ", " << failed << " failed";
    if (cancelled)
        out() << ", " << (total - converted - (failed - intake.failed)) << " not converted (interrupted)";
    out() << ".\n";
    out().flush();
    return failed > 0 || cancelled ? kExitFailed : kExitOk;
}
