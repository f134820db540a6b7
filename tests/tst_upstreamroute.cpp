#include "upstreamroute.h"

#include <QTest>

namespace {

// "gateway 192.168.1.1 en0", "gateway 192.168.1.1" (interface not known), "interface en1",
// "blackhole" or "none".
UpstreamRoute way(const QString &text)
{
    const QStringList words = text.split(QLatin1Char(' '));
    if (words.first() == QLatin1String("gateway"))
        return {UpstreamRoute::Kind::Gateway, words.value(1), words.value(2)};
    if (words.first() == QLatin1String("interface"))
        return {UpstreamRoute::Kind::Interface, QString(), words.value(1)};
    if (words.first() == QLatin1String("blackhole"))
        return UpstreamRoute::blackhole();
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
    // `found`: stay (empty), or the add that puts them on the new way out.
    void follow_data()
    {
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("found");
        QTest::addColumn<QString>("route"); // family type destination
        QTest::addColumn<QString>("add");

        const QString server = "inet -host 198.51.100.10";
        const QString moved = "-n add -host 198.51.100.10 ";
        QTest::newRow("same gateway and interface")
            << "gateway 192.168.1.1 en0" << routeGet("192.168.1.1", "en0") << server << "";
        QTest::newRow("same gateway, interface unknown at connect")
            << "gateway 192.168.1.1" << routeGet("192.168.1.1", "en0") << server << "";
        QTest::newRow("another network") << "gateway 192.168.1.1 en0" << routeGet("10.0.5.1", "en1")
                                         << server << moved + "10.0.5.1";
        QTest::newRow("same address, other interface (Wi-Fi to Ethernet)")
            << "gateway 192.168.1.1 en0" << routeGet("192.168.1.1", "en7") << server
            << moved + "192.168.1.1";
        QTest::newRow("interface-only default") << "gateway 192.168.1.1 en0" << routeGet("", "ppp0")
                                                << server << moved + "-interface ppp0";
        QTest::newRow("no default route (empty output): blackhole")
            << "gateway 192.168.1.1 en0"
            << "" << server << moved + "127.0.0.1 -blackhole";
        QTest::newRow("default into the tunnel itself: stay")
            << "gateway 192.168.1.1 en0" << routeGet("", "utun2") << server << "";
        QTest::newRow("a gateway returns")
            << "blackhole" << routeGet("10.0.5.1", "en1") << server << moved + "10.0.5.1";
        QTest::newRow("no routes at connect: nothing follows")
            << "none" << routeGet("10.0.5.1", "en1") << server << "";
        QTest::newRow("exclusion network, no default: blackhole")
            << "gateway 192.168.1.1 en0"
            << ""
            << "inet -net 192.0.2.0/24"
            << "-n add -net 192.0.2.0/24 127.0.0.1 -blackhole";
        // Labels are matched whole; an IPv6 gateway keeps its colons.
        QTest::newRow("ipv6 server, scoped gateway")
            << "gateway fe80::1%en0 en0"
            << "gateways: 10.9.9.9\n" + routeGet("fe80::1%en1", "en1")
            << "inet6 -host 2001:db8:51::10"
            << "-n add -inet6 -host 2001:db8:51::10 fe80::1%en1";
        QTest::newRow("ipv6 server, no default: blackhole")
            << "gateway fe80::1%en0 en0"
            << ""
            << "inet6 -host 2001:db8:51::10"
            << "-n add -inet6 -host 2001:db8:51::10 ::1 -blackhole";
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
        QTest::newRow("other failure") << false << ""
                                       << "route: socket: Permission denied"
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
