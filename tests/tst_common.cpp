// Shared helpers: version text, user folders, opening web addresses, the
// program folder.

#include "common.h"
#include "testutil.h"
#include "version.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>

class TestCommon : public QObject
{
    Q_OBJECT

  private slots:
    void versionString_data();
    void versionString();
    void versionWithoutResource();
    void specialFolders();
    void openDocument_data();
    void openDocument();
    void programFolder();
};

void TestCommon::versionString_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("expected");

    const QString major = QString::number(ZARVELO_VERSION_MAJOR);
    const QString minor = QString::number(ZARVELO_VERSION_MINOR);
    const QString release = QString::number(ZARVELO_VERSION_PATCH);
    const QString build = QString::number(ZARVELO_VERSION_TWEAK);
    QTest::newRow("three parts") << "%d.%d.%d" << major + '.' + minor + '.' + release;
    QTest::newRow("four parts") << "%d.%d.%d.%d" << major + '.' + minor + '.' + release + '.' + build;
    QTest::newRow("text around") << "v%d (%d)"
                                 << "v" + major + " (" + minor + ")";
    QTest::newRow("percent sign") << "%d%%" << major + '%';
    QTest::newRow("no fields") << "plain"
                               << "plain";
    QTest::newRow("lone percent at the end") << "%d %" << major + " %";
}

void TestCommon::versionString()
{
    QFETCH(QString, format);
    QFETCH(QString, expected);
    QCOMPARE(GetVersionString(format), expected);
}

// A program that carries no version resource: on Windows its version is all
// zeros (the version is read from the executable's resource, never compiled
// in); elsewhere the version the program was built as.
void TestCommon::versionWithoutResource()
{
    QProcess process;
    process.start(testutil::binFolder() + testutil::exeName(QStringLiteral("print_version")), QStringList());
    QVERIFY2(process.waitForFinished(30000), qPrintable(process.errorString()));
    const QString printed = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    const QString built = QStringLiteral("%1.%2.%3.%4")
                              .arg(ZARVELO_VERSION_MAJOR)
                              .arg(ZARVELO_VERSION_MINOR)
                              .arg(ZARVELO_VERSION_PATCH)
                              .arg(ZARVELO_VERSION_TWEAK);
    QCOMPARE(printed, testutil::executableSuffix().isEmpty() ? built : QStringLiteral("0.0.0.0"));
}

void TestCommon::specialFolders()
{
    const QString desktop = GetSpecialFolder(CSIDL_DESKTOP);
    QCOMPARE(desktop, QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));

    const QString fonts = GetSpecialFolder(CSIDL_FONTS);
    QVERIFY2(QFileInfo(fonts).isDir(), qPrintable(fonts));
    QVERIFY(!fonts.endsWith(QLatin1Char('/')));

    // The temporary folder exists (it is made when missing) and is writable.
    const QString cache = GetSpecialFolder(CSIDL_INTERNET_CACHE);
    QVERIFY(!cache.isEmpty());
    QVERIFY(!cache.endsWith(QLatin1Char('/')));
    QVERIFY(QFileInfo(cache).isDir());
    QVERIFY(QFileInfo(cache).isWritable());

    QCOMPARE(GetSpecialFolder(0x05), QString());
}

void TestCommon::openDocument_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("opened");

    QTest::newRow("home page") << "https://zarvelo.example/zarvelo?v=1.0.0.0" << true;
    QTest::newRow("plain http") << "http://zarvelo.example/donate" << true;
    QTest::newRow("local file") << "file:///etc/passwd" << false;
    QTest::newRow("bare path") << "/usr/bin/xterm" << false;
    QTest::newRow("other scheme") << "javascript:alert(1)" << false;
    QTest::newRow("no host") << "https:///path" << false;
    QTest::newRow("empty") << "" << false;
}

void TestCommon::openDocument()
{
    QFETCH(QString, url);
    QFETCH(bool, opened);

    testutil::BrowserStandIn browser;
    const bool result = OpenDocument(url);

    QCOMPARE(result, opened);
    QCOMPARE(browser.urls, opened ? QList<QUrl>{QUrl(url)} : QList<QUrl>{});
}

void TestCommon::programFolder()
{
    const QString own = QCoreApplication::applicationDirPath() + QLatin1Char('/');
    QCOMPARE(ProgramFolder(), own);
    SetProgramFolder(QStringLiteral("/some/folder"));
    QCOMPARE(ProgramFolder(), QStringLiteral("/some/folder/"));
    SetProgramFolder(QStringLiteral("/other/"));
    QCOMPARE(ProgramFolder(), QStringLiteral("/other/"));
    SetProgramFolder(QString());
    QCOMPARE(ProgramFolder(), own);
}

QTEST_MAIN(TestCommon)
#include "tst_common.moc"
