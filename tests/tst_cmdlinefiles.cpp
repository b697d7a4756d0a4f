#include <QComboBox>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <vector>

#include "app/cfgstore.h"
#include "app/startup.h"
#include "slicefixtures.h"
#include "startupfixtures.h"
#include "ui/ctview.h"
#include "ui/slicesctrl.h"

// Slice files named on the command line: which arguments they are, how relative
// names are resolved, and that the first panel loads them as after its file dialog.

using fixtures::Argv;

class TestCmdLineFiles : public QObject
{
    Q_OBJECT
private slots:
    void sliceFileArguments_data();
    void sliceFileArguments();
    void filesAreNotStoreEntries();
    void firstPanelLoadsInGivenOrder();
    void noFilesLoadsNothing();
};

void TestCmdLineFiles::sliceFileArguments_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("files");

    const QStringList none;
    QTest::newRow("program only") << QStringList{"Oxa"} << none;
    QTest::newRow("relative names from the start directory")
        << QStringList{"Oxa", "a.png", "sub/b.dat"} << QStringList{"/start/here/a.png", "/start/here/sub/b.dat"};
    QTest::newRow("absolute name kept") << QStringList{"Oxa", "/data/x.png"} << QStringList{"/data/x.png"};
    QTest::newRow("dot and dot-dot resolved")
        << QStringList{"Oxa", "./a.png", "../other/b.png"} << QStringList{"/start/here/a.png", "/start/other/b.png"};
    QTest::newRow("order as given, not sorted")
        << QStringList{"Oxa", "z.png", "a.png", "m.png"}
        << QStringList{"/start/here/z.png", "/start/here/a.png", "/start/here/m.png"};
    QTest::newRow("files end at the first option")
        << QStringList{"Oxa", "a.png", "-e", "b.png"} << QStringList{"/start/here/a.png"};
    QTest::newRow("option first: no files") << QStringList{"Oxa", "-e", "a.png"} << none;
    QTest::newRow("option value is no file") << QStringList{"Oxa", "-d", "dir", "a.png"} << none;
    QTest::newRow("a lone dash is an option")
        << QStringList{"Oxa", "a.png", "-", "b.png"} << QStringList{"/start/here/a.png"};
    QTest::newRow("empty argument left out") << QStringList{"Oxa", "", "a.png"} << QStringList{"/start/here/a.png"};
    QTest::newRow("name with blanks") << QStringList{"Oxa", "ct scan 1.png"}
                                      << QStringList{"/start/here/ct scan 1.png"};
    QTest::newRow("UTF-8 name") << QStringList{"Oxa", QString::fromUtf8("断面.png")}
                                << QStringList{QString::fromUtf8("/start/here/断面.png")};
    QTest::newRow("an address kept as it is")
        << QStringList{"Oxa", "https://example.org/a/scan.zarr", "b.png"}
        << QStringList{"https://example.org/a/scan.zarr", "/start/here/b.png"};
    QTest::newRow("program path does not count")
        << QStringList{"/usr/bin/Oxa", "a.png"} << QStringList{"/start/here/a.png"};
}

void TestCmdLineFiles::sliceFileArguments()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, files);
    Argv a(args);
    QCOMPARE(::sliceFileArguments(a.argc(), a.argv(), QStringLiteral("/start/here")), files);
}

void TestCmdLineFiles::filesAreNotStoreEntries()
{
    // The files stay out of the configuration store, and the options after them
    // are read as before.
    CfgStore store;
    Argv a({"Oxa", "a.png", "b.png", "-d", "dir", "-e"});
    store.init(a.argc(), a.argv(), false, defaultConfigFileName(), configFileOptions());
    QVERIFY(!store.hasKey(QStringLiteral("a.png")));
    QVERIFY(!store.hasKey(QStringLiteral("b.png")));
    QCOMPARE(store.getExact(QStringLiteral("-d"), QString()), QStringLiteral("dir"));
    QVERIFY(store.hasExactKey(QStringLiteral("-e")));
    QCOMPARE(dataRootFor(store, QStringLiteral("/app")), QStringLiteral("dir"));
}

void TestCmdLineFiles::firstPanelLoadsInGivenOrder()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // Three slices named against their stack order, and one file that is no slice.
    const QStringList names{"c.png", "a.png", "junk.png", "b.png"};
    QVERIFY(fixtures::writeRampPng(dir.filePath("a.png"), 8, 8, 10, 20));
    QVERIFY(fixtures::writeRampPng(dir.filePath("b.png"), 8, 8, 10, 30));
    QVERIFY(fixtures::writeRampPng(dir.filePath("c.png"), 8, 8, 5, 20));
    QVERIFY(fixtures::writeGarbage(dir.filePath("junk.png")));

    QStringList args{"Oxa"};
    args += names;
    args += QStringList{"-e"};
    Argv a(args);
    const QStringList files = ::sliceFileArguments(a.argc(), a.argv(), dir.path());
    QCOMPARE(files.size(), 4);

    CtView w(dir.path(), nullptr);
    SlicesCtrl *panel = w.sCtrls.first();
    QStringList events;
    QObject ctx;
    connect(&panel->sliceDatas, &SliceDatas::cleared, &ctx, [&events] { events << "cleared"; });
    connect(&panel->sliceDatas, &SliceDatas::loadedNewFile, &ctx, [&events](const QString &f) { events << f; });
    connect(&panel->sliceDatas, &SliceDatas::loadFilesFinished, &ctx, [&events] { events << "finished"; });

    loadSliceFilesAtStart(w, files);
    QTRY_COMPARE_WITH_TIMEOUT(events.size(), 5, 20000);
    const QStringList expected{"cleared", dir.filePath("c.png"), dir.filePath("a.png"), dir.filePath("b.png"),
                               "finished"};
    QCOMPARE(events, expected);

    // The panel shows the set as after a load from its dialog.
    QCOMPARE(panel->nameList_->count(), 3);
    QCOMPARE(panel->nameList_->itemText(0), dir.filePath("c.png"));
    QCOMPARE(panel->nameList_->itemText(2), dir.filePath("b.png"));
    QCOMPARE(panel->rMinV_->text(), QStringLiteral("5"));
    QCOMPARE(panel->rMaxV_->text(), QStringLiteral("30"));
    QVERIFY(!w.pImg.isNull());
}

void TestCmdLineFiles::noFilesLoadsNothing()
{
    CtView w(QString(), nullptr);
    SlicesCtrl *panel = w.sCtrls.first();
    int signalsSeen = 0;
    QObject ctx;
    connect(&panel->sliceDatas, &SliceDatas::cleared, &ctx, [&signalsSeen] { ++signalsSeen; });
    connect(&panel->sliceDatas, &SliceDatas::loadFilesFinished, &ctx, [&signalsSeen] { ++signalsSeen; });
    loadSliceFilesAtStart(w, QStringList());
    // A load, had one been queued, would have reported by the time this marker,
    // queued behind it in the loader thread, comes back.
    // A captureless lambda: a captured reference would travel to the loader thread
    // behind Qt's queue, an ordering the thread sanitizer cannot see.
    static std::atomic<bool> marker;
    marker = false;
    QMetaObject::invokeMethod(
        &panel->sliceDatas, [] { marker = true; }, Qt::QueuedConnection);
    QTRY_VERIFY(marker.load());
    QCoreApplication::processEvents();
    QCOMPARE(signalsSeen, 0);
    QCOMPARE(panel->nameList_->count(), 0);
}

QTEST_MAIN(TestCmdLineFiles)
#include "tst_cmdlinefiles.moc"
