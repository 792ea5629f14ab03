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
        QVERIFY2(verbose.out.contains(QRegularExpression(QStringLiteral("\n    \\S+: no images defined"))),
                 qPrintable(verbose.out));
    }

    // AVIF and HEIC pictures are listed by their signature, whatever their
    // name, and converted.
    void heifPictures()
    {
        QTemporaryDir dir;
        const QString tool = testutil::vendorTool(QStringLiteral("magick"));
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
        if (!ExecutableSuffix().isEmpty())
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
        if (!ExecutableSuffix().isEmpty())
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
