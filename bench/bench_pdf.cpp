// Time and peak scratch disk of the PDF route against the interpreter alone.
// For each page count a PDF of Letter pages with real content (a heading,
// forty lines of body text, a table of ruled cells and filled shapes) is
// converted to JPG three ways in turns that rotate which goes first: by the
// job with all workers (the pages shared among them), by ConvertPdf alone
// (one page after another), and rendered straight to JPEG files at 96 dpi by
// the interpreter alone. Prints, per page count, the median times, the
// ratios to the interpreter, the peak scratch disk of both engine runs and
// the machine's load; then how each grows with the page count.
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

namespace
{
QString vendor(const QString &name)
{
    return ProgramFolder() + QStringLiteral("vendor/") + name;
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

// Runs work while sampling the bytes under folder (entries matching pattern)
// every 10 ms; returns {seconds, peak bytes}.
template <typename Work>
std::pair<double, qint64> measure(const QString &folder, const QString &pattern, Work work)
{
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
    return {seconds, std::max<qint64>(peak, folderBytes(folder, pattern))};
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
    const QString cache = GetSpecialFolder(CSIDL_INTERNET_CACHE);
    struct Row {
        int pages;
        double jobS, singleS, gsS;
        qint64 jobPeak, singlePeak;
    };
    QList<Row> rows;
    int turn = 0;
    for (const int pages : std::as_const(counts)) {
        const QString pdf = work.path() + QStringLiteral("/doc%1.pdf").arg(pages);
        if (!writePdf(pdf, pages)) {
            std::fprintf(stderr, "cannot write the PDF\n");
            return 1;
        }
        std::printf("%d pages (%.1f KB PDF), %d workers, load before: %s\n", pages,
                    QFileInfo(pdf).size() / 1024.0, cores, qPrintable(loadAverage()));
        std::fflush(stdout);
        QList<double> jobTimes, singleTimes, gsTimes;
        qint64 jobPeak = 0, singlePeak = 0;
        for (int round = 0; round < rounds; ++round) {
            const QString jobOut = work.path() + QStringLiteral("/job/");
            const QString singleOut = work.path() + QStringLiteral("/single/");
            const QString gsOut = work.path() + QStringLiteral("/gs/");
            for (const QString &folder : {jobOut, singleOut, gsOut})
                QDir().mkpath(folder);
            ConversionOptions options;
            options.SaveFormat = QStringLiteral("JPG");
            QString jobState, singleState, gsState;
            const auto job = [&] {
                options.SavePath = jobOut;
                const auto m = measure(cache, QStringLiteral("zarvelo-*"), [&] {
                    TConversionJob conversion({TJobItem{pdf, QStringLiteral("PDF"), QString()}}, options, 0);
                    QEventLoop loop;
                    QObject::connect(&conversion, &TConversionJob::RowFinished, &loop,
                                     [&](int, const ConversionResult &r) {
                                         jobState = r.Success ? QStringLiteral("ok") : r.Reason;
                                     });
                    QObject::connect(&conversion, &TConversionJob::Finished, &loop, &QEventLoop::quit);
                    conversion.Start();
                    loop.exec();
                });
                jobTimes << m.first;
                jobPeak = std::max(jobPeak, m.second);
            };
            const auto single = [&] {
                options.SavePath = singleOut;
                const auto m = measure(cache, QStringLiteral("zarvelo-*"), [&] {
                    const ConversionResult r = ConvertPdf(options, pdf);
                    singleState = r.Success ? QStringLiteral("ok") : r.Reason;
                });
                singleTimes << m.first;
                singlePeak = std::max(singlePeak, m.second);
            };
            const auto alone = [&] {
                const auto m = measure(gsOut, QStringLiteral("*"), [&] {
                    gsState =
                        runQuiet(vendor(QStringLiteral("gs")),
                                 {QStringLiteral("-dSAFER"), QStringLiteral("-dNOPAUSE"),
                                  QStringLiteral("-dBATCH"), QStringLiteral("-dQUIET"),
                                  QStringLiteral("-sDEVICE=jpeg"), QStringLiteral("-r96"),
                                  QStringLiteral("-sOutputFile=") + gsOut + QStringLiteral("p-%03d.jpg"),
                                  pdf})
                            ? QStringLiteral("ok")
                            : QStringLiteral("FAILED");
                });
                gsTimes << m.first;
            };
            for (int k = 0; k < 3; ++k) {
                switch ((turn + k) % 3) {
                case 0:
                    job();
                    break;
                case 1:
                    single();
                    break;
                default:
                    alone();
                    break;
                }
            }
            ++turn;
            std::printf(
                "  round %d: job %.2f s (%s, %d files)  ConvertPdf %.2f s (%s, %d files)  gs alone %.2f s "
                "(%s)\n",
                round, jobTimes.last(), qPrintable(jobState), int(QDir(jobOut).entryList(QDir::Files).size()),
                singleTimes.last(), qPrintable(singleState),
                int(QDir(singleOut).entryList(QDir::Files).size()), gsTimes.last(), qPrintable(gsState));
            std::fflush(stdout);
            for (const QString &folder : {jobOut, singleOut, gsOut})
                QDir(folder).removeRecursively();
        }
        const Row row{pages, median(jobTimes), median(singleTimes), median(gsTimes), jobPeak, singlePeak};
        rows.append(row);
        std::printf(
            "%4d pages, medians: job %.2f s  ConvertPdf %.2f s  gs alone %.2f s  job/gs %.1f (target <= 8)  "
            "ConvertPdf/gs %.1f  ConvertPdf/job %.2f\n"
            "           scratch peak: job %.1f MB  ConvertPdf %.1f MB; load after: %s\n",
            pages, row.jobS, row.singleS, row.gsS, row.jobS / row.gsS, row.singleS / row.gsS,
            row.singleS / row.jobS, row.jobPeak / 1048576.0, row.singlePeak / 1048576.0,
            qPrintable(loadAverage()));
        std::fflush(stdout);
    }
    for (qsizetype i = 1; i < rows.size(); ++i) {
        const Row &a = rows[i - 1];
        const Row &b = rows[i];
        std::printf("%d -> %d pages (x%.1f): job time x%.2f, gs time x%.2f, job scratch peak x%.2f\n",
                    a.pages, b.pages, double(b.pages) / a.pages, b.jobS / a.jobS, b.gsS / a.gsS,
                    double(b.jobPeak) / double(std::max<qint64>(1, a.jobPeak)));
    }
    return 0;
}
