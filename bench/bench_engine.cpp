// Measures what the conversion engine adds to the external tools' own time.
// A batch of generated photo-sized PNGs is converted to JPG and to WEBP twice
// per image: once through ConvertRaster, once by a plain loop that starts the
// same tools with the same parameter texts directly (posix_spawn, output
// discarded) and does the same copy and clean-up. The two runs alternate
// which goes first. Prints the times and the ratio engine/direct.
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
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cstdio>

namespace
{
using namespace benchutil;


// Makes texts of both sides comparable: temporary folders, output folders and
// timestamps replaced by placeholders.
QStringList normalised(QStringList texts, const QStringList &folders)
{
    static const QRegularExpression stamp(QStringLiteral("\\d{8}_\\d{9}"));
    for (QString &text : texts) {
        for (const QString &folder : folders)
            text.replace(folder, QStringLiteral("<dir>/"));
        text.replace(QRegularExpression(QRegularExpression::escape(GetSpecialFolder(CSIDL_INTERNET_CACHE)) +
                                        QStringLiteral("/zarvelo-\\w+/")),
                     QStringLiteral("<dir>/"));
        text.replace(stamp, QStringLiteral("<time>"));
    }
    return texts;
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

    QStringList engineTexts;
    SetToolRunObserver([&engineTexts](const QString &program, const QString &parameters) {
        engineTexts << program.mid(ProgramFolder().size() + 7) + QStringLiteral(": ") + parameters;
    });

    double totalEngine = 0;
    double totalDirect = 0;
    for (const QString &format : {QStringLiteral("JPG"), QStringLiteral("WEBP")}) {
        const QString engineOut = work.path() + QStringLiteral("/engine-") + format + QLatin1Char('/');
        const QString directOut = work.path() + QStringLiteral("/direct-") + format + QLatin1Char('/');
        QDir().mkpath(engineOut);
        QDir().mkpath(directOut);
        ConversionOptions options;
        options.SaveFormat = format;
        options.SavePath = engineOut;
        options.Quality = 75;

        // One unmeasured round of each, so that both start warm.
        convertDirect(format, options.Quality, photos.first(), scratch + QStringLiteral("warm.out"), scratch);
        ConversionOptions warm = options;
        warm.SavePath = scratch;
        ConvertRaster(warm, photos.first(), QStringLiteral("PNG"), 0, QString());

        qint64 engineNs = 0;
        qint64 directNs = 0;
        int engineOk = 0;
        int directOk = 0;
        int textMismatches = 0;
        for (int i = 0; i < count; ++i) {
            const QString source = photos[i];
            const QString directOutput =
                MakeOutputPath(ConversionOptions{format, directOut, false, 0, 75}, source, format);
            QStringList directTexts;
            engineTexts.clear();
            QElapsedTimer timer;
            const auto runEngine = [&] {
                timer.start();
                engineOk += ConvertRaster(options, source, QStringLiteral("PNG"), 0, QString()) ? 1 : 0;
                engineNs += timer.nsecsElapsed();
            };
            const auto runDirectSide = [&] {
                timer.start();
                directTexts = convertDirect(format, options.Quality, source, directOutput, scratch);
                directNs += timer.nsecsElapsed();
                directOk += QFile::exists(directOutput) ? 1 : 0;
            };
            if (i % 2 == 0) {
                runEngine();
                runDirectSide();
            } else {
                runDirectSide();
                runEngine();
            }
            if (normalised(engineTexts, {engineOut, sources}) !=
                normalised(directTexts, {directOut, sources, scratch}))
                ++textMismatches;
        }
        const double engineS = engineNs / 1e9;
        const double directS = directNs / 1e9;
        totalEngine += engineS;
        totalDirect += directS;
        std::printf("PNG -> %-4s  %d images  engine %8.2f s (%d ok)  direct %8.2f s (%d ok)  "
                    "ratio engine/direct %.3f  parameter texts differing: %d\n",
                    qPrintable(format), count, engineS, engineOk, directS, directOk, engineS / directS,
                    textMismatches);
        std::fflush(stdout);
    }
    SetToolRunObserver({});

    // The fixed cost of one program start, on a tool that does almost nothing.
    const QString encoder = ProgramFolder() + QStringLiteral("vendor/cjpeg");
    constexpr int starts = 200;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < starts; ++i)
        RunAndCapture(encoder, QStringLiteral("-version"));
    const double runnerMs = timer.nsecsElapsed() / 1e6 / starts;
    timer.start();
    for (int i = 0; i < starts; ++i)
        runDirect(encoder, QStringLiteral("-version"));
    const double spawnMs = timer.nsecsElapsed() / 1e6 / starts;
    std::printf("one start of \"cjpeg -version\": runner %.2f ms, posix_spawn %.2f ms\n", runnerMs, spawnMs);

    std::printf("all formats: engine %.2f s, direct %.2f s, ratio engine/direct %.3f (target <= 1.05)\n",
                totalEngine, totalDirect, totalEngine / totalDirect);
    return 0;
}
