// The settings value: the keys loaded from the file (with the values loading
// writes straight back), one key saved, and the options of a --convert
// command line, all without a window.

#include "common.h"
#include "platform.h"
#include "settings.h"
#include "testutil.h"

#include <QCommandLineParser>
#include <QTest>

namespace
{

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().replace(NativeLineBreak(), "\n") : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A parser knowing the command line's options, after parsing arguments.
struct Parsed {
    QCommandLineParser parser;
    explicit Parsed(const QStringList &arguments)
    {
        for (const char *name :
             {"convert", "width", "long-edge", "fit", "percent", "quality", "out", "workers", "shard", "existing"})
            parser.addOption(QCommandLineOption(QLatin1String(name), QString(), QStringLiteral("V")));
        for (const char *name :
             {"keep-tree", "keep-metadata", "strip-metadata", "keep-dates", "json", "shrink-only"})
            parser.addOption(QCommandLineOption(QLatin1String(name)));
        parser.parse(QStringList{QStringLiteral("zarvelo")} + arguments);
    }
};

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

  private slots:
    // Stored text -> the loaded value -> what the file holds afterwards.
    void load_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("format");
        QTest::addColumn<bool>("into");
        QTest::addColumn<bool>("useWidth");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("quality");
        QTest::addColumn<int>("workers");
        QTest::addColumn<QByteArray>("written");

        const QByteArray h("[Config]\n");
        QTest::newRow("first start") << QByteArray() << "JPG" << false << false << 540 << 75 << 0
                                     << h + "save=1\nformat=JPG\n";
        QTest::newRow("all set") << h + "format=GIF\nsave=2\nresize_w=1\nwidth=800\nquality=90\nworkers=4\n"
                                 << "GIF" << true << true << 800 << 90 << 4
                                 << h + "format=GIF\nsave=2\nresize_w=1\nwidth=800\nquality=90\nworkers=4\n";
        QTest::newRow("out of range") << h + "quality=7\nwidth=99999\nworkers=500\nsave=9\n"
                                      << "JPG" << false << false << 65535 << 40 << 64
                                      << h + "quality=40\nwidth=65535\nworkers=64\nsave=1\nformat=JPG\n";
        QTest::newRow("not numbers") << h + "quality=high\nwidth=\nresize_w=yes\n"
                                     << "JPG" << false << false << 540 << 75 << 0
                                     << h + "quality=high\nwidth=\nresize_w=yes\nsave=1\nformat=JPG\n";
        QTest::newRow("format outside the table kept, not written")
            << h + "format=bmp\n"
            << "bmp" << false << false << 540 << 75 << 0 << h + "format=bmp\nsave=1\n";
        QTest::newRow("hex width, odd boolean") << h + "width=$400\nresize_w=7\n"
                                                << "JPG" << false << true << 1024 << 75 << 0
                                                << h + "width=1024\nresize_w=1\nsave=1\nformat=JPG\n";
    }

    void load()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QString, format);
        QFETCH(bool, into);
        QFETCH(bool, useWidth);
        QFETCH(int, width);
        QFETCH(int, quality);
        QFETCH(int, workers);
        QFETCH(QByteArray, written);

        testutil::ProgramFolderScope scope;
        if (!stored.isEmpty())
            QVERIFY(writeAll(scope.iniPath(), stored));
        const TStoredSettings settings = LoadSettings();
        QCOMPARE(settings.Options.SaveFormat, format);
        QCOMPARE(settings.IntoOutputFolder, into);
        QCOMPARE(settings.Options.UseWidth, useWidth);
        QCOMPARE(settings.Options.Width, width);
        QCOMPARE(settings.Options.Quality, quality);
        QCOMPARE(settings.Options.Workers, workers);
        QVERIFY(settings.Options.SavePath.isEmpty());
        QCOMPARE(settings.OutputFolder, GetSpecialFolder(CSIDL_DESKTOP) + QStringLiteral("/Zarvelo"));
        QCOMPARE(readAll(scope.iniPath()), written);
        // A second load finds nothing more to write.
        LoadSettings();
        QCOMPARE(readAll(scope.iniPath()), written);
    }

    // Every key of the table saves and reads back under its own name.
    void saveAndRead()
    {
        testutil::ProgramFolderScope scope;
        SaveSetting(TSettingId::Quality, 55);
        SaveSetting(TSettingId::KeepTree, true);
        SaveSetting(TSettingId::SavePath, QStringLiteral("/tmp/[a] 50% \"b\""));
        QCOMPARE(readAll(scope.iniPath()),
                 QByteArray("[Config]\nquality=55\nkeeptree=1\nsavepath=/tmp/[a] 50% \"b\"\n"));
        QCOMPARE(ReadSetting(TSettingId::Quality).toInt(), 55);
        QCOMPARE(ReadSetting(TSettingId::KeepTree).toBool(), true);
        QCOMPARE(ReadSetting(TSettingId::SavePath).toString(), QStringLiteral("/tmp/[a] 50% \"b\""));
        QCOMPARE(ReadSetting(TSettingId::ToolTimeout).toInt(), 0);
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("error"); // the start of the error, empty when usable
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("width"); // 0: UseWidth off
        QTest::addColumn<int>("quality");
        QTest::addColumn<int>("workers");
        QTest::addColumn<bool>("keepMeta");

        QTest::newRow("format only") << QStringList{"--convert", "png"} << ""
                                     << "PNG" << 0 << 75 << 0 << true;
        QTest::newRow("jpeg, all set")
            << QStringList{"--convert", "JPEG", "--width",         "1", "--quality", "100",
                           "--workers", "256",  "--strip-metadata"}
            << ""
            << "JPG" << 1 << 100 << 256 << false;
        QTest::newRow("tif") << QStringList{"--convert", " tif ", "--width", "65535"} << ""
                             << "TIFF" << 65535 << 75 << 0 << true;
        QTest::newRow("no format") << QStringList{"--width", "5"} << "--convert FORMAT is missing"
                                   << "" << 0 << 0 << 0 << true;
        QTest::newRow("unknown format")
            << QStringList{"--convert", "bmp"} << "unknown format 'bmp' (JPG, PNG, GIF, WEBP, TIFF or AVIF)"
            << "" << 0 << 0 << 0 << true;
        QTest::newRow("width 0") << QStringList{"--convert", "png", "--width", "0"}
                                 << "--width needs a number from 1 to 65535"
                                 << "" << 0 << 0 << 0 << true;
        QTest::newRow("quality 39") << QStringList{"--convert", "png", "--quality", "39"}
                                    << "--quality needs a number from 40 to 100"
                                    << "" << 0 << 0 << 0 << true;
        QTest::newRow("workers 257") << QStringList{"--convert", "png", "--workers", "257"}
                                     << "--workers needs a number from 0 to 256"
                                     << "" << 0 << 0 << 0 << true;
        QTest::newRow("both metadata")
            << QStringList{"--convert", "png", "--keep-metadata", "--strip-metadata"}
            << "--keep-metadata and --strip-metadata"
            << "" << 0 << 0 << 0 << true;
    }

    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, error);
        QFETCH(QString, format);
        QFETCH(int, width);
        QFETCH(int, quality);
        QFETCH(int, workers);
        QFETCH(bool, keepMeta);

        const Parsed parsed(arguments);
        const TCommandLineOptions result = OptionsFromCommandLine(parsed.parser);
        if (!error.isEmpty()) {
            QVERIFY2(result.Error.startsWith(error), qPrintable(result.Error));
            return;
        }
        QCOMPARE(result.Error, QString());
        QCOMPARE(result.Options.SaveFormat, format);
        QCOMPARE(result.Options.UseWidth, width > 0);
        if (width > 0)
            QCOMPARE(result.Options.Width, width);
        QCOMPARE(result.Options.Quality, quality);
        QCOMPARE(result.Options.Workers, workers);
        QCOMPARE(result.Options.KeepMetadata, keepMeta);
        QVERIFY(result.Options.SavePath.isEmpty());
        QVERIFY(!result.Options.KeepDates);
        QCOMPARE(result.Shard, TShard());
    }

    // The resize keys: stored text -> loaded choice -> what the file holds
    // afterwards (only values a person changed are ever written back).
    void resizeKeys_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("longEdge");
        QTest::addColumn<QSize>("box");
        QTest::addColumn<int>("percent");
        QTest::addColumn<bool>("shrinkOnly");
        QTest::addColumn<QByteArray>("written");

        const QByteArray h("[Config]\n");
        const QByteArray tail("save=1\nformat=JPG\n");
        QTest::newRow("none: width, as before")
            << QByteArray() << "width" << 540 << QSize(540, 540) << 50 << false << h + tail;
        QTest::newRow("all set") << h + "resize_mode=fit\nlong_edge=1600\nfit_w=800\nfit_h=600\npercent=25\n"
                                        "shrink_only=1\n"
                                 << "fit" << 1600 << QSize(800, 600) << 25 << true
                                 << h +
                                        "resize_mode=fit\nlong_edge=1600\nfit_w=800\nfit_h=600\npercent=25\n"
                                        "shrink_only=1\n" +
                                        tail;
        QTest::newRow("mode in any case")
            << h + "resize_mode=LongEdge\n"
            << "longedge" << 540 << QSize(540, 540) << 50 << false << h + "resize_mode=LongEdge\n" + tail;
        QTest::newRow("unknown mode, out of range")
            << h + "resize_mode=height\nlong_edge=70000\nfit_w=-3\npercent=5000\n"
            << "width" << 65535 << QSize(0, 540) << 1000 << false
            << h + "resize_mode=height\nlong_edge=65535\nfit_w=0\npercent=1000\n" + tail;
    }

    void resizeKeys()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QString, mode);
        QFETCH(int, longEdge);
        QFETCH(QSize, box);
        QFETCH(int, percent);
        QFETCH(bool, shrinkOnly);
        QFETCH(QByteArray, written);

        testutil::ProgramFolderScope scope;
        if (!stored.isEmpty())
            QVERIFY(writeAll(scope.iniPath(), stored));
        const ConversionOptions options = LoadSettings().Options;
        QCOMPARE(ResizeModeName(options.ResizeMode), mode);
        QCOMPARE(options.LongEdge, longEdge);
        QCOMPARE(QSize(options.FitWidth, options.FitHeight), box);
        QCOMPARE(options.Percent, percent);
        QCOMPARE(options.ShrinkOnly, shrinkOnly);
        QCOMPARE(readAll(scope.iniPath()), written);

        // What the card stores reads back the same.
        SaveSetting(TSettingId::ResizeMode, ResizeModeName(TResizeMode::Percent));
        SaveSetting(TSettingId::ShrinkOnly, !shrinkOnly);
        QCOMPARE(LoadSettings().Options.ResizeMode, TResizeMode::Percent);
        QCOMPARE(LoadSettings().Options.ShrinkOnly, !shrinkOnly);
    }

    void resizeCommandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("error"); // the start of the error, empty when usable
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QList<int>>("values"); // the mode's numbers
        QTest::addColumn<bool>("shrinkOnly");

        const QStringList png{"--convert", "png"};
        QTest::newRow("none") << png << ""
                              << "" << QList<int>{} << false;
        QTest::newRow("width") << png + QStringList{"--width", "300"} << ""
                               << "width" << QList<int>{300} << false;
        QTest::newRow("long edge, shrink only")
            << png + QStringList{"--long-edge", "1600", "--shrink-only"} << ""
            << "longedge" << QList<int>{1600} << true;
        QTest::newRow("fit") << png + QStringList{"--fit", "800x600"} << ""
                             << "fit" << QList<int>{800, 600} << false;
        QTest::newRow("fit with X and spaces") << png + QStringList{"--fit", " 64 X 48 "} << ""
                                               << "fit" << QList<int>{64, 48} << false;
        QTest::newRow("percent with sign") << png + QStringList{"--percent", "25%"} << ""
                                           << "percent" << QList<int>{25} << false;
        QTest::newRow("two modes") << png + QStringList{"--width", "300", "--percent", "50"}
                                   << "--width and --percent exclude each other"
                                   << "" << QList<int>{} << false;
        QTest::newRow("three modes") << png + QStringList{"--fit", "3x3", "--long-edge", "5", "--width", "1"}
                                     << "--width and --long-edge and --fit exclude each other"
                                     << "" << QList<int>{} << false;
        QTest::newRow("shrink only alone") << png + QStringList{"--shrink-only"}
                                           << "--shrink-only needs --width, --long-edge, --fit or --percent"
                                           << "" << QList<int>{} << false;
        QTest::newRow("long edge 0") << png + QStringList{"--long-edge", "0"}
                                     << "--long-edge needs a number from 1 to 65535"
                                     << "" << QList<int>{} << false;
        for (const char *box : {"800", "800x", "x600", "0x600", "800x70000", "8x6x2", "-8x6", "axb"})
            QTest::newRow(qPrintable(QStringLiteral("fit %1").arg(QLatin1String(box))))
                << png + QStringList{"--fit", QLatin1String(box)} << "--fit needs WxH"
                << "" << QList<int>{} << false;
        for (const char *percent : {"0", "1001", "12.5", "half"})
            QTest::newRow(qPrintable(QStringLiteral("percent %1").arg(QLatin1String(percent))))
                << png + QStringList{"--percent", QLatin1String(percent)}
                << "--percent needs a number from 1 to 1000"
                << "" << QList<int>{} << false;
    }

    void resizeCommandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, error);
        QFETCH(QString, mode);
        QFETCH(QList<int>, values);
        QFETCH(bool, shrinkOnly);

        const Parsed parsed(arguments);
        const TCommandLineOptions result = OptionsFromCommandLine(parsed.parser);
        if (!error.isEmpty()) {
            QVERIFY2(result.Error.startsWith(error), qPrintable(result.Error));
            return;
        }
        QCOMPARE(result.Error, QString());
        const ConversionOptions &options = result.Options;
        QCOMPARE(options.UseWidth, !mode.isEmpty());
        QCOMPARE(options.ShrinkOnly, shrinkOnly);
        if (mode.isEmpty())
            return;
        QCOMPARE(ResizeModeName(options.ResizeMode), mode);
        const QMap<QString, QList<int>> chosen{{"width", {options.Width}},
                                               {"longedge", {options.LongEdge}},
                                               {"fit", {options.FitWidth, options.FitHeight}},
                                               {"percent", {options.Percent}}};
        QCOMPARE(chosen.value(mode), values);
    }

    // Kept dates: off unless the file or the command line says so.
    void keepDates()
    {
        testutil::ProgramFolderScope scope;
        QVERIFY(!LoadSettings().Options.KeepDates);
        QVERIFY(!readAll(scope.iniPath()).contains("keepdates"));
        SaveSetting(TSettingId::KeepDates, true);
        QVERIFY(readAll(scope.iniPath()).contains("keepdates=1\n"));
        QVERIFY(LoadSettings().Options.KeepDates);

        const Parsed parsed({"--convert", "png", "--keep-dates", "--shard", "2/3"});
        const TCommandLineOptions result = OptionsFromCommandLine(parsed.parser);
        QCOMPARE(result.Error, QString());
        QVERIFY(result.Options.KeepDates);
        QCOMPARE(result.Shard, (TShard{2, 3}));
    }

    void existing_data()
    {
        QTest::addColumn<QByteArray>("stored"); // the value in the file and on the command line
        QTest::addColumn<int>("policy");        // TExistingPolicy; -1: the command line refuses it
        QTest::newRow("rename") << QByteArray("rename") << int(TExistingPolicy::Rename);
        QTest::newRow("skip") << QByteArray("skip") << int(TExistingPolicy::Skip);
        QTest::newRow("overwrite") << QByteArray("overwrite") << int(TExistingPolicy::Overwrite);
        QTest::newRow("other case") << QByteArray("Skip") << -1;
        QTest::newRow("unknown word") << QByteArray("replace") << -1;
        QTest::newRow("empty") << QByteArray("") << -1;
    }

    // The file's "existing" key reads an unknown word as rename and is never
    // written back; the command line refuses it.
    void existing()
    {
        QFETCH(QByteArray, stored);
        QFETCH(int, policy);
        testutil::ProgramFolderScope scope;
        QCOMPARE(LoadSettings().Options.Existing, TExistingPolicy::Rename);
        QVERIFY(!readAll(scope.iniPath()).contains("existing"));
        QVERIFY(writeAll(scope.iniPath(), "[Config]\nexisting=" + stored + "\n"));
        QCOMPARE(LoadSettings().Options.Existing,
                 policy < 0 ? TExistingPolicy::Rename : TExistingPolicy(policy));
        QCOMPARE(readAll(scope.iniPath()), "[Config]\nexisting=" + stored + "\nsave=1\nformat=JPG\n");
        if (policy >= 0) {
            SaveSetting(TSettingId::Existing, ExistingPolicyName(TExistingPolicy(policy)));
            QVERIFY(readAll(scope.iniPath()).startsWith("[Config]\nexisting=" + stored + "\n"));
        }

        const Parsed parsed({"--convert", "png", "--existing", QString::fromUtf8(stored)});
        const TCommandLineOptions result = OptionsFromCommandLine(parsed.parser);
        QCOMPARE(result.Error.isEmpty(), policy >= 0);
        if (policy < 0)
            QCOMPARE(result.Error, QStringLiteral("--existing needs rename, skip or overwrite."));
        else
            QCOMPARE(result.Options.Existing, TExistingPolicy(policy));
        QCOMPARE(OptionsFromCommandLine(Parsed({"--convert", "png"}).parser).Options.Existing,
                 TExistingPolicy::Rename);
    }

    void shard_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("index"); // 0: not a shard
        QTest::addColumn<int>("count");
        QTest::newRow("1/3") << "1/3" << 1 << 3;
        QTest::newRow("3/3") << "3/3" << 3 << 3;
        QTest::newRow("1/1") << "1/1" << 1 << 1;
        QTest::newRow("spaces") << " 2 / 5 " << 2 << 5;
        QTest::newRow("0/3") << "0/3" << 0 << 0;
        QTest::newRow("4/3") << "4/3" << 0 << 0;
        QTest::newRow("1/0") << "1/0" << 0 << 0;
        QTest::newRow("too many") << "1/100001" << 0 << 0;
        QTest::newRow("-1/3") << "-1/3" << 0 << 0;
        QTest::newRow("three parts") << "1/3/4" << 0 << 0;
        QTest::newRow("words") << "one/three" << 0 << 0;
        QTest::newRow("empty") << "" << 0 << 0;
    }

    void shard()
    {
        QFETCH(QString, text);
        QFETCH(int, index);
        QFETCH(int, count);
        const std::optional<TShard> shard = ParseShard(text);
        QCOMPARE(shard.has_value(), index > 0);
        if (shard)
            QCOMPARE(*shard, (TShard{index, count}));
        const Parsed parsed({"--convert", "png", "--shard", text});
        const TCommandLineOptions result = OptionsFromCommandLine(parsed.parser);
        QCOMPARE(result.Error.startsWith("--shard needs K/N"), index == 0);
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
