// The platform layer: tool names, the command line as the program reads it,
// a Windows path (drive letter, backslashes) through intake and output
// naming, and the store of the install identifier. The Windows-only cases
// build everywhere and run on Windows.

#include "conversion.h"
#include "filelist.h"
#include "platform.h"
#include "testutil.h"

#include <QProcess>
#include <QSettings>
#include <QTest>

namespace
{

const QByteArray kPng("\x89PNG\r\n\x1a\n\0\0\0\rIHDRxxxx", 20);

// Runs show_args with the given arguments (a list, or on Windows the raw
// text after the program's name) and returns what it read.
QStringList shownArguments(const QStringList &arguments, const QString &rawCommandLine = QString())
{
    QProcess process;
    process.setProgram(testutil::binFolder() + testutil::exeName(QStringLiteral("show_args")));
    process.setArguments(arguments);
#ifdef Q_OS_WIN
    if (!rawCommandLine.isNull())
        process.setNativeArguments(rawCommandLine);
#else
    Q_UNUSED(rawCommandLine);
#endif
    process.start();
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return {QStringLiteral("<show_args failed: %1>").arg(process.errorString())};
    QStringList lines = QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'));
    lines.removeLast(); // after the last line break
    for (QString &line : lines) {
        if (line.endsWith(QLatin1Char('\r'))) // text-mode output on Windows
            line.chop(1);
    }
    return lines;
}

bool onWindows()
{
    return testutil::executableSuffix() == QLatin1String(".exe");
}

} // namespace

Q_DECLARE_METATYPE(ExternalTool)

class TestPlatform : public QObject
{
    Q_OBJECT

  private slots:
    void toolPaths_data();
    void toolPaths();
    void argumentsSurvive_data();
    void argumentsSurvive();
    void windowsCommandLine_data();
    void windowsCommandLine();
    void pathThroughIntakeAndNaming_data();
    void pathThroughIntakeAndNaming();
    void installIdStore();
};

// Each tool is found under its own name in vendor/ beside the program, and
// only as a file.
void TestPlatform::toolPaths_data()
{
    QTest::addColumn<ExternalTool>("tool");
    QTest::addColumn<QString>("name");
    const bool win = onWindows();
    QTest::newRow("image tool") << ExternalTool::ImageTool << (win ? "magick.exe" : "magick");
    QTest::newRow("jpeg encoder") << ExternalTool::JpegEncoder << (win ? "cjpeg.exe" : "cjpeg");
    QTest::newRow("interpreter") << ExternalTool::Interpreter << (win ? "gswin32c.exe" : "gs");
}

void TestPlatform::toolPaths()
{
    QFETCH(ExternalTool, tool);
    QFETCH(QString, name);
    QCOMPARE(ExternalToolName(tool), name);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SetProgramFolder(dir.path());
    const QString path = dir.path() + QStringLiteral("/vendor/") + name;
    // Not in vendor/: nothing, or (Unix) the system's program, never the folder.
    QVERIFY(!ExternalToolPath(tool).startsWith(dir.path()));
    QVERIFY(QDir().mkpath(path)); // a folder under the name is no program
    QVERIFY(!ExternalToolPath(tool).startsWith(dir.path()));
    QVERIFY(QDir().rmdir(path));
    QVERIFY(testutil::writeFile(path, "x"));
    QCOMPARE(ExternalToolPath(tool), path);
    SetProgramFolder(QString());
}

// Arguments handed over as a list arrive as they were, except that on
// Windows backslashes become '/'.
void TestPlatform::argumentsSurvive_data()
{
    QTest::addColumn<QString>("argument");
    QTest::newRow("plain") << "gif";
    QTest::newRow("spaces") << "C:\\My Pictures\\a b.png";
    QTest::newRow("quotes") << "say \"hi\" twice";
    QTest::newRow("backslash before quote") << "a\\\"b";
    QTest::newRow("trailing backslash") << "C:\\in dir\\";
    QTest::newRow("patterns") << "[x] *?%d -y.png";
    QTest::newRow("non-ASCII") << QStringLiteral("사진 폴더/é.png");
    QTest::newRow("empty") << "";
}

void TestPlatform::argumentsSurvive()
{
    QFETCH(QString, argument);
    QString expected = argument;
    if (onWindows())
        expected.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QStringList got = shownArguments({QStringLiteral("/auto"), argument, QStringLiteral("last")});
    QCOMPARE(got, QStringList({QStringLiteral("/auto"), expected, QStringLiteral("last")}));
}

// A raw Windows command line is split by the system's rules.
void TestPlatform::windowsCommandLine_data()
{
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("quoted folder") << "/auto gif \"C:\\My Pictures\\new folder\""
                                   << QStringList{"/auto", "gif", "C:/My Pictures/new folder"};
    QTest::newRow("two paths") << "\"C:\\in\\doc one.pdf\" D:\\out\\x.png"
                               << QStringList{"C:/in/doc one.pdf", "D:/out/x.png"};
    QTest::newRow("escaped trailing backslash")
        << "\"C:\\trailing dir\\\\\" next" << QStringList{"C:/trailing dir/", "next"};
    QTest::newRow("escaped quote") << "a\\\"b \"c d\"e" << QStringList{"a\"b", "c de"};
    QTest::newRow("empty quotes") << "x \"\" y" << QStringList{"x", "", "y"};
    QTest::newRow("tabs and runs of spaces") << "a\t  b   " << QStringList{"a", "b"};
}

void TestPlatform::windowsCommandLine()
{
    QFETCH(QString, raw);
    QFETCH(QStringList, expected);
    if (!onWindows())
        QSKIP("the system hands a program its arguments already split");
    QCOMPARE(shownArguments({}, raw), expected);
}

// A path in the system's own form goes into the list with '/' and gives the
// expected title and output name; on Unix a backslash is a name character.
void TestPlatform::pathThroughIntakeAndNaming_data()
{
    QTest::addColumn<QString>("relative"); // the file below the temporary folder, '/' form
    QTest::addColumn<bool>("addFolder");   // add its folder instead of the file
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("output"); // relative, for format JPG with a decoy "photo [1].jpg" beside
    QTest::newRow("file") << "in dir/photo [1].png" << false << "photo [1].png"
                          << "in dir/photo [1] (1).jpg";
    QTest::newRow("folder") << "in dir/photo [1].png" << true << "photo [1].png"
                            << "in dir/photo [1] (1).jpg";
    QTest::newRow("non-ASCII") << QStringLiteral("사진/%d -x.png") << false << QStringLiteral("%d -x.png")
                               << QStringLiteral("사진/%d -x.jpg");
    if (!onWindows())
        QTest::newRow("backslash in a name") << "in dir/a\\b.png" << false << "a\\b.png"
                                             << "in dir/a\\b.jpg";
}

void TestPlatform::pathThroughIntakeAndNaming()
{
    QFETCH(QString, relative);
    QFETCH(bool, addFolder);
    QFETCH(QString, title);
    QFETCH(QString, output);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = QDir::fromNativeSeparators(dir.path());
    if (onWindows())
        QVERIFY2(root.size() > 2 && root.at(1) == QLatin1Char(':'), qPrintable(root)); // a drive letter
    const QString file = root + QLatin1Char('/') + relative;
    QVERIFY(testutil::writeFile(file, kPng));

    QString given = addFolder ? QFileInfo(file).path() + QLatin1Char('/') : file;
    given = QDir::toNativeSeparators(given); // C:\...\ on Windows
    TFileListModel list;
    AddPath(list, given);
    QCOMPARE(list.rowCount(), 1);
    QCOMPARE(list.fileInfo(0).FileName, file);
    QCOMPARE(list.fileInfo(0).Title, title);
    QCOMPARE(list.fileInfo(0).Format, QStringLiteral("PNG"));
    AddPath(list, file); // the same file in the other form is no new row
    QCOMPARE(list.rowCount(), 1);

    const QString decoy = root + QStringLiteral("/in dir/photo [1].jpg");
    QVERIFY(testutil::writeFile(decoy, "decoy"));

    QCOMPARE(MakeOutputPath(ConversionOptions(), list.fileInfo(0).FileName, QStringLiteral("JPG")),
             root + QLatin1Char('/') + output);
    QFile check(decoy);
    QVERIFY(check.open(QIODevice::ReadOnly));
    QCOMPARE(check.readAll(), QByteArray("decoy"));
}

// The identifier lives in the registry key of the maker on Windows.
void TestPlatform::installIdStore()
{
    const std::unique_ptr<QSettings> store = OpenInstallIdStore();
    QVERIFY(store);
    QCOMPARE(store->status(), QSettings::NoError);
    if (!onWindows())
        QSKIP("the registry exists on Windows only");
    QCOMPARE(store->format(), QSettings::NativeFormat);
    QCOMPARE(store->fileName(), QStringLiteral("\\HKEY_CURRENT_USER\\Software\\Talmerick"));
    const QString id = GetInstallId();
    QCOMPARE(id.size(), 32);
    QSettings registry(QStringLiteral("HKEY_CURRENT_USER\\Software\\Talmerick"), QSettings::NativeFormat);
    QCOMPARE(registry.value(QStringLiteral("TUID")).toString(), id);
    QCOMPARE(GetInstallId(), id);
}

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
