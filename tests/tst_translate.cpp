// The built-in translation table's bytes, the lookup rules, and how the
// language in force is taken from the user's locale.

#include "translate.h"

#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTest>

#include <cstring>

namespace
{

const QStringList BlockLanguages{"ko", "en", "ja", "zh", "ru", "it", "fr"};

// Restores the built-in table and the locale's language after each test.
struct BuiltInTableScope {
    ~BuiltInTableScope() { InitTranslation(); }
};

} // namespace

class TestTranslate : public QObject
{
    Q_OBJECT

  private slots:
    void initTestCase();
    void resourceBytes();
    void translate_data();
    void translate();
    void customTable_data();
    void customTable();
    void languageCode_data();
    void languageCode();
    void languageFromEnvironment_data();
    void languageFromEnvironment();
};

void TestTranslate::initTestCase()
{
    InitTranslation();
}

// The exact bytes: BOM, CR LF everywhere except one lone LF after "it=Dona",
// 59 blocks of the seven languages in order, single empty lines between:
// the 26 of the first table, then the job's 12 (cancel, progress, details,
// failed again, the job options, the /auto format message), then 6 for adding
// files (two menu items, two dialog filters, the empty-list hint) and the
// notice of unsaved settings, then 5 for kept dates, the details' Copy
// button, a folder that cannot be opened, Convert on an empty list and a
// cancelled run's note, then 5 for the resize modes (three modes, shrink only)
// and a format the image tool cannot write, then 5 for an output that exists
// (the "Skipped" status, the settings card's label and its three choices).
void TestTranslate::resourceBytes()
{
    constexpr int kBlocks = 59;
    QFile file(QStringLiteral(":/translate.txt"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();

    QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
    QVERIFY(!bytes.mid(3).startsWith("\xEF\xBB\xBF"));
    QVERIFY(!bytes.contains("\r\r"));

    // Cut into lines by hand, recording each line's ending.
    QList<QByteArray> lines;
    QList<QByteArray> endings;
    qsizetype start = 3;
    for (qsizetype i = 3; i < bytes.size(); ++i) {
        if (bytes[i] == '\r') {
            QVERIFY2(i + 1 < bytes.size() && bytes[i + 1] == '\n', "lone CR");
            lines.append(bytes.mid(start, i - start));
            endings.append("\r\n");
            start = ++i + 1;
        } else if (bytes[i] == '\n') {
            lines.append(bytes.mid(start, i - start));
            endings.append("\n");
            start = i + 1;
        }
    }
    if (start < bytes.size())
        lines.append(bytes.mid(start));

    QCOMPARE(lines.size(), kBlocks * 7 + kBlocks - 1);
    QCOMPARE(endings.count("\n"), 1);
    QCOMPARE(lines[endings.indexOf("\n")], QByteArray("it=Dona"));
    QCOMPARE(lines[endings.indexOf("\n") + 1], QByteArray("fr=Donner"));

    QSet<QString> keys;
    QHash<QString, int> blockOfText;
    for (int block = 0; block < kBlocks; ++block) {
        const int first = block * 8;
        if (block > 0)
            QVERIFY2(lines[first - 1].isEmpty(),
                     qPrintable(QString("no separator before block %1").arg(block + 1)));
        for (int k = 0; k < 7; ++k) {
            const QString line = QString::fromUtf8(lines[first + k]);
            QVERIFY2(line.startsWith(BlockLanguages[k] + '='), qPrintable(line));
            const QString text = line.mid(3);
            QVERIFY2(!text.isEmpty() && text.trimmed() == text, qPrintable(line));
            QVERIFY2(blockOfText.value(text, block) == block, qPrintable("text in two blocks: " + text));
            blockOfText.insert(text, block);
            if (k == 0) {
                QVERIFY2(!keys.contains(text), qPrintable("duplicate key " + text));
                keys.insert(text);
            }
        }
    }
    QCOMPARE(keys.size(), kBlocks);
    QVERIFY(QString::fromUtf8(bytes).contains(QStringLiteral("ru=\u041E\u041A\r\n")));
}

void TestTranslate::translate_data()
{
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char *name, const QString &current, const QString &text,
                        const QString &language, const QString &expected) {
        QTest::newRow(name) << current << text << language << expected;
    };

    // Korean in force: nothing is looked up, even with a language given.
    row("ko key", "ko", "준비", "", "준비");
    row("ko explicit en", "ko", "준비", "en", "준비");
    row("ko English text", "ko", "Ready", "", "Ready");
    row("ko backslash-n", "ko", "a\\nb\\n", "", "a\rb\r");

    row("en key", "en", "준비", "", "Ready");
    row("en placeholder", "en", "%s 로 변환하기", "", "Convert to %s");
    row("en trailing space colon", "en", "저장형식 :", "", "Format");
    row("en without the space", "en", "저장형식:", "", "저장형식:");
    row("en English text", "en", "Ready", "", "Ready");
    row("en case matters", "en", "ready", "", "ready");
    row("en backslash-n unknown", "en", "line1\\nline2", "", "line1\rline2");

    row("ja key", "ja", "선택된 목록 삭제", "", "削除");
    row("ja English text", "ja", "Delete", "", "削除");
    row("ja French text", "ja", "Supprimer", "", "削除");
    row("ja own text again", "ja", "削除", "", "削除");
    row("ja Delete All", "ja", "모든 목록 삭제", "", "すべて削除");

    // The lone LF after "it=Dona" still ends its line.
    row("fr Donner", "fr", "후원하기", "", "Donner");
    row("fr from Italian", "fr", "Dona", "", "Donner");
    row("it Dona", "it", "후원하기", "", "Dona");
    row("fr Accueil", "fr", "처음화면", "", "Accueil");
    row("fr last block", "fr", "모든 목록 삭제", "", "Tout supprimer");
    row("ru Cyrillic OK", "ru", "선택", "", "\u041E\u041A");
    row("zh first block", "zh", "Zarvelo", "", "Zarvelo");
    row("zh", "zh", "원본 파일 폴더", "", "原始文件夹");

    // A language the table lacks falls back to English.
    row("de key", "de", "준비", "", "Ready");
    row("de Japanese text", "de", "準備完了", "", "Ready");
    row("de unknown", "de", "JPG", "", "JPG");
    row("de component name", "de", "PnlHome", "", "PnlHome");
    row("de empty", "de", "", "", "");
    row("empty language in force", "", "준비", "", "Ready");

    // An explicit language is tried first, then English.
    row("fr explicit ja", "fr", "준비", "ja", "準備完了");
    row("fr explicit de", "fr", "준비", "de", "Ready");
    row("language case matters", "en", "준비", "JA", "Ready");
}

void TestTranslate::translate()
{
    QFETCH(QString, current);
    QFETCH(QString, text);
    QFETCH(QString, language);
    QFETCH(QString, expected);
    BuiltInTableScope restore;
    SetCurrentLanguage(current);
    QCOMPARE(Translate(text, language), expected);
}

// A hand-made table for what the shipped one never shows: blocks without
// English, backslash-n in a translation, '=' in a text, odd line ends.
void TestTranslate::customTable_data()
{
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("no fr, no en: source") << "fr"
                                          << "사과"
                                          << "사과";
    QTest::newRow("no fr, no en: other text") << "fr"
                                              << "りんご"
                                              << "りんご";
    QTest::newRow("ja present") << "ja"
                                << "사과"
                                << "りんご";
    QTest::newRow("backslash-n in translation") << "fr"
                                                << "배"
                                                << "\rPoire\r";
    QTest::newRow("en fallback") << "de"
                                 << "배"
                                 << "Pear";
    QTest::newRow("equals inside text") << "en"
                                        << "a=b"
                                        << "x=y";
    QTest::newRow("line without equals ends nothing") << "en"
                                                      << "포도"
                                                      << "Grape";
    QTest::newRow("lone CR splits") << "en"
                                    << "감"
                                    << "Persimmon";
    QTest::newRow("empty translation") << "ja"
                                       << "감"
                                       << "";
    QTest::newRow("first block wins") << "en"
                                      << "dup"
                                      << "first";
}

void TestTranslate::customTable()
{
    QFETCH(QString, current);
    QFETCH(QString, text);
    QFETCH(QString, expected);
    const TTranslationTable table("\xEF\xBB\xBF"
                                  "ko=사과\r\nja=りんご\r\n\r\n"
                                  "ko=배\nen=Pear\nfr=\\nPoire\\n\n\n"
                                  "ko=a=b\r\nen=x=y\r\n\r\n"
                                  "ko=포도\r\nno equals here\r\nen=Grape\r\n\r\n"
                                  "ko=감\ren=Persimmon\rja=\r\r"
                                  "ko=dup\r\nen=first\r\n\r\nko=dup\r\nen=second");
    QCOMPARE(table.Translate(text, current), expected);
}

void TestTranslate::languageCode_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("expected");
    QTest::newRow("Korean") << QLocale(QLocale::Korean, QLocale::SouthKorea) << "ko";
    QTest::newRow("Chinese, Taiwan") << QLocale(QLocale::Chinese, QLocale::Taiwan) << "zh";
    QTest::newRow("Chinese, Singapore") << QLocale(QLocale::Chinese, QLocale::Singapore) << "zh";
    QTest::newRow("French, Canada") << QLocale(QLocale::French, QLocale::Canada) << "fr";
    QTest::newRow("C") << QLocale::c() << "en";
    QTest::newRow("three letters") << QLocale(QLocale::Hawaiian) << "haw";
}

void TestTranslate::languageCode()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, expected);
    QCOMPARE(LanguageCodeOf(locale), expected);
}

// Start-up in a child process whose environment names the locale: the
// language in force is the first two letters of its ISO 639 code.
void TestTranslate::languageFromEnvironment_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("expected");
    QTest::newRow("ko_KR") << "ko_KR.UTF-8"
                           << "ko";
    QTest::newRow("zh_TW") << "zh_TW.UTF-8"
                           << "zh";
    QTest::newRow("fr_CA") << "fr_CA.UTF-8"
                           << "fr";
    QTest::newRow("Hawaiian cut to two") << "haw_US.UTF-8"
                                         << "ha";
    QTest::newRow("C") << "C"
                       << "en";
    QTest::newRow("POSIX") << "POSIX"
                           << "en";
}

void TestTranslate::languageFromEnvironment()
{
#ifdef Q_OS_WIN
    QSKIP("the locale comes from the system settings here");
#endif
    QFETCH(QString, locale);
    QFETCH(QString, expected);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LC_CTYPE", "LC_NUMERIC", "LANG"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("LC_ALL"), locale);
    env.insert(QStringLiteral("LANG"), locale);
    QProcess child;
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--print-language")});
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(QString::fromUtf8(child.readAllStandardOutput()).trimmed(), expected);
}

int main(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--print-language") == 0) {
        QCoreApplication app(argc, argv);
        InitTranslation();
        QFile out;
        if (out.open(stdout, QIODevice::WriteOnly))
            out.write(CurrentLanguage().toUtf8() + '\n');
        return 0;
    }
    QCoreApplication app(argc, argv);
    TestTranslate test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_translate.moc"
