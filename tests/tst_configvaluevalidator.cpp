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
        row("interface", "utun3 lo0", false);

        row("ipv4", "10.8.0.1", true);
        row("ipv4", "255.255.255.255", true);
        row("ipv4", "256.1.1.1", false);
        row("ipv4", "010.8.0.1", false); // octal to some parsers
        row("ipv4", "10.8.1", false);    // shorthand
        row("ipv4", "0x7f.0.0.1", false);
        row("ipv4", " 10.8.0.1", false);
        row("ipv4", "-10.8.0.1", false);
        row("ipv4", "10.8.0.1/32", false);
        row("ipv4", "::1", false);

        row("ip", "2606:4700:4700::1111", true);
        row("ip", "::ffff:192.0.2.1", true);
        row("ip", "1.1.1.1", true);
        row("ip", "fe80::1%en0", false); // a scope is no server address
        row("ip", "Empty", false);       // networksetup's word for "none"
        row("ip", "-::1", false);
        row("ip", "::1\n", false);
        row("ip", "dns.example", false);
        row("ip", "", false);

        row("mtu", "1280", true);
        row("mtu", "576", true);
        row("mtu", "9000", true);
        row("mtu", "575", false);
        row("mtu", "9001", false);
        row("mtu", "01280", true); // still a plain number in range
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

    // The first offending field is named; blank DNS servers and a missing address are
    // left to the steps that always handled them.
    void check_data()
    {
        QTest::addColumn<QJsonObject>("changes"); // dns1/dns2/hostName or lastConfig keys
        QTest::addColumn<int>("splitEntries");
        QTest::addColumn<QString>("error");

        const QString invalid = QStringLiteral("Недопустимая конфигурация VPN: поле ");
        QTest::newRow("sound") << QJsonObject() << 256 << QString();
        QTest::newRow("blank dns skipped") << QJsonObject{{"dns1", " "}} << 0 << QString();
        QTest::newRow("no client_ip") << QJsonObject{{"client_ip", ""}} << 0 << QString();
        QTest::newRow("mtu as number") << QJsonObject{{"mtu", 99999}} << 0 << QString();
        QTest::newRow("too many entries")
            << QJsonObject{{"dns1", "Empty"}} << 257
            << "Слишком много записей раздельного туннелирования: 257, допустимо не больше 256";
        QTest::newRow("option as host") << QJsonObject{{"hostName", "-interface"}} << 0
                                        << invalid + "hostName не может начинаться с «-»";
        QTest::newRow("dns word") << QJsonObject{{"dns1", "Empty"}} << 0
                                  << invalid + "dns1 должно быть IPv4- или IPv6-адресом";
        QTest::newRow("dns option") << QJsonObject{{"dns2", "-setv6off"}} << 0
                                    << invalid + "dns2 должно быть IPv4- или IPv6-адресом";
        QTest::newRow("client_ip interface") << QJsonObject{{"client_ip", "en0"}} << 0
                                             << invalid + "client_ip должно быть IPv4-адресом";
        QTest::newRow("mtu option")
            << QJsonObject{{"mtu", "-1"}} << 0 << invalid + "mtu должно быть числом от 576 до 9000";
    }

    void check()
    {
        QFETCH(QJsonObject, changes);
        QFETCH(int, splitEntries);
        QFETCH(QString, error);

        ParsedVpnConfig config;
        config.dns1 = changes.value("dns1").toString(QStringLiteral("10.8.0.1"));
        config.dns2 = changes.value("dns2").toString(QStringLiteral("2606:4700:4700::1111"));
        config.lastConfig =
            QJsonObject{{"mtu", changes.value("mtu").isUndefined() ? QJsonValue("1376")
                                                                   : changes.value("mtu")}};
        const QString clientAddress = changes.value("client_ip").toString("10.8.0.5");
        const QString host = changes.value("hostName").toString("198.51.100.10");
        QCOMPARE(ConfigValueValidator::check(config, clientAddress, host, splitEntries), error);
    }

    void splitRoutes()
    {
        QVERIFY(ConfigValueValidator::checkSplitRoutes(1024).isEmpty());
        QCOMPARE(ConfigValueValidator::checkSplitRoutes(1025),
                 QStringLiteral("Слишком много адресов раздельного туннелирования: 1025, "
                                "допустимо не больше 1024"));
    }
};

QTEST_GUILESS_MAIN(TestConfigValueValidator)
#include "tst_configvaluevalidator.moc"
