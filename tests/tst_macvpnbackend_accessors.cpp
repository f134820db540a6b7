#include "testablemacvpnbackend.h"

#include <QTest>

class TestMacVpnBackendAccessors : public QObject
{
    Q_OBJECT

private slots:
    void addressChecks_data()
    {
        QTest::addColumn<QString>("route");
        QTest::addColumn<bool>("ipv4");
        QTest::addColumn<bool>("ipv6");
        QTest::addColumn<QString>("type");

        QTest::newRow("ipv4 host, padded") << "  10.0.0.1 " << true << false << "-host";
        QTest::newRow("ipv4 full prefix is a net") << "1.2.3.4/32" << true << false << "-net";
        QTest::newRow("ipv4 prefix 33") << "10.0.0.0/33" << false << false << "-net";
        QTest::newRow("negative prefix") << "10.0.0.0/-1" << false << false << "-net";
        QTest::newRow("prefix not a number") << "10.0.0.0/x" << false << false << "-net";
        QTest::newRow("host name") << "example.com" << false << false << "-host";
        QTest::newRow("ipv6 loopback") << "::1" << false << true << "-host";
        QTest::newRow("ipv6 net") << "2001:db8::/32" << false << true << "-net";
        QTest::newRow("ipv6 prefix 128") << "fd00::1/128" << false << true << "-net";
        QTest::newRow("ipv6 prefix 129") << "fd00::/129" << false << false << "-net";
    }

    void addressChecks()
    {
        QFETCH(QString, route);
        QFETCH(bool, ipv4);
        QFETCH(bool, ipv6);
        QFETCH(QString, type);
        TestableMacVpnBackend backend;
        QCOMPARE(backend.isIpv4Route(route), ipv4);
        QCOMPARE(backend.isIpv6Route(route), ipv6);
        QCOMPARE(backend.routeFamily(route), QString(ipv6 ? "inet6" : "inet"));
        QCOMPARE(backend.routeType(route), type);
    }

    // macOS's full answer is parsed in the routes test, from the simulated routing table.
    void defaultGatewayParsing_data()
    {
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("gateway");

        QTest::newRow("ipv6 gateway with scope") << true << "    gateway: fe80::1%en0\n"
                                                 << "fe80::1%en0";
        QTest::newRow("no gateway line") << true << "route: not in table\n" << QString();
        QTest::newRow("command failed") << false << "    gateway: 10.0.0.1\n" << QString();
    }

    void defaultGatewayParsing()
    {
        QFETCH(bool, ok);
        QFETCH(QString, output);
        QFETCH(QString, gateway);
        TestableMacVpnBackend backend;
        backend.responder = [&](const TestableMacVpnBackend::Command &) {
            return TestableMacVpnBackend::CommandResult{ok, output, QString()};
        };
        QCOMPARE(backend.defaultGateway(), gateway);
        QCOMPARE(backend.commandLines(), QStringList{"/sbin/route -n get default"});
    }

    // A port given as text that is no decimal integer, or does not fit an int, is no port.
    void portThatIsNoIntegerIsZero()
    {
        TestableMacVpnBackend backend;
        ParsedVpnConfig config;
        for (const char *port : {"44x", "99999999999", " "}) {
            config.lastConfig.insert(QStringLiteral("port"), port);
            QCOMPARE(backend.endpointPort(config), 0);
        }
    }
};

QTEST_GUILESS_MAIN(TestMacVpnBackendAccessors)
#include "tst_macvpnbackend_accessors.moc"
