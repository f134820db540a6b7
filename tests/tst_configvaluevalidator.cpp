#include "configvaluevalidator.h"

#include <QTest>

class TestConfigValueValidator : public QObject
{
    Q_OBJECT

private slots:
    // Every value that reaches a command line, in the form its command expects; nothing
    // that starts with "-" passes any rule.
    void values_data()
    {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");

        const auto row = [](const char *rule, const char *text, bool accepted) {
            QTest::addRow("%s \"%s\"", rule, text) << rule << QString::fromUtf8(text) << accepted;
        };
        row("interface", "utun0", true);
        row("interface", "utun12345678901", true); // fifteen characters
        row("interface", "utun123456789012", false);
        row("interface", "utun", false);
        row("interface", "en0", false);
        row("interface", "-utun3", false);
        row("interface", "utun3\n", false);

        row("ipv4", "10.8.0.1", true);
        row("ipv4", "255.255.255.255", true);
        row("ipv4", "256.1.1.1", false);
        row("ipv4", "010.8.0.1", false); // octal to some parsers
        row("ipv4", "10.8.1", false);    // shorthand
        row("ipv4", " 10.8.0.1", false);
        row("ipv4", "-10.8.0.1", false);
        row("ipv4", "10.8.0.1/32", false);
        row("ipv4", "::1", false);

        row("ip", "2606:4700:4700::1111", true);
        row("ip", "::ffff:192.0.2.1", true);
        row("ip", "fe80::1%en0", false); // a scope is no server address
        row("ip", "Empty", false);       // networksetup's word for "none"
        row("ip", "-::1", false);
        row("ip", "::1\n", false);
        row("ip", "dns.example", false);

        row("mtu", "576", true);
        row("mtu", "9000", true);
        row("mtu", "575", false);
        row("mtu", "9001", false);
        row("mtu", "-1280", false);
        row("mtu", "1280 up", false);
        row("mtu", "1280\n", false);
        row("mtu", "", false);
    }

    void values()
    {
        QFETCH(QString, rule);
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        if (rule == "interface")
            QCOMPARE(ConfigValueValidator::isInterfaceName(text), accepted);
        else if (rule == "ipv4")
            QCOMPARE(ConfigValueValidator::isIpv4Address(text), accepted);
        else if (rule == "ip")
            QCOMPARE(ConfigValueValidator::isIpAddress(text), accepted);
        else
            QCOMPARE(ConfigValueValidator::isMtu(text), accepted);
    }

    // What the backend's step checks pass on: the refusals are the connect sequence's
    // (tst_macvpnbackend_sequences), these are the values that must still get through.
    void checkAccepts_data()
    {
        QTest::addColumn<QJsonObject>("changes"); // dns1 or lastConfig keys
        QTest::addColumn<int>("splitEntries");

        QTest::newRow("most split entries") << QJsonObject() << 256;
        QTest::newRow("blank dns, skipped later") << QJsonObject{{"dns1", " "}} << 0;
        QTest::newRow("no client_ip, reported later") << QJsonObject{{"client_ip", ""}} << 0;
        QTest::newRow("mtu as number, default later") << QJsonObject{{"mtu", 99999}} << 0;
    }

    void checkAccepts()
    {
        QFETCH(QJsonObject, changes);
        QFETCH(int, splitEntries);

        ParsedVpnConfig config;
        config.dns1 = changes.value("dns1").toString(QStringLiteral("10.8.0.1"));
        config.dns2 = QStringLiteral("2606:4700:4700::1111");
        config.lastConfig =
            QJsonObject{{"mtu", changes.value("mtu").isUndefined() ? QJsonValue("1376")
                                                                   : changes.value("mtu")}};
        const QString clientAddress = changes.value("client_ip").toString("10.8.0.5");
        QCOMPARE(ConfigValueValidator::check(config, clientAddress, "198.51.100.10", splitEntries),
                 QString());
    }
};

QTEST_GUILESS_MAIN(TestConfigValueValidator)
#include "tst_configvaluevalidator.moc"
