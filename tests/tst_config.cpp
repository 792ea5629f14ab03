// The INI accessor: how stored values read, what a write keeps, and that
// broken, hostile or unwritable settings files end in the defaults.

#include "config.h"
#include "testutil.h"
#include "version.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QStringEncoder>
#include <QTest>

#include <climits>

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace
{

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray utf16(const QString &text, QStringConverter::Encoding encoding)
{
    QStringEncoder encoder(encoding, QStringConverter::Flag::WriteBom);
    return encoder.encode(text);
}

QByteArray garbage(qsizetype size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(random.bounded(256));
    return bytes;
}

// A settings file in which "width" holds the given text, surrounded by what
// must not be taken for it. A null text leaves the key out.
QByteArray fileWithWidth(const QString &stored)
{
    QByteArray bytes = "[Other]\nwidth=999\n\n[Config]\n; width=555\n";
    if (!stored.isNull())
        bytes += "width=" + stored.toUtf8() + "\n";
    return bytes + "[Tail]\nwidth=777\n";
}

#ifdef Q_OS_LINUX
// As root, permission bits stop nothing: the current row then runs again in
// a copy of this program as the unprivileged user "nobody", where they do.
// False when that cannot be done here (not root, no setpriv, no such user);
// otherwise the row has been checked there (a failure there fails it here).
bool rerunUnprivileged()
{
    const passwd *user = ::getpwnam("nobody");
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (::geteuid() != 0 || !user || user->pw_uid == 0 || setpriv.isEmpty())
        return false;
    // A folder that user can reach, with the program and a home of its own.
    QTemporaryDir dir;
    const QFileDevice::Permissions open = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                          QFileDevice::WriteOther | QFileDevice::ExeOther;
    const QString exe = dir.path() + QStringLiteral("/tst_config");
    const QString home = dir.path() + QStringLiteral("/home");
    if (!QFile::setPermissions(dir.path(), open) ||
        !QFile::copy(QCoreApplication::applicationFilePath(), exe) ||
        !QFile::setPermissions(exe, open & ~QFileDevice::WriteOther) || !QDir().mkpath(home) ||
        !QFile::setPermissions(home, open))
        return false;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "TMPDIR"})
        env.insert(QLatin1String(name), home);
    QProcess child;
    child.setProcessEnvironment(env);
    child.setWorkingDirectory(home);
    child.setProcessChannelMode(QProcess::MergedChannels);
    const QString row = QStringLiteral("%1:%2").arg(QLatin1String(QTest::currentTestFunction()),
                                                    QLatin1String(QTest::currentDataTag()));
    child.start(setpriv,
                {QStringLiteral("--reuid=%1").arg(user->pw_uid),
                 QStringLiteral("--regid=%1").arg(user->pw_gid), QStringLiteral("--clear-groups"), exe, row});
    const bool ended = child.waitForFinished(60000);
    const QString printed = QString::fromLocal8Bit(child.readAll());
    const QString passed =
        QStringLiteral("PASS   : TestConfig::%1(%2)")
            .arg(QLatin1String(QTest::currentTestFunction()), QLatin1String(QTest::currentDataTag()));
    [&] { QVERIFY2(ended && child.exitCode() == 0 && printed.contains(passed), qPrintable(printed)); }();
    return true;
}
#else
bool rerunUnprivileged()
{
    return false;
}
#endif

} // namespace

class TestConfig : public QObject
{
    Q_OBJECT

    QTemporaryDir m_userConfig; // the user's configuration folder of this run
    QStringList m_failed;       // files of the failed writes reported

  private slots:
    void initTestCase();
    void init();
    void readInteger_data();
    void readInteger();
    void readBoolean_data();
    void readBoolean();
    void readString_data();
    void readString();
    void fileForms_data();
    void fileForms();
    void write_data();
    void write();
    void writeReadBack();
    void refusedWrites_data();
    void refusedWrites();
    void failedWrites_data();
    void failedWrites();
    void settingsPlace_data();
    void settingsPlace();
};

void TestConfig::initTestCase()
{
    // Settings that leave the program folder go here, never to the real user's.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_userConfig.path()));
    // Windows takes the user's folder from the system, not from a variable:
    // test mode gives these tests one of their own there.
    if (!testutil::executableSuffix().isEmpty())
        QStandardPaths::setTestModeEnabled(true);
    SetConfigWriteFailedHandler([this](const QString &file) { m_failed << file; });
}

void TestConfig::init()
{
    m_failed.clear();
}

void TestConfig::readInteger_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("expected");
    QTest::newRow("decimal") << "540" << 540;
    QTest::newRow("negative") << "-5" << -5;
    QTest::newRow("plus sign") << "+7" << 7;
    QTest::newRow("leading zeros") << "0075" << 75;
    QTest::newRow("dollar hex") << "$1F" << 31;
    QTest::newRow("0x hex") << "0x400" << 1024;
    QTest::newRow("0X hex") << "0X10" << 16;
    QTest::newRow("negative hex") << "-$10" << -16;
    QTest::newRow("hex is a 32-bit pattern") << "$FFFFFFFF" << -1;
    QTest::newRow("int max") << "2147483647" << INT_MAX;
    QTest::newRow("int min") << "-2147483648" << INT_MIN;
    QTest::newRow("blanks around") << "  12\t" << 12;
    QTest::newRow("quoted") << "\"12\"" << 12;
    QTest::newRow("trailing letters") << "12abc" << 42;
    QTest::newRow("empty") << "" << 42;
    QTest::newRow("missing") << QString() << 42;
    QTest::newRow("text") << "abc" << 42;
    QTest::newRow("sign only") << "-" << 42;
    QTest::newRow("prefix only") << "0x" << 42;
    QTest::newRow("dollar only") << "$" << 42;
    QTest::newRow("bad hex digit") << "0x1G" << 42;
    QTest::newRow("inner blank") << "1 2" << 42;
    QTest::newRow("decimal overflow") << "2147483648" << 42;
    QTest::newRow("hex overflow") << "$100000000" << 42;
    QTest::newRow("fraction") << "1.5" << 42;
    QTest::newRow("full-width digits") << "\uFF11\uFF12" << 42;
}

void TestConfig::readInteger()
{
    QFETCH(QString, stored);
    QFETCH(int, expected);
    testutil::ProgramFolderScope scope;
    QVERIFY(writeAll(scope.iniPath(), fileWithWidth(stored)));
    QCOMPARE(TConfig("Zarvelo").ReadInteger("width", 42), expected);
}

void TestConfig::readBoolean_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("defaultValue");
    QTest::addColumn<bool>("expected");
    QTest::newRow("7") << "7" << false << true;
    QTest::newRow("1") << "1" << false << true;
    QTest::newRow("-1") << "-1" << false << true;
    QTest::newRow("0") << "0" << true << false;
    QTest::newRow("$0") << "$0" << true << false;
    QTest::newRow("x, default false") << "x" << false << false;
    QTest::newRow("x, default true") << "x" << true << true;
    QTest::newRow("true is not an integer") << "true" << false << false;
    QTest::newRow("empty") << "" << true << true;
    QTest::newRow("missing") << QString() << true << true;
}

void TestConfig::readBoolean()
{
    QFETCH(QString, stored);
    QFETCH(bool, defaultValue);
    QFETCH(bool, expected);
    testutil::ProgramFolderScope scope;
    QVERIFY(writeAll(scope.iniPath(), fileWithWidth(stored)));
    QCOMPARE(TConfig("Zarvelo").ReadBoolean("width", defaultValue), expected);
}

void TestConfig::readString_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("expected");
    QTest::newRow("text") << "PNG"
                          << "PNG";
    QTest::newRow("present but empty") << ""
                                       << "";
    QTest::newRow("missing") << QString() << "DEF";
    QTest::newRow("blanks trimmed") << "  a b  "
                                    << "a b";
    QTest::newRow("double quotes removed") << "\" a \""
                                           << " a ";
    QTest::newRow("single quotes removed") << "'x'"
                                           << "x";
    QTest::newRow("unpaired quote kept") << "\"x"
                                         << "\"x";
    QTest::newRow("equals in value") << "a=b"
                                     << "a=b";
    QTest::newRow("Unicode path") << "/home/사용자/사진 폴더"
                                  << "/home/사용자/사진 폴더";
}

void TestConfig::readString()
{
    QFETCH(QString, stored);
    QFETCH(QString, expected);
    testutil::ProgramFolderScope scope;
    QVERIFY(writeAll(scope.iniPath(), fileWithWidth(stored)));
    QCOMPARE(TConfig("Zarvelo").ReadString("width", "DEF"), expected);
}

// Whole files: encodings, layouts, names in any case, and garbage.
void TestConfig::fileForms_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("expected");

    const QString korean = QStringLiteral("[Config]\r\nsavepath=C:\\사진\r\n");
    QTest::newRow("CR LF, any case, blanks")
        << QByteArray("[config]\r\n  SaveFormat=x\r\n SAVEPATH = /x \r\n") << "/x";
    QTest::newRow("blanks in header") << QByteArray("[ Config ]\nsavepath=/s\n") << "/s";
    QTest::newRow("UTF-8 with BOM") << QByteArray("\xEF\xBB\xBF[Config]\nsavepath=/b\n") << "/b";
    QTest::newRow("UTF-16 LE with BOM") << utf16(korean, QStringConverter::Utf16LE) << "C:\\사진";
    QTest::newRow("UTF-16 BE with BOM") << utf16(korean, QStringConverter::Utf16BE) << "C:\\사진";
    QTest::newRow("other section only") << QByteArray("[Other]\nsavepath=/o\n") << "DEF";
    QTest::newRow("before any section") << QByteArray("savepath=/top\n[Config]\n") << "DEF";
    QTest::newRow("comment") << QByteArray("[Config]\n;savepath=/c\n") << "DEF";
    QTest::newRow("first of two keys") << QByteArray("[Config]\nsavepath=/a\nsavepath=/b\n") << "/a";
    QTest::newRow("no line end") << QByteArray("[Config]\nsavepath=/end") << "/end";
    QTest::newRow("empty file") << QByteArray() << "DEF";
    QTest::newRow("ASCII case only") << QByteArray("[Config]\nsavepat\u0130=/u\n") << "DEF";
    QTest::newRow("binary garbage") << garbage(64 * 1024, 1) << "DEF";
    QTest::newRow("garbage around the key")
        << garbage(4096, 2) + "\n[Config]\nsavepath=/g\n" + garbage(4096, 3) << "/g";
    QTest::newRow("10 MB, one line") << QByteArray(10 * 1024 * 1024, 'x') << "DEF";
    QTest::newRow("10 MB of lines, key last")
        << "[Config]\n" + QByteArray("k=v\n").repeated(2 * 1024 * 1024 + 512 * 1024) + "savepath=/last\n"
        << "/last";
}

void TestConfig::fileForms()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, expected);
    testutil::ProgramFolderScope scope;
    QVERIFY(writeAll(scope.iniPath(), file));
    QCOMPARE(TConfig("Zarvelo").ReadString("savepath", "DEF"), expected);
}

// A write changes exactly one line (or adds one, or adds the section) and
// keeps every other byte.
void TestConfig::write_data()
{
    QTest::addColumn<QByteArray>("before"); // null: no file
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("after");

    const QByteArray handEdited = "; written by hand\r\n"
                                  "[Other]\r\n"
                                  "format=keep\r\n"
                                  "\r\n"
                                  "[config]\r\n"
                                  "; the output format\r\n"
                                  "FORMAT = PNG \r\n"
                                  "width=540\r\n"
                                  "\r\n"
                                  "[Tail]\r\n"
                                  "x=1\r\n";
    QByteArray replaced = handEdited;
    replaced.replace("FORMAT = PNG \r\n", "format=JPG\r\n");
    QByteArray inserted = handEdited;
    inserted.replace("width=540\r\n", "width=540\r\nquality=75\r\n");

    QTest::newRow("create") << QByteArray() << "Config"
                            << "format"
                            << "JPG" << QByteArray("[Config]\nformat=JPG\n");
    QTest::newRow("empty file") << QByteArray("") << "Config"
                                << "format"
                                << "JPG" << QByteArray("[Config]\nformat=JPG\n");
    QTest::newRow("replace in hand-edited file") << handEdited << "Config"
                                                 << "format"
                                                 << "JPG" << replaced;
    QTest::newRow("add at end of section") << handEdited << "Config"
                                           << "quality"
                                           << "75" << inserted;
    QTest::newRow("add to last section without line end")
        << QByteArray("[Config]\nwidth=1") << "Config"
        << "quality"
        << "75" << QByteArray("[Config]\nwidth=1\nquality=75\n");
    QTest::newRow("add to empty section") << QByteArray("[Config]") << "Config"
                                          << "format"
                                          << "JPG" << QByteArray("[Config]\nformat=JPG\n");
    QTest::newRow("add section") << QByteArray("; comment\n[Other]\na=1") << "Config"
                                 << "format"
                                 << "JPG" << QByteArray("; comment\n[Other]\na=1\n\n[Config]\nformat=JPG\n");
    QTest::newRow("add section after blank line")
        << QByteArray("[Other]\na=1\n\n") << "Config"
        << "format"
        << "JPG" << QByteArray("[Other]\na=1\n\n[Config]\nformat=JPG\n");
    QTest::newRow("other section of the same file")
        << QByteArray("[Config]\r\nformat=PNG\r\n") << "Update"
        << "endpoint"
        << "https://x.example/api"
        << QByteArray("[Config]\r\nformat=PNG\r\n\r\n[Update]\r\nendpoint=https://x.example/api\r\n");
    QTest::newRow("comment is not the key") << QByteArray("[Config]\n;format=PNG\n") << "Config"
                                            << "format"
                                            << "JPG" << QByteArray("[Config]\n;format=PNG\nformat=JPG\n");
    QTest::newRow("first of two keys") << QByteArray("[Config]\nformat=A\nformat=B\n") << "Config"
                                       << "format"
                                       << "JPG" << QByteArray("[Config]\nformat=JPG\nformat=B\n");
    QTest::newRow("BOM kept") << QByteArray("\xEF\xBB\xBF[Config]\r\nformat=PNG\r\n") << "Config"
                              << "format"
                              << "JPG" << QByteArray("\xEF\xBB\xBF[Config]\r\nformat=JPG\r\n");
    QTest::newRow("UTF-16 rewritten as UTF-8")
        << utf16(QStringLiteral("[Config]\r\nsavepath=C:\\사진\r\nformat=PNG\r\n"), QStringConverter::Utf16LE)
        << "Config"
        << "format"
        << "JPG" << QStringLiteral("[Config]\r\nsavepath=C:\\사진\r\nformat=JPG\r\n").toUtf8();
    QTest::newRow("garbage lines kept byte for byte")
        << QByteArray("[Config]\n\xFF\xC0\x00\x01garbage\nformat=PNG\n", 32) << "Config"
        << "format"
        << "JPG" << QByteArray("[Config]\n\xFF\xC0\x00\x01garbage\nformat=JPG\n", 32);
    QTest::newRow("Unicode value") << QByteArray() << "Config"
                                   << "savepath"
                                   << "/home/사용자/사진 폴더"
                                   << QStringLiteral("[Config]\nsavepath=/home/사용자/사진 폴더\n").toUtf8();
    QTest::newRow("blanks kept by quotes") << QByteArray() << "Config"
                                           << "savepath"
                                           << "/tmp/x " << QByteArray("[Config]\nsavepath=\"/tmp/x \"\n");
    QTest::newRow("quotes kept by quotes") << QByteArray() << "Config"
                                           << "savepath"
                                           << "'q'" << QByteArray("[Config]\nsavepath=\"'q'\"\n");
    QTest::newRow("empty value") << QByteArray("[Config]\nsavepath=/x\n") << "Config"
                                 << "savepath"
                                 << "" << QByteArray("[Config]\nsavepath=\n");
}

void TestConfig::write()
{
    QFETCH(QByteArray, before);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QByteArray, after);
    testutil::ProgramFolderScope scope;
    if (!before.isNull())
        QVERIFY(writeAll(scope.iniPath(), before));
    // A file without line breaks gets the system's own.
    if (!before.contains('\n'))
        after.replace("\n", NativeLineBreak());
    TConfig(QStringLiteral("Zarvelo"), section).WriteString(key, value);
    QCOMPARE(readAll(scope.iniPath()), after);
}

// Typed values come back as written, each key beside the others.
void TestConfig::writeReadBack()
{
    testutil::ProgramFolderScope scope;
    {
        TConfig config("Zarvelo");
        config.WriteInteger("width", INT_MIN);
        config.WriteInteger("quality", -5);
        config.WriteBoolean("resize_w", true);
        config.WriteBoolean("other", false);
        config.WriteString("format", "");
        config.WriteString("savepath", "/a b/c=d");
        config.WriteString("blanks", " /tmp/x ");
        config.WriteString("quoted", "\"q\"");
    }
    TConfig config("Zarvelo");
    QCOMPARE(config.ReadInteger("width", 0), INT_MIN);
    QCOMPARE(config.ReadInteger("quality", 0), -5);
    QCOMPARE(config.ReadBoolean("resize_w", false), true);
    QCOMPARE(config.ReadBoolean("other", true), false);
    QCOMPARE(config.ReadString("format", "JPG"), QString(""));
    QCOMPARE(config.ReadString("savepath", ""), QString("/a b/c=d"));
    QCOMPARE(config.ReadString("blanks", ""), QString(" /tmp/x "));
    QCOMPARE(config.ReadString("quoted", ""), QString("\"q\""));
    QCOMPARE(readAll(scope.iniPath()),
             QByteArray("[Config]\nwidth=-2147483648\nquality=-5\nresize_w=1\nother=0\n"
                        "format=\nsavepath=/a b/c=d\nblanks=\" /tmp/x \"\n"
                        "quoted=\"\"q\"\"\n")
                 .replace("\n", NativeLineBreak()));
}

// What cannot be stored as one "key=value" line is dropped, so no write can
// add a key or a section the caller did not name.
void TestConfig::refusedWrites_data()
{
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("LF in value") << "Config"
                                 << "savepath"
                                 << "/x\nsave=2";
    QTest::newRow("CR in value") << "Config"
                                 << "savepath"
                                 << "/x\r[Evil]";
    QTest::newRow("equals in key") << "Config"
                                   << "save=2"
                                   << "1";
    QTest::newRow("empty key") << "Config"
                               << ""
                               << "1";
    QTest::newRow("key starts a section") << "Config"
                                          << "[Evil]"
                                          << "1";
    QTest::newRow("key is a comment") << "Config"
                                      << ";save"
                                      << "1";
    QTest::newRow("blank around key") << "Config"
                                      << " save"
                                      << "1";
    QTest::newRow("bracket in section") << "Con]fig"
                                        << "save"
                                        << "1";
    QTest::newRow("LF in section") << "A\nB"
                                   << "save"
                                   << "1";
    QTest::newRow("empty section") << ""
                                   << "save"
                                   << "1";
}

void TestConfig::refusedWrites()
{
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    testutil::ProgramFolderScope scope;
    const QByteArray before = "[Config]\nsave=1\n";
    QVERIFY(writeAll(scope.iniPath(), before));
    TConfig(QStringLiteral("Zarvelo"), section).WriteString(key, value);
    QCOMPARE(readAll(scope.iniPath()), before);
    QCOMPARE(TConfig("Zarvelo").ReadInteger("save", -1), 1);
}

// Places where the file cannot be written or must not be touched: the write
// is dropped and reported, the reads give the defaults, and whatever was
// there stays as it was. (A program folder that cannot be written sends the
// settings to the user's folder; here that cannot be made either.)
void TestConfig::failedWrites_data()
{
    QTest::addColumn<QString>("place");
    QTest::newRow("missing folder") << "missing folder";
    QTest::newRow("read-only folder") << "read-only folder";
    QTest::newRow("system folder") << "system folder";
    QTest::newRow("settings file is a folder") << "folder";
    QTest::newRow("settings file is a named pipe") << "pipe";
    QTest::newRow("settings file too large") << "too large";
    QTest::newRow("settings file unreadable") << "unreadable";
}

void TestConfig::failedWrites()
{
    QFETCH(QString, place);
    testutil::ProgramFolderScope scope;
    const QString ini = scope.iniPath();
    // Why permission bits cannot lock the file or folder here; null when they can.
    const char *noLocking =
#ifdef Q_OS_UNIX
        ::geteuid() == 0 ? "permissions do not stop root" : nullptr;
#else
        "permission bits are only a read-only attribute here, which stops neither reading nor a folder's writes";
#endif

    QString folder = scope.path();
    if (place == "missing folder") {
        folder = scope.path() + "no/such/folder/";
    } else if (place == "read-only folder") {
        if (noLocking && rerunUnprivileged())
            return;
        if (noLocking)
            QSKIP(noLocking);
        QVERIFY(writeAll(ini, "[Config]\nformat=PNG\n"));
        QVERIFY(QFile::setPermissions(scope.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    } else if (place == "system folder") {
#ifdef Q_OS_LINUX
        folder = "/proc/self/";
#else
        QSKIP("Linux only");
#endif
    } else if (place == "folder") {
        QVERIFY(QDir().mkpath(ini));
    } else if (place == "pipe") {
#ifdef Q_OS_UNIX
        QCOMPARE(::mkfifo(QFile::encodeName(ini).constData(), 0600), 0);
#else
        QSKIP("no named pipes in the file system here");
#endif
    } else if (place == "too large") {
        QFile file(ini);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.write("[Config]\nformat=PNG\n") > 0);
        QVERIFY(file.resize(IniMaxFileSize + 1)); // sparse: cheap to make
    } else if (place == "unreadable") {
        if (noLocking && rerunUnprivileged())
            return;
        if (noLocking)
            QSKIP(noLocking);
        QVERIFY(writeAll(ini, "[Config]\nformat=PNG\n"));
        QVERIFY(QFile::setPermissions(ini, QFileDevice::WriteOwner));
    }
    SetProgramFolder(folder);
    // Beside the program folder, which may be read-only by now.
    QTemporaryDir userDir;
    const QString userFile = userDir.path() + "/not-a-folder";
    QVERIFY(writeAll(userFile, "decoy"));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(userFile));
    // The user's folder cannot be made either: above, its parent is a file;
    // Windows takes that parent from the system, so a file takes its name.
    const QString userFolder =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/Zarvelo");
    const bool blockUserFolder = !QFileInfo(QFileInfo(userFolder).path()).isFile();
    if (blockUserFolder) {
        QVERIFY(QDir().mkpath(QFileInfo(userFolder).path()));
        QVERIFY(writeAll(userFolder, "decoy"));
    }
    const QString target = SettingsFolder() + "Zarvelo.ini";

    const QFileInfo before(folder + "Zarvelo.ini");
    const QByteArray bytesBefore = before.isFile() ? readAll(before.filePath()) : QByteArray();
    const qint64 sizeBefore = before.size();

    TConfig config("Zarvelo");
    config.WriteString("format", "GIF");
    config.WriteInteger("width", 99);
    QCOMPARE(config.ReadString("format", "DEF") == "GIF", false);
    QCOMPARE(config.ReadInteger("width", 540), 540);

    const QFileInfo after(folder + "Zarvelo.ini");
    QCOMPARE(after.exists(), before.exists());
    QCOMPARE(after.isFile(), before.isFile());
    QCOMPARE(after.size(), sizeBefore);
    if (place != "unreadable" && after.isFile())
        QCOMPARE(readAll(after.filePath()), bytesBefore);
    QVERIFY(!QDir(scope.path() + "no").exists());
    QCOMPARE(readAll(userFile), QByteArray("decoy"));
    if (blockUserFolder) {
        QCOMPARE(readAll(userFolder), QByteArray("decoy"));
        QVERIFY(QFile::remove(userFolder));
    }
    // Each failed write is reported with the file it was meant for.
    QCOMPARE(m_failed, QStringList({target, target}));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_userConfig.path()));
    QFile::setPermissions(scope.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

// The settings file stays beside the program where a file can be made
// there, else it goes to the user's configuration folder; the program as
// installed always uses the user's folder.
void TestConfig::settingsPlace_data()
{
    QTest::addColumn<QString>("place");
    QTest::addColumn<bool>("beside");
    QTest::newRow("writable program folder") << "writable" << true;
    QTest::newRow("read-only program folder") << "read-only" << false;
    QTest::newRow("missing program folder") << "missing" << false;
    QTest::newRow("system folder") << "system" << false;
    QTest::newRow("the folder installed to") << "installed" << false;
}

void TestConfig::settingsPlace()
{
    QFETCH(QString, place);
    QFETCH(bool, beside);
    testutil::ProgramFolderScope scope;
    QTemporaryDir user;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(user.path()));
    QString folder = scope.path();
    if (place == "read-only") {
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        if (QFile probe(folder + "probe"); probe.open(QIODevice::WriteOnly)) {
            probe.remove();
            QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
            const bool checked = rerunUnprivileged();
            qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_userConfig.path()));
            if (checked)
                return;
            QSKIP("permissions do not stop this user from writing here (root, or a read-only attribute that "
                  "folders ignore); run as another user on Linux");
        }
    } else if (place == "missing") {
        folder += "no/such/folder/";
    } else if (place == "system") {
#ifdef Q_OS_LINUX
        folder = "/proc/self/";
#else
        QSKIP("Linux only");
#endif
    } else if (place == "installed") {
        folder = QStringLiteral(ZARVELO_INSTALL_BINDIR) + "/";
        if (!QFileInfo(folder).isDir())
            QSKIP("the install folder does not exist here");
    }
    SetProgramFolder(folder);
    // The user's settings folder: XDG_CONFIG_HOME here, the system's on Windows.
    const QString userFolder =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/Zarvelo");
    QVERIFY(QDir(userFolder).removeRecursively());
    const QString expected = beside ? folder + "Zarvelo.ini" : userFolder + "/Zarvelo.ini";

    TConfig config("Zarvelo");
    QCOMPARE(config.fileName(), expected);
    config.WriteString("format", "GIF");
    QCOMPARE(TConfig("Zarvelo").ReadString("format", "JPG"), QStringLiteral("GIF"));
    QCOMPARE(readAll(expected), QByteArray("[Config]\nformat=GIF\n").replace("\n", NativeLineBreak()));
    QCOMPARE(QFileInfo::exists(folder + "Zarvelo.ini"), beside);
    QCOMPARE(QFileInfo::exists(userFolder), !beside);
    QVERIFY(m_failed.isEmpty());
    // Nothing else was left in the program folder (the place test cleans up).
    if (place == "writable" || place == "read-only")
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), beside ? QStringList{"Zarvelo.ini"} : QStringList{});

    QFile::setPermissions(scope.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QDir(userFolder).removeRecursively();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_userConfig.path()));
}

QTEST_GUILESS_MAIN(TestConfig)
#include "tst_config.moc"
