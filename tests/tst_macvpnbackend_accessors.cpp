#include "testablemacvpnbackend.h"

#include <QJsonArray>
#include <QTest>

namespace {

ParsedVpnConfig configWith(const QJsonObject &lastConfig, const QString &hostName = QString())
{
    ParsedVpnConfig config;
    config.lastConfig = lastConfig;
    config.hostName = hostName;
    return config;
}

} // namespace

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

        QTest::newRow("ipv4 host") << "10.0.0.1" << true << false << "-host";
        QTest::newRow("ipv4 net") << "10.0.0.0/8" << true << false << "-net";
        QTest::newRow("ipv4 full prefix is a net") << "1.2.3.4/32" << true << false << "-net";
        QTest::newRow("ipv4 zero prefix") << "0.0.0.0/0" << true << false << "-net";
        QTest::newRow("ipv4 padded") << "  10.0.0.1  " << true << false << "-host";
        QTest::newRow("prefix too long") << "10.0.0.0/33" << false << false << "-net";
        QTest::newRow("negative prefix") << "10.0.0.0/-1" << false << false << "-net";
        QTest::newRow("prefix not a number") << "10.0.0.0/x" << false << false << "-net";
        QTest::newRow("empty prefix") << "10.0.0.0/" << false << false << "-net";
        QTest::newRow("host name") << "example.com" << false << false << "-host";
        QTest::newRow("empty") << "" << false << false << "-host";
        QTest::newRow("ipv6 loopback") << "::1" << false << true << "-host";
        QTest::newRow("ipv6 net") << "2001:db8::/32" << false << true << "-net";
        QTest::newRow("ipv6 prefix 128") << "fd00::1/128" << false << true << "-net";
        QTest::newRow("ipv6 prefix 129") << "fd00::/129" << false << false << "-net";
        QTest::newRow("ipv6 default") << "::/0" << false << true << "-net";
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

    void defaultGatewayParsing_data()
    {
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("gateway");

        QTest::newRow("macOS output")
            << true
            << "   route to: default\ndestination: default\n       mask: default\n"
               "    gateway: 192.168.1.1\n  interface: en0\n"
            << "192.168.1.1";
        QTest::newRow("ipv6 gateway with scope")
            << true << "    gateway: fe80::1%en0\n  interface: en0\n"
            << "fe80::1%en0";
        QTest::newRow("no gateway line")
            << true << "route: writing to routing socket: not in table\n"
            << "";
        QTest::newRow("label is case-sensitive") << true << "Gateway: 10.0.0.1\n"
                                                 << "";
        QTest::newRow("command failed") << false << "    gateway: 10.0.0.1\n"
                                        << "";
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

    void allowedIpsDefaultsToEverything_data()
    {
        QTest::addColumn<QJsonValue>("allowed");
        QTest::addColumn<QStringList>("expected");
        const QStringList everything{"0.0.0.0/0", "::/0"};
        QTest::newRow("missing") << QJsonValue(QJsonValue::Undefined) << everything;
        QTest::newRow("empty array") << QJsonValue(QJsonArray()) << everything;
        QTest::newRow("only blanks and non-strings")
            << QJsonValue(QJsonArray{" ", 5, QJsonObject()}) << everything;
        QTest::newRow("string instead of array") << QJsonValue("10.0.0.0/8") << everything;
        QTest::newRow("trimmed, order kept")
            << QJsonValue(QJsonArray{" 10.0.0.0/8 ", 3, "192.168.1.0/24"})
            << QStringList{"10.0.0.0/8", "192.168.1.0/24"};
    }

    void allowedIpsDefaultsToEverything()
    {
        QFETCH(QJsonValue, allowed);
        QFETCH(QStringList, expected);
        QJsonObject lastConfig;
        if (!allowed.isUndefined())
            lastConfig.insert(QStringLiteral("allowed_ips"), allowed);
        TestableMacVpnBackend backend;
        QCOMPARE(backend.allowedIps(configWith(lastConfig)), expected);
    }

    void endpoint_data()
    {
        QTest::addColumn<QString>("hostName");
        QTest::addColumn<QJsonObject>("lastConfig");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");

        QTest::newRow("member host, numeric port")
            << "vpn.example.net" << QJsonObject{{"hostName", "x"}, {"port", 51820}}
            << "vpn.example.net" << 51820;
        QTest::newRow("fallback host, text port")
            << "" << QJsonObject{{"hostName", "203.0.113.1"}, {"port", "443"}} << "203.0.113.1"
            << 443;
        QTest::newRow("no host, port not a number")
            << "" << QJsonObject{{"port", "44x"}} << "" << 0;
        QTest::newRow("port too large for int")
            << "" << QJsonObject{{"port", "99999999999"}} << "" << 0;
        QTest::newRow("port missing") << "h" << QJsonObject() << "h" << 0;
    }

    void endpoint()
    {
        QFETCH(QString, hostName);
        QFETCH(QJsonObject, lastConfig);
        QFETCH(QString, host);
        QFETCH(int, port);
        TestableMacVpnBackend backend;
        const ParsedVpnConfig config = configWith(lastConfig, hostName);
        QCOMPARE(backend.endpointHost(config), host);
        QCOMPARE(backend.endpointPort(config), port);
    }
};

QTEST_GUILESS_MAIN(TestMacVpnBackendAccessors)
#include "tst_macvpnbackend_accessors.moc"
