#include "defaultroutewatcher.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

// A watcher whose "route monitor" is a shell script, on short times.
struct Watch
{
    explicit Watch(const QString &script, DefaultRouteWatcher::Timing timing = {})
    {
        timing.debounceMs = 200;
        watcher.setTiming(timing);
        watcher.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script});
    }

    DefaultRouteWatcher watcher;
    QSignalSpy checks{&watcher, &DefaultRouteWatcher::checkNeeded};
};

} // namespace

class TestDefaultRouteWatcher : public QObject
{
    Q_OBJECT

private slots:
    // Only messages that can change the way out count, by their type at the line start.
    void isRouteChange_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("counts");

        QTest::newRow("add") << QByteArray("RTM_ADD: Add Route: len 132, pid: 0") << true;
        QTest::newRow("delete") << QByteArray("RTM_DELETE: Delete Route: len 132") << true;
        QTest::newRow("change") << QByteArray("RTM_CHANGE: Change Metrics or flags") << true;
        QTest::newRow("new address") << QByteArray("RTM_NEWADDR: address being added") << true;
        QTest::newRow("address gone") << QByteArray("RTM_DELADDR: address being removed") << true;
        QTest::newRow("someone's route get") << QByteArray("RTM_GET: Report Metrics") << false;
        QTest::newRow("interface info") << QByteArray("RTM_IFINFO: iface status change") << false;
        QTest::newRow("address line") << QByteArray(" default 10.0.5.1 0.0.0.0") << false;
        QTest::newRow("type mid-line") << QByteArray("locks: RTM_ADD: inits:") << false;
        QTest::newRow("longer type name") << QByteArray("RTM_ADDR: something") << false;
    }

    void isRouteChange()
    {
        QFETCH(QByteArray, line);
        QFETCH(bool, counts);
        QCOMPARE(DefaultRouteWatcher::isRouteChange(line), counts);
    }

    // A burst is answered once, after the debounce; messages that do not count, never.
    void burstAnsweredOnce()
    {
        Watch burst("for i in 1 2 3 4 5; do echo 'RTM_ADD: Add Route'; done; "
                    "echo 'RTM_DELETE: Delete Route'; exec sleep 30");
        QTRY_COMPARE_WITH_TIMEOUT(burst.checks.size(), 1, 3000);
        QCOMPARE(burst.checks.first().first().toString(), QStringLiteral("monitor"));
        Watch ignored("echo 'RTM_GET: Report Metrics'; echo 'RTM_IFINFO: x'; exec sleep 30");
        QTest::qWait(600);
        QCOMPARE(burst.checks.size(), 1);
        QCOMPARE(ignored.checks.size(), 0);
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
        Watch dying(QStringLiteral("echo x >> '%1'; exit 1").arg(starts), timing);
        QTest::qWait(1100);
        dying.watcher.stop();
        QFile file(starts);
        QVERIFY(file.open(QIODevice::ReadOnly));
        // Pauses 50, 100, 200, 200, 200 ms: about seven starts in 1.1 s, never a busy loop.
        const int count = int(file.readAll().count('\n'));
        QVERIFY2(count >= 4 && count <= 8, qPrintable(QString::number(count)));
        // The last restart may have been stopped before its script wrote.
        QVERIFY(dying.checks.size() == count - 1 || dying.checks.size() == count);
    }

    // Stopped or destroyed, the watcher leaves no monitor behind; the poll asks on its own.
    void neverOutlivesTheWatcher()
    {
        QTemporaryDir dir;
        const QString pidFile = dir.filePath("pid");
        DefaultRouteWatcher::Timing timing;
        timing.pollMs = 100;
        qint64 pid = 0;
        {
            Watch running(QStringLiteral("echo $$ > '%1'; exec sleep 30").arg(pidFile), timing);
            QTRY_VERIFY(QFile::exists(pidFile) && QFile(pidFile).size() > 0);
            QFile file(pidFile);
            QVERIFY(file.open(QIODevice::ReadOnly));
            pid = file.readAll().trimmed().toLongLong();
            QVERIFY(pid > 0 && ::kill(pid_t(pid), 0) == 0);
            QTRY_VERIFY(!running.checks.isEmpty());
            QCOMPARE(running.checks.first().first().toString(), QStringLiteral("poll"));
        }
        QCOMPARE(::kill(pid_t(pid), 0), -1);
    }
};

QTEST_GUILESS_MAIN(TestDefaultRouteWatcher)
#include "tst_defaultroutewatcher.moc"
