// The batch command line, run as the real program in a process: no display,
// no GUI platform, the real image tools.

#include "conversion.h"
#include "platform.h"
#include "testutil.h"

#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

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

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

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

} // namespace

// The run's exit code; a wrong one shows what the program printed on
// standard error (or why it did not run).
#define COMPARE_EXIT(run, expected)                                                                          \
    QVERIFY2((run).exitCode == (expected),                                                                   \
             qPrintable(QStringLiteral("exit code %1, not %2: %3").arg((run).exitCode).arg(expected).arg((run).err)))

class TestCli : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home; // HOME and XDG folders of the runs: a settings write would show here

    // The environment of a run: no display of any kind, and a GUI platform
    // that does not exist, so a program that loads one fails.
    QProcessEnvironment environment(const QString &path = QString()) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
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
            const QString &path = QString()) const
    {
        QProcess process;
        process.setProcessEnvironment(environment(path));
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
            << QStringList{"--convert", "PNG", "--out", "@", "@"} << "output folder";
    }

    // Exit 2, a message on standard error, and nothing written.
    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString image = dir.path() + QStringLiteral("/a.png");
        writeImage(image, "PNG");
        for (QString &argument : arguments) {
            if (argument == QLatin1String("@"))
                argument = image;
        }
        const Run r = run(arguments, dir.path());
        COMPARE_EXIT(r, 2);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QVERIFY2(r.out.isEmpty(), qPrintable(r.out));
        QCOMPARE(filesBelow(dir.path()), QStringList{"a.png"});
    }

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
        QCOMPARE(ExternalToolPath(ExternalTool::ImageTool),
                 testutil::vendorTool(QStringLiteral("magick")));
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
