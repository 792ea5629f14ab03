// The file list model and AddPath: which files a path adds, under which
// texts, duplicates, links, and the removal of rows.

#include "filelist.h"
#include "platform.h"
#include "testutil.h"
#include "translate.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace
{

const QByteArray kPng("\x89PNG\r\n\x1a\n\0\0\0\rIHDRxxxx", 20);
const QByteArray kJpeg("\xFF\xD8\xFF\xE0\0\x10JFIF\0\x01\x01xxxx", 17);
const QByteArray kGif("GIF89a\x01\0\x01\0xxxxxxxx", 18);

// FileName -> Format of every row.
QMap<QString, QString> rowsOf(const TFileListModel &list)
{
    QMap<QString, QString> rows;
    for (int i = 0; i < list.rowCount(); ++i)
        rows.insert(list.fileInfo(i).FileName, list.fileInfo(i).Format);
    return rows;
}

} // namespace

Q_DECLARE_METATYPE(TReasonKind)

class TestFileList : public QObject
{
    Q_OBJECT

  private:
    QTemporaryDir m_dir;
    QString m_root; // fixture tree, without trailing '/'
    QMap<QString, QString> m_all;

  private slots:
    void initTestCase()
    {
        InitTranslation();
        SetCurrentLanguage(QStringLiteral("en"));
        QVERIFY(m_dir.isValid());
        m_root = m_dir.path() + QStringLiteral("/tree");
        QVERIFY(testutil::writeFile(m_root + "/a.png", kPng));
        QVERIFY(testutil::writeFile(m_root + "/.hidden.jpg", kJpeg));                       // hidden file
        QVERIFY(testutil::writeFile(m_root + "/notes.txt", "plain text, no image at all")); // unsupported
        QVERIFY(testutil::writeFile(m_root + "/signature", kGif)); // signature, no extension
        QVERIFY(testutil::writeFile(m_root + "/byname.webp", "not really a webp file")); // extension only
        QVERIFY(testutil::writeFile(m_root + "/sub/b.png", kPng));
        QVERIFY(testutil::writeFile(m_root + "/.secret/c.jpg", kJpeg)); // inside a hidden folder
        QVERIFY(QDir().mkpath(m_root + "/empty"));
        m_all = {
            {m_root + "/a.png", "PNG"},     {m_root + "/.hidden.jpg", "JPG"},
            {m_root + "/signature", "GIF"}, {m_root + "/byname.webp", "WEBP"},
            {m_root + "/sub/b.png", "PNG"}, {m_root + "/.secret/c.jpg", "JPG"},
        };
    }

    void intake_data()
    {
        QTest::addColumn<QStringList>("paths"); // "@" stands for the fixture root
        QTest::addColumn<QStringList>("expected");

        const QStringList all{"@/a.png",       "@/.hidden.jpg", "@/signature",
                              "@/byname.webp", "@/sub/b.png",   "@/.secret/c.jpg"};
        QTest::newRow("folder") << QStringList{"@"} << all;
        QTest::newRow("folder with trailing separator") << QStringList{"@/"} << all;
        QTest::newRow("same folder twice") << QStringList{"@", "@/"} << all;
        QTest::newRow("folder then one of its files") << QStringList{"@", "@/sub/b.png"} << all;
        QTest::newRow("file then its folder") << QStringList{"@/sub/b.png", "@"} << all;
        QTest::newRow("subfolder") << QStringList{"@/sub"} << QStringList{"@/sub/b.png"};
        QTest::newRow("unsupported file") << QStringList{"@/notes.txt"} << QStringList{};
        QTest::newRow("empty folder") << QStringList{"@/empty"} << QStringList{};
        QTest::newRow("missing file with supported extension")
            << QStringList{"@/gone.png"} << QStringList{"@/gone.png"};
        QTest::newRow("missing file without extension") << QStringList{"@/gone"} << QStringList{};
        QTest::newRow("case variants are different texts")
            << QStringList{"@/Gone.PNG", "@/gone.png"} << QStringList{"@/Gone.PNG", "@/gone.png"};
        QTest::newRow("empty path") << QStringList{""} << QStringList{};
    }

    void intake()
    {
        QFETCH(QStringList, paths);
        QFETCH(QStringList, expected);

        TFileListModel list;
        for (const QString &path : std::as_const(paths))
            AddPath(list, QString(path).replace('@', m_root));

        QStringList want;
        for (const QString &path : std::as_const(expected))
            want << QString(path).replace('@', m_root);
        QStringList got;
        for (int i = 0; i < list.rowCount(); ++i)
            got << list.fileInfo(i).FileName;
        QCOMPARE(QStringList(got).size(), QSet<QString>(got.begin(), got.end()).size()); // no duplicates
        got.sort();
        want.sort();
        QCOMPARE(got, want);

        for (int i = 0; i < list.rowCount(); ++i) {
            const TFileInfo &info = list.fileInfo(i);
            QVERIFY2(!info.FileName.mid(m_root.size()).contains("//"), qPrintable(info.FileName));
            QCOMPARE(info.Title, info.FileName.section('/', -1));
            if (m_all.contains(info.FileName))
                QCOMPARE(info.Format, m_all.value(info.FileName));
            else
                QCOMPARE(info.Format, QStringLiteral("PNG"));
            QCOMPARE(list.status(i), QStringLiteral("Ready"));
            QCOMPARE(list.data(list.index(i, 0)).toString(), info.Title);
            QCOMPARE(list.data(list.index(i, 1)).toString(), info.Format);
            QCOMPARE(list.data(list.index(i, 2)).toString(), QStringLiteral("Ready"));
        }
    }

    // Links: one back to an ancestor is not walked again; one to a sibling
    // adds nothing either: each file is listed once, under the path without
    // the link, whichever entry the folder lists first.
    void folderLinks()
    {
        QTemporaryDir dir;
        const QString root = dir.path() + "/r";
        QVERIFY(testutil::writeFile(root + "/x.png", kPng));
        QVERIFY(testutil::writeFile(root + "/inner/y.png", kPng));
        QVERIFY(testutil::writeFile(root + "/other/z.png", kPng));
        if (!testutil::makeFolderLink(root, root + "/inner/up")) // cycle to the root
            QSKIP("this system (or this user) cannot make folder links");
        QVERIFY(testutil::makeFolderLink(root + "/inner", root + "/self")); // not an ancestor of itself
        QVERIFY(testutil::makeFolderLink(".", root + "/other/dot"));        // cycle to itself

        TFileListModel list;
        AddPath(list, root);
        QStringList got = rowsOf(list).keys();
        got.sort();
        QStringList want{root + "/x.png", root + "/inner/y.png", root + "/other/z.png"};
        want.sort();
        QCOMPARE(got, want);
    }

    void largeFolderKeepsEveryFileOnce()
    {
        QTemporaryDir dir;
        const int count = 5000; // more than one batch of insertions
        for (int i = 0; i < count; ++i)
            QVERIFY(testutil::writeFile(dir.path() + QStringLiteral("/f%1.png").arg(i), QByteArray()));
        TFileListModel list;
        QSignalSpy inserted(&list, &QAbstractItemModel::rowsInserted);
        AddPath(list, dir.path());
        AddPath(list, dir.path());
        QCOMPARE(list.rowCount(), count);
        QCOMPARE(rowsOf(list).size(), count);
        QVERIFY(inserted.count() < 10);
    }

    void removeRows_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QList<int>>("remove");
        QTest::addColumn<QList<int>>("kept");

        QTest::newRow("second and fourth of five") << 5 << QList<int>{3, 1} << QList<int>{0, 2, 4};
        QTest::newRow("duplicates and out of range") << 3 << QList<int>{1, 1, 7, -1} << QList<int>{0, 2};
        QTest::newRow("nothing") << 3 << QList<int>{} << QList<int>{0, 1, 2};
        QList<int> odd, even;
        for (int i = 0; i < 300; ++i)
            (i % 2 ? odd : even).append(i);
        QTest::newRow("many separate runs") << 300 << odd << even;
    }

    void removeRows()
    {
        QFETCH(int, count);
        QFETCH(QList<int>, remove);
        QFETCH(QList<int>, kept);

        TFileListModel list;
        std::vector<const TFileInfo *> infos;
        for (int i = 0; i < count; ++i) {
            auto info = std::make_unique<TFileInfo>();
            info->FileName = QStringLiteral("/f/%1.png").arg(i);
            info->Title = QStringLiteral("%1.png").arg(i);
            info->Format = QStringLiteral("PNG");
            infos.push_back(info.get());
            list.append(std::move(info));
        }
        list.removeRowsAt(remove);

        QCOMPARE(list.rowCount(), kept.size());
        for (int i = 0; i < kept.size(); ++i)
            QCOMPARE(&list.fileInfo(i), infos[size_t(kept[i])]); // the same objects, untouched
        for (int i = 0; i < count; ++i)
            QCOMPARE(list.contains(QStringLiteral("/f/%1.png").arg(i)), kept.contains(i));
    }

    void clearAndAddAgain()
    {
        TFileListModel list;
        list.clear(); // on an empty list: nothing happens
        AddPath(list, m_root);
        QCOMPARE(list.rowCount(), m_all.size());
        list.clear();
        QCOMPARE(list.rowCount(), 0);
        AddPath(list, m_root + "/a.png");
        QCOMPARE(list.rowCount(), 1);
    }

    // The state shows as its status text; a failure's reason is the tooltip;
    // the tools' text is capped, keeping its end.
    void stateReasonAndHeaders()
    {
        TFileListModel list;
        AddPath(list, m_root + "/a.png");
        QSignalSpy changed(&list, &QAbstractItemModel::dataChanged);
        list.setState(0, TRowState::Success);
        QCOMPARE(list.status(0), QStringLiteral("Success"));
        QCOMPARE(changed.count(), 1);
        QVERIFY(!list.data(list.index(0, 2), Qt::ToolTipRole).isValid());

        const QString huge = QString(100000, QLatin1Char('x')) + QStringLiteral("the last line");
        list.setState(0, TRowState::Fail, QStringLiteral("exit status 1: no decode delegate"), huge);
        QCOMPARE(list.data(list.index(0, 2)).toString(), QStringLiteral("Fail"));
        QCOMPARE(list.data(list.index(0, 0), Qt::ToolTipRole).toString(),
                 QStringLiteral("exit status 1: no decode delegate"));
        QVERIFY(list.printed(0).size() <= TFileListModel::kMaxPrinted + 8);
        QVERIFY(list.printed(0).endsWith(QStringLiteral("the last line")));

        list.setState(0, TRowState::Ready);
        QVERIFY(list.reason(0).isEmpty());
        QVERIFY(!list.data(list.index(0, 0), Qt::ToolTipRole).isValid());
        list.setState(5, TRowState::Fail); // no such row

        list.setHeaderTexts({"FileName", "Type", "Status"});
        QCOMPARE(list.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Type"));
        QVERIFY(!list.headerData(3, Qt::Horizontal).isValid());
    }

    // One file reached through several paths is listed once, under its path
    // without a link; the walk leaves the guard's folder and files alone.
    void onceAndGuarded_data()
    {
        QTest::addColumn<QStringList>("paths"); // "@" stands for the fixture folder
        QTest::addColumn<bool>("guarded");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("file by two paths")
            << QStringList{"@/p/a.png", "@/p/../p/a.png"} << false << QStringList{"@/p/a.png"};
        QTest::newRow("file link then file")
            << QStringList{"@/a-link.png", "@/p/a.png"} << false << QStringList{"@/a-link.png"};
        QTest::newRow("folder with links")
            << QStringList{"@"} << false << QStringList{"@/p/a.png", "@/out/old.png", "@/written.png"};
        QTest::newRow("guarded") << QStringList{"@"} << true << QStringList{"@/p/a.png"};
        QTest::newRow("output folder given itself")
            << QStringList{"@/out"} << true << QStringList{"@/out/old.png"};
    }

    void onceAndGuarded()
    {
        QFETCH(QStringList, paths);
        QFETCH(bool, guarded);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        const QString root = dir.path();
        testutil::writeFile(root + "/p/a.png", kPng);
        testutil::writeFile(root + "/out/old.png", kPng);
        testutil::writeFile(root + "/written.png", kPng);
        if (!testutil::makeFolderLink(root + "/p", root + "/p-link"))
            QSKIP("this system (or this user) cannot make links");
        QVERIFY(QFile::link(root + "/p/a.png", root + "/a-link.png"));

        TIntakeGuard guard;
        if (guarded) {
            guard.SkipFolder = FolderIdentity(root + "/out");
            guard.SkipFiles.insert(root + "/written.png");
        }
        TFileListModel list;
        for (const QString &path : std::as_const(paths))
            AddPath(list, QString(path).replace('@', root), guard);
        QStringList want;
        for (const QString &path : std::as_const(expected))
            want << QString(path).replace('@', root);
        QStringList got = rowsOf(list).keys();
        want.sort();
        QCOMPARE(got, want);
    }

#ifdef Q_OS_UNIX
    // Names whose bytes are not UTF-8 cannot be opened by their decoded
    // name: each is a refused row that says so, none is dropped; the other
    // files are listed as usual.
    void undecodableNames()
    {
        QTemporaryDir dir;
        const QByteArray root = QFile::encodeName(dir.path());
        for (const QByteArray &name : {QByteArray("/\xff.png"), QByteArray("/caf\xe9.jpg")}) {
            QFile file;
            FILE *raw = std::fopen((root + name).constData(), "wb");
            QVERIFY(raw);
            QVERIFY(file.open(raw, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle));
            file.write(kPng);
        }
        QVERIFY(QDir().mkpath(QFile::decodeName(root + "/sub")));
        QVERIFY(::mkdir((root + "/sub/\xfe").constData(), 0755) == 0);
        testutil::writeFile(dir.path() + "/sub/ok.png", kPng);

        TFileListModel list;
        AddPath(list, dir.path());
        QMap<QString, TReasonKind> rows;
        for (int i = 0; i < list.rowCount(); ++i)
            rows.insert(list.fileInfo(i).FileName.mid(dir.path().size()), list.fileInfo(i).Refused);
        const QString bad(QChar::ReplacementCharacter);
        const QMap<QString, TReasonKind> want{{"/" + bad + ".png", TReasonKind::BadName},
                                              {"/caf" + bad + ".jpg", TReasonKind::BadName},
                                              {"/sub/" + bad, TReasonKind::BadName},
                                              {"/sub/ok.png", TReasonKind::None}};
        QCOMPARE(rows, want);
        // Given by itself (as a decoded argument would be), the name is refused too.
        TFileListModel single;
        AddPath(single, dir.path() + "/" + bad + "x.png");
        QCOMPARE(single.rowCount(), 1);
        QCOMPARE(single.fileInfo(0).Refused, TReasonKind::BadName);
        TReason why;
        why.Kind = TReasonKind::BadName;
        single.setFailed(0, why, QString());
        QCOMPARE(single.data(single.index(0, 0), Qt::ToolTipRole).toString(),
                 QStringLiteral("the name is not valid UTF-8; rename it"));
        // QTemporaryDir cannot name these entries either.
        std::remove((root + "/\xff.png").constData());
        std::remove((root + "/caf\xe9.jpg").constData());
        std::remove((root + "/sub/\xfe").constData());
    }
#endif

    // Files found in a walk remember the walked folder; their relative folder
    // starts with its name. A file given by itself has none.
    void relativeFolder()
    {
        QTemporaryDir dir;
        const QString top = dir.path() + QStringLiteral("/trip [1]/");
        for (const QString &path : {top + "x.png", top + "day 2/x.png", top + "day 2/deep/x.png"})
            QVERIFY(testutil::writeFile(path, kPng));
        TFileListModel list;
        AddPath(list, dir.path() + QStringLiteral("/trip [1]"));
        AddPath(list, top + "x.png"); // already listed: no second row
        QMap<QString, QString> folders;
        for (int i = 0; i < list.rowCount(); ++i)
            folders.insert(list.fileInfo(i).FileName.mid(top.size()), RelativeFolderOf(list.fileInfo(i)));
        QCOMPARE(folders.value("x.png"), QStringLiteral("trip [1]"));
        QCOMPARE(folders.value("day 2/x.png"), QStringLiteral("trip [1]/day 2"));
        QCOMPARE(folders.value("day 2/deep/x.png"), QStringLiteral("trip [1]/day 2/deep"));

        // A root that names no folder of its own adds no folder level.
        TFileInfo dotted;
        dotted.Root = top + "day 2/../";
        dotted.FileName = dotted.Root + "deep/x.png";
        QCOMPARE(RelativeFolderOf(dotted), QStringLiteral("trip [1]/deep"));
        dotted.Root = top + "day 2/deep/../../..";
        dotted.Root += '/';
        dotted.FileName = dotted.Root + "x.png";
        QVERIFY(!RelativeFolderOf(dotted).startsWith(QStringLiteral("..")));

        TFileListModel single;
        AddPath(single, top + "day 2/x.png");
        QVERIFY(single.fileInfo(0).Root.isEmpty());
        QVERIFY(RelativeFolderOf(single.fileInfo(0)).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestFileList)
#include "tst_filelist.moc"
