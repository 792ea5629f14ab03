// The external tool runner: argument splitting, captured output, start-up
// failures, time-outs and cancel. The fake tool built with the tests
// (tests/fakes) stands in for the tools, in a mode chosen by its first
// argument or by the name of a copy of it.

#include "formats.h"
#include "testutil.h"
#include "tools.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>
#include <vector>

#ifdef Q_OS_LINUX
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>
#endif

class TestTools : public QObject
{
    Q_OBJECT

  private slots:
    void initTestCase();
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
    void startFailureSaysWhy();
    void failedStartRunsAgain_data();
    void failedStartRunsAgain();
    void pipeNotHeldByOtherTools();
    void killReachesOnlyTools();
    void scratchFolderIsTheToolsTemporaryFolder();
    void stoppedRunsLeaveNoProcess_data();
    void stoppedRunsLeaveNoProcess();
    void processChecksSeeRunningTools();
    void writableFormats_data();
    void writableFormats();
    void realToolWritesEveryFormat();

  private:
    QTemporaryDir m_dir;
};

namespace
{
QString fakeTool()
{
    return testutil::binFolder() + testutil::exeName(QStringLiteral("fake_tool"));
}
} // namespace

#ifdef Q_OS_LINUX
// A tool script whose interpreter (a link to /bin/sh beside it) may be
// missing, so that the system refuses to start it: a real failed start. With
// the token "fail-init-once" the link is missing until a watcher sees the
// system close the script after its first start failed, and then made, in
// time for the runner's second run (which comes after a pause); with
// "fail-init-always" it
// never exists; with no token it is there from the start. The watcher counts
// the starts that failed.
class ScriptTool
{
  public:
    ScriptTool(const QString &folder, const QString &token)
        : m_path(folder + QStringLiteral("/tool.sh")), m_interpreter(folder + QStringLiteral("/interp"))
    {
        QFile script(m_path);
        if (!script.open(QIODevice::WriteOnly))
            return;
        script.write("#!" + QFile::encodeName(m_interpreter) +
                     "\nif [ \"$1\" = print ]; then printf '%s' \"$2\"; else cat; fi\n");
        script.close();
        script.setPermissions(script.permissions() | QFile::ExeOwner);
        if (token.isEmpty())
            m_ready = QFile::link(QStringLiteral("/bin/sh"), m_interpreter);
        else
            m_ready = startWatching(token == QLatin1String("fail-init-once"));
    }
    ~ScriptTool()
    {
        m_stop = true;
        if (m_watcher.joinable())
            m_watcher.join();
        if (m_inotify >= 0)
            ::close(m_inotify);
    }
    bool ready() const { return m_ready; }
    QString path() const { return m_path; }
    int starts() const { return m_starts; }
    bool healed() const { return m_healed; }

  private:
    bool startWatching(bool heal)
    {
        m_inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_inotify < 0 || inotify_add_watch(m_inotify, QFile::encodeName(m_path).constData(),
                                               IN_OPEN | IN_CLOSE_NOWRITE) < 0)
            return false;
        m_watcher = std::thread([this, heal] {
            pollfd watch{m_inotify, POLLIN, 0};
            while (!m_stop) {
                if (::poll(&watch, 1, 10) <= 0)
                    continue;
                alignas(inotify_event) char events[4096];
                const ssize_t got = ::read(m_inotify, events, sizeof events);
                for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= got;) {
                    const auto *event = reinterpret_cast<const inotify_event *>(events + at);
                    at += ssize_t(sizeof(inotify_event)) + event->len;
                    // Once healed, the shell opens the script too: no starts.
                    if (m_healed)
                        break;
                    if (event->mask & IN_OPEN)
                        ++m_starts;
                    // The system closes the script once the start failed, after
                    // it looked for the interpreter.
                    if ((event->mask & IN_CLOSE_NOWRITE) && heal)
                        m_healed = QFile::link(QStringLiteral("/bin/sh"), m_interpreter);
                }
            }
        });
        return true;
    }

    QString m_path;
    QString m_interpreter;
    bool m_ready = false;
    int m_inotify = -1;
    std::thread m_watcher;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_starts{0};
    std::atomic<bool> m_healed{false};
};
#endif

void TestTools::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("folder with space")));
    // Copies of the fake tool in other folders find this build's libraries.
    qputenv("PATH", testutil::copiedProgramEnvironment().value(QStringLiteral("PATH")).toLocal8Bit());
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
    QCOMPARE(testutil::splitCommandLine(parameters), arguments);
}

void TestTools::argumentsAndFolder_data()
{
    QTest::addColumn<QString>("parameters");
    QTest::addColumn<QString>("expected");

    // The tool prints its current folder, then each argument in brackets.
    QTest::newRow("no parameters") << QString() << QStringLiteral("@DIR\n");
    QTest::newRow("quoted paths and double spaces")
        << QStringLiteral("\"/in put/ä b.png[0]\" -auto-orient  -resize 540x \"/out/x.png\"")
        << QStringLiteral("@DIR\n[/in put/ä b.png[0]]\n[-auto-orient]\n[-resize]\n[540x]\n[/out/x.png]\n");
}

void TestTools::argumentsAndFolder()
{
    QFETCH(QString, parameters);
    QFETCH(QString, expected);
    // A copy named "args" in a folder with a space. It reads standard input
    // to the end too: the runner gives none, so the tool ends.
    const QString folder = m_dir.path() + QStringLiteral("/folder with space");
    const QString tool = folder + QLatin1Char('/') + testutil::exeName(QStringLiteral("args"));
    QVERIFY(QFile::exists(tool) || QFile::copy(fakeTool(), tool));
    QCOMPARE(testutil::runPrinted(tool, parameters),
             QString(expected).replace(QStringLiteral("@DIR"), folder));
}

void TestTools::largeOutputWholeAndInOrder()
{
    // About 1.3 MB, far beyond any pipe buffer.
    QString expected;
    for (int i = 1; i <= 200000; ++i)
        expected += QString::number(i) + QLatin1Char('\n');
    QCOMPARE(testutil::runPrinted(fakeTool(), QStringLiteral("count 200000")), expected);
}

void TestTools::utf8SplitAcrossReads()
{
    // "한" (ED 95 9C) and "글" (EA B8 80) written with pauses inside the
    // characters, then 1000 more of them so that chunk edges fall anywhere.
    const QString expected = QString::fromUtf8("한글").repeated(1001);
    QCOMPARE(testutil::runPrinted(fakeTool(), QStringLiteral("utf8")), expected);
}

void TestTools::standardErrorInArrivalOrder()
{
    QCOMPARE(testutil::runPrinted(fakeTool(), QStringLiteral("mixed")),
             QStringLiteral("out1\nerr1\nout2\nerr2\n"));
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
    QCOMPARE(testutil::runPrinted(program.replace(QStringLiteral("@DIR"), m_dir.path()),
                                  QStringLiteral("-version")),
             QString());
}

void TestTools::observerSeesExactTexts()
{
    QStringList seen;
    ToolRequest request;
    request.Observer = [&seen](const QString &program, const QString &parameters) {
        seen << program + QLatin1Char('|') + parameters;
    };
    request.Program = fakeTool();
    request.Arguments = {QStringLiteral("exit"), QStringLiteral("0 1"), QString()};
    RunTool(request);
    request.Program = m_dir.path() + QStringLiteral("/missing");
    request.Arguments = {};
    RunTool(request);
    ToolRequest unwatched;
    unwatched.Program = fakeTool();
    unwatched.Arguments = {QStringLiteral("unseen")};
    RunTool(unwatched);
    QCOMPARE(seen, (QStringList{fakeTool() + QStringLiteral("|exit \"0 1\" \"\""),
                                m_dir.path() + QStringLiteral("/missing|")}));
}

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
    request.Observer = [&seen](const QString &program, const QString &parameters) {
        seen << program + QLatin1Char('|') + parameters;
    };
    const ToolOutcome outcome = RunTool(request);
    QCOMPARE(int(outcome.State), state);
    QCOMPARE(outcome.Reason(), reason);
    // The observer sees the arguments joined, an empty one in quotes.
    QCOMPARE(seen, QStringList{request.Program + QLatin1Char('|') + JoinArguments(arguments)});
}

// A program file the system refuses to start: the reason carries the
// system's own words after the usual text.
void TestTools::startFailureSaysWhy()
{
    ToolRequest request;
    request.Program = m_dir.path() + QLatin1Char('/') + testutil::exeName(QStringLiteral("not a program"));
    QFile file(request.Program);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, '\x01'));
    file.close();
    QVERIFY(file.setPermissions(file.permissions() | QFile::ExeOwner));
    const ToolOutcome outcome = RunTool(request);
    QCOMPARE(int(outcome.State), int(ToolOutcome::Status::NotStarted));
    const QString prefix = QStringLiteral("program missing or not startable: ");
    QVERIFY2(outcome.Reason().startsWith(prefix) && outcome.Reason().size() > prefix.size(),
             qPrintable(outcome.Reason()));
}

void TestTools::failedStartRunsAgain_data()
{
    QTest::addColumn<bool>("pipe");
    QTest::addColumn<QString>("firstToken");  // put in the first tool's folder
    QTest::addColumn<QString>("secondToken"); // in the second one's (pipe only)
    QTest::addColumn<QString>("reason");      // of the tool that prints; empty: printed "payload"

    QTest::newRow("tool, once") << false << "fail-init-once" << QString() << QString();
    QTest::newRow("tool, always") << false << "fail-init-always" << QString()
                                  << "program crashed (code 0xC0000142)";
    QTest::newRow("pipe, first once") << true << "fail-init-once" << QString() << QString();
    QTest::newRow("pipe, second once") << true << QString() << "fail-init-once" << QString();
}

// A tool that failed to start runs again; a pipe runs again whole. One that
// never starts gives up after three runs. On Windows the system ends the tool
// before it runs (its library fails to initialise, as under a burst of
// program starts); on Linux the system refuses to start a script whose
// interpreter is missing until a watcher provides it.
void TestTools::failedStartRunsAgain()
{
    QFETCH(bool, pipe);
    QFETCH(QString, firstToken);
    QFETCH(QString, secondToken);
    QFETCH(QString, reason);
    const QString windowsTool = testutil::binFolder() + testutil::exeName(QStringLiteral("fail_init_tool"));
    const bool windows = QFile::exists(windowsTool);
#ifdef Q_OS_LINUX
    if (!windows && reason.startsWith(QLatin1String("program crashed")))
        reason = QStringLiteral("program missing or not startable");
#else
    if (!windows)
        QSKIP("no way to make a real start fail once on this system");
#endif

    QTemporaryDir firstFolder;
    QTemporaryDir secondFolder;
    ToolRequest first;
    first.Arguments = {QStringLiteral("print"), QStringLiteral("payload")};
    first.WorkingFolder = firstFolder.path();
    ToolRequest second = first;
    second.Arguments = {QStringLiteral("cat")};
    second.WorkingFolder = secondFolder.path();
    if (windows) {
        for (const auto &[folder, token] :
             {std::pair{firstFolder.path(), firstToken}, {secondFolder.path(), secondToken}})
            if (!token.isEmpty())
                QVERIFY(QFile(folder + QLatin1Char('/') + token).open(QIODevice::WriteOnly));
        first.Program = second.Program = windowsTool;
    }
#ifdef Q_OS_LINUX
    ScriptTool firstScript(firstFolder.path(), firstToken);
    ScriptTool secondScript(secondFolder.path(), secondToken);
    if (!windows) {
        QVERIFY(firstScript.ready() && secondScript.ready());
        first.Program = firstScript.path();
        second.Program = secondScript.path();
    }
#endif

    const ToolOutcome outcome = pipe ? RunToolPipe(first, second).second : RunTool(first);
    if (reason.isEmpty()) {
        QCOMPARE(outcome.Reason(), QStringLiteral("payload"));
        QCOMPARE(int(outcome.State), int(ToolOutcome::Status::Finished));
        // The token was there for the first start, which failed.
        QVERIFY(!QFile::exists(firstFolder.path() + QStringLiteral("/fail-init-once")));
        QVERIFY(!QFile::exists(secondFolder.path() + QStringLiteral("/fail-init-once")));
    } else {
        QVERIFY2(outcome.Reason().startsWith(reason), qPrintable(outcome.Reason()));
    }
#ifdef Q_OS_LINUX
    // The failed starts really happened: one before the run that worked, or
    // three runs in all for a tool that never starts.
    // The watcher may see the last one a little later.
    if (!windows) {
        const int failedStarts = firstToken == QLatin1String("fail-init-always") ? 3 : 1;
        QTRY_COMPARE_WITH_TIMEOUT(firstScript.starts() + secondScript.starts(), failedStarts, 2000);
        QTest::qWait(50);
        QCOMPARE(firstScript.starts() + secondScript.starts(), failedStarts);
    }
#endif
}

// A pipe's reader sees the end of its input when the writer ends, also when
// other tools start at the same moment on other threads and live on: none
// of them may hold on to the pipe (a Windows program inherits every
// inheritable handle open while it starts), or the reader would wait as long
// as that tool lives.
void TestTools::pipeNotHeldByOtherTools()
{
    ToolRequest writer;
    writer.Program = fakeTool();
    writer.Arguments = {QStringLiteral("exit"), QStringLiteral("0"), QStringLiteral("payload")};
    writer.TimeoutMs = 30000;
    ToolRequest reader = writer;
    // Reads its standard input to the end, then prints its folder and
    // "[reader]".
    reader.Arguments = {QStringLiteral("args"), QStringLiteral("reader")};
    TCancelFlag stopOthers;
    ToolRequest other;
    other.Program = fakeTool();
    other.Arguments = {QStringLiteral("forever")};
    other.Cancel = &stopOthers;
    other.TimeoutMs = 120000;

    // Tool i of the others starts as pipe i is being set up, and lives until
    // every pipe has run.
    constexpr int runs = 12;
    std::atomic<int> done{0};
    std::vector<std::thread> others;
    for (int i = 0; i < runs; ++i)
        others.emplace_back([&, i] {
            while (done < i && !stopOthers.IsCancelled())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (!stopOthers.IsCancelled())
                RunTool(other);
        });
    std::vector<std::pair<ToolOutcome, ToolOutcome>> outcomes;
    for (int i = 0; i < runs; ++i) {
        outcomes.push_back(RunToolPipe(writer, reader));
        ++done;
    }
    stopOthers.Cancel();
    for (std::thread &thread : others)
        thread.join();
    for (const auto &[producer, consumer] : outcomes) {
        QVERIFY2(producer.Finished() && producer.ExitCode == 0, qPrintable(producer.Reason()));
        QVERIFY2(consumer.Finished() && consumer.ExitCode == 0, qPrintable(consumer.Reason()));
        QVERIFY2(consumer.Printed.endsWith(QStringLiteral("\n[reader]\n")), qPrintable(consumer.Printed));
    }
}

// A finished tool's id can soon belong to any other process: the kill of a
// tool's tree by id leaves a process that is not a running tool alone.
void TestTools::killReachesOnlyTools()
{
    QProcess other;
    other.setStandardOutputFile(QProcess::nullDevice());
    other.start(fakeTool(), {QStringLiteral("forever")});
    QVERIFY(other.waitForStarted());
    const auto stop = qScopeGuard([&other] {
        other.kill();
        other.waitForFinished();
    });
    KillToolTree(other.processId());
    QVERIFY(!other.waitForFinished(500));
    QCOMPARE(other.state(), QProcess::Running);
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
        QCOMPARE(outcome.Printed, scratch + QLatin1Char('\n') + scratch + QLatin1Char('\n'));
    }
}

void TestTools::stoppedRunsLeaveNoProcess_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("reason");

    QTest::newRow("never ends: time-out")
        << "forever" << false << int(ToolOutcome::Status::TimedOut) << "timed out after 3 s";
    QTest::newRow("child never ends: time-out")
        << "spawn" << false << int(ToolOutcome::Status::TimedOut) << "timed out after 3 s";
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
    const bool spawns = mode == QLatin1String("spawn");

    // The tool writes its child's id here once that child runs.
    QTemporaryDir scratch;
    const QString childFile = scratch.filePath(QStringLiteral("child.txt"));
    TCancelFlag flag;
    ToolRequest request;
    request.Program = fakeTool();
    request.Arguments = {mode, childFile};
    request.TimeoutMs = cancel ? 0 : 3000;
    request.Cancel = &flag;
    // Notes the tool's child and, when the row cancels, cancels once there
    // is one to kill: starting programs is slow under wine, so no fixed wait
    // would do.
    std::atomic<qint64> grandchild{0};
    std::atomic<bool> ended{false};
    std::thread watcher([&] {
        QElapsedTimer clock;
        clock.start();
        while (!ended && clock.elapsed() < 20000) {
            QFile file(childFile);
            if (grandchild == 0 && file.open(QIODevice::ReadOnly))
                grandchild = file.readAll().toLongLong();
            if (cancel && (!spawns || grandchild != 0) && clock.elapsed() >= 300) {
                flag.Cancel();
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    const ToolOutcome outcome = RunTool(request);
    ended = true;
    watcher.join();
    QCOMPARE(int(outcome.State), state);
    QCOMPARE(outcome.Reason(), reason);
    if (spawns) {
        QVERIFY2(grandchild != 0, "the tool's child was never seen running");
        QTRY_VERIFY_WITH_TIMEOUT(!testutil::processAlive(grandchild), 5000);
    }
    QTRY_COMPARE_WITH_TIMEOUT(testutil::childProcesses(QCoreApplication::applicationPid()), QList<qint64>(),
                              5000);
}

// The checks above mean something only if the process helpers see a tool
// that is left running: a child and its own child, started without the
// runner, are listed and alive until they are killed.
void TestTools::processChecksSeeRunningTools()
{
    const qint64 self = QCoreApplication::applicationPid();
    QCOMPARE(testutil::childProcesses(self), QList<qint64>());
    QProcess child;
    child.start(fakeTool(), {QStringLiteral("spawn")});
    QVERIFY(child.waitForStarted());
    QVERIFY(child.waitForReadyRead(10000));
    bool number = false;
    const qint64 grandchild = child.readLine().trimmed().toLongLong(&number);
    QVERIFY(number);
    // Nothing outlives the test, whatever check fails.
    const auto cleanup = qScopeGuard([grandchild] { testutil::killHard(grandchild); });
    QCOMPARE(testutil::childProcesses(self), QList<qint64>{child.processId()});
    QCOMPARE(testutil::childProcesses(child.processId()), QList<qint64>{grandchild});
    QVERIFY(testutil::processAlive(child.processId()));
    QVERIFY(testutil::processAlive(grandchild));

    QVERIFY(testutil::killHard(grandchild));
    QTRY_VERIFY_WITH_TIMEOUT(!testutil::processAlive(grandchild), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(testutil::childProcesses(child.processId()), QList<qint64>(), 5000);
    QVERIFY(testutil::processAlive(child.processId()));
    child.kill();
    QVERIFY(child.waitForFinished(5000));
    QCOMPARE(testutil::childProcesses(self), QList<qint64>());
    QCOMPARE(testutil::childProcesses(self, true), QList<qint64>());
}

// The image tool's format list -> what it writes -> which output formats are
// held back. A list without AVIF is what a build without that coder prints.
void TestTools::writableFormats_data()
{
    QTest::addColumn<QString>("printed");
    QTest::addColumn<QStringList>("writable");
    QTest::addColumn<QStringList>("heldBack"); // captions of the format table

    const QString header = QStringLiteral("   Format  Module    Mode  Description\n"
                                          "-------------------------------------------\n");
    QTest::newRow("this machine's kind")
        << header + "     AVIF* HEIC      rw+   AV1 Image File Format (1.15.1)\n"
                    "      GIF* GIF       rw+   CompuServe graphics interchange format\n"
                    "      PNG* PNG       rw-   Portable Network Graphics\n"
                    "     TIFF* TIFF      rw+   Tagged Image File Format\n"
                    "     WEBP* WEBP      rw+   WebP Image Format\n"
                    "      CR2  DNG       r--   Canon Digital Camera Raw\n"
                    "           See http://www.example.org/ for details.\n"
        << QStringList{"AVIF", "GIF", "PNG", "TIFF", "WEBP"} << QStringList{};
    QTest::newRow("no AVIF coder, no module column")
        << header + "      GIF  rw+   CompuServe graphics interchange format\n"
                    "      PNG  rw-   Portable Network Graphics\n"
                    "     TIFF  rw+   Tagged Image File Format\n"
                    "     WEBP  rw+   WebP Image Format\n"
                    "     HEIC  r--   High efficiency Image Format\n"
        << QStringList{"GIF", "PNG", "TIFF", "WEBP"} << QStringList{"AVIF"};
    QTest::newRow("AVIF read only") << QStringLiteral(
                                           "     AVIF* HEIC      r--   AV1 Image File Format\n"
                                           "      PNG* PNG       rw-   Portable Network Graphics\n")
                                    << QStringList{"PNG"} << QStringList{"GIF", "WEBP", "TIFF", "AVIF"};
    QTest::newRow("write only counts")
        << QStringLiteral("      BRF* BRAILLE   -w-   BRF ASCII Braille format\n") << QStringList{"BRF"}
        << QStringList{"PNG", "GIF", "WEBP", "TIFF", "AVIF"};
    // No answer holds nothing back: the conversion then says what is wrong.
    QTest::newRow("no answer") << QStringLiteral("convert: unable to load module\n") << QStringList{}
                               << QStringList{};
}

void TestTools::writableFormats()
{
    QFETCH(QString, printed);
    QFETCH(QStringList, writable);
    QFETCH(QStringList, heldBack);
    QCOMPARE(ParseWritableFormats(printed), writable);
    QStringList held;
    for (const QString &caption : OutputFormatCaptions())
        if (!FormatUnavailableReason(caption, writable).isEmpty())
            held << caption;
    std::sort(heldBack.begin(), heldBack.end());
    std::sort(held.begin(), held.end());
    QCOMPARE(held, heldBack);
    if (heldBack.contains(QStringLiteral("AVIF")))
        QCOMPARE(FormatUnavailableReason(QStringLiteral("AVIF"), writable),
                 QStringLiteral("the image tool cannot write AVIF"));
}

// The image tool of this build writes every format the table offers.
void TestTools::realToolWritesEveryFormat()
{
    if (const QString why = testutil::imageToolSkipReason(); !why.isEmpty())
        QSKIP(qPrintable(why));
    const QStringList writable = ImageToolWritableFormats();
    QVERIFY(writable.contains(QStringLiteral("PNG")));
    for (const QString &caption : OutputFormatCaptions()) {
        if (caption == QLatin1String("AVIF") && !writable.contains(caption))
            QSKIP("this build's image tool has no AVIF coder");
        QCOMPARE(FormatUnavailableReason(caption), QString());
    }
}

QTEST_GUILESS_MAIN(TestTools)
#include "tst_tools.moc"
