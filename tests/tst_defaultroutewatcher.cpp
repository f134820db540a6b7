#include "defaultroutewatcher.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestDefaultRouteWatcher : public QObject
{
    Q_OBJECT

private slots:
    // Only messages that can change the way out count, by their type at the line start.
    void isRouteChange_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("counts");

        QTest::newRow("add, errno 0")
            << QByteArray("RTM_ADD: Add Route: len 132, pid: 0, seq 1, errno 0, flags:<UP>")
            << true;
        QTest::newRow("refused request of a user")
            << QByteArray("RTM_ADD: Add Route: len 132, pid: 501, seq 1, errno 1, flags:<UP>")
            << false;
        QTest::newRow("change") << QByteArray("RTM_CHANGE: Change Metrics or flags") << true;
        QTest::newRow("address gone") << QByteArray("RTM_DELADDR: address being removed") << true;
        QTest::newRow("someone's route get") << QByteArray("RTM_GET: Report Metrics") << false;
        QTest::newRow("type mid-line") << QByteArray("locks: RTM_ADD: inits:") << false;
        QTest::newRow("longer type name") << QByteArray("RTM_ADDR: something") << false;
    }

    void isRouteChange()
    {
        QFETCH(QByteArray, line);
        QFETCH(bool, counts);
        QCOMPARE(DefaultRouteWatcher::isRouteChange(line), counts);
    }

    // A monitor that keeps dying is started again, each time after a longer pause up to
    // the limit, and a look follows every restart.
    void restartsWithGrowingPause()
    {
        QTemporaryDir dir;
        const QString starts = dir.filePath("starts");
        DefaultRouteWatcher::Timing timing;
        timing.restartMinMs = 50;
        timing.restartMaxMs = 200;
        timing.debounceMs = 60000; // only the restarts' looks are counted
        DefaultRouteWatcher watcher;
        QSignalSpy checks(&watcher, &DefaultRouteWatcher::checkNeeded);
        watcher.setTiming(timing);
        watcher.start("/bin/sh", {"-c", QStringLiteral("echo x >> '%1'; exit 1").arg(starts)});
        QTest::qWait(1100);
        watcher.stop();
        QFile file(starts);
        QVERIFY(file.open(QIODevice::ReadOnly));
        // Pauses 50, 100, 200, 200, 200 ms: about seven starts in 1.1 s, never a busy loop.
        const int count = int(file.readAll().count('\n'));
        QVERIFY2(count >= 4 && count <= 8, qPrintable(QString::number(count)));
        // The last restart may have been stopped before its script wrote.
        QVERIFY(checks.size() == count - 1 || checks.size() == count);
    }
};

QTEST_GUILESS_MAIN(TestDefaultRouteWatcher)
#include "tst_defaultroutewatcher.moc"
