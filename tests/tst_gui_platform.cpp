// Window-system steps of Windows: the drop message filter and the dark title
// bar. Elsewhere they do nothing and say so.

#include "dragfile.h"
#include "platform.h"
#include "platform_window.h"
#include "testutil.h"

#include <QListWidget>
#include <QTest>

class TestGuiPlatform : public QObject
{
    Q_OBJECT

private slots:
    // The filter takes WM_DROPFILES and WM_COPYGLOBALDATA on Windows (every
    // supported version has ChangeWindowMessageFilter); a drop target made
    // afterwards still works with the filter in place.
    void dropFilter()
    {
        const bool windows = testutil::executableSuffix() == QLatin1String(".exe");
        QCOMPARE(AllowDropsFromLowerIntegrity(), windows);
        QCOMPARE(AllowDropsFromLowerIntegrity(), windows); // again: no harm

        QListWidget list;
        QStringList dropped;
        TDragFile drag(&list, [&](const QStringList &paths) { dropped = paths; });
        QVERIFY(list.viewport()->acceptDrops());
    }

    // Asking for the dark title bar never fails the window, with or without
    // a native window behind it.
    void darkTitleBar()
    {
        QVERIFY(!RequestDarkTitleBar(nullptr));
        QWidget form;
        form.resize(200, 100);
        const bool accepted = RequestDarkTitleBar(&form);
        if (testutil::executableSuffix().isEmpty())
            QVERIFY(!accepted);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
    }
};

QTEST_MAIN(TestGuiPlatform)
#include "tst_gui_platform.moc"
