// Time and peak scratch disk of the PDF route against the interpreter alone.
// For each page count two PDFs of Letter pages are made: one of text (a
// heading, forty lines of body text, a ruled table, a few curves) and one
// with a photo-like picture on every page. Each is converted in turns that
// rotate which goes first: by the job with all workers (the pages shared
// among them) to JPG and to PNG, and rendered straight to JPEG files at 96
// dpi by the interpreter alone (with the same anti-aliasing). Prints, per
// PDF, the median times and processor seconds (of this program and every
// tool it waited for), the ratios against the interpreter (target: at most
// 3), the peak scratch disk of the job and the machine's load.
//
// Usage: bench_pdf [--rounds N] [pages...]   (default: 3 rounds of 40 pages)

#include "common.h"
#include "conversion.h"
#include "job.h"

#include <QThread>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

#include <sys/resource.h>

namespace
{
QString vendor(const QString &name)
{
    return ProgramFolder() + QStringLiteral("vendor/") + name;
}

// Processor seconds used so far by this program and the tools it has waited for.
double cpuSeconds()
{
    const auto seconds = [](const rusage &usage) {
        return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    };
    rusage self{}, children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    return seconds(self) + seconds(children);
}

bool runQuiet(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    return process.waitForFinished(-1) && process.exitCode() == 0;
}

// A picture of 600x400 samples drawn on the page from a procedure: smooth
// gradients with noise, different on every page (n).
const char *const kPhotoProgram =
    "/min { 2 copy gt { exch } if pop } bind def /row 1800 string def /y 0 def\n"
    "gsave 54 250 translate 504 336 scale\n"
    "600 400 8 [600 0 0 -400 0 400] { 0 1 599 { /x exch def\n"
    "  row x 3 mul x 255 mul 600 idiv rand 15 and add 255 min put\n"
    "  row x 3 mul 1 add y 255 mul 400 idiv rand 15 and add 255 min put\n"
    "  row x 3 mul 2 add x y add n 7 mul add 255 and put } for /y y 1 add def row }\n"
    "false 3 colorimage grestore\n";

bool writePdf(const QString &path, int pages, bool photos)
{
    const QString ps = path + QStringLiteral(".ps");
    QFile file(ps);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // Each page: a heading, a tinted box, a ruled table, body text in two
    // fonts and a few curves, varied by the page number; or a picture with a
    // heading and a caption.
    if (photos)
        file.write("%!PS\n<< /PageSize [612 792] >> setpagedevice\n1 1 " + QByteArray::number(pages) +
                   " { /n exch def\n" + kPhotoProgram +
                   "0 setgray /Helvetica-Bold findfont 24 scalefont setfont 54 700 moveto (Plate ) show "
                   "n 3 string cvs show\n/Times-Italic findfont 11 scalefont setfont 54 220 moveto "
                   "(A picture of many colours, drawn from a procedure.) show showpage } for\n");
    else
        file.write(
            "%!PS\n<< /PageSize [612 792] >> setpagedevice\n"
            "/body (The quick brown fox jumps over the lazy dog; pack my box with five dozen liquor jugs.) "
            "def\n"
            "1 1 " +
            QByteArray::number(pages) +
            " { /n exch def\n"
            "0.9 0.93 1 setrgbcolor 54 680 504 60 rectfill\n"
            "0 0 0.4 setrgbcolor /Helvetica-Bold findfont 28 scalefont setfont 66 700 moveto (Chapter ) show "
            "n 3 string cvs show\n"
            "0 setgray /Times-Roman findfont 10 scalefont setfont\n"
            "0 1 39 { /i exch def 54 660 i 12 mul sub moveto body show } for\n"
            "/Courier findfont 9 scalefont setfont 0.5 setlinewidth\n"
            "0 1 5 { /r exch def 0 1 3 { /c exch def 54 c 126 mul add 120 r 18 mul sub 126 18 rectstroke "
            "58 c 126 mul add 125 r 18 mul sub moveto r c mul n add 8 string cvs show } for } for\n"
            "n 7 mod 7 div 0.5 0.8 setrgbcolor 480 40 30 0 360 arc fill\n"
            "0.8 0.2 0.2 setrgbcolor 2 setlinewidth 60 30 moveto 200 90 n 10 mul add 350 0 500 60 curveto "
            "stroke\n"
            "showpage } for\n");
    file.close();
    const bool made =
        runQuiet(vendor(QStringLiteral("gs")),
                 {QStringLiteral("-q"), QStringLiteral("-dNOPAUSE"), QStringLiteral("-dBATCH"),
                  QStringLiteral("-sDEVICE=pdfwrite"), QStringLiteral("-sOutputFile=") + path, ps});
    QFile::remove(ps);
    return made;
}

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

qint64 folderBytes(const QString &folder, const QString &pattern)
{
    qint64 total = 0;
    const QFileInfoList entries =
        QDir(folder).entryInfoList({pattern}, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        if (entry.isSymLink())
            continue;
        if (entry.isDir())
            total += folderBytes(entry.absoluteFilePath(), QStringLiteral("*"));
        else
            total += entry.size();
    }
    return total;
}

struct Measured {
    double Seconds = 0;
    qint64 Peak = 0;
    double Cpu = 0;
};

// Runs work while sampling the bytes under folder (entries matching pattern)
// every 10 ms.
template <typename Work> Measured measure(const QString &folder, const QString &pattern, Work work)
{
    const double cpuBefore = cpuSeconds();
    std::atomic<bool> done{false};
    std::atomic<qint64> peak{0};
    std::thread sampler([&] {
        while (!done) {
            peak = std::max<qint64>(peak, folderBytes(folder, pattern));
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    QElapsedTimer timer;
    timer.start();
    work();
    const double seconds = timer.nsecsElapsed() / 1e9;
    done = true;
    sampler.join();
    return {seconds, std::max<qint64>(peak, folderBytes(folder, pattern)), cpuSeconds() - cpuBefore};
}

struct Figures {
    double Seconds = 0;
    double Cpu = 0;
    qint64 Peak = 0;
};

enum Way { JobJpg, JobPng, Alone, Ways };
const char *const kWayNames[Ways] = {"job JPG", "job PNG", "gs -r96"};

// One conversion of pdf by way into out; state says how it went.
Measured runWay(int way, const QString &pdf, const QString &out, QString &state)
{
    if (way == Alone)
        return measure(out, QStringLiteral("*"), [&] {
            state = runQuiet(vendor(QStringLiteral("gs")),
                             {QStringLiteral("-dSAFER"), QStringLiteral("-dNOPAUSE"),
                              QStringLiteral("-dBATCH"), QStringLiteral("-dQUIET"),
                              QStringLiteral("-dTextAlphaBits=4"), QStringLiteral("-dGraphicsAlphaBits=4"),
                              QStringLiteral("-sDEVICE=jpeg"), QStringLiteral("-r96"),
                              QStringLiteral("-sOutputFile=") + out + QStringLiteral("p-%03d.jpg"), pdf})
                        ? QStringLiteral("ok")
                        : QStringLiteral("FAILED");
        });
    ConversionOptions options;
    options.SaveFormat = way == JobJpg ? QStringLiteral("JPG") : QStringLiteral("PNG");
    options.SavePath = out;
    return measure(GetSpecialFolder(CSIDL_INTERNET_CACHE), QStringLiteral("zarvelo-*"), [&] {
        TConversionJob conversion({TJobItem{pdf, QStringLiteral("PDF"), QString()}}, options, 0);
        QEventLoop loop;
        QObject::connect(
            &conversion, &TConversionJob::RowFinished, &loop,
            [&](int, const ConversionResult &r) { state = r.Success ? QStringLiteral("ok") : r.Reason; });
        QObject::connect(&conversion, &TConversionJob::Finished, &loop, &QEventLoop::quit);
        conversion.Start();
        loop.exec();
    });
}

// Converts pdf every way, rounds times in rotating order; the medians.
QList<Figures> measureDocument(const QString &pdf, const QString &work, int pages, int rounds, int &turn,
                               bool &complete)
{
    QList<double> times[Ways], cpus[Ways];
    qint64 peaks[Ways] = {};
    for (int round = 0; round < rounds; ++round, ++turn) {
        std::printf("  round %d:", round);
        for (int k = 0; k < Ways; ++k) {
            const int way = (turn + k) % Ways;
            const QString out = work + QStringLiteral("/out%1/").arg(way);
            QDir().mkpath(out);
            QString state;
            const Measured m = runWay(way, pdf, out, state);
            times[way] << m.Seconds;
            cpus[way] << m.Cpu;
            peaks[way] = std::max(peaks[way], m.Peak);
            const int files = int(QDir(out).entryList(QDir::Files).size());
            complete = complete && state == QLatin1String("ok") && files == pages;
            std::printf("  %s %.2f s (%s, %d files)", kWayNames[way], m.Seconds, qPrintable(state), files);
            QDir(out).removeRecursively();
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    QList<Figures> figures;
    for (int way = 0; way < Ways; ++way)
        figures.append({median(times[way]), median(cpus[way]), peaks[way]});
    return figures;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QList<int> counts;
    int rounds = 3;
    const QStringList arguments = app.arguments().mid(1);
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--rounds") && i + 1 < arguments.size())
            rounds = qMax(1, arguments[++i].toInt());
        else if (arguments[i].toInt() > 0)
            counts << arguments[i].toInt();
    }
    if (counts.isEmpty())
        counts = {40};
    const int cores = qMax(1, QThread::idealThreadCount());
    QTemporaryDir work;
    int turn = 0;
    bool complete = true;
    for (const int pages : std::as_const(counts)) {
        for (const bool photos : {false, true}) {
            const char *kind = photos ? "pictures" : "text";
            const QString pdf =
                work.path() + QStringLiteral("/%1-%2.pdf").arg(QLatin1String(kind)).arg(pages);
            if (!writePdf(pdf, pages, photos)) {
                std::fprintf(stderr, "cannot write the PDF\n");
                return 1;
            }
            std::printf("%d pages of %s (%.1f KB PDF), %d workers, load before: %s\n", pages, kind,
                        QFileInfo(pdf).size() / 1024.0, cores, qPrintable(loadAverage()));
            std::fflush(stdout);
            const QList<Figures> f = measureDocument(pdf, work.path(), pages, rounds, turn, complete);
            std::printf("%4d pages of %s, medians:", pages, kind);
            for (int way = 0; way < Ways; ++way)
                std::printf("  %s %.2f s (%.1f cpu-s)", kWayNames[way], f[way].Seconds, f[way].Cpu);
            std::printf(
                "\n           job JPG/gs %.2f, job PNG/gs %.2f (target <= 3); scratch peak: JPG %.1f MB, "
                "PNG %.1f MB; load after: %s\n",
                f[JobJpg].Seconds / f[Alone].Seconds, f[JobPng].Seconds / f[Alone].Seconds,
                f[JobJpg].Peak / 1048576.0, f[JobPng].Peak / 1048576.0, qPrintable(loadAverage()));
            std::fflush(stdout);
        }
    }
    if (!complete) {
        std::printf("FAILED: a way came up short\n");
        return 1;
    }
    return 0;
}
