// Time and peak scratch disk of the PDF route against the interpreter alone.
// For each page count a PDF of Letter pages (a coloured field and text) is
// converted to JPG by ConvertPdf, and rendered straight to JPEG files at
// 96 dpi by the interpreter alone; the two runs alternate which goes first.
// Prints, per page count, both times, their ratio, the engine's peak scratch
// disk and the interpreter's output size, then how each grows with the page
// count.
//
// Usage: bench_pdf [pages...]   (default: 10 40 160)

#include "common.h"
#include "conversion.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

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
    file.write(
        "%!PS\n<< /PageSize [612 792] >> setpagedevice\n/Helvetica findfont 48 scalefont setfont\n1 1 " +
        QByteArray::number(pages) +
        " { /n exch def 0.2 0.4 0.8 setrgbcolor 72 72 468 648 rectfill\n"
        "1 setgray 100 400 moveto (Page ) show n 3 string cvs show showpage } for\n");
    file.close();
    const bool made =
        runQuiet(vendor(QStringLiteral("gs")),
                 {QStringLiteral("-q"), QStringLiteral("-dNOPAUSE"), QStringLiteral("-dBATCH"),
                  QStringLiteral("-sDEVICE=pdfwrite"), QStringLiteral("-sOutputFile=") + path, ps});
    QFile::remove(ps);
    return made;
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
    for (const QString &argument : app.arguments().mid(1))
        if (argument.toInt() > 0)
            counts << argument.toInt();
    if (counts.isEmpty())
        counts = {10, 40, 160};

    QTemporaryDir work;
    const QString cache = GetSpecialFolder(CSIDL_INTERNET_CACHE);
    struct Row {
        int pages;
        double engineS, gsS;
        qint64 enginePeak, gsPeak;
    };
    QList<Row> rows;
    for (const int pages : std::as_const(counts)) {
        const QString pdf = work.path() + QStringLiteral("/doc%1.pdf").arg(pages);
        if (!writePdf(pdf, pages)) {
            std::fprintf(stderr, "cannot write the PDF\n");
            return 1;
        }
        const QString engineOut = work.path() + QStringLiteral("/engine%1/").arg(pages);
        const QString gsOut = work.path() + QStringLiteral("/gs%1/").arg(pages);
        QDir().mkpath(engineOut);
        QDir().mkpath(gsOut);
        ConversionOptions options;
        options.SaveFormat = QStringLiteral("JPG");
        options.SavePath = engineOut;
        bool engineOk = false;
        bool gsOk = false;
        const auto engine = [&] {
            return measure(cache, QStringLiteral("zarvelo-*"),
                           [&] { engineOk = ConvertPdf(options, pdf).Success; });
        };
        const auto alone = [&] {
            return measure(gsOut, QStringLiteral("*"), [&] {
                gsOk = runQuiet(
                    vendor(QStringLiteral("gs")),
                    {QStringLiteral("-dSAFER"), QStringLiteral("-dNOPAUSE"), QStringLiteral("-dBATCH"),
                     QStringLiteral("-dQUIET"), QStringLiteral("-sDEVICE=jpeg"), QStringLiteral("-r96"),
                     QStringLiteral("-sOutputFile=") + gsOut + QStringLiteral("p-%03d.jpg"), pdf});
            });
        };
        std::pair<double, qint64> e, g;
        if (rows.size() % 2 == 0) {
            e = engine();
            g = alone();
        } else {
            g = alone();
            e = engine();
        }
        rows.append({pages, e.first, g.first, e.second, g.second});
        std::printf("%4d pages  engine %7.2f s (%s)  gs alone %6.2f s (%s)  ratio %5.1f  "
                    "engine scratch peak %6.1f MB  gs output %5.1f MB\n",
                    pages, e.first, engineOk ? "ok" : "FAILED", g.first, gsOk ? "ok" : "FAILED",
                    e.first / g.first, e.second / 1048576.0, g.second / 1048576.0);
        std::fflush(stdout);
        QDir(engineOut).removeRecursively();
        QDir(gsOut).removeRecursively();
    }
    for (qsizetype i = 1; i < rows.size(); ++i) {
        const Row &a = rows[i - 1];
        const Row &b = rows[i];
        std::printf("%d -> %d pages (x%.1f): engine time x%.2f, gs time x%.2f, engine scratch peak x%.2f\n",
                    a.pages, b.pages, double(b.pages) / a.pages, b.engineS / a.engineS, b.gsS / a.gsS,
                    double(b.enginePeak) / double(std::max<qint64>(1, a.enginePeak)));
    }
    return 0;
}
