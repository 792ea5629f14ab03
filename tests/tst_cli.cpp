// The batch command line, run as the real program in a process: no display,
// no GUI platform, the real image tools.

#include "conversion.h"
#include "platform.h"
#include "testutil.h"

#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

namespace
{

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

// Makes a small picture; JPG, PNG and friends by Qt, by the file's extension.
void writeImage(const QString &path, const char *format, int width = 40)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QImage image(width, 30, QImage::Format_RGB32);
    image.fill(QColor(200, 60, 30));
    QVERIFY2(image.save(path, format), qPrintable(path));
}

// The size of a picture, read by the image tool through a plain name.
QSize pictureSize(const QString &path)
{
    QTemporaryDir plain;
    const QString copy = plain.filePath(QStringLiteral("p.") + QFileInfo(path).suffix());
    if (!QFile::copy(path, copy))
        return QSize();
    QProcess process;
    process.start(testutil::vendorTool(QStringLiteral("magick")),
                  {copy, QStringLiteral("-format"), QStringLiteral("%w %h"), QStringLiteral("info:")});
    process.waitForFinished(60000);
    const QStringList parts = QString::fromLatin1(process.readAllStandardOutput()).split(QLatin1Char(' '));
    return parts.size() == 2 ? QSize(parts[0].toInt(), parts[1].toInt()) : QSize();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

using testutil::readAll;

// Every file below folder, relative, sorted.
QStringList filesBelow(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(folder).relativeFilePath(it.next());
    files.sort();
    return files;
}

// A PDF of the given number of pages, made with this build's interpreter.
void writePdf(const QString &path, int pages)
{
    const QString ps = path + QStringLiteral(".ps");
    writeFile(ps, "%!PS\n<< /PageSize [200 100] >> setpagedevice\n1 1 " + QByteArray::number(pages) +
                      " { pop 0 0 1 setrgbcolor 10 10 180 80 rectfill showpage } for\n");
    QVERIFY(testutil::psToPdf(ps, path));
    QFile::remove(ps);
}

void setModified(const QString &path, const QDateTime &time)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(time, QFileDevice::FileModificationTime));
}

// Each line of text parsed as one JSON object; a line that is none fails.
QList<QJsonObject> jsonLines(const QString &text)
{
    QList<QJsonObject> objects;
    for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line.toUtf8(), &error);
        if (error.error != QJsonParseError::NoError || !document.isObject()) {
            qWarning("not a JSON object: %s", qPrintable(line));
            return {};
        }
        objects.append(document.object());
    }
    return objects;
}

} // namespace

// The run's exit code; a wrong one shows what the program printed on
// standard error (or why it did not run).
#define COMPARE_EXIT(run, expected)                                                                          \
    QVERIFY2(                                                                                                \
        (run).exitCode == (expected),                                                                        \
        qPrintable(                                                                                          \
            QStringLiteral("exit code %1, not %2: %3").arg((run).exitCode).arg(expected).arg((run).err)))

class TestCli : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home; // HOME and XDG folders of the runs: a settings write would show here

    // The environment of a run: no display of any kind, and a GUI platform
    // that does not exist, so a program that loads one fails.
    // With noPlatform the GUI platform is left to Qt's own choice, which
    // fails for want of a display.
    QProcessEnvironment environment(const QString &path = QString(), bool noPlatform = false) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        if (noPlatform)
            env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        else
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("no-such-platform"));
        env.insert(QStringLiteral("HOME"), m_home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.path() + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), m_home.path() + QStringLiteral("/cache"));
        if (!path.isNull())
            env.insert(QStringLiteral("PATH"), path);
        return env;
    }

    Run run(const QStringList &arguments, const QString &workingFolder = QString(),
            const QString &program = testutil::binFolder() + testutil::exeName(QStringLiteral("zarvelo")),
            const QString &path = QString(), bool noPlatform = false) const
    {
        QProcess process;
        process.setProcessEnvironment(environment(path, noPlatform));
        if (!workingFolder.isEmpty())
            process.setWorkingDirectory(workingFolder);
        process.start(program, arguments);
        Run result;
        if (!process.waitForFinished(300000)) {
            result.err = process.errorString();
            process.kill();
            process.waitForFinished();
            return result;
        }
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
        result.out = testutil::unixLines(process.readAllStandardOutput());
        result.err = testutil::unixLines(process.readAllStandardError());
        return result;
    }

  private slots:
    void init()
    {
        const QString why =
            testutil::imageToolSkipReason({QStringLiteral("helpAndVersion"), QStringLiteral("usageErrors")});
        if (!why.isEmpty())
            QSKIP(qPrintable(why));
    }

    void helpAndVersion_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("expected");
        QTest::newRow("--help") << QStringList{"--help"} << "--convert <FORMAT>";
        QTest::newRow("-h") << QStringList{"-h"} << "--keep-tree";
        QTest::newRow("--version") << QStringList{"--version"}
                                   << QStringLiteral("zarvelo ") +
                                          GetVersionString(QStringLiteral("%d.%d.%d"));
    }

    // Both answer on standard output and end, with no display and no GUI
    // platform (a program that loaded one would abort here).
    void helpAndVersion()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, expected);
        const Run r = run(arguments);
        COMPARE_EXIT(r, 0);
        QVERIFY2(r.out.contains(expected), qPrintable(r.out));
        QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
    }

    // A small mixed folder: images at two levels, a text file, a broken PNG,
    // and a decoy already holding an output's name.
    void convertMixedFolder()
    {
        QTemporaryDir dir;
        const QString src = dir.path() + QStringLiteral("/photos");
        writeImage(src + QStringLiteral("/a.png"), "PNG");
        writeImage(src + QStringLiteral("/sub/b.jpg"), "JPG");
        writeFile(src + QStringLiteral("/notes.txt"), "not an image\n");
        writeFile(src + QStringLiteral("/broken.png"),
                  QByteArray("\x89PNG\r\n\x1A\n", 8) + QByteArray(64, 'x'));
        const QString out = dir.path() + QStringLiteral("/out");
        writeFile(out + QStringLiteral("/a.gif"), "decoy");

        const Run r = run({"--convert", "gif", "--out", out, src});
        COMPARE_EXIT(r, 1);
        const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 4);
        QVERIFY2(lines.contains(src + "/a.png -> " + out + "/a (1).gif"), qPrintable(r.out));
        QVERIFY2(lines.contains(src + "/sub/b.jpg -> " + out + "/b.gif"), qPrintable(r.out));
        QVERIFY2(
            lines.filter(QRegularExpression("^" + QRegularExpression::escape(src + "/broken.png") + ": .+"))
                    .size() == 1,
            qPrintable(r.out));
        QCOMPARE(lines.last(), QStringLiteral("2 of 3 files converted, 1 failed."));
        QCOMPARE(readAll(out + QStringLiteral("/a.gif")), QByteArray("decoy"));
        QCOMPARE(QImage(out + QStringLiteral("/b.gif")).width(), 40);
        QCOMPARE(filesBelow(out), (QStringList{"a (1).gif", "a.gif", "b.gif"}));
        QCOMPARE(filesBelow(src).size(), 4); // sources untouched, nothing written beside them
    }

    // All converted: exit 0; the options reach the conversion; no settings
    // file is made anywhere.
    void convertAllWithOptions()
    {
        QTemporaryDir dir;
        writeImage(dir.path() + QStringLiteral("/Pics/a.png"), "PNG", 300);
        writeImage(dir.path() + QStringLiteral("/Pics/deep/er/c.bmp"), "BMP", 300);
        writeImage(dir.path() + QStringLiteral("/single.png"), "PNG", 300);

        const Run r = run({"--convert", "JPEG", "--width", "120", "--quality", "90", "--workers", "2",
                           "--strip-metadata", "--out", "result", "Pics", "single.png"},
                          dir.path());
        COMPARE_EXIT(r, 0);
        QVERIFY2(r.out.endsWith(QStringLiteral("3 of 3 files converted.\n")), qPrintable(r.out));
        const QString out = dir.path() + QStringLiteral("/result");
        QCOMPARE(filesBelow(out), (QStringList{"a.jpg", "c.jpg", "single.jpg"}));
        for (const QString &file : filesBelow(out))
            QCOMPARE(QImage(out + QLatin1Char('/') + file).width(), 120);
        QVERIFY(!QFileInfo::exists(m_home.path() + QStringLiteral("/config/Zarvelo")));
    }

    // A longest edge with shrink only, into AVIF: the wide picture is made
    // smaller, the small one and the tall one keep what fits; a hostile name
    // and a decoy holding an output's name stay as they are.
    void resizeIntoAvif()
    {
        const QString tool = testutil::vendorTool(QStringLiteral("magick"));
        QProcess formats;
        formats.start(tool, {QStringLiteral("-list"), QStringLiteral("format")});
        QVERIFY(formats.waitForFinished(60000));
        if (!QString::fromLocal8Bit(formats.readAllStandardOutput())
                 .contains(QRegularExpression(QStringLiteral("\\bAVIF\\*? +\\S+ +rw"))))
            QSKIP("this build's image tool writes no AVIF");
        QTemporaryDir dir;
        writeImage(dir.path() + QStringLiteral("/wide.png"), "PNG", 300);
        writeImage(dir.path() + QStringLiteral("/-[s] 5%.png"), "PNG", 40);
        QImage tall(20, 120, QImage::Format_RGB32);
        tall.fill(Qt::blue);
        QVERIFY(tall.save(dir.path() + QStringLiteral("/tall.png")));
        writeFile(dir.path() + QStringLiteral("/out/wide.avif"), "decoy");
        const Run r = run({"--convert", "avif", "--long-edge", "100", "--shrink-only", "--out", "out", "--",
                           "wide.png", "-[s] 5%.png", "tall.png"},
                          dir.path());
        COMPARE_EXIT(r, 0);
        const QString out = dir.path() + QStringLiteral("/out/");
        QCOMPARE(filesBelow(out), (QStringList{"-[s] 5%.avif", "tall.avif", "wide (1).avif", "wide.avif"}));
        QCOMPARE(readAll(out + QStringLiteral("wide.avif")), QByteArray("decoy"));
        const QMap<QString, QSize> sizes{{"wide (1).avif", QSize(100, 10)},
                                         {"-[s] 5%.avif", QSize(40, 30)},
                                         {"tall.avif", QSize(17, 100)}};
        for (auto it = sizes.begin(); it != sizes.end(); ++it) {
            QCOMPARE(readAll(out + it.key()).mid(4, 8), QByteArray("ftypavif"));
            QCOMPARE(pictureSize(out + it.key()), it.value());
        }
    }

    // --keep-tree keeps each given folder and its sub-folders below --out;
    // a file given by itself goes straight into --out.
    void keepTree()
    {
        QTemporaryDir dir;
        writeImage(dir.path() + QStringLiteral("/Pics/a.png"), "PNG");
        writeImage(dir.path() + QStringLiteral("/Pics/deep/er/c.bmp"), "BMP");
        writeImage(dir.path() + QStringLiteral("/single.png"), "PNG");
        const Run r =
            run({"--convert", "gif", "--keep-tree", "--out", "result", "Pics", "single.png"}, dir.path());
        COMPARE_EXIT(r, 0);
        QCOMPARE(filesBelow(dir.path() + QStringLiteral("/result")),
                 (QStringList{"Pics/a.gif", "Pics/deep/er/c.gif", "single.gif"}));
    }

    // Given paths that name nothing or no image fail; an empty folder is
    // only noted; the image beside them is converted next to its source.
    void pathsThatAddNothing()
    {
        QTemporaryDir dir;
        writeImage(dir.path() + QStringLiteral("/ok.png"), "PNG");
        writeFile(dir.path() + QStringLiteral("/readme.txt"), "text");
        QDir().mkpath(dir.path() + QStringLiteral("/empty"));
        const Run r = run({"--convert", "png", "missing.jpg", "readme.txt", "empty", "ok.png"}, dir.path());
        COMPARE_EXIT(r, 1);
        QVERIFY2(r.out.contains("missing.jpg: not found\n"), qPrintable(r.out));
        QVERIFY2(r.out.contains("readme.txt: not a supported image\n"), qPrintable(r.out));
        QVERIFY2(r.out.contains("empty: no images found\n"), qPrintable(r.out));
        QVERIFY2(r.out.contains(dir.path() + "/ok.png -> " + dir.path() + "/ok (1).png\n"),
                 qPrintable(r.out));
        // The paths that added nothing count in the total: the counts add up.
        QVERIFY2(r.out.endsWith("1 of 3 files converted, 2 failed.\n"), qPrintable(r.out));
    }

    // Names with pattern characters, a leading minus (after "--") and
    // non-ASCII letters are converted under their own names.
    void hostileNames()
    {
        QTemporaryDir dir;
        const QStringList names{QStringLiteral("[x] 50% -a.png"), QStringLiteral("-lead.png"),
                                QStringLiteral("사진 ü.png")};
        const QStringList outputs{QStringLiteral("[x] 50% -a.gif"), QStringLiteral("-lead (1).gif"),
                                  QStringLiteral("사진 ü.gif")};
        for (const QString &name : names)
            writeImage(dir.path() + QLatin1Char('/') + name, "PNG");
        writeFile(dir.path() + QStringLiteral("/-lead.gif"), "decoy");
        QStringList arguments{"--convert", "gif", "--"};
        arguments << names;
        const Run r = run(arguments, dir.path());
        COMPARE_EXIT(r, 0);
        for (int i = 0; i < names.size(); ++i) {
            const QString output = dir.path() + QLatin1Char('/') + outputs[i];
            QVERIFY2(r.out.contains(dir.path() + QLatin1Char('/') + names[i] + " -> " + output + "\n"),
                     qPrintable(r.out));
            QCOMPARE(QImage(output).width(), 40);
        }
        QCOMPARE(readAll(dir.path() + QStringLiteral("/-lead.gif")), QByteArray("decoy"));
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown format") << QStringList{"--convert", "BMP", "@"} << "unknown format 'BMP'";
        QTest::newRow("no format") << QStringList{"--convert"} << "Missing value after '--convert'";
        QTest::newRow("no --convert") << QStringList{"--width", "100", "@"} << "--convert FORMAT is missing";
        QTest::newRow("width 0") << QStringList{"--convert", "PNG", "--width", "0", "@"} << "--width";
        QTest::newRow("width text") << QStringList{"--convert", "PNG", "--width", "12px", "@"} << "--width";
        QTest::newRow("quality 30") << QStringList{"--convert", "JPG", "--quality", "30", "@"} << "--quality";
        QTest::newRow("workers -1") << QStringList{"--convert", "JPG", "--workers", "-1", "@"} << "--workers";
        QTest::newRow("both metadata")
            << QStringList{"--convert", "JPG", "--keep-metadata", "--strip-metadata", "@"}
            << "exclude each other";
        QTest::newRow("no paths") << QStringList{"--convert", "PNG"} << "no files or folders";
        QTest::newRow("unknown option") << QStringList{"--convert", "PNG", "--colour", "@"} << "colour";
        QTest::newRow("out is a file")
            << QStringList{"--convert", "PNG", "--out", "@", "@"} << "output folder '@': it is a file.";
        QTest::newRow("out below a file")
            << QStringList{"--convert", "PNG", "--out", "@/x", "@"} << "output folder '@/x': '@' is a file.";
        QTest::newRow("shard 0/3") << QStringList{"--convert", "PNG", "--shard", "0/3", "@"} << "--shard";
        QTest::newRow("shard 4/3") << QStringList{"--convert", "PNG", "--shard", "4/3", "@"} << "--shard";
        QTest::newRow("shard text") << QStringList{"--convert", "PNG", "--shard", "1of3", "@"} << "--shard";
        QTest::newRow("two resize modes")
            << QStringList{"--convert", "PNG", "--width", "100", "--long-edge", "100", "@"}
            << "--width and --long-edge exclude each other";
        QTest::newRow("fit without a height")
            << QStringList{"--convert", "PNG", "--fit", "100", "@"} << "--fit needs WxH";
        QTest::newRow("percent 0") << QStringList{"--convert", "PNG", "--percent", "0", "@"} << "--percent";
        QTest::newRow("shrink only alone")
            << QStringList{"--convert", "PNG", "--shrink-only", "@"} << "--shrink-only needs";
        QTest::newRow("existing unknown") << QStringList{"--convert", "PNG", "--existing", "replace", "@"}
                                          << "--existing needs rename, skip or overwrite.";
    }

    // Exit 2, a message on standard error, and nothing written.
    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString image = dir.path() + QStringLiteral("/a.png");
        writeImage(image, "PNG");
        for (QString &argument : arguments)
            argument.replace(QLatin1String("@"), image);
        message.replace(QLatin1String("@"), image);
        const Run r = run(arguments, dir.path());
        COMPARE_EXIT(r, 2);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QVERIFY2(r.out.isEmpty(), qPrintable(r.out));
        QCOMPARE(filesBelow(dir.path()), QStringList{"a.png"});
    }

    // Unknown options and arguments are usage errors, also without --convert
    // and with no display and no platform chosen: never an abort.
    void unknownOptionsWithoutDisplay_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("-v") << QStringList{"-v"} << "Unknown option 'v'";
        QTest::newRow("-x and a path") << QStringList{"-x", "a.png"} << "Unknown option 'x'";
        QTest::newRow("--colour=red") << QStringList{"--colour=red", "a.png"} << "Unknown option 'colour'";
        QTest::newRow("--json alone") << QStringList{"--json", "a.png"} << "--convert FORMAT is missing";
        QTest::newRow("--shard alone") << QStringList{"--shard", "1/2"} << "--convert FORMAT is missing";
    }

    void unknownOptionsWithoutDisplay()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        QTemporaryDir dir;
        writeImage(dir.path() + QStringLiteral("/a.png"), "PNG");
        const Run r =
            run(arguments, dir.path(), testutil::binFolder() + testutil::exeName("zarvelo"), QString(), true);
        COMPARE_EXIT(r, 2);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QCOMPARE(filesBelow(dir.path()), QStringList{"a.png"});
    }

    // --json: every line is an object, one per source, and says what the
    // human lines say; a name with a newline comes back as it is, while the
    // human line shows it as "\n" and stays one line.
    void jsonMatchesHumanLines()
    {
        QTemporaryDir dir;
        const QString src = dir.path() + QStringLiteral("/in");
        // A newline and " -> " in a name; Windows names hold neither.
        const QString oddStem = testutil::executableSuffix().isEmpty() ? QStringLiteral("two\nlines -> x")
                                                                       : QStringLiteral("two lines - x");
        const QString shownStem = QString(oddStem).replace(QLatin1Char('\n'), QStringLiteral("\\n"));
        const QString odd = src + QLatin1Char('/') + oddStem + QStringLiteral(".png");
        writeImage(odd, "PNG");
        writeImage(src + QStringLiteral("/b.jpg"), "JPG");
        writeFile(src + QStringLiteral("/broken.png"),
                  QByteArray("\x89PNG\r\n\x1A\n", 8) + QByteArray(64, 'x'));
        writePdf(src + QStringLiteral("/doc.pdf"), 2);
        const QStringList common{"--convert", "gif", "--workers", "2"};

        const Run human =
            run(common + QStringList{"--out", dir.path() + "/h", src, "missing.png"}, dir.path());
        COMPARE_EXIT(human, 1);
        QStringList lines = human.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        // Each page of the document as it was written, before its row's line.
        const QString pdf = src + QStringLiteral("/doc.pdf");
        for (int page = 1; page <= 2; ++page)
            QVERIFY2(lines.removeOne(pdf + QStringLiteral(": page %1 of 2 -> ").arg(page) + dir.path() +
                                     QStringLiteral("/h/doc-00%1.gif").arg(page)),
                     qPrintable(human.out));
        QCOMPARE(lines.size(), 6); // five sources and the summary
        QVERIFY2(lines.contains(src + "/" + shownStem + ".png -> " + dir.path() + "/h/" + shownStem + ".gif"),
                 qPrintable(human.out));
        QCOMPARE(lines.last(), QStringLiteral("3 of 5 files converted, 2 failed."));

        const Run json =
            run(common + QStringList{"--json", "--out", dir.path() + "/j", src, "missing.png"}, dir.path());
        COMPARE_EXIT(json, 1);
        QVERIFY2(json.err.isEmpty(), qPrintable(json.err)); // no progress line when not on a terminal
        const QList<QJsonObject> objects = jsonLines(json.out);
        QCOMPARE(objects.size(), 6);
        QMap<QString, QJsonObject> bySource;
        for (qsizetype i = 0; i < objects.size() - 1; ++i)
            bySource.insert(objects[i]["source"].toString(), objects[i]);
        QCOMPARE(bySource.size(), 5);
        for (auto it = bySource.cbegin(); it != bySource.cend(); ++it) {
            const QJsonObject &o = it.value();
            QStringList outputs;
            for (const QJsonValue &output : o["outputs"].toArray()) {
                outputs.append(output.toString());
                QVERIFY2(QFileInfo::exists(output.toString()), qPrintable(output.toString()));
            }
            QCOMPARE(o["pages"].toInt(), outputs.size());
            // The same line, from the JSON fields, in the other run's folder.
            QString source = it.key();
            source.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
            const QString line =
                o["status"].toString() == QLatin1String("converted")
                    ? source + " -> " + outputs.join(", ").replace("/j/", "/h/").replace("\n", "\\n")
                    : source + ": " + o["reason"].toString();
            QVERIFY2(lines.contains(line), qPrintable(line + "\n" + human.out));
        }
        QCOMPARE(bySource[odd]["outputs"].toArray(), QJsonArray{dir.path() + "/j/" + oddStem + ".gif"});
        QCOMPARE(bySource[src + "/doc.pdf"]["pages"].toInt(), 2);
        QCOMPARE(bySource["missing.png"]["status"].toString(), QStringLiteral("failed"));
        const QJsonObject summary = objects.last();
        QVERIFY(summary["summary"].toBool());
        QCOMPARE(summary["total"].toInt(), 5);
        QCOMPARE(summary["converted"].toInt(), 3);
        QCOMPARE(summary["failed"].toInt(), 2);
        QCOMPARE(summary["cancelled"].toInt(), 0);
    }

    // A folder converted again with --existing: skip writes nothing and
    // reports each source as skipped, with the outputs that were there;
    // overwrite writes the same names again; the totals add up.
    void existingRerun()
    {
        QTemporaryDir dir;
        const QString src = dir.path() + QStringLiteral("/src");
        // Windows names hold none of * ? ".
        const QString hostileName = testutil::executableSuffix().isEmpty() ? QStringLiteral("-[x] *?%\" ü")
                                                                          : QStringLiteral("-[x] %' ü");
        const QString hostile = src + QLatin1Char('/') + hostileName + QStringLiteral(".png");
        writeImage(src + QStringLiteral("/a.png"), "PNG");
        writeImage(hostile, "PNG");
        writePdf(src + QStringLiteral("/doc.pdf"), 2);
        const QStringList common{"--convert", "jpg", "--out", "o", "src"};
        const Run first = run(common, dir.path());
        COMPARE_EXIT(first, 0);
        const QStringList outputs{hostileName + ".jpg", "a.jpg", "doc-001.jpg", "doc-002.jpg"};
        QCOMPARE(filesBelow(dir.path() + "/o"), outputs);
        for (const QString &name : outputs)
            writeFile(dir.path() + "/o/" + name, "earlier output");

        const Run skipped = run(QStringList{"--existing", "skip", "--json"} + common, dir.path());
        COMPARE_EXIT(skipped, 0);
        const QList<QJsonObject> objects = jsonLines(skipped.out);
        QCOMPARE(objects.size(), 4);
        for (qsizetype i = 0; i < 3; ++i) {
            QCOMPARE(objects[i]["status"].toString(), QStringLiteral("skipped"));
            QCOMPARE(objects[i]["reason"].toString(), QStringLiteral("output exists"));
            for (const QJsonValue &output : objects[i]["outputs"].toArray())
                QCOMPARE(readAll(output.toString()), QByteArray("earlier output"));
        }
        const QJsonObject summary = objects.last();
        QCOMPARE(summary["total"].toInt(), 3);
        QCOMPARE(summary["skipped"].toInt(), 3);
        QCOMPARE(summary["converted"].toInt(), 0);
        QCOMPARE(summary["failed"].toInt() + summary["cancelled"].toInt(), 0);
        for (const QString &name : outputs)
            QCOMPARE(readAll(dir.path() + "/o/" + name), QByteArray("earlier output"));

        const Run human = run(QStringList{"--existing", "skip"} + common, dir.path());
        COMPARE_EXIT(human, 0);
        QVERIFY2(human.out.contains(src + "/a.png -> " + dir.path() + "/o/a.jpg (skipped: output exists)\n"),
                 qPrintable(human.out));
        QVERIFY2(human.out.endsWith("0 of 3 files converted, 3 skipped (output exists).\n"),
                 qPrintable(human.out));

        const Run replaced = run(QStringList{"--existing", "overwrite"} + common, dir.path());
        COMPARE_EXIT(replaced, 0);
        QVERIFY2(replaced.out.endsWith("3 of 3 files converted.\n"), qPrintable(replaced.out));
        QCOMPARE(filesBelow(dir.path() + "/o"), outputs);
        for (const QString &name : outputs)
            QVERIFY2(!QImage(dir.path() + "/o/" + name).isNull(), qPrintable(name));
        QCOMPARE(filesBelow(src), (QStringList{hostileName + ".png", "a.png", "doc.pdf"}));
    }

    // On a terminal standard error shows "n/N" while the run goes on.
    void progressOnTerminal()
    {
        const QString script = QStandardPaths::findExecutable(QStringLiteral("script"));
        if (script.isEmpty())
            QSKIP("no 'script' program to run the command line on a terminal");
        QTemporaryDir dir;
        writeImage(dir.path() + QStringLiteral("/a.png"), "PNG");
        writeImage(dir.path() + QStringLiteral("/b.png"), "PNG");
        const QString program = testutil::binFolder() + testutil::exeName(QStringLiteral("zarvelo"));
        const Run r =
            run({"-qec", "'" + program + "' --convert gif --workers 1 a.png b.png 2>&1", "/dev/null"},
                dir.path(), script);
        COMPARE_EXIT(r, 0);
        QVERIFY2(r.out.contains("\r\x1b[K1/2"), qPrintable(r.out));
        QVERIFY2(r.out.contains("2 of 2 files converted."), qPrintable(r.out));
    }

    // --keep-dates gives every output its source's time, each page of a PDF
    // too; without it the outputs are new.
    void keepDates()
    {
        QTemporaryDir dir;
        const QDateTime photoTime(QDate(2001, 2, 3), QTime(4, 5, 6));
        const QDateTime pdfTime(QDate(2010, 7, 8), QTime(9, 10, 11));
        writeImage(dir.path() + QStringLiteral("/photo.png"), "PNG");
        writePdf(dir.path() + QStringLiteral("/doc.pdf"), 3);
        setModified(dir.path() + QStringLiteral("/photo.png"), photoTime);
        setModified(dir.path() + QStringLiteral("/doc.pdf"), pdfTime);

        const Run keeping =
            run({"--convert", "jpg", "--keep-dates", "--out", "kept", "photo.png", "doc.pdf"}, dir.path());
        COMPARE_EXIT(keeping, 0);
        const QString kept = dir.path() + QStringLiteral("/kept/");
        QCOMPARE(filesBelow(dir.path() + "/kept"),
                 (QStringList{"doc-001.jpg", "doc-002.jpg", "doc-003.jpg", "photo.jpg"}));
        QCOMPARE(QFileInfo(kept + "photo.jpg").lastModified(), photoTime);
        for (const char *page : {"doc-001.jpg", "doc-002.jpg", "doc-003.jpg"})
            QCOMPARE(QFileInfo(kept + page).lastModified(), pdfTime);

        const Run plain = run({"--convert", "jpg", "--out", "new", "photo.png"}, dir.path());
        COMPARE_EXIT(plain, 0);
        QVERIFY(QFileInfo(dir.path() + "/new/photo.jpg").lastModified() >
                QDateTime::currentDateTime().addDays(-1));
    }

    // Three shards run by GNU parallel give together the outputs of one run,
    // under the same names, each source converted once; sources that compete
    // for a name ("a.png", "a.jpg", "a (1).gif", "a-001.png" beside "a.pdf")
    // share a shard.
    void shardsWithParallel()
    {
        const QString parallel = QStandardPaths::findExecutable(QStringLiteral("parallel"));
        if (parallel.isEmpty())
            QSKIP("GNU parallel is not installed (scripts/setup installs it)");
        QTemporaryDir dir;
        const QString src = dir.path() + QStringLiteral("/src");
        for (const QString name : {"a.png", "a (1).bmp", "a-001.png", "A.tif", "sub/a.png", "sub/c d.png",
                                   "x/[y] 50%.png", "m/n/o.jpg", "p1.png", "p2.png", "p3.png", "p4.png"})
            writeImage(src + QLatin1Char('/') + name, name.endsWith("jpg")   ? "JPG"
                                                      : name.endsWith("bmp") ? "BMP"
                                                                             : "PNG");
        writeImage(src + QStringLiteral("/a.jpg"), "JPG");
        writePdf(src + QStringLiteral("/a.pdf"), 2);
        writeFile(src + QStringLiteral("/notes.txt"), "text");
        const QString program = testutil::binFolder() + testutil::exeName(QStringLiteral("zarvelo"));

        const Run single = run({"--convert", "png", "--json", "--out", "single", "src"}, dir.path());
        COMPARE_EXIT(single, 0);
        const Run shards = run({"--jobs", "3", "--line-buffer", program, "--convert", "png", "--json",
                                "--out", "sharded", "--shard", "{}/3", "src", ":::", "1", "2", "3"},
                               dir.path(), parallel);
        COMPARE_EXIT(shards, 0);

        QCOMPARE(filesBelow(dir.path() + "/sharded"), filesBelow(dir.path() + "/single"));
        QStringList singleSources, shardSources;
        int summaries = 0, total = 0;
        for (const QJsonObject &o : jsonLines(single.out)) {
            if (!o["summary"].toBool())
                singleSources.append(o["source"].toString());
        }
        for (const QJsonObject &o : jsonLines(shards.out)) {
            if (o["summary"].toBool()) {
                ++summaries;
                total += o["total"].toInt();
                QVERIFY(o["shard"].toString().endsWith("/3"));
            } else {
                shardSources.append(o["source"].toString());
            }
        }
        QCOMPARE(summaries, 3);
        QCOMPARE(singleSources.size(), 14);
        QCOMPARE(total, 14);
        singleSources.sort();
        shardSources.sort();
        QCOMPARE(shardSources, singleSources); // each source once, none left out
    }
    // Outputs never become inputs: with --out inside the given folder, each
    // of three runs converts the two sources, and keep-tree never nests.
    void outputInsideSource_data()
    {
        QTest::addColumn<bool>("keepTree");
        QTest::addColumn<QStringList>("outputs");
        QTest::newRow("flat") << false << QStringList{"a (1).gif", "a (2).gif", "a.gif",
                                                      "b (1).gif", "b (2).gif", "b.gif"};
        QTest::newRow("keep tree") << true
                                   << QStringList{"src/a (1).gif",     "src/a (2).gif",     "src/a.gif",
                                                  "src/sub/b (1).gif", "src/sub/b (2).gif", "src/sub/b.gif"};
    }

    void outputInsideSource()
    {
        QFETCH(bool, keepTree);
        QFETCH(QStringList, outputs);
        QTemporaryDir dir;
        writeImage(dir.path() + QStringLiteral("/src/a.png"), "PNG");
        writeImage(dir.path() + QStringLiteral("/src/sub/b.png"), "PNG");
        QStringList arguments{"--convert", "gif", "--out", "src/out", "src"};
        if (keepTree)
            arguments.insert(2, QStringLiteral("--keep-tree"));
        for (int i = 0; i < 3; ++i) {
            const Run r = run(arguments, dir.path());
            COMPARE_EXIT(r, 0);
            QVERIFY2(r.out.endsWith(QStringLiteral("2 of 2 files converted.\n")), qPrintable(r.out));
        }
        QCOMPARE(filesBelow(dir.path() + QStringLiteral("/src/out")), outputs);
    }

    // A failed file is named by the user's path with its reason in plain
    // words; --verbose adds the engine's reason and the tools' text below it.
    void plainReasons()
    {
        QTemporaryDir dir;
        writeImage(dir.path() + QStringLiteral("/whole.png"), "PNG", 400);
        const QByteArray png = readAll(dir.path() + QStringLiteral("/whole.png"));
        writeFile(dir.path() + QStringLiteral("/cut.png"), png.left(png.size() / 2));
        writeFile(dir.path() + QStringLiteral("/text.png"), "just some words, no picture\n");

        const Run r = run({"--convert", "gif", "cut.png", "text.png"}, dir.path());
        COMPARE_EXIT(r, 1);
        QVERIFY2(r.out.contains(dir.path() + "/cut.png: the file is damaged or truncated\n"),
                 qPrintable(r.out));
        QVERIFY2(r.out.contains(dir.path() + "/text.png: the file is not an image\n"), qPrintable(r.out));
        // Neither the scratch names nor the tools' words.
        QVERIFY2(!r.out.contains(QLatin1Char('`')) && !r.out.contains(QStringLiteral("image tool")),
                 qPrintable(r.out));

        const Run verbose = run({"--convert", "gif", "--verbose", "cut.png"}, dir.path());
        COMPARE_EXIT(verbose, 1);
        QVERIFY2(
            verbose.out.contains(dir.path() + "/cut.png: the file is damaged or truncated\n    image tool"),
            qPrintable(verbose.out));
        // The Windows build's image tool prints its messages' tags.
        QVERIFY2(verbose.out.contains(QRegularExpression(QStringLiteral("\n    \\S+: (no images defined|NoImagesDefined)"))),
                 qPrintable(verbose.out));
    }

    // AVIF and HEIC pictures are listed by their signature, whatever their
    // name, and converted.
    void heifPictures()
    {
        QTemporaryDir dir;
        const QString tool = testutil::vendorTool(QStringLiteral("magick"));
        // The Windows build's image tool is made without the HEIF coder.
        QProcess formats;
        formats.start(tool, {QStringLiteral("-list"), QStringLiteral("format")});
        QVERIFY(formats.waitForFinished(60000));
        const QString list = QString::fromLocal8Bit(formats.readAllStandardOutput());
        if (!list.contains(QRegularExpression(QStringLiteral("\\bAVIF\\*? +\\S+ +r"))))
            QSKIP("this build's image tool reads no AVIF or HEIC");
        for (const char *name : {"a.avif", "b.heic"})
            QCOMPARE(QProcess::execute(tool, {QStringLiteral("rose:"), dir.filePath(QLatin1String(name))}),
                     0);
        QVERIFY(QFile::copy(dir.filePath(QStringLiteral("a.avif")), dir.filePath(QStringLiteral("c.bin"))));
        const Run r = run({"--convert", "png", "--out", "out", "a.avif", "b.heic", "c.bin"}, dir.path());
        COMPARE_EXIT(r, 0);
        QVERIFY2(r.out.endsWith(QStringLiteral("3 of 3 files converted.\n")), qPrintable(r.out));
        for (const char *name : {"a.png", "b.png", "c.png"})
            QCOMPARE(QImage(dir.filePath(QStringLiteral("out/") + QLatin1String(name))).width(), 70);
    }

#ifdef Q_OS_UNIX
    // A name that is not UTF-8, given or met in a folder, and a folder that
    // may not be read each give a failed line with the reason, and exit 1.
    // Permission bits stop no root: then the program runs as "nobody".
    void intakeFailures()
    {
        const passwd *nobody = ::getpwnam("nobody");
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (::geteuid() == 0 && (!nobody || setpriv.isEmpty()))
            QSKIP("running as root, and no unprivileged user to run the program as");
        QTemporaryDir dir;
        QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::Permissions(0x7777)));
        writeImage(dir.path() + QStringLiteral("/pics/ok.png"), "PNG");
        writeImage(dir.path() + QStringLiteral("/pics/locked/in.png"), "PNG");
        const QByteArray root = QFile::encodeName(dir.path());
        const QByteArray png = readAll(dir.path() + QStringLiteral("/pics/ok.png"));
        for (const QByteArray &name : {root + "/caf\xe9.png", root + "/pics/\xff.png"}) {
            FILE *file = std::fopen(name.constData(), "wb");
            QVERIFY(file && std::fwrite(png.constData(), 1, size_t(png.size()), file) == size_t(png.size()));
            std::fclose(file);
        }
        QVERIFY(
            QFile::setPermissions(dir.path() + QStringLiteral("/pics/locked"), QFileDevice::Permissions()));

        QProcess process;
        QProcessEnvironment env = environment();
        for (const char *name : {"HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
            env.insert(QLatin1String(name), dir.path() + QStringLiteral("/home"));
        process.setProcessEnvironment(env);
        QStringList arguments{
            QStringLiteral("-c"),
            QStringLiteral("exec \"$0\" --convert gif --out \"$1/out\" \"$1/$(printf 'caf\\351').png\" "
                           "\"$1/pics\""),
            testutil::binFolder() + testutil::exeName(QStringLiteral("zarvelo")), dir.path()};
        QString program = QStringLiteral("/bin/sh");
        if (::geteuid() == 0) {
            arguments = QStringList{QStringLiteral("--reuid=%1").arg(nobody->pw_uid),
                                    QStringLiteral("--regid=%1").arg(nobody->pw_gid),
                                    QStringLiteral("--clear-groups"), program} +
                        arguments;
            program = setpriv;
        }
        process.start(program, arguments);
        QVERIFY(process.waitForFinished(120000));
        const QString out = testutil::unixLines(process.readAllStandardOutput());
        const QString err = testutil::unixLines(process.readAllStandardError());
        QFile::setPermissions(dir.path() + QStringLiteral("/pics/locked"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        for (const QByteArray &name : {root + "/caf\xe9.png", root + "/pics/\xff.png"})
            std::remove(name.constData());

        QVERIFY2(process.exitCode() == 1, qPrintable(out + err));
        const QString bad(QChar::ReplacementCharacter);
        const QString renameIt = QStringLiteral(": the name is not valid UTF-8; rename it\n");
        QVERIFY2(out.contains(dir.path() + "/caf" + bad + ".png" + renameIt), qPrintable(out));
        QVERIFY2(out.contains(dir.path() + "/pics/" + bad + ".png" + renameIt), qPrintable(out));
        QVERIFY2(out.contains(dir.path() + "/pics/locked: the folder cannot be read\n"), qPrintable(out));
        QVERIFY2(out.contains(dir.path() + "/pics/ok.png -> " + dir.path() + "/out/ok.gif\n"),
                 qPrintable(out));
        QVERIFY2(out.endsWith(QStringLiteral("1 of 4 files converted, 3 failed.\n")), qPrintable(out));
    }
#endif

    // Without vendor/ beside the program, the tools are the system's, found
    // on PATH; a "convert" that is not ImageMagick is passed over.
    void toolLookupOnPath()
    {
        if (!testutil::executableSuffix().isEmpty())
            QSKIP("only the Unix build looks tools up on PATH; the Windows one ships them in vendor\\");
        QTemporaryDir program; // no vendor folder
        SetProgramFolder(program.path());
        const QByteArray path = qgetenv("PATH");
        const QString fakeBin = QDir::cleanPath(testutil::binFolder() + QStringLiteral("../fakebin"));
        qputenv("PATH", QFile::encodeName(fakeBin + QStringLiteral(":relative:/usr/bin:/bin")));
        const QString imageTool = ExternalToolPath(ExternalTool::ImageTool);
        const QString encoder = ExternalToolPath(ExternalTool::JpegEncoder);
        const QString interpreter = ExternalToolPath(ExternalTool::Interpreter);
        qputenv("PATH", path);
        SetProgramFolder(QString());
        QCOMPARE(imageTool, QStringLiteral("/usr/bin/convert"));
        QCOMPARE(encoder, QStringLiteral("/usr/bin/cjpeg"));
        QCOMPARE(interpreter, QStringLiteral("/usr/bin/gs"));
        // The vendor folder beside the program comes first.
        QCOMPARE(ExternalToolPath(ExternalTool::ImageTool), testutil::vendorTool(QStringLiteral("magick")));
    }

    // Without vendor/ beside it the program takes the tools from PATH, and
    // a "convert" that is not ImageMagick is passed over.
    void toolsFromPath()
    {
        if (!testutil::executableSuffix().isEmpty())
            QSKIP("only the Unix build looks tools up on PATH; the Windows one ships them in vendor\\");
        QTemporaryDir program;
        const QString exe = program.path() + QLatin1Char('/') + testutil::exeName(QStringLiteral("zarvelo"));
        QVERIFY(QFile::copy(testutil::binFolder() + testutil::exeName(QStringLiteral("zarvelo")), exe));
        QVERIFY(QFile::setPermissions(exe, QFile::permissions(exe) | QFileDevice::ExeOwner));
        const QString fakeBin = QDir::cleanPath(testutil::binFolder() + QStringLiteral("../fakebin"));
        QVERIFY(QFileInfo(fakeBin + QStringLiteral("/convert")).isExecutable());

        QTemporaryDir dir;
        writeImage(dir.path() + QStringLiteral("/a.png"), "PNG");
        const Run r =
            run({"--convert", "JPG", "a.png"}, dir.path(), exe, fakeBin + QStringLiteral(":/usr/bin:/bin"));
        COMPARE_EXIT(r, 0);
        QVERIFY2(r.out.contains("a.png -> " + dir.path() + "/a.jpg"), qPrintable(r.out));
        QCOMPARE(QImage(dir.path() + QStringLiteral("/a.jpg")).width(), 40);

        // No ImageMagick anywhere on PATH: the file fails with a reason.
        const Run none = run({"--convert", "PNG", "a.png"}, dir.path(), exe, fakeBin);
        COMPARE_EXIT(none, 1);
        QVERIFY2(none.out.contains(dir.path() + "/a.png: "), qPrintable(none.out));
        QVERIFY(!QFileInfo::exists(dir.path() + QStringLiteral("/a (1).png")));
        // The program's folder got no settings file.
        QCOMPARE(QDir(program.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"zarvelo"});
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
