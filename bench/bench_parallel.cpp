// Measures the whole "/auto FORMAT FOLDER" job on all cores against two plain
// ways of doing the same with the image tool: one mogrify process over every
// file, and the parallel loop "xargs -P<cores> convert -limit thread 1". The
// three run side by side, in turns that rotate which goes first, on camera-
// sized JPEG photos to JPG, PNG and WEBP; each reports its time and its
// processor and system seconds per file (of this program and every tool it
// waited for). A second part runs the job over many tiny images and reports
// the program's peak memory and the cost per file against the tool loop.
//
// Usage: bench_parallel [photos=40] [width=3000] [height=2000] [tiny=100000] [rounds=2]

#include "benchutil.h"
#include "common.h"
#include "mainwindow.h"
#include "theme.h"
#include "translate.h"
#include "update.h"

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

// Processor (user and system) seconds of this program and the tools it has
// waited for, so far.
struct Cpu {
    double User = 0;
    double System = 0;
};

Cpu cpuSoFar()
{
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    rusage self{}, children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    return {seconds(self.ru_utime) + seconds(children.ru_utime),
            seconds(self.ru_stime) + seconds(children.ru_stime)};
}

// Time and processor seconds of one way.
struct Taken {
    double Seconds = 0;
    double User = 0;
    double System = 0;
    void add(double seconds, const Cpu &before)
    {
        const Cpu after = cpuSoFar();
        Seconds += seconds;
        User += after.User - before.User;
        System += after.System - before.System;
    }
};

double runJob(const QString &format, const QString &dir, int count)
{
    QElapsedTimer timer;
    timer.start();
    TFrmZarvelo window({QStringLiteral("zarvelo"), QStringLiteral("/auto"), format, dir});
    while (window.IsBusy())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (outputsIn(dir, format) != count)
        std::printf("  job wrote %d of %d files\n", outputsIn(dir, format), count);
    return seconds;
}

double runShell(const QString &program, const QStringList &arguments, const QString &outDir,
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
    if (outputsIn(outDir, format) != count)
        std::printf("  %s wrote %d of %d files\n", qPrintable(QFileInfo(program).fileName()),
                    outputsIn(outDir, format), count);
    return seconds;
}

double runMogrify(const QString &format, const QString &dir, const QString &outDir, int count)
{
    QStringList arguments{QStringLiteral("-path"),    outDir,
                          QStringLiteral("-format"),  format.toLower(),
                          QStringLiteral("-quality"), QStringLiteral("75")};
    for (const QString &name : QDir(dir).entryList(QDir::Files, QDir::Name))
        arguments << dir + name;
    return runShell(kMogrify, arguments, outDir, format, count);
}

double runXargs(const QString &format, const QString &dir, const QString &outDir, int count, int workers)
{
    // One NUL-separated name list, then <workers> tool runs at a time.
    const QString script = QStringLiteral("cd \"$1\" && find . -maxdepth 1 -type l -printf '%f\\0' | "
                                          "xargs -0 -P%1 -I{} %2 -limit thread 1 {} -quality 75 \"$2/{}.%3\"")
                               .arg(workers)
                               .arg(kTool, format.toLower());
    return runShell(QStringLiteral("/bin/sh"),
                    {QStringLiteral("-c"), script, QStringLiteral("sh"), dir, outDir}, outDir, format, count);
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly)
               ? QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2)
               : QStringLiteral("?");
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

// The job, mogrify and the xargs loop on the photos, to JPG, PNG and WEBP.
void comparePhotos(const QString &root, const QStringList &photos, int rounds, int cores)
{
    const int count = int(photos.size());
    int run = 0;
    for (const QString &format : {QStringLiteral("JPG"), QStringLiteral("PNG"), QStringLiteral("WEBP")}) {
        Taken job, mogrify, xargs;
        for (int round = 0; round < rounds; ++round) {
            const QString base = root + QStringLiteral("/run-%1").arg(run++);
            const QString jobDir = stageSources(base, QStringLiteral("job"), photos);
            const QString src = stageSources(base, QStringLiteral("src"), photos);
            // Rotate the order so that no side always runs first.
            for (int k = 0; k < 3; ++k) {
                const Cpu before = cpuSoFar();
                switch ((round + k) % 3) {
                case 0:
                    job.add(runJob(format, jobDir, count), before);
                    break;
                case 1:
                    mogrify.add(runMogrify(format, src, base + QStringLiteral("/mogrify"), count), before);
                    break;
                default:
                    xargs.add(runXargs(format, src, base + QStringLiteral("/xargs"), count, cores), before);
                    break;
                }
            }
            QDir(base).removeRecursively();
        }
        const double files = double(count) * rounds;
        const double target = format == QLatin1String("JPG") ? 1.5 : 1.8;
        std::printf("%-4s %d photos x%d  job %.2f s  mogrify %.2f s  xargs -P%d %.2f s  "
                    "mogrify/job %.2f (target >= %.1f)  job/xargs %.3f (target <= 1.0)\n"
                    "     per file, user+system processor seconds: job %.3f+%.3f  mogrify %.3f+%.3f  "
                    "xargs %.3f+%.3f; load %s\n",
                    qPrintable(format), count, rounds, job.Seconds, mogrify.Seconds, cores, xargs.Seconds,
                    mogrify.Seconds / job.Seconds, target, job.Seconds / xargs.Seconds, job.User / files,
                    job.System / files, mogrify.User / files, mogrify.System / files, xargs.User / files,
                    xargs.System / files, qPrintable(loadAverage()));
        std::fflush(stdout);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    InitTranslation();
    InitUpdateModule();
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

    if (count > 0) {
        std::printf("generating %d JPEG photos of %dx%d ...\n", count, width, height);
        std::fflush(stdout);
        QStringList photos;
        QDir().mkpath(work.path() + QStringLiteral("/photos"));
        for (int i = 0; i < count; ++i) {
            const QString path =
                work.path() + QStringLiteral("/photos/photo-%1.jpg").arg(i, 3, 10, QLatin1Char('0'));
            if (!writePhoto(path, width, height, quint32(3000 + i), "JPG")) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
                return 1;
            }
            photos << path;
        }
        comparePhotos(work.path(), photos, rounds, cores);
    }

    if (tiny > 0) {
        std::printf("generating %d tiny images ...\n", tiny);
        std::fflush(stdout);
        const QString one = work.path() + QStringLiteral("/tiny.png");
        writePhoto(one, 16, 12, 7);
        const QString base = work.path() + QStringLiteral("/tiny");
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
        const double job = runJob(QStringLiteral("PNG"), jobDir, tiny);
        const qint64 after = peakKiB();
        const double xargs =
            runXargs(QStringLiteral("PNG"), src, base + QStringLiteral("/xargs"), tiny, cores);
        std::printf("tiny PNG->PNG %d files  job %.2f s (%.2f ms/file)  xargs -P%d %.2f s (%.2f ms/file)  "
                    "job/xargs %.3f\n",
                    tiny, job, job * 1000 / tiny, cores, xargs, xargs * 1000 / tiny, job / xargs);
        std::printf(
            "peak memory of the program: %lld KiB before the tiny job, %lld KiB after (%lld B per row)\n",
            before, after, (after - before) * 1024 / qMax(1, tiny));
    }
    SetProgramFolder(QString());
    return 0;
}
