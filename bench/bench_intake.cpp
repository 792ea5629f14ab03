// Intake of a large folder tree: AddPath into the list model against a bare
// walk that only opens each file and reads its first 12 bytes, measured side
// by side in one run (alternating, three rounds, the best of each counts, so
// both meet warm caches), and the memory the rows take. Exits 1 when the
// bare walk missed a file or a list did not get every image once.
//
// bench_intake [files]   (default 100000)

#include "filelist.h"
#include "translate.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTreeView>

#include <algorithm>
#include <cstdio>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr int kFilesPerFolder = 500;

void writeSmallFile(const QByteArray &path, const QByteArray &bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return;
    if (::write(fd, bytes.constData(), size_t(bytes.size())) < 0)
        std::perror("write");
    ::close(fd);
}

// count files in folders of kFilesPerFolder, nested two levels deep; one
// third images by signature (some without extension), one third images by
// extension only, one third other files.
void makeTree(const QString &root, int count)
{
    const QByteArray png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x01\0\0\0\x01\x08\x02", 25);
    const QByteArray jpeg("\xFF\xD8\xFF\xE0\0\x10JFIF\0\x01\x01\0\0\x01\0\x01\0\0", 20);
    const QByteArray text("just some notes, nothing to convert here\n");
    for (int i = 0; i < count; ++i) {
        const int folder = i / kFilesPerFolder;
        const QString dir = root + QStringLiteral("/g%1/f%2").arg(folder / 20).arg(folder);
        if (i % kFilesPerFolder == 0)
            QDir().mkpath(dir);
        const QByteArray base = QFile::encodeName(dir) + "/file" + QByteArray::number(i);
        switch (i % 6) {
        case 0:
            writeSmallFile(base + ".png", png);
            break;
        case 1:
            writeSmallFile(base, jpeg);
            break; // signature, no extension
        case 2:
            writeSmallFile(base + ".jpg", text);
            break; // extension only
        case 3:
            writeSmallFile(base + ".webp", QByteArray());
            break; // extension only, empty
        case 4:
            writeSmallFile(base + ".txt", text);
            break;
        default:
            writeSmallFile(base + ".dat", QByteArray(64, 'x'));
            break;
        }
    }
}

// The floor: every entry visited, every file opened and 12 bytes read.
long bareWalk(const QByteArray &folder)
{
    long files = 0;
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return 0;
    while (const dirent *entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        const QByteArray path = folder + '/' + entry->d_name;
        if (entry->d_type == DT_DIR) {
            files += bareWalk(path);
            continue;
        }
        const int fd = ::open(path.constData(), O_RDONLY);
        if (fd >= 0) {
            char header[12];
            if (::read(fd, header, sizeof header) >= 0)
                ++files;
            ::close(fd);
        }
    }
    ::closedir(dir);
    return files;
}

long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

// User and system processor time of this process so far, in ms.
std::pair<double, double> cpuTimes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval &t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
    return {ms(usage.ru_utime), ms(usage.ru_stime)};
}

// How many of the first count files of makeTree are images.
int imagesIn(int count)
{
    int images = 0;
    for (int i = 0; i < count; ++i)
        images += i % 6 < 4 ? 1 : 0;
    return images;
}

// The best times of the rounds, in ms.
struct Best {
    double bare = 1e300, intake = 1e300, again = 1e300, viewed = 1e300;
};

// One round of the four walks over root; true when the bare walk saw every
// file and each walk into an empty list listed every image once.
bool intakeRound(int round, const QString &root, int count, Best &best)
{
    QElapsedTimer timer;
    auto cpu0 = cpuTimes();
    timer.start();
    const long seen = bareWalk(QFile::encodeName(root));
    best.bare = std::min(best.bare, timer.nsecsElapsed() / 1e6);
    auto cpu1 = cpuTimes();
    std::printf("  bare walk: user %.0f ms, system %.0f ms\n", cpu1.first - cpu0.first,
                cpu1.second - cpu0.second);

    TFileListModel list;
    cpu0 = cpuTimes();
    timer.restart();
    AddPath(list, root);
    best.intake = std::min(best.intake, timer.nsecsElapsed() / 1e6);
    const int listed = list.rowCount();
    cpu1 = cpuTimes();
    std::printf("  AddPath:   user %.0f ms, system %.0f ms\n", cpu1.first - cpu0.first,
                cpu1.second - cpu0.second);

    // A list that already holds every file under another spelling of the
    // folder: each file now meets the duplicate test.
    timer.restart();
    AddPath(list, QFileInfo(root).path() + QStringLiteral("//tree"));
    best.again = std::min(best.again, timer.nsecsElapsed() / 1e6);

    TFileListModel shown;
    QTreeView view;
    view.setUniformRowHeights(true);
    view.setRootIsDecorated(false);
    view.setModel(&shown);
    view.resize(400, 300);
    view.show();
    timer.restart();
    AddPath(shown, root);
    QCoreApplication::processEvents();
    best.viewed = std::min(best.viewed, timer.nsecsElapsed() / 1e6);

    std::printf("round %d: bare walk %ld files, list %d rows\n", round + 1, seen, list.rowCount());
    const int images = imagesIn(count);
    return seen == count && listed == images && shown.rowCount() == images;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    InitTranslation();
    const int count = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 100000;

    QTemporaryDir dir;
    const QString root = dir.path() + QStringLiteral("/tree");
    QElapsedTimer timer;
    timer.start();
    makeTree(root, count);
    std::printf("tree of %d files made in %.1f s\n", count, timer.elapsed() / 1000.0);

    // Memory first, before any list has been freed, so that freed memory
    // cannot hide the growth.
    bareWalk(QFile::encodeName(root));
    const long before = residentKiB();
    auto kept = std::make_unique<TFileListModel>();
    AddPath(*kept, root);
    const long after = residentKiB();
    const int rows = kept->rowCount();
    const long perRow = rows ? (after - before) * 1024 / rows : 0;
    std::printf("rows: %d, resident memory for them: %.1f MB (%ld bytes a row, %.1f MB per 100 000 rows; "
                "target < 100 MB)\n",
                rows, (after - before) / 1024.0, perRow, perRow * 100000 / 1048576.0);
    kept.reset();

    Best best;
    bool complete = rows == imagesIn(count);
    for (int round = 0; round < 3; ++round)
        complete = intakeRound(round, root, count, best) && complete;
    const double bare = best.bare, intake = best.intake, again = best.again, viewed = best.viewed;
    std::printf("bare walk:             %8.1f ms\n", bare);
    std::printf("AddPath into the list: %8.1f ms   ratio %.2f (target <= 1.5)\n", intake, intake / bare);
    std::printf("same, list not empty:  %8.1f ms   ratio %.2f\n", again, again / bare);
    std::printf("same, list view shown: %8.1f ms   ratio %.2f\n", viewed, viewed / bare);
    if (!complete) {
        std::printf("FAILED: a walk missed files, or a list did not get every image once (%d expected)\n",
                    imagesIn(count));
        return 1;
    }
    return 0;
}
