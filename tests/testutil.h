#pragma once

// Shared helpers of the Qt Test executables.

#include "commandline.h"
#include "common.h"
#include "conversion.h"
#include "filelist.h"
#include "platform.h"
#include "tools.h"
#include "update.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QImage>
#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <memory>

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>
#else
#include <csignal>
#include <sys/types.h>
#endif

namespace testutil
{

namespace detail
{
// Sends every request for a host that is not this machine to a proxy on a
// closed local port, where it fails without asking a name server; requests
// to this machine go straight.
class LoopbackOnlyProxies : public QNetworkProxyFactory
{
  public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery &query) override
    {
        const QString host = query.peerHostName();
        if (host == QLatin1String("localhost") || QHostAddress(host).isLoopback())
            return {QNetworkProxy(QNetworkProxy::NoProxy)};
        return {QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), 9)};
    }
};
} // namespace detail

// No test reaches a name server or a service outside this machine: requests
// (the update check of a window under test) only go to loopback addresses.
// Nor does a test leave an installation identifier in the user's settings:
// the user's store of this process lies in the test's cache folder (which
// CTest gives each test) instead. On Windows the store is the registry.
inline const bool kUpdateLoopbackOnly =
    (QNetworkProxyFactory::setApplicationProxyFactory(new detail::LoopbackOnlyProxies),
     QSettings::setPath(
         QSettings::NativeFormat, QSettings::UserScope,
         qEnvironmentVariable("XDG_CACHE_HOME", QDir::tempPath() + QStringLiteral("/zarvelo-tests")) +
             QStringLiteral("/user-settings")),
     true);

// Suffix of executable files: ".exe" on Windows, empty elsewhere.
inline QString executableSuffix()
{
#ifdef Q_OS_WIN
    return QStringLiteral(".exe");
#else
    return QString();
#endif
}

// Makes link a symbolic link to the folder target (a relative target counts
// from link's folder). On Windows it asks for a link that needs no elevation
// (developer mode). True only when the link now leads to a folder.
inline bool makeFolderLink(const QString &target, const QString &link)
{
#ifdef Q_OS_WIN
    constexpr DWORD AllowUnprivilegedCreate = 0x2;
    const QString from = QDir::toNativeSeparators(QDir::cleanPath(link));
    const QString to = QDir::toNativeSeparators(QDir::cleanPath(target));
    if (!CreateSymbolicLinkW(reinterpret_cast<const wchar_t *>(from.utf16()),
                             reinterpret_cast<const wchar_t *>(to.utf16()),
                             SYMBOLIC_LINK_FLAG_DIRECTORY | AllowUnprivilegedCreate))
        return false;
    // Some systems report success without making the link.
    return QFileInfo(link).isDir();
#else
    return QFile::link(target, link) && QFileInfo(link).isDir();
#endif
}

// The folder of the test executables; the build puts vendor/ there.
inline QString binFolder()
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/');
}

// A program's file name on this system: name.exe on Windows.
inline QString exeName(const QString &name)
{
    return name + executableSuffix();
}

// The environment for a copy of a program of this build started from another
// folder: on Windows the Qt and runtime DLLs and the plugins are found only
// beside the program, so the copy is pointed at this build's.
inline QProcessEnvironment copiedProgramEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!executableSuffix().isEmpty()) {
        const QString bin = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
        env.insert(QStringLiteral("PATH"), bin + QDir::listSeparator() + env.value(QStringLiteral("PATH")));
        env.insert(QStringLiteral("QT_PLUGIN_PATH"), bin);
    }
    return env;
}

// Copies the files of folder from (not its subfolders) into folder to.
inline bool copyFiles(const QString &from, const QString &to)
{
    if (!QDir().mkpath(to))
        return false;
    bool ok = true;
    QDirIterator it(from, QDir::Files);
    while (it.hasNext()) {
        it.next();
        ok = QFile::copy(it.filePath(), to + QLatin1Char('/') + it.fileName()) && ok;
    }
    return ok;
}

// Why a test that needs the external program cannot run here, or empty when
// it can. Only the Windows build may lack a program (it has no Windows
// ImageMagick or Ghostscript yet), and then the test is skipped with this
// reason: if (auto why = testutil::missingToolReason(t); !why.isEmpty()) QSKIP(qPrintable(why));
// Elsewhere a missing program is a broken build, which the test's own
// checks report.
inline QString missingToolReason(ExternalTool tool)
{
    if (executableSuffix().isEmpty())
        return QString();
    const QString path = binFolder() + QStringLiteral("vendor/") + ExternalToolName(tool);
    if (QFileInfo(path).isFile())
        return QString();
    return QStringLiteral("no Windows build of %1 in vendor/ yet").arg(ExternalToolName(tool));
}

// The tool of this build's vendor folder that the program calls for tool.
inline QString vendorTool(ExternalTool tool)
{
    return binFolder() + QStringLiteral("vendor/") + ExternalToolName(tool);
}

// The same by its Unix name: "magick", "cjpeg" or "gs".
inline QString vendorTool(const QString &name)
{
    if (name == QLatin1String("magick"))
        return vendorTool(ExternalTool::ImageTool);
    if (name == QLatin1String("cjpeg"))
        return vendorTool(ExternalTool::JpegEncoder);
    return vendorTool(ExternalTool::Interpreter);
}

// The Unix name ("magick", "cjpeg" or "gs") of the vendor tool at
// programPath, for texts that read the same on both systems; the file name
// for any other program.
inline QString toolLabel(const QString &programPath)
{
    const QString name = QFileInfo(programPath).fileName();
    for (const QString &label : {QStringLiteral("magick"), QStringLiteral("cjpeg"), QStringLiteral("gs")})
        if (name == QFileInfo(vendorTool(label)).fileName())
            return label;
    return name;
}

// What program printed (standard output and error merged) when run by the
// tool runner with the parameter text split into arguments; empty when it
// did not start.
inline QString runPrinted(const QString &program, const QString &parameters)
{
    ToolRequest request;
    request.Program = program;
    request.Arguments = splitCommandLine(parameters);
    return RunTool(request).Printed;
}

// A program's output with Windows line ends (CR LF) turned into LF.
inline QString unixLines(const QByteArray &output)
{
    return QString::fromUtf8(output).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// "item: reason" of every failed result, with what its tools printed: the
// message of a check that expected none to fail.
inline QString failures(const QMap<int, ConversionResult> &results)
{
    QString text;
    for (auto it = results.cbegin(); it != results.cend(); ++it)
        if (!it->Success)
            text += QStringLiteral("%1: %2 %3\n").arg(it.key()).arg(it->Reason, it->Printed);
    return text;
}

// Fails the test with each failed item's reason unless every result succeeded.
#define VERIFY_NO_FAILURES(results)                                                                          \
    do {                                                                                                     \
        const QString failed = testutil::failures(results);                                                  \
        QVERIFY2(failed.isEmpty(), qPrintable(failed));                                                      \
    } while (false)

// Turns the PostScript file ps into the PDF pdf with this build's
// interpreter. It runs in pdf's folder with relative names: the Windows
// interpreter follows Unix file-name rules and would read "C:" as a name.
inline bool psToPdf(const QString &ps, const QString &pdf)
{
    const QDir folder = QFileInfo(pdf).absoluteDir();
    QProcess gs;
    gs.setProcessChannelMode(QProcess::MergedChannels);
    gs.setWorkingDirectory(folder.path());
    gs.start(vendorTool(ExternalTool::Interpreter),
             {QStringLiteral("-q"), QStringLiteral("-dNOPAUSE"), QStringLiteral("-dBATCH"),
              QStringLiteral("-sDEVICE=pdfwrite"),
              QStringLiteral("-sOutputFile=") + QFileInfo(pdf).fileName(),
              folder.relativeFilePath(QFileInfo(ps).absoluteFilePath())});
    gs.waitForFinished(120000);
    return QFileInfo(pdf).size() > 0;
}

// For init(): why the current test cannot run here, or empty. Every test
// converts with the image tool except those named in toolFree; see
// missingToolReason.
//   if (auto why = testutil::imageToolSkipReason({"menuItems"}); !why.isEmpty()) QSKIP(qPrintable(why));
inline QString imageToolSkipReason(const QStringList &toolFree = {})
{
    const QString why = missingToolReason(ExternalTool::ImageTool);
    if (why.isEmpty() || toolFree.contains(QLatin1String(QTest::currentTestFunction())))
        return QString();
    return why;
}

// Ends process pid at once from outside, as a kill does: nothing in it runs.
inline bool killHard(qint64 pid)
{
#ifdef Q_OS_WIN
    const HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, DWORD(pid));
    if (!process)
        return false;
    const bool ok = TerminateProcess(process, 1);
    CloseHandle(process);
    return ok;
#else
    return ::kill(pid_t(pid), SIGKILL) == 0;
#endif
}

// Why this system cannot ask another console program to end so that its own
// clean-up runs, or empty when askToEnd can.
inline QString noAskToEndReason()
{
#ifdef Q_OS_WIN
    return QStringLiteral("Windows has no request to end that reaches another console program");
#else
    return QString();
#endif
}

// Asks process pid to end (SIGTERM); its termination handling runs.
inline bool askToEnd(qint64 pid)
{
#ifdef Q_OS_WIN
    Q_UNUSED(pid);
    return false;
#else
    return ::kill(pid_t(pid), SIGTERM) == 0;
#endif
}

// A private stand-in for the program folder: a temporary folder with a link
// "vendor" to the real vendor folder (a copy of it where the system makes no
// folder links), so that settings files of tests never meet. Made the
// program folder for as long as the object lives.
class ProgramFolderScope
{
  public:
    ProgramFolderScope()
    {
        const QString vendor = binFolder() + QStringLiteral("vendor");
        const QString own = m_dir.path() + QStringLiteral("/vendor");
        if (!makeFolderLink(vendor, own)) {
            QFile::remove(own);
            copyFiles(vendor, own);
        }
        SetProgramFolder(m_dir.path());
    }
    ~ProgramFolderScope() { SetProgramFolder(QString()); }
    QString path() const { return m_dir.path() + QLatin1Char('/'); }
    QString iniPath() const { return path() + QStringLiteral("Zarvelo.ini"); }

  private:
    QTemporaryDir m_dir;
};

// Stands in for the browser while it lives: QDesktopServices hands every
// address of these schemes here, so nothing is launched, and the test reads
// what would have been opened.
class BrowserStandIn : public QObject
{
    Q_OBJECT
  public:
    explicit BrowserStandIn(const QStringList &schemes = {QStringLiteral("http"), QStringLiteral("https"),
                                                          QStringLiteral("file"),
                                                          QStringLiteral("javascript")})
        : m_schemes(schemes)
    {
        for (const QString &scheme : m_schemes)
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~BrowserStandIn() override
    {
        for (const QString &scheme : m_schemes)
            QDesktopServices::unsetUrlHandler(scheme);
    }

    QList<QUrl> urls; // every address handed over, in order

  public slots:
    void open(const QUrl &url) { urls << url; }

  private:
    QStringList m_schemes;
};

// Writes bytes as the whole file at path, making its folders; true when all
// of them were written.
inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// The whole file at path; empty when it cannot be read.
inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes a PNG of random-looking pixels (the same for the same seed), which
// the image tools take a while for: about a second at 3000x2000. True when
// it was written.
inline bool writeNoisyPng(const QString &path, int width, int height, quint32 seed)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<quint32 *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            line[x] = 0xFF000000u | (seed >> 8);
        }
    }
    return image.save(path, "PNG", 100);
}

// The FileName of every row of list, in row order.
inline QStringList fileNames(const TFileListModel *list)
{
    QStringList names;
    for (int i = 0; i < list->rowCount(); ++i)
        names << list->fileInfo(i).FileName;
    return names;
}

// Stops an update checker of a test and forgets it; false when it still had
// a request or a wait on its way after the stop.
inline bool endUpdateChecker(std::unique_ptr<TUpdateChecker> &checker)
{
    if (!checker)
        return true;
    checker->Stop();
    const bool idle = !checker->IsBusy();
    checker.reset();
    return idle;
}

// Every entry below folder (hidden ones too), relative to it, sorted.
inline QStringList entriesBelow(const QString &folder)
{
    QStringList names;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        names << it.next().mid(folder.size());
    names.sort();
    return names;
}

#ifdef Q_OS_WIN
namespace detail
{
// When the process was created (FILETIME ticks), or 0 when it cannot be
// looked at.
inline quint64 processCreationTime(DWORD pid)
{
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process)
        return 0;
    FILETIME created, exited, kernel, user;
    quint64 ticks = 0;
    if (GetProcessTimes(process, &created, &exited, &kernel, &user))
        ticks = (quint64(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    CloseHandle(process);
    return ticks;
}
} // namespace detail
#endif

// Whether process pid still runs. A process that ended counts as gone, even
// while its parent has not yet collected it (a zombie here; on Windows a
// process whose handles are still open).
inline bool processAlive(qint64 pid)
{
#ifdef Q_OS_WIN
    const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, DWORD(pid));
    if (!process)
        return false;
    const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
#else
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close > 0 && text.mid(close + 2, 1) != "Z";
#endif
}

// Ids of the processes whose parent is parent: read from /proc here, from a
// Toolhelp snapshot on Windows. Processes that ended but are not yet
// collected (zombies; on Windows ended processes still listed) count only
// when asked for. When the system cannot list its processes the list holds
// -1, so that a check for "none left" fails instead of passing unseen.
inline QList<qint64> childProcesses(qint64 parent, bool withZombies = false)
{
    QList<qint64> children;
#ifdef Q_OS_WIN
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return {-1};
    // Ids are reused soon on Windows: a process whose recorded parent id is
    // ours but that is older than us had another parent of that id.
    const quint64 parentCreated = detail::processCreationTime(DWORD(parent));
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        const qint64 pid = entry.th32ProcessID;
        if (entry.th32ParentProcessID != DWORD(parent) || pid == parent)
            continue;
        // The console host the system starts for a console program's new
        // console is listed as a child too; it is no tool's and ends with
        // that console. So is wine's desktop process, started for the first
        // window (Qt's hidden message window) of a program.
        const QString exe = QString::fromWCharArray(entry.szExeFile);
        if (exe.compare(QLatin1String("conhost.exe"), Qt::CaseInsensitive) == 0 ||
            exe.compare(QLatin1String("explorer.exe"), Qt::CaseInsensitive) == 0)
            continue;
        const quint64 created = detail::processCreationTime(entry.th32ProcessID);
        if (created != 0 && parentCreated != 0 && created < parentCreated)
            continue;
        if (withZombies || processAlive(pid))
            children << pid;
    }
    CloseHandle(snapshot);
#else
    if (!QFileInfo(QStringLiteral("/proc/self/stat")).exists())
        return {-1};
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        // pid (comm) state ppid ...: the comm may hold blanks, so read after ')'.
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && (withZombies || fields[0] != "Z") && fields[1].toLongLong() == parent)
            children << pid;
    }
#endif
    return children;
}

// Whether this process holds the file or folder at path open: one of its
// descriptors leads there (here); on Windows, an open that shares nothing
// with other holders is refused.
inline bool heldOpen(const QString &path)
{
#ifdef Q_OS_WIN
    const HANDLE handle =
        CreateFileW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()), GENERIC_READ,
                    0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(handle);
    return false;
#else
    const QString target = QFileInfo(path).canonicalFilePath();
    QDirIterator it(QStringLiteral("/proc/self/fd"), QDir::AllEntries | QDir::System);
    while (it.hasNext()) {
        if (QFileInfo(it.next()).symLinkTarget() == target)
            return true;
    }
    return false;
#endif
}

} // namespace testutil
