// The external tool runner: argument splitting, captured output, start-up
// failures, time-outs and cancel. Small shell scripts written by the tests
// stand in for the tools of RunAndCapture; the fake tool built with the tests
// (tests/fakes) for those of RunTool.

#include "testutil.h"
#include "tools.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

class TestTools : public QObject
{
    Q_OBJECT

  private slots:
    void initTestCase();
    void init();
    void splitCommandLine_data();
    void splitCommandLine();
    void argumentsAndFolder_data();
    void argumentsAndFolder();
    void largeOutputWholeAndInOrder();
    void utf8SplitAcrossReads();
    void standardErrorInArrivalOrder();
    void programThatCannotStart_data();
    void programThatCannotStart();
    void observerSeesExactTexts();
    void runToolOutcomes_data();
    void runToolOutcomes();
    void scratchFolderIsTheToolsTemporaryFolder();
    void stoppedRunsLeaveNoProcess_data();
    void stoppedRunsLeaveNoProcess();

  private:
    QString writeScript(const QString &name, const QByteArray &body);
    QTemporaryDir m_dir;
};

void TestTools::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("folder with space")));
}

// The stand-ins of RunAndCapture are shell scripts, which run on Unix only.
void TestTools::init()
{
    static const QStringList scripted{
        QStringLiteral("argumentsAndFolder"), QStringLiteral("largeOutputWholeAndInOrder"),
        QStringLiteral("utf8SplitAcrossReads"), QStringLiteral("standardErrorInArrivalOrder"),
        QStringLiteral("observerSeesExactTexts")};
    if (!ExecutableSuffix().isEmpty() && scripted.contains(QLatin1String(QTest::currentTestFunction())))
        QSKIP("its stand-in tool is a /bin/sh script, which Windows cannot run");
}

QString TestTools::writeScript(const QString &name, const QByteArray &body)
{
    const QString path = m_dir.path() + QLatin1Char('/') + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QString();
    file.write("#!/bin/sh\n" + body + "\n");
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

void TestTools::splitCommandLine_data()
{
    QTest::addColumn<QString>("parameters");
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("empty") << QString() << QStringList();
    QTest::newRow("spaces only") << QStringLiteral("   ") << QStringList();
    QTest::newRow("runs of spaces") << QStringLiteral(" -auto-orient  -resize 540x ")
                                    << QStringList{"-auto-orient", "-resize", "540x"};
    QTest::newRow("quoted path with spaces")
        << QStringLiteral("\"/a b/c d.png[0]\" -auto-orient \"/o u/t.png\"")
        << QStringList{"/a b/c d.png[0]", "-auto-orient", "/o u/t.png"};
    QTest::newRow("quotes inside a token")
        << QStringLiteral("-sOutputFile=\"/t m/p-%03d.bmp\" BMP3:\"/x y.bmp\"")
        << QStringList{"-sOutputFile=/t m/p-%03d.bmp", "BMP3:/x y.bmp"};
    QTest::newRow("empty quotes") << QStringLiteral("-sFONTPATH=\"\" \"\"") << QStringList{"-sFONTPATH=", ""};
    QTest::newRow("unclosed quote runs to the end") << QStringLiteral("a \"b c") << QStringList{"a", "b c"};
}

void TestTools::splitCommandLine()
{
    QFETCH(QString, parameters);
    QFETCH(QStringList, arguments);
    QCOMPARE(SplitCommandLine(parameters), arguments);
}

void TestTools::argumentsAndFolder_data()
{
    QTest::addColumn<QString>("parameters");
    QTest::addColumn<QString>("expected");

    // The script prints its current folder, then each argument in brackets.
    QTest::newRow("no parameters") << QString() << QStringLiteral("@DIR\n");
    QTest::newRow("quoted paths and double spaces")
        << QStringLiteral("\"/in put/ä b.png[0]\" -auto-orient  -resize 540x \"/out/x.png\"")
        << QStringLiteral("@DIR\n[/in put/ä b.png[0]]\n[-auto-orient]\n[-resize]\n[540x]\n[/out/x.png]\n");
}

void TestTools::argumentsAndFolder()
{
    QFETCH(QString, parameters);
    QFETCH(QString, expected);
    // Reads standard input too: the runner gives none, so the script ends.
    const QString script = writeScript(QStringLiteral("folder with space/args.sh"),
                                       "cat\npwd\nfor a in \"$@\"; do printf '[%s]\\n' \"$a\"; done");
    const QString folder = m_dir.path() + QStringLiteral("/folder with space");
    QCOMPARE(RunAndCapture(script, parameters), QString(expected).replace(QStringLiteral("@DIR"), folder));
}

void TestTools::largeOutputWholeAndInOrder()
{
    // About 1.3 MB, far beyond any pipe buffer.
    const QString script = writeScript(QStringLiteral("seq.sh"), "seq 1 200000");
    QString expected;
    for (int i = 1; i <= 200000; ++i)
        expected += QString::number(i) + QLatin1Char('\n');
    QCOMPARE(RunAndCapture(script, QString()), expected);
}

void TestTools::utf8SplitAcrossReads()
{
    // "한" (ED 95 9C) and "글" (EA B8 80) written with pauses inside the
    // characters, then 1000 more of them so that chunk edges fall anywhere.
    const QString script = writeScript(
        QStringLiteral("utf8.sh"),
        "printf '\\355\\225'; sleep 0.2; printf '\\234\\352'; sleep 0.2; printf '\\270\\200'\n"
        "i=0; while [ $i -lt 1000 ]; do printf '\\355\\225\\234\\352\\270\\200'; i=$((i+1)); done");
    const QString expected = QString::fromUtf8("한글").repeated(1001);
    QCOMPARE(RunAndCapture(script, QString()), expected);
}

void TestTools::standardErrorInArrivalOrder()
{
    const QString script =
        writeScript(QStringLiteral("mixed.sh"), "echo out1; sleep 0.1; echo err1 >&2; sleep 0.1; echo out2; "
                                                "sleep 0.1; echo err2 >&2; exit 3");
    QCOMPARE(RunAndCapture(script, QString()), QStringLiteral("out1\nerr1\nout2\nerr2\n"));
}

void TestTools::programThatCannotStart_data()
{
    QTest::addColumn<QString>("program");
    QTest::newRow("missing file") << QStringLiteral("@DIR/no such program");
    QTest::newRow("not executable") << QStringLiteral("@DIR/plain.txt");
    QTest::newRow("a folder") << QStringLiteral("@DIR/folder with space");
    // A bare name is never looked up on PATH (where another "convert" may sit).
    QTest::newRow("bare name") << QStringLiteral("convert");
}

void TestTools::programThatCannotStart()
{
    QFETCH(QString, program);
    QFile plain(m_dir.path() + QStringLiteral("/plain.txt"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.write("echo should not run\n");
    plain.close();
    QCOMPARE(RunAndCapture(program.replace(QStringLiteral("@DIR"), m_dir.path()), QStringLiteral("-version")),
             QString());
}

void TestTools::observerSeesExactTexts()
{
    const QString script = writeScript(QStringLiteral("quiet.sh"), "exit 0");
    QStringList seen;
    SetToolRunObserver([&seen](const QString &program, const QString &parameters) {
        seen << program + QLatin1Char('|') + parameters;
    });
    RunAndCapture(script, QStringLiteral(" a  \"b c\" "));
    RunAndCapture(m_dir.path() + QStringLiteral("/missing"), QString());
    SetToolRunObserver({});
    RunAndCapture(script, QStringLiteral("unseen"));
    QCOMPARE(seen, (QStringList{script + QStringLiteral("| a  \"b c\" "),
                                m_dir.path() + QStringLiteral("/missing|")}));
}

namespace
{
QString fakeTool()
{
    return testutil::binFolder() + testutil::exeName(QStringLiteral("fake_tool"));
}

// Whether a process with this id still exists (a zombie counts as gone).
bool processAlive(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close > 0 && text.mid(close + 2, 1) != "Z";
}

} // namespace

void TestTools::runToolOutcomes_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("reason");

    QTest::newRow("clean") << QStringList{"exit", "0", ""} << int(ToolOutcome::Status::Finished) << "";
    QTest::newRow("printed") << QStringList{"exit", "0", "warning: odd\nmore"}
                             << int(ToolOutcome::Status::Finished) << "warning: odd";
    QTest::newRow("exit status with first line")
        << QStringList{"exit", "4", "bad input\n"} << int(ToolOutcome::Status::Finished)
        << "exit status 4: bad input";
    QTest::newRow("unknown mode") << QStringList{"nonsense"} << int(ToolOutcome::Status::Finished)
                                  << "exit status 2";
    QTest::newRow("missing program") << QStringList{"@missing"} << int(ToolOutcome::Status::NotStarted)
                                     << "program missing or not startable";
}

void TestTools::runToolOutcomes()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, state);
    QFETCH(QString, reason);
    ToolRequest request;
    request.Program =
        arguments.value(0) == QLatin1String("@missing") ? m_dir.path() + QStringLiteral("/none") : fakeTool();
    request.Arguments = arguments;
    QStringList seen;
    SetToolRunObserver([&seen](const QString &program, const QString &parameters) {
        seen << program + QLatin1Char('|') + parameters;
    });
    const ToolOutcome outcome = RunTool(request);
    SetToolRunObserver({});
    QCOMPARE(int(outcome.State), state);
    QCOMPARE(outcome.Reason(), reason);
    // The observer sees the arguments joined, an empty one in quotes.
    QCOMPARE(seen, QStringList{request.Program + QLatin1Char('|') + JoinArguments(arguments)});
}

void TestTools::scratchFolderIsTheToolsTemporaryFolder()
{
    const QString scratch = m_dir.path() + QStringLiteral("/folder with space");
    for (const char *name : {"TMPDIR", "TEMP", "TMP", "MAGICK_TEMPORARY_PATH"}) {
        ToolRequest request;
        request.Program = fakeTool();
        request.Arguments = {QStringLiteral("env"), QLatin1String(name)};
        request.ScratchFolder = scratch;
        request.WorkingFolder = scratch;
        const ToolOutcome outcome = RunTool(request);
        // A Windows program's text output ends its lines in CR LF.
        QCOMPARE(QString(outcome.Printed).remove(QLatin1Char('\r')),
                 scratch + QLatin1Char('\n') + scratch + QLatin1Char('\n'));
    }
}

void TestTools::stoppedRunsLeaveNoProcess_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("reason");

    QTest::newRow("never ends: time-out")
        << "forever" << false << int(ToolOutcome::Status::TimedOut) << "timed out after 1 s";
    QTest::newRow("child never ends: time-out")
        << "spawn" << false << int(ToolOutcome::Status::TimedOut) << "timed out after 1 s";
    QTest::newRow("never ends: cancel")
        << "forever" << true << int(ToolOutcome::Status::Cancelled) << "cancelled";
    QTest::newRow("child never ends: cancel")
        << "spawn" << true << int(ToolOutcome::Status::Cancelled) << "cancelled";
}

// A time-out or a cancel kills the tool and everything it started, and the
// run reports which of the two ended it.
void TestTools::stoppedRunsLeaveNoProcess()
{
    QFETCH(QString, mode);
    QFETCH(bool, cancel);
    QFETCH(int, state);
    QFETCH(QString, reason);

    TCancelFlag flag;
    ToolRequest request;
    request.Program = fakeTool();
    request.Arguments = {mode};
    request.TimeoutMs = cancel ? 0 : 1000;
    request.Cancel = &flag;
    std::thread canceller;
    if (cancel)
        canceller = std::thread([&flag] {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            flag.Cancel();
        });
    const ToolOutcome outcome = RunTool(request);
    if (canceller.joinable())
        canceller.join();
    QCOMPARE(int(outcome.State), state);
    QCOMPARE(outcome.Reason(), reason);
    if (mode == QLatin1String("spawn")) {
        // The grandchild was started before the end: its id was printed.
        bool number = false;
        const qint64 grandchild = outcome.Printed.trimmed().toLongLong(&number);
        QVERIFY2(number, qPrintable(outcome.Printed));
        QTRY_VERIFY_WITH_TIMEOUT(!processAlive(grandchild), 5000);
    }
    QTRY_COMPARE_WITH_TIMEOUT(testutil::childProcesses(QCoreApplication::applicationPid()), QList<qint64>(), 5000);
}

QTEST_GUILESS_MAIN(TestTools)
#include "tst_tools.moc"
