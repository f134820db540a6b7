#include "upstreamroute.h"

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
    // `found`: stay (empty), or the add that puts them on the new way out. (Another network,
    // an interface-only default and a gateway coming back are e2e_gateway's moves.)
    void follow_data()
    {
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("found");
        QTest::addColumn<QString>("route"); // family type destination
        QTest::addColumn<QString>("add");

        const auto row = [](const char *name, const QString &current, const QString &found,
                            const QString &add, const QString &route = "inet -host 198.51.100.10") {
            QTest::newRow(name) << current << found << route << add;
        };
        const QString en0 = "gateway 192.168.1.1 en0", moved = "-n add -host 198.51.100.10 ";
        row("same gateway and interface", en0, routeGet("192.168.1.1", "en0"), "");
        row("same gateway, interface unknown at connect", "gateway 192.168.1.1",
            routeGet("192.168.1.1", "en0"), "");
        row("same address, other interface (Wi-Fi to Ethernet)", en0,
            routeGet("192.168.1.1", "en7"), moved + "192.168.1.1");
        row("no default route (empty output): blackhole", en0, "", moved + "127.0.0.1 -blackhole");
        row("default into the tunnel itself: stay", en0, routeGet("", "utun2"), "");
        row("no routes at connect: nothing follows", "none", routeGet("10.0.5.1", "en1"), "");
        // Labels are matched whole; an IPv6 gateway keeps its colons.
        row("ipv6 server, scoped gateway", "gateway fe80::1%en0 en0",
            "gateways: 10.9.9.9\n" + routeGet("fe80::1%en1", "en1"),
            "-n add -inet6 -host 2001:db8:51::10 fe80::1%en1", "inet6 -host 2001:db8:51::10");
        row("ipv6 server, no default: blackhole", "gateway fe80::1%en0 en0", "",
            "-n add -inet6 -host 2001:db8:51::10 ::1 -blackhole", "inet6 -host 2001:db8:51::10");
    }

    // Only an answer of "not in table" means no default route; a run that said nothing
    // leaves the routes where they are.
    void readsRun_data()
    {
        QTest::addColumn<bool>("succeeded");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("found"); // describe(), or "unknown"

        QTest::newRow("answer") << true << routeGet("10.0.5.1", "en1") << ""
                                << "10.0.5.1 en1";
        QTest::newRow("empty table") << false << ""
                                     << "route: writing to routing socket: not in table"
                                     << "none";
        QTest::newRow("timed out") << false << ""
                                   << "Process operation timed out"
                                   << "unknown";
    }

    void readsRun()
    {
        QFETCH(bool, succeeded);
        QFETCH(QString, output);
        QFETCH(QString, error);
        QFETCH(QString, found);
        const auto run = UpstreamRoute::fromRouteGetRun(succeeded, output, error);
        QCOMPARE(run ? run->describe() : QStringLiteral("unknown"), found);
    }

    void follow()
    {
        QFETCH(QString, current);
        QFETCH(QString, found);
        QFETCH(QString, route);
        QFETCH(QString, add);

        const QStringList parts = route.split(' ');
        const RecoveryJournal::Route entry{parts[0], parts[2], parts[1]};
        const auto next =
            UpstreamRoute::next(way(current), UpstreamRoute::fromRouteGet(found), "utun2");
        QCOMPARE(next ? next->addArguments(entry).join(' ') : QString(), add);
        // Once moved, the same answer moves nothing again: the daemon's own changes come
        // back as routing messages.
        if (next)
            QVERIFY(!UpstreamRoute::next(*next, UpstreamRoute::fromRouteGet(found), "utun2"));
    }
};

QTEST_GUILESS_MAIN(TestUpstreamRoute)
#include "tst_upstreamroute.moc"
