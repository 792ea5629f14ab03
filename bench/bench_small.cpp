// The fixed cost of a file: many small PNGs (320x213) converted to JPG by the
// whole job (TConversionJob, one worker) against two plain ways of doing it
// with the same tools: a shell loop that runs, per file, the same image tool
// step piped into the same encoder step as the program does, and one
// mogrify process over every file. The three run side by side in rounds
// that rotate which goes first; medians are printed with the machine's load
// before and after, and the job's JPEG bytes are checked against the loop's.
//
// Exits 1 when a way wrote fewer files than it was given, or the job's
// JPEGs differ from the loop's (the same tool steps).
//
// Usage: bench_small [files=1000] [rounds=3] [width=320] [height=213]

#include "benchutil.h"
#include "common.h"
#include "job.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

using namespace benchutil;

namespace
{

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly)
               ? QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2)
               : QStringLiteral("?");
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n == 0 ? 0 : (n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2);
}

int countFiles(const QString &dir, const QString &pattern)
{
    return int(QDir(dir).entryList({pattern}, QDir::Files).size());
}

double runJob(const QStringList &sources, const QString &outDir)
{
    QDir().mkpath(outDir);
    QList<TJobItem> items;
    for (const QString &source : sources)
        items << TJobItem{source, QStringLiteral("PNG"), QString()};
    ConversionOptions options;
    options.SaveFormat = QStringLiteral("JPG");
    options.SavePath = outDir + QLatin1Char('/');
    QElapsedTimer timer;
    timer.start();
    TConversionJob job(items, options, 1);
    // Queued to this thread's loop, as the window gets them.
    QEventLoop loop;
    QObject::connect(&job, &TConversionJob::Finished, &loop, &QEventLoop::quit);
    job.Start();
    loop.exec();
    return timer.nsecsElapsed() / 1e9;
}

double runShell(const QString &script, const QStringList &arguments)
{
    QElapsedTimer timer;
    timer.start();
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(QStringLiteral("/bin/sh"),
                  QStringList{QStringLiteral("-c"), script, QStringLiteral("sh")} + arguments);
    process.waitForFinished(-1);
    return timer.nsecsElapsed() / 1e9;
}

// The program's JPG route for a PNG, file by file: the image tool's bitmap
// piped into the encoder, then the result moved to its name.
double runLoop(const QString &srcDir, const QString &outDir, const QString &profile)
{
    QDir().mkpath(outDir);
    const QString magick = ProgramFolder() + QStringLiteral("vendor/magick");
    const QString cjpeg = ProgramFolder() + QStringLiteral("vendor/cjpeg");
    const QString script =
        QStringLiteral(
            "cd \"$1\" && for f in *.png; do "
            "\"$3\" \"$f[0]\" -auto-orient %1-strip -type TrueColor -colorspace sRGB -compress none "
            "BMP3:- | \"$4\" -quality 75 -outfile \"$2/tmp.jpg\" && mv \"$2/tmp.jpg\" \"$2/${f%.png}.jpg\"; "
            "done")
            .arg(profile.isEmpty() ? QString() : QStringLiteral("-profile \"$5\" "));
    return runShell(script, {srcDir, outDir, magick, cjpeg, profile});
}

double runMogrify(const QString &srcDir, const QString &outDir)
{
    QDir().mkpath(outDir);
    return runShell(
        QStringLiteral("cd \"$1\" && /usr/bin/mogrify -path \"$2\" -format jpg -quality 75 *.png"),
        {srcDir, outDir});
}

// Whether every JPEG in a is in b with the same bytes, and b holds no other.
bool sameJpegs(const QString &a, const QString &b)
{
    const QStringList names = QDir(a).entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name);
    if (names != QDir(b).entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name))
        return false;
    for (const QString &name : names) {
        QFile x(a + QLatin1Char('/') + name);
        QFile y(b + QLatin1Char('/') + name);
        if (!x.open(QIODevice::ReadOnly) || !y.open(QIODevice::ReadOnly) || x.readAll() != y.readAll())
            return false;
    }
    return true;
}

// The three ways of one round, in turns; adds their times. complete: every
// way wrote every file; same: the job's JPEGs are the loop's, byte for byte.
void runRound(int round, const QString &base, const QStringList &sources, const QString &src,
              const QString &profile, QList<double> (&times)[3], bool &complete, bool &same)
{
    const int files = int(sources.size());
    const QString outs[3] = {base + QStringLiteral("/job"), base + QStringLiteral("/loop"),
                             base + QStringLiteral("/mogrify")};
    for (int k = 0; k < 3; ++k) {
        const int side = (round + k) % 3;
        times[side] << (side == 0   ? runJob(sources, outs[0])
                        : side == 1 ? runLoop(src, outs[1], profile)
                                    : runMogrify(src, outs[2]));
    }
    for (const QString &out : outs) {
        const int n = countFiles(out, QStringLiteral("*.jpg"));
        if (n != files) {
            std::printf("  round %d: a side wrote %d of %d files\n", round, n, files);
            complete = false;
        }
    }
    same = sameJpegs(outs[0], outs[1]) && same;
    std::printf("round %d: job %.2f s  loop %.2f s  mogrify %.2f s\n", round, times[0].last(),
                times[1].last(), times[2].last());
    std::fflush(stdout);
    QDir(base).removeRecursively();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int files = args.size() > 1 ? args[1].toInt() : 1000;
    const int rounds = args.size() > 2 ? args[2].toInt() : 3;
    const int width = args.size() > 3 ? args[3].toInt() : 320;
    const int height = args.size() > 4 ? args[4].toInt() : 213;
    if (files <= 0 || rounds <= 0 || width <= 0 || height <= 0) {
        std::fprintf(stderr, "usage: bench_small [files] [rounds] [width] [height]\n");
        return 2;
    }
    QString profile;
    for (const QString &path : {QStringLiteral("/usr/share/color/icc/ghostscript/srgb.icc"),
                                QStringLiteral("/usr/share/color/icc/sRGB.icc"),
                                QStringLiteral("/usr/share/color/icc/colord/sRGB.icc")})
        if (profile.isEmpty() && QFileInfo(path).isFile())
            profile = path;

    QTemporaryDir work;
    const QString src = work.path() + QStringLiteral("/src");
    QDir().mkpath(src);
    QStringList sources;
    for (int i = 0; i < files; ++i) {
        const QString path = src + QStringLiteral("/img-%1.png").arg(i, 5, 10, QLatin1Char('0'));
        if (!writePhoto(path, width, height, quint32(100 + i))) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        sources << path;
    }
    std::printf("%d PNGs of %dx%d to JPG, %d rounds; load before: %s\n", files, width, height, rounds,
                qPrintable(loadAverage()));
    std::fflush(stdout);

    QList<double> times[3];
    bool complete = true;
    bool same = true;
    for (int round = 0; round < rounds; ++round)
        runRound(round, work.path() + QStringLiteral("/round%1").arg(round), sources, src, profile, times,
                 complete, same);
    const QList<double> &job = times[0], &loop = times[1], &mogrify = times[2];
    const double j = median(job), l = median(loop), m = median(mogrify);
    std::printf(
        "medians: job %.2f s (%.2f ms/file)  convert|cjpeg loop %.2f s (%.2f ms/file)  mogrify %.2f s "
        "(%.2f ms/file)\n",
        j, j * 1000 / files, l, l * 1000 / files, m, m * 1000 / files);
    std::printf("job/loop %.3f (target <= 1.1)  job/mogrify %.2f  JPEG bytes job == loop: %s\n", j / l, j / m,
                same ? "yes" : "NO");
    std::printf("load after: %s\n", qPrintable(loadAverage()));
    if (!complete || !same) {
        std::printf("FAILED: a side did not write every file, or the job's JPEGs differ from the loop's\n");
        return 1;
    }
    return 0;
}
