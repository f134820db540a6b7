#include "defaultroutewatcher.h"
#include "upstreamroute.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

// "gateway 192.168.1.1 en0", "gateway 192.168.1.1" (interface not known) or "none".
UpstreamRoute way(const QString &text)
{
    const QStringList words = text.split(QLatin1Char(' '));
    if (words.first() == QLatin1String("gateway"))
        return {UpstreamRoute::Kind::Gateway, words.value(1), words.value(2)};
    return {};
}

QString routeGet(const QString &gateway, const QString &interfaceName)
{
    return "   route to: default\ndestination: default\n" +
           (gateway.isEmpty() ? QString() : "    gateway: " + gateway + "\n") +
           "  interface: " + interfaceName + "\n      flags: <UP,GATEWAY,DONE,STATIC>\n";
}

} // namespace

class TestUpstreamRoute : public QObject
{
    Q_OBJECT

private slots:
    // What the daemon's routes around the tunnel do when route -n get default answers
    // `found`, or fails with `error`: stay (empty), or the add that puts them on the new way
    // out. Only an answer of "not in table" means no default route; a run that said nothing
    // leaves the routes where they are. (Another network, an interface-only default and a
    // gateway coming back are e2e_gateway's moves.)
    void follow_data()
    {
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("found");
        QTest::addColumn<QString>("error"); // empty: the run succeeded
        QTest::addColumn<QString>("route"); // family type destination
        QTest::addColumn<QString>("add");

        const auto row = [](const char *name, const QString &current, const QString &found,
                            const QString &add, const QString &route = "inet -host 198.51.100.10",
                            const QString &error = {}) {
            QTest::newRow(name) << current << found << error << route << add;
        };
        const QString en0 = "gateway 192.168.1.1 en0", moved = "-n add -host 198.51.100.10 ";
        const QString v4 = "inet -host 198.51.100.10", v6 = "inet6 -host 2001:db8:51::10";
        const QString noTable = "route: writing to routing socket: not in table";
        row("same gateway and interface", en0, routeGet("192.168.1.1", "en0"), "");
        row("same gateway, interface unknown at connect", "gateway 192.168.1.1",
            routeGet("192.168.1.1", "en0"), "");
        row("same address, other interface (Wi-Fi to Ethernet)", en0,
            routeGet("192.168.1.1", "en7"), moved + "192.168.1.1");
        row("no default route (empty output): blackhole", en0, "", moved + "127.0.0.1 -blackhole");
        row("empty table: blackhole", en0, "", moved + "127.0.0.1 -blackhole", v4, noTable);
        row("timed out: stay", en0, "", "", v4, "Process operation timed out");
        row("default into the tunnel itself: stay", en0, routeGet("", "utun2"), "");
        row("no routes at connect: nothing follows", "none", routeGet("10.0.5.1", "en1"), "");
        // Labels are matched whole; an IPv6 gateway keeps its colons.
        row("ipv6 server, scoped gateway", "gateway fe80::1%en0 en0",
            "gateways: 10.9.9.9\n" + routeGet("fe80::1%en1", "en1"),
            "-n add -inet6 -host 2001:db8:51::10 fe80::1%en1", v6);
        row("ipv6 server, no default: blackhole", "gateway fe80::1%en0 en0", "",
            "-n add -inet6 -host 2001:db8:51::10 ::1 -blackhole", v6, noTable);
    }

    void follow()
    {
        QFETCH(QString, current);
        QFETCH(QString, found);
        QFETCH(QString, error);
        QFETCH(QString, route);
        QFETCH(QString, add);

        const QStringList parts = route.split(' ');
        const RecoveryJournal::Route entry{parts[0], parts[2], parts[1]};
        const auto run = UpstreamRoute::fromRouteGetRun(error.isEmpty(), found, error);
        const auto next = run ? UpstreamRoute::next(way(current), *run, "utun2") : std::nullopt;
        QCOMPARE(next ? next->addArguments(entry).join(' ') : QString(), add);
        // Once moved, the same answer moves nothing again: the daemon's own changes come
        // back as routing messages.
        if (next)
            QVERIFY(!UpstreamRoute::next(*next, *run, "utun2"));
    }

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

QTEST_GUILESS_MAIN(TestUpstreamRoute)
#include "tst_upstreamroute.moc"
