// Time and peak scratch disk of the PDF route against the interpreter alone.
// For each page count a PDF of Letter pages with real content (a heading,
// forty lines of body text, a table of ruled cells and filled shapes) is
// converted to JPG four ways in turns that rotate which goes first: by the
// job with all workers (the pages shared among them), by ConvertPdf alone
// (one page after another), by the same tool steps run from a plain shell
// script (all pages rendered at once, then as many page conversions at a time
// as there are cores: what those steps cost without the program), and
// rendered straight to JPEG files at 96 dpi by the interpreter alone. Prints,
// per page count, the median times and processor seconds (of this program
// and every tool it waited for), the ratios, the peak scratch disk of both
// engine runs and the machine's load; then how each grows with the page count.
//
// Exits 1 when a way failed or wrote fewer pages than the PDF has, or when
// the job, ConvertPdf and the script's steps wrote different bytes.
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

bool writePdf(const QString &path, int pages)
{
    const QString ps = path + QStringLiteral(".ps");
    QFile file(ps);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // Each page: a heading, a tinted box, a ruled table, body text in two
    // fonts and a few curves, varied by the page number.
    file.write(
        "%!PS\n<< /PageSize [612 792] >> setpagedevice\n"
        "/body (The quick brown fox jumps over the lazy dog; pack my box with five dozen liquor jugs.) def\n"
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

// The engine's tool steps for a PDF to JPG, as a plain shell script: the
// interpreter renders every page at 384 dpi, then each page is reduced to 25 %
// and piped into the encoder, `cores` pages at a time. Same parameters as the
// engine's, so the same output bytes.
QString stepsScript(const QString &pdf, const QString &out, int cores)
{
    const auto quoted = [](const QString &path) { return QLatin1Char('\'') + path + QLatin1Char('\''); };
    const QString profile = QStringLiteral("/usr/share/color/icc/ghostscript/srgb.icc");
    const QString profileArgs = QFileInfo::exists(profile)
                                    ? QStringLiteral("-profile ") + quoted(profile) + QLatin1Char(' ')
                                    : QString();
    return QStringLiteral("set -e; cd ") + quoted(out) + QStringLiteral("; ") +
           quoted(vendor(QStringLiteral("gs"))) +
           QStringLiteral(
               " -dSAFER -dNOPAUSE -dBATCH -dNOPROMPT -dQUIET -dTextAlphaBits=4 -dGraphicsAlphaBits=4"
               " -sDEVICE=bmp16m -r384 -sOutputFile=page-%03d.bmp ") +
           quoted(pdf) + QStringLiteral("; ls page-*.bmp | xargs -P ") + QString::number(cores) +
           QStringLiteral(" -I{} sh -c \"") + quoted(vendor(QStringLiteral("magick"))) +
           QStringLiteral(" '{}[0]' -auto-orient -resize 25% ") + profileArgs +
           QStringLiteral("-strip -type TrueColor -colorspace sRGB -compress none BMP3:- | ") +
           quoted(vendor(QStringLiteral("cjpeg"))) +
           QStringLiteral(" -quality 75 -outfile '{}.jpg' && rm '{}'\"");
}

enum Way { Job, Single, Steps, Alone, Ways };
const char *const kNames[Ways] = {"job", "ConvertPdf", "steps", "gs -r96"};

// The medians of one page count.
struct Row {
    int pages = 0;
    double seconds[Ways] = {};
    double cpu[Ways] = {};
    qint64 peak[Ways] = {};
};

// What the rounds of one page count measured.
struct Samples {
    QList<double> times[Ways];
    QList<double> cpus[Ways];
    qint64 peaks[Ways] = {};
};

QString okOr(bool ok, const QString &reason)
{
    return ok ? QStringLiteral("ok") : reason;
}

// The job with every worker, over the one PDF.
void runJob(const QString &pdf, const ConversionOptions &options, QString &state)
{
    TConversionJob conversion({TJobItem{pdf, QStringLiteral("PDF"), QString()}}, options, 0);
    QEventLoop loop;
    QObject::connect(&conversion, &TConversionJob::RowFinished, &loop,
                     [&](int, const ConversionResult &r) { state = okOr(r.Success, r.Reason); });
    QObject::connect(&conversion, &TConversionJob::Finished, &loop, &QEventLoop::quit);
    conversion.Start();
    loop.exec();
}

// Converts pdf one way into out; state becomes "ok" or why not.
Measured runWay(int way, const QString &pdf, const QString &out, int cores, QString &state)
{
    const QString cache = GetSpecialFolder(CSIDL_INTERNET_CACHE);
    ConversionOptions options;
    options.SaveFormat = QStringLiteral("JPG");
    options.SavePath = out;
    switch (way) {
    case Job:
        return measure(cache, QStringLiteral("zarvelo-*"), [&] { runJob(pdf, options, state); });
    case Single:
        return measure(cache, QStringLiteral("zarvelo-*"), [&] {
            const ConversionResult r = ConvertPdf(options, pdf);
            state = okOr(r.Success, r.Reason);
        });
    case Steps:
        return measure(out, QStringLiteral("*"), [&] {
            state = okOr(
                runQuiet(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), stepsScript(pdf, out, cores)}),
                QStringLiteral("FAILED"));
        });
    default:
        return measure(out, QStringLiteral("*"), [&] {
            state = okOr(
                runQuiet(vendor(QStringLiteral("gs")),
                         {QStringLiteral("-dSAFER"), QStringLiteral("-dNOPAUSE"), QStringLiteral("-dBATCH"),
                          QStringLiteral("-dQUIET"), QStringLiteral("-sDEVICE=jpeg"), QStringLiteral("-r96"),
                          QStringLiteral("-sOutputFile=") + out + QStringLiteral("p-%03d.jpg"), pdf}),
                QStringLiteral("FAILED"));
        });
    }
}

QStringList pagesIn(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name);
}

// Whether the two folders hold as many pages as expected, byte for byte the same.
bool samePages(const QString &a, const QString &b, int pages)
{
    const QStringList first = pagesIn(a);
    const QStringList second = pagesIn(b);
    bool same = first.size() == pages && second.size() == pages;
    for (qsizetype i = 0; same && i < first.size(); ++i) {
        QFile x(a + first[i]), y(b + second[i]);
        same = x.open(QIODevice::ReadOnly) && y.open(QIODevice::ReadOnly) && x.readAll() == y.readAll();
    }
    return same;
}

// One round of every way, starting with way `turn`; adds to samples and
// returns whether every way wrote every page, the engine's two ways and the
// script's steps the same bytes.
bool runRound(int round, int turn, const QString &pdf, int pages, const QString &work, int cores,
              Samples &samples)
{
    QString outs[Ways], states[Ways];
    for (int way = 0; way < Ways; ++way) {
        outs[way] = work + QStringLiteral("/out%1/").arg(way);
        QDir().mkpath(outs[way]);
    }
    for (int k = 0; k < Ways; ++k) {
        const int way = (turn + k) % Ways;
        const Measured m = runWay(way, pdf, outs[way], cores, states[way]);
        samples.times[way] << m.Seconds;
        samples.cpus[way] << m.Cpu;
        samples.peaks[way] = std::max(samples.peaks[way], m.Peak);
    }
    bool complete = true;
    std::printf("  round %d:", round);
    for (int way = 0; way < Ways; ++way) {
        const int files = int(pagesIn(outs[way]).size());
        complete = complete && states[way] == QLatin1String("ok") && files == pages;
        std::printf("  %s %.2f s (%s, %d files)", kNames[way], samples.times[way].last(),
                    qPrintable(states[way]), files);
    }
    // The script's pages must be the engine's, byte for byte, for the
    // comparison to mean anything.
    const bool same = samePages(outs[Job], outs[Steps], pages) && samePages(outs[Job], outs[Single], pages);
    std::printf("  (steps' and ConvertPdf's pages %s the job's)\n",
                same ? "are byte for byte" : "DIFFER from");
    std::fflush(stdout);
    for (const QString &folder : outs)
        QDir(folder).removeRecursively();
    return complete && same;
}

void printRow(const Row &row)
{
    std::printf("%4d pages, medians:", row.pages);
    for (int way = 0; way < Ways; ++way)
        std::printf("  %s %.2f s (%.1f cpu-s)", kNames[way], row.seconds[way], row.cpu[way]);
    std::printf("\n           job/gs %.1f (target <= 8)  steps/gs %.1f  job/steps %.2f  ConvertPdf/job %.2f\n"
                "           scratch peak: job %.1f MB  ConvertPdf %.1f MB; load after: %s\n",
                row.seconds[Job] / row.seconds[Alone], row.seconds[Steps] / row.seconds[Alone],
                row.seconds[Job] / row.seconds[Steps], row.seconds[Single] / row.seconds[Job],
                row.peak[Job] / 1048576.0, row.peak[Single] / 1048576.0, qPrintable(loadAverage()));
    std::fflush(stdout);
}

// Every round for one page count; the medians go to row. False when a round
// came up short or its outputs differed (or the PDF could not be made).
bool benchPages(int pages, int rounds, const QString &work, int cores, int &turn, Row &row)
{
    const QString pdf = work + QStringLiteral("/doc%1.pdf").arg(pages);
    if (!writePdf(pdf, pages)) {
        std::fprintf(stderr, "cannot write the PDF\n");
        return false;
    }
    std::printf("%d pages (%.1f KB PDF), %d workers, load before: %s\n", pages,
                QFileInfo(pdf).size() / 1024.0, cores, qPrintable(loadAverage()));
    std::fflush(stdout);
    Samples samples;
    bool good = true;
    for (int round = 0; round < rounds; ++round)
        good = runRound(round, turn++, pdf, pages, work, cores, samples) && good;
    row.pages = pages;
    for (int way = 0; way < Ways; ++way) {
        row.seconds[way] = median(samples.times[way]);
        row.cpu[way] = median(samples.cpus[way]);
        row.peak[way] = samples.peaks[way];
    }
    printRow(row);
    return good;
}

void printGrowth(const QList<Row> &rows)
{
    for (qsizetype i = 1; i < rows.size(); ++i) {
        const Row &a = rows[i - 1];
        const Row &b = rows[i];
        std::printf("%d -> %d pages (x%.1f): job time x%.2f, gs time x%.2f, job scratch peak x%.2f\n",
                    a.pages, b.pages, double(b.pages) / a.pages, b.seconds[Job] / a.seconds[Job],
                    b.seconds[Alone] / a.seconds[Alone],
                    double(b.peak[Job]) / double(std::max<qint64>(1, a.peak[Job])));
    }
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
    QList<Row> rows;
    int turn = 0;
    bool good = true;
    for (const int pages : std::as_const(counts)) {
        Row row;
        good = benchPages(pages, rounds, work.path(), cores, turn, row) && good;
        rows.append(row);
    }
    printGrowth(rows);
    if (!good) {
        std::printf("FAILED: a way came up short, or the engine's pages differ from the steps'\n");
        return 1;
    }
    return 0;
}
