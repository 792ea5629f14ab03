// A re-run that skips earlier outputs against a bare walk of the same folder
// tree, measured side by side in one run (alternating rounds, the best of
// each counts, so both meet warm caches). The sources are converted once for
// real first; the re-run must then start no tool and write nothing. Two
// re-runs are timed: a second press of Convert over the listed rows, and a
// run from nothing that lists the folder first (as the command line does).
// Exits 1 when a re-run wrote a file or a row did not end skipped.
//
// bench_skip [files]   (default 1000)

#include "filelist.h"
#include "session.h"
#include "translate.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <limits>

namespace
{

constexpr int kFilesPerFolder = 100;

// count small pictures in folders of kFilesPerFolder.
bool makeTree(const QString &root, int count)
{
    QImage image(16, 12, QImage::Format_RGB32);
    for (int i = 0; i < count; ++i) {
        const QString dir = root + QStringLiteral("/f%1").arg(i / kFilesPerFolder);
        if (i % kFilesPerFolder == 0)
            QDir().mkpath(dir);
        image.fill(QColor::fromHsv(i % 360, 200, 200));
        if (!image.save(dir + QStringLiteral("/pic%1.png").arg(i), "PNG"))
            return false;
    }
    return true;
}

// Every file below root, by a plain walk; withSizes: each file's size is
// looked at too (one stat per file, as a walk that checks its files does).
long bareWalk(const QString &root, bool withSizes = false)
{
    long files = 0;
    qint64 bytes = 0;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        if (withSizes)
            bytes += QFileInfo(it.filePath()).size();
        ++files;
    }
    return bytes >= 0 ? files : 0;
}

// Runs a start of session to its end, the outputs into out.
TSessionCounts runSession(TConversionSession &session, const ConversionOptions &options, const QString &out)
{
    QEventLoop loop;
    QObject::connect(&session, &TConversionSession::Finished, &loop, &QEventLoop::quit);
    if (session.StartAll(options, out) == TStartResult::Started && session.IsRunning())
        loop.exec();
    return session.Counts();
}

double ms(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    InitTranslation();
    const int count = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 1000;
    QTemporaryDir work;
    const QString root = work.path() + QStringLiteral("/tree");
    const QString out = work.path() + QStringLiteral("/out");
    if (!makeTree(root, count)) {
        std::fprintf(stderr, "bench_skip: could not write the pictures\n");
        return 1;
    }

    ConversionOptions options;
    options.SaveFormat = QStringLiteral("GIF");
    TFileListModel list;
    TConversionSession session(list);
    session.Take({root}, out);
    QElapsedTimer timer;
    timer.start();
    const TSessionCounts converted = runSession(session, options, out);
    std::printf("first run: %d of %d converted in %.1f s\n", converted.Converted, count, ms(timer) / 1000);
    if (converted.Converted != count || bareWalk(out) != count) {
        std::fprintf(stderr, "bench_skip: the first run did not convert every picture\n");
        return 1;
    }

    options.Existing = TExistingPolicy::Skip;
    double walk = std::numeric_limits<double>::max();
    double statWalk = walk, again = walk, fresh = walk;
    bool ok = true;
    for (int round = 0; round < 5; ++round) {
        timer.restart();
        const long seen = bareWalk(root);
        walk = std::min(walk, ms(timer));

        timer.restart();
        bareWalk(root, true);
        statWalk = std::min(statWalk, ms(timer));

        timer.restart();
        const TSessionCounts second = runSession(session, options, out);
        again = std::min(again, ms(timer));

        timer.restart();
        TFileListModel freshList;
        TConversionSession freshSession(freshList);
        freshSession.Take({root}, out);
        const TSessionCounts third = runSession(freshSession, options, out);
        fresh = std::min(fresh, ms(timer));

        std::printf("round %d: walk %ld files; second press %d skipped; listed and run %d skipped\n",
                    round + 1, seen, second.OutputExisted, third.OutputExisted);
        ok = ok && seen == count && second.OutputExisted == count && third.OutputExisted == count;
    }
    ok = ok && bareWalk(out) == count;

    std::printf("\nbare walk of the sources (QDirIterator, %d files)  %8.2f ms\n", count, walk);
    std::printf("walk looking at each file's size                 %8.2f ms   ratio %.2f\n", statWalk,
                statWalk / walk);
    std::printf(
        "second press of Convert, skip                    %8.2f ms   ratio %.2f (%.2f to the sized walk)\n",
        again, again / walk, again / statWalk);
    std::printf(
        "listed from nothing and run, skip                %8.2f ms   ratio %.2f (%.2f to the sized walk)\n",
        fresh, fresh / walk, fresh / statWalk);
    if (!ok) {
        std::fprintf(stderr, "bench_skip: a re-run wrote files or did not skip every row\n");
        return 1;
    }
    return 0;
}
