#include "routecommand.h"

#include <QTest>

class TestRouteCommand : public QObject
{
    Q_OBJECT

private slots:
    // A delete names the route exactly as its add did; IPv6 says so, IPv4 does not.
    void argumentLists()
    {
        const RouteCommand::Route host{"inet", "198.51.100.7", "-host"};
        const RouteCommand::Route net6{"inet6", "::/1", "-net"};
        const RouteCommand::Route untyped{"inet", "10.0.0.0/8", ""};
        QCOMPARE(RouteCommand::add(host, "192.168.1.1"),
                 QStringList({"-n", "add", "-host", "198.51.100.7", "192.168.1.1"}));
        QCOMPARE(RouteCommand::addThroughInterface(net6, "utun2"),
                 QStringList({"-n", "add", "-inet6", "-net", "::/1", "-interface", "utun2"}));
        QCOMPARE(RouteCommand::remove(net6),
                 QStringList({"-n", "delete", "-inet6", "-net", "::/1"}));
        QCOMPARE(RouteCommand::remove(untyped),
                 QStringList({"-n", "delete", "-net", "10.0.0.0/8"}));
        QCOMPARE(RouteCommand::getDefault(true), QStringList({"-n", "get", "-inet6", "default"}));
    }

    // macOS's full answer is read in the backend's tests, from the simulated Mac.
    void gatewayOf_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("gateway");

        QTest::newRow("ipv6 gateway with scope") << "    gateway: fe80::1%en0\n"
                                                 << "fe80::1%en0";
        QTest::newRow("no gateway line") << "route: not in table\n" << QString();
    }

    void gatewayOf()
    {
        QFETCH(QString, output);
        QFETCH(QString, gateway);
        QCOMPARE(RouteCommand::gatewayOf(output), gateway);
    }
};

QTEST_GUILESS_MAIN(TestRouteCommand)
#include "tst_routecommand.moc"
