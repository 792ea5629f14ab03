// Measures the whole "/auto FORMAT FOLDER" job against the same tool commands
// run directly in a plain loop. The job is the real window started with the
// command line (folder walk, type detection, the job's workers reporting to
// the window thread); it ends when the start button offers to close. The
// loop starts the tools for the same files with the same parameter texts.
// Both sides run twice per format, alternating which goes first.
//
// Exits 1 when a side wrote fewer files than it was given or the two sides
// wrote different bytes (they run the same tool steps).
//
// Usage: bench_auto [images=40] [width=3000] [height=2000]

#include "benchutil.h"
#include "common.h"
#include "mainwindow.h"
#include "theme.h"
#include "translate.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

using namespace benchutil;

namespace
{

// How long a side took, and whether it wrote every file.
struct Timed {
    double seconds = 0;
    bool complete = false;
};

// A fresh folder holding links to the photos, so that every run writes its
// outputs beside sources of its own.
QString stageSources(const QString &root, const QString &name, const QStringList &photos)
{
    const QString dir = root + QLatin1Char('/') + name + QLatin1Char('/');
    QDir().mkpath(dir);
    for (const QString &photo : photos)
        QFile::link(photo, dir + QFileInfo(photo).fileName());
    return dir;
}

Timed runJob(const QString &format, const QString &dir, int count)
{
    QElapsedTimer timer;
    timer.start();
    TFrmZarvelo window({QStringLiteral("zarvelo"), QStringLiteral("/auto"), format, dir});
    // The job reports to this thread; wait until it has ended.
    while (window.IsBusy())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double seconds = timer.nsecsElapsed() / 1e9;
    int converted = 0;
    for (const QFileInfo &entry : QDir(dir).entryInfoList(QDir::Files))
        converted += entry.isSymLink() ? 0 : 1;
    if (converted != count)
        std::printf("  job converted %d of %d files\n", converted, count);
    return {seconds, converted == count};
}

Timed runLoop(const QString &format, const QString &dir, const QString &scratch, int count)
{
    QElapsedTimer timer;
    timer.start();
    const QStringList sources = QDir(dir).entryList(QDir::Files, QDir::Name);
    int converted = 0;
    for (const QString &name : sources) {
        const QString source = dir + name;
        const QString output = dir + QFileInfo(name).completeBaseName() + QLatin1Char('.') + format.toLower();
        convertSameSteps(format, 75, source, output, scratch);
        converted += QFile::exists(output) ? 1 : 0;
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (converted != count)
        std::printf("  loop converted %d of %d files\n", converted, count);
    return {seconds, converted == count};
}

// Whether every output in a (the files that are not links) is in b with the
// same bytes, and b holds no other.
bool sameOutputs(const QString &a, const QString &b)
{
    const auto outputs = [](const QString &dir) {
        QStringList names;
        for (const QFileInfo &entry : QDir(dir).entryInfoList(QDir::Files, QDir::Name))
            if (!entry.isSymLink())
                names << entry.fileName();
        return names;
    };
    const QStringList names = outputs(a);
    if (names != outputs(b))
        return false;
    for (const QString &name : names) {
        QFile x(a + name);
        QFile y(b + name);
        if (!x.open(QIODevice::ReadOnly) || !y.open(QIODevice::ReadOnly) || x.readAll() != y.readAll())
            return false;
    }
    return true;
}

// Both sides twice in one format, the job first in the first round; adds
// their times. False when a side came up short or their outputs differ.
bool benchFormat(const QString &format, const QString &work, const QStringList &photos, int &run, double &job,
                 double &loop)
{
    const QString scratch = work + QStringLiteral("/scratch/");
    const int count = int(photos.size());
    bool good = true;
    for (int round = 0; round < 2; ++round) {
        const QString jobDir = stageSources(work, QStringLiteral("job-%1").arg(run), photos);
        const QString loopDir = stageSources(work, QStringLiteral("loop-%1").arg(run), photos);
        ++run;
        Timed sides[2];
        if (round == 0) {
            sides[0] = runJob(format, jobDir, count);
            sides[1] = runLoop(format, loopDir, scratch, count);
        } else {
            sides[1] = runLoop(format, loopDir, scratch, count);
            sides[0] = runJob(format, jobDir, count);
        }
        job += sides[0].seconds;
        loop += sides[1].seconds;
        // The same tool steps on the same photos give the same bytes.
        const bool same = sameOutputs(jobDir, loopDir);
        if (!same)
            std::printf("  the job's outputs differ from the loop's\n");
        good = good && sides[0].complete && sides[1].complete && same;
    }
    return good;
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
    if (count <= 0 || width <= 0 || height <= 0) {
        std::fprintf(stderr, "usage: bench_auto [images] [width] [height]\n");
        return 2;
    }

    // A program folder of its own, so that the real settings file is untouched.
    QTemporaryDir work;
    QFile::link(ProgramFolder() + QStringLiteral("vendor"), work.path() + QStringLiteral("/vendor"));
    SetProgramFolder(work.path());

    const QString scratch = work.path() + QStringLiteral("/scratch/");
    QDir().mkpath(scratch);
    std::printf("generating %d PNG photos of %dx%d ...\n", count, width, height);
    std::fflush(stdout);
    QStringList photos;
    QDir().mkpath(work.path() + QStringLiteral("/photos"));
    for (int i = 0; i < count; ++i) {
        const QString path =
            work.path() + QStringLiteral("/photos/photo-%1.png").arg(i, 3, 10, QLatin1Char('0'));
        if (!writePhoto(path, width, height, quint32(2000 + i))) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        photos << path;
    }

    double totalJob = 0;
    double totalLoop = 0;
    int run = 0;
    bool good = true;
    for (const QString &format : {QStringLiteral("JPG"), QStringLiteral("WEBP")}) {
        double job = 0;
        double loop = 0;
        good = benchFormat(format, work.path(), photos, run, job, loop) && good;
        totalJob += job;
        totalLoop += loop;
        std::printf("/auto %-4s  %d images x2  job %8.2f s  loop %8.2f s  ratio job/loop %.3f\n",
                    qPrintable(format), count, job, loop, job / loop);
        std::fflush(stdout);
    }
    std::printf("overall ratio job/loop %.3f (target <= 1.05)\n", totalJob / totalLoop);
    SetProgramFolder(QString());
    if (!good) {
        std::printf("FAILED: a side did not write every file, or the job's outputs differ from the loop's\n");
        return 1;
    }
    return 0;
}
