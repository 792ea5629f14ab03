// Measures the whole "/auto FORMAT FOLDER" job on all cores against two plain
// ways of doing the same with the image tool: one mogrify process over every
// file, and the ideal parallel loop "xargs -P<cores> convert". The three run
// side by side, in turns that rotate which goes first, on photo-sized images
// to JPG, PNG and WEBP. A second part runs the job over many tiny images and
// reports the program's peak memory and the cost per file against the
// parallel tool loop.
//
// Exits 1 when a side wrote fewer files than it was given (the three use
// different tools, so their bytes are not compared).
//
// Usage: bench_parallel [photos=40] [width=3000] [height=2000] [tiny=100000] [rounds=2]

#include "benchutil.h"
#include "common.h"
#include "mainwindow.h"
#include "theme.h"
#include "translate.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <sys/resource.h>

using namespace benchutil;

namespace
{

const QString kTool = QStringLiteral("/usr/bin/convert");
const QString kMogrify = QStringLiteral("/usr/bin/mogrify");

// A fresh folder holding links to the sources.
QString stageSources(const QString &root, const QString &name, const QStringList &sources)
{
    const QString dir = root + QLatin1Char('/') + name + QLatin1Char('/');
    QDir().mkpath(dir);
    for (const QString &source : sources)
        QFile::link(source, dir + QFileInfo(source).fileName());
    return dir;
}

// Files written in dir (the staged sources are links).
int outputsIn(const QString &dir, const QString &format)
{
    int written = 0;
    for (const QFileInfo &entry :
         QDir(dir).entryInfoList({QStringLiteral("*.") + format.toLower()}, QDir::Files))
        written += entry.isSymLink() ? 0 : 1;
    return written;
}

// How long a side took, and whether it wrote every file.
struct Timed {
    double seconds = 0;
    bool complete = false;
};

Timed runJob(const QString &format, const QString &dir, int count)
{
    QElapsedTimer timer;
    timer.start();
    TFrmZarvelo window({QStringLiteral("zarvelo"), QStringLiteral("/auto"), format, dir});
    while (window.IsBusy())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double seconds = timer.nsecsElapsed() / 1e9;
    const int written = outputsIn(dir, format);
    if (written != count)
        std::printf("  job wrote %d of %d files\n", written, count);
    return {seconds, written == count};
}

Timed runShell(const QString &program, const QStringList &arguments, const QString &outDir,
               const QString &format, int count)
{
    QDir().mkpath(outDir);
    QElapsedTimer timer;
    timer.start();
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    process.waitForFinished(-1);
    const double seconds = timer.nsecsElapsed() / 1e9;
    const int written = outputsIn(outDir, format);
    if (written != count)
        std::printf("  %s wrote %d of %d files\n", qPrintable(QFileInfo(program).fileName()), written, count);
    return {seconds, written == count};
}

Timed runMogrify(const QString &format, const QString &dir, const QString &outDir, int count)
{
    QStringList arguments{QStringLiteral("-path"),    outDir,
                          QStringLiteral("-format"),  format.toLower(),
                          QStringLiteral("-quality"), QStringLiteral("75")};
    for (const QString &name : QDir(dir).entryList(QDir::Files, QDir::Name))
        arguments << dir + name;
    return runShell(kMogrify, arguments, outDir, format, count);
}

Timed runXargs(const QString &format, const QString &dir, const QString &outDir, int count, int workers)
{
    // One NUL-separated name list, then <workers> tool runs at a time.
    const QString script = QStringLiteral("cd \"$1\" && find . -maxdepth 1 -type l -printf '%f\\0' | "
                                          "xargs -0 -P%1 -I{} %2 {} -quality 75 \"$2/{}.%3\"")
                               .arg(workers)
                               .arg(kTool, format.toLower());
    return runShell(QStringLiteral("/bin/sh"),
                    {QStringLiteral("-c"), script, QStringLiteral("sh"), dir, outDir}, outDir, format, count);
}

// Processor seconds (user, system) of this program and of the tools it
// has waited for, so far.
std::pair<double, double> cpuSoFar()
{
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    rusage self{}, children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    return {seconds(self.ru_utime) + seconds(children.ru_utime),
            seconds(self.ru_stime) + seconds(children.ru_stime)};
}

qint64 peakKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Photos of width x height, in the three formats, rounds times each way.
// False when a side came up short (or the photos could not be made).
bool benchPhotos(const QString &work, int count, int width, int height, int rounds, int cores)
{
    std::printf("generating %d PNG photos of %dx%d ...\n", count, width, height);
    std::fflush(stdout);
    QStringList photos;
    QDir().mkpath(work + QStringLiteral("/photos"));
    for (int i = 0; i < count; ++i) {
        const QString path = work + QStringLiteral("/photos/photo-%1.png").arg(i, 3, 10, QLatin1Char('0'));
        if (!writePhoto(path, width, height, quint32(3000 + i))) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return false;
        }
        photos << path;
    }
    bool complete = true;
    int run = 0;
    for (const QString &format : {QStringLiteral("JPG"), QStringLiteral("PNG"), QStringLiteral("WEBP")}) {
        double seconds[3] = {}, user[3] = {}, system[3] = {};
        for (int round = 0; round < rounds; ++round) {
            const QString base = work + QStringLiteral("/run-%1").arg(run++);
            const QString jobDir = stageSources(base, QStringLiteral("job"), photos);
            const QString src = stageSources(base, QStringLiteral("src"), photos);
            // Rotate the order so that no side always runs first.
            for (int k = 0; k < 3; ++k) {
                const int side = (round + k) % 3;
                const auto before = cpuSoFar();
                const Timed timed =
                    side == 0   ? runJob(format, jobDir, count)
                    : side == 1 ? runMogrify(format, src, base + QStringLiteral("/mogrify"), count)
                                : runXargs(format, src, base + QStringLiteral("/xargs"), count, cores);
                const auto after = cpuSoFar();
                seconds[side] += timed.seconds;
                user[side] += after.first - before.first;
                system[side] += after.second - before.second;
                complete = complete && timed.complete;
            }
            QDir(base).removeRecursively();
        }
        const double job = seconds[0], mogrify = seconds[1], xargs = seconds[2];
        const double files = double(count) * rounds;
        std::printf("%-4s %d photos x%d  job %7.2f s  mogrify %7.2f s  xargs -P%d %7.2f s  "
                    "mogrify/job %.2f (target >= %.1f)  job/xargs %.3f (target <= 1.0)\n"
                    "     processor seconds per file, user+system: job %.3f+%.3f  mogrify %.3f+%.3f  "
                    "xargs %.3f+%.3f\n",
                    qPrintable(format), count, rounds, job, mogrify, cores, xargs, mogrify / job,
                    format == QLatin1String("JPG") ? 1.5 : 1.8, job / xargs, user[0] / files,
                    system[0] / files, user[1] / files, system[1] / files, user[2] / files, system[2] / files);
        std::fflush(stdout);
    }
    return complete;
}

// The job over many tiny images against the parallel tool loop, and the
// program's memory per row. False when a side came up short.
bool benchTiny(const QString &work, int tiny, int cores)
{
    std::printf("generating %d tiny images ...\n", tiny);
    std::fflush(stdout);
    const QString one = work + QStringLiteral("/tiny.png");
    writePhoto(one, 16, 12, 7);
    const QString base = work + QStringLiteral("/tiny");
    QStringList sources;
    const QString pool = base + QStringLiteral("/pool/");
    QDir().mkpath(pool);
    for (int i = 0; i < tiny; ++i) {
        const QString path = pool + QStringLiteral("t%1.png").arg(i, 6, 10, QLatin1Char('0'));
        QFile::copy(one, path);
        sources << path;
    }
    const QString jobDir = stageSources(base, QStringLiteral("job"), sources);
    const QString src = stageSources(base, QStringLiteral("src"), sources);
    const qint64 before = peakKiB();
    const Timed job = runJob(QStringLiteral("PNG"), jobDir, tiny);
    const qint64 after = peakKiB();
    const Timed xargs = runXargs(QStringLiteral("PNG"), src, base + QStringLiteral("/xargs"), tiny, cores);
    std::printf("tiny PNG->PNG %d files  job %.2f s (%.2f ms/file)  xargs -P%d %.2f s (%.2f ms/file)  "
                "job/xargs %.3f\n",
                tiny, job.seconds, job.seconds * 1000 / tiny, cores, xargs.seconds,
                xargs.seconds * 1000 / tiny, job.seconds / xargs.seconds);
    std::printf("peak memory of the program: %lld KiB before the tiny job, %lld KiB after (%lld B per row)\n",
                before, after, (after - before) * 1024 / qMax(1, tiny));
    return job.complete && xargs.complete;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    InitTranslation();
    InitTheme();
    const QStringList args = app.arguments();
    const int count = args.size() > 1 ? args[1].toInt() : 40;
    const int width = args.size() > 2 ? args[2].toInt() : 3000;
    const int height = args.size() > 3 ? args[3].toInt() : 2000;
    const int tiny = args.size() > 4 ? args[4].toInt() : 100000;
    const int rounds = args.size() > 5 ? args[5].toInt() : 2;
    const int cores = qMax(1, QThread::idealThreadCount());
    if (count < 0 || width <= 0 || height <= 0 || tiny < 0 || rounds <= 0) {
        std::fprintf(stderr, "usage: bench_parallel [photos] [width] [height] [tiny] [rounds]\n");
        return 2;
    }

    QTemporaryDir work;
    QFile::link(ProgramFolder() + QStringLiteral("vendor"), work.path() + QStringLiteral("/vendor"));
    SetProgramFolder(work.path());
    std::printf("cores %d; peak memory before the first job %lld KiB\n", cores, peakKiB());
    bool complete = true;
    if (count > 0)
        complete = benchPhotos(work.path(), count, width, height, rounds, cores) && complete;
    if (tiny > 0)
        complete = benchTiny(work.path(), tiny, cores) && complete;
    SetProgramFolder(QString());
    if (!complete) {
        std::printf("FAILED: a side did not write every file\n");
        return 1;
    }
    return 0;
}
