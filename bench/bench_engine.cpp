// Measures what the conversion engine adds to the external tools' own time.
// A batch of generated photo-sized PNGs is converted to JPG and to WEBP twice
// per image: once through ConvertRaster (scratch folder with its lock, a
// plain-named entry, time-out watch, move into place), once by a plain loop
// that starts the same tools with the same arguments directly (posix_spawn,
// output discarded, the JPG route's two tools joined by a pipe) on the
// user's paths and copies the result. The two runs
// alternate which goes first. Prints the times and the ratio engine/direct.
//
// Exits 1 when a side wrote fewer files than it was given, or the two sides
// ran different parameter texts or wrote different bytes.
//
// Usage: bench_engine [images=40] [width=3000] [height=2000]

#include "common.h"
#include "conversion.h"
#include "tools.h"

#include "benchutil.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
using namespace benchutil;

// Makes texts of both sides comparable: every file argument (a path on the
// direct side, a plain scratch name on the engine's) becomes "<file>".
QStringList normalised(QStringList texts)
{
    static const QRegularExpression file(
        QStringLiteral("(^|\\s)(BMP3:)?(\"[^\"]*\"|/\\S*|(in|out|bitmap)\\d+\\.\\w+(\\[0\\])?)(?=\\s|$)"));
    for (QString &text : texts)
        text.replace(file, QStringLiteral("\\1\\2<file>"));
    return texts;
}

// Whether the files at a and b hold the same bytes (and both exist).
bool sameBytes(const QString &a, const QString &b)
{
    QFile first(a);
    QFile second(b);
    return first.open(QIODevice::ReadOnly) && second.open(QIODevice::ReadOnly) &&
           first.readAll() == second.readAll();
}

// The side-by-side tally of one output format.
struct FormatTally {
    qint64 engineNs = 0;
    qint64 directNs = 0;
    int engineOk = 0;
    int directOk = 0;
    int textMismatches = 0;
    int byteMismatches = 0;
};

// Converts source both ways, the engine first when engineFirst, and adds the
// times, the outputs made and any difference in texts or bytes to tally.
void compareOne(const QString &format, const QString &source, const QString &directOutput,
                const QString &engineOut, const QString &scratch, bool engineFirst, FormatTally &tally)
{
    ConversionOptions options;
    options.SaveFormat = format;
    options.SavePath = engineOut;
    options.Quality = 75;
    QStringList engineTexts;
    TRunContext run;
    run.ToolObserver = [&engineTexts](const QString &program, const QString &parameters) {
        engineTexts << program.mid(ProgramFolder().size() + 7) + QStringLiteral(": ") + parameters;
    };
    QStringList directTexts;
    QString engineOutput;
    QElapsedTimer timer;
    const auto runEngine = [&] {
        timer.start();
        const ConversionResult result =
            ConvertRaster(options, source, QStringLiteral("PNG"), 0, QString(), run);
        tally.engineNs += timer.nsecsElapsed();
        tally.engineOk += result ? 1 : 0;
        engineOutput = result.Outputs.value(0);
    };
    const auto runDirectSide = [&] {
        timer.start();
        directTexts = convertSameSteps(format, options.Quality, source, directOutput, scratch);
        tally.directNs += timer.nsecsElapsed();
        tally.directOk += QFile::exists(directOutput) ? 1 : 0;
    };
    if (engineFirst) {
        runEngine();
        runDirectSide();
    } else {
        runDirectSide();
        runEngine();
    }
    engineTexts.removeAll(QStringLiteral("magick: -list resource"));
    if (normalised(engineTexts) != normalised(directTexts)) {
        if (tally.textMismatches++ == 0)
            std::printf("differing texts:\n  %s\n  %s\n", qPrintable(engineTexts.join(QStringLiteral(" | "))),
                        qPrintable(directTexts.join(QStringLiteral(" | "))));
    }
    // The same tools with the same arguments write the same bytes.
    if (!sameBytes(engineOutput, directOutput) && tally.byteMismatches++ == 0)
        std::printf("differing outputs: %s and %s\n", qPrintable(engineOutput), qPrintable(directOutput));
}

// Both ways for every photo in one format; prints the line of the format and
// returns its tally.
FormatTally benchFormat(const QString &format, const QStringList &photos, const QString &work,
                        const QString &scratch)
{
    const QString engineOut = work + QStringLiteral("/engine-") + format + QLatin1Char('/');
    const QString directOut = work + QStringLiteral("/direct-") + format + QLatin1Char('/');
    QDir().mkpath(engineOut);
    QDir().mkpath(directOut);

    // One unmeasured round of each, so that both start warm.
    convertSameSteps(format, 75, photos.first(), scratch + QStringLiteral("warm.out"), scratch);
    ConversionOptions warm;
    warm.SaveFormat = format;
    warm.SavePath = scratch;
    warm.Quality = 75;
    ConvertRaster(warm, photos.first(), QStringLiteral("PNG"), 0, QString());

    FormatTally tally;
    for (int i = 0; i < photos.size(); ++i) {
        const QString directOutput =
            directOut + QFileInfo(photos[i]).completeBaseName() + QLatin1Char('.') + format.toLower();
        compareOne(format, photos[i], directOutput, engineOut, scratch, i % 2 == 0, tally);
    }
    const double engineS = tally.engineNs / 1e9;
    const double directS = tally.directNs / 1e9;
    std::printf("PNG -> %-4s  %d images  engine %8.2f s (%d ok)  direct %8.2f s (%d ok)  "
                "ratio engine/direct %.3f  parameter texts differing: %d  outputs differing: %d\n",
                qPrintable(format), int(photos.size()), engineS, tally.engineOk, directS, tally.directOk,
                engineS / directS, tally.textMismatches, tally.byteMismatches);
    std::fflush(stdout);
    return tally;
}

// The fixed cost of one program start, on a tool that does almost nothing.
void benchStarts(const QString &scratch)
{
    const QString encoder = ProgramFolder() + QStringLiteral("vendor/cjpeg");
    constexpr int starts = 200;
    QElapsedTimer timer;
    timer.start();
    ToolRequest request;
    request.Program = encoder;
    request.Arguments = {QStringLiteral("-version")};
    request.ScratchFolder = scratch.chopped(1);
    request.WorkingFolder = request.ScratchFolder;
    request.TimeoutMs = 60000;
    for (int i = 0; i < starts; ++i)
        RunTool(request);
    const double runToolMs = timer.nsecsElapsed() / 1e6 / starts;
    timer.start();
    for (int i = 0; i < starts; ++i)
        runDirect(encoder, QStringLiteral("-version"));
    const double spawnMs = timer.nsecsElapsed() / 1e6 / starts;
    std::printf("one start of \"cjpeg -version\": RunTool %.2f ms, posix_spawn %.2f ms\n", runToolMs,
                spawnMs);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int count = args.size() > 1 ? args[1].toInt() : 40;
    const int width = args.size() > 2 ? args[2].toInt() : 3000;
    const int height = args.size() > 3 ? args[3].toInt() : 2000;
    if (count <= 0 || width <= 0 || height <= 0) {
        std::fprintf(stderr, "usage: bench_engine [images] [width] [height]\n");
        return 2;
    }

    QTemporaryDir work;
    const QString sources = work.path() + QStringLiteral("/sources/");
    const QString scratch = work.path() + QStringLiteral("/scratch/");
    QDir().mkpath(sources);
    QDir().mkpath(scratch);

    std::printf("generating %d PNG photos of %dx%d ...\n", count, width, height);
    std::fflush(stdout);
    QStringList photos;
    for (int i = 0; i < count; ++i) {
        const QString path = sources + QStringLiteral("photo-%1.png").arg(i, 2, 10, QLatin1Char('0'));
        if (!writePhoto(path, width, height, quint32(1000 + i))) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        photos << path;
    }

    double totalEngine = 0;
    double totalDirect = 0;
    bool faulty = false;
    for (const QString &format : {QStringLiteral("JPG"), QStringLiteral("WEBP")}) {
        const FormatTally tally = benchFormat(format, photos, work.path(), scratch);
        totalEngine += tally.engineNs / 1e9;
        totalDirect += tally.directNs / 1e9;
        faulty = faulty || tally.engineOk < count || tally.directOk < count || tally.textMismatches > 0 ||
                 tally.byteMismatches > 0;
    }
    benchStarts(scratch);

    std::printf("all formats: engine %.2f s, direct %.2f s, ratio engine/direct %.3f (target <= 1.05)\n",
                totalEngine, totalDirect, totalEngine / totalDirect);
    if (faulty) {
        std::printf("FAILED: an output is missing, or the two sides differ\n");
        return 1;
    }
    return 0;
}
