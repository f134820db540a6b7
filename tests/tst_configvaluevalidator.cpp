#include "configvaluevalidator.h"
#include "hostlookup.h"

#include <QElapsedTimer>
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

        const auto rows = [](const char *rule, const QStringList &accepted,
                             const QStringList &refused) {
            for (const QString &text : accepted + refused)
                QTest::addRow("%s \"%s\"", rule, qPrintable(text))
                    << QString::fromLatin1(rule) << text << accepted.contains(text);
        };
        // At most fifteen characters.
        rows("interface", {"utun0", "utun12345678901"},
             {"utun123456789012", "utun", "en0", "-utun3", "utun3\n"});
        // A leading zero is octal to some parsers; "10.8.1" a shorthand.
        rows("ipv4", {"255.255.255.255"},
             {"256.1.1.1", "010.8.0.1", "10.8.1", " 10.8.0.1", "-10.8.0.1", "10.8.0.1/32", "::1"});
        // A scope is no server address; "Empty" is networksetup's word for "none".
        rows("ip", {"2606:4700:4700::1111", "::ffff:192.0.2.1"},
             {"fe80::1%en0", "Empty", "-::1", "::1\n", "dns.example"});
        rows("mtu", {"576", "9000"}, {"575", "9001", "-1280", "1280 up", ""});
    }

    void values()
    {
        QFETCH(QString, rule);
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        using V = ConfigValueValidator;
        QCOMPARE(rule == "interface" ? V::isInterfaceName(text)
                 : rule == "ipv4"    ? V::isIpv4Address(text)
                 : rule == "ip"      ? V::isIpAddress(text)
                                     : V::isMtu(text),
                 accepted);
    }

    // What the backend's step checks pass on: the refusals are the connect sequence's
    // (tst_macvpnbackend's failedConnect, whose "no client_ip" row also shows an empty
    // client_ip passing), these are the values that must still get through.
    void checkAccepts_data()
    {
        QTest::addColumn<QJsonObject>("changes"); // dns1 or lastConfig keys
        QTest::addColumn<int>("splitEntries");

        QTest::newRow("most split entries") << QJsonObject() << 256;
        QTest::newRow("blank dns, skipped later") << QJsonObject{{"dns1", " "}} << 0;
        QTest::newRow("mtu as number, default later") << QJsonObject{{"mtu", 99999}} << 0;
    }

    void checkAccepts()
    {
        QFETCH(QJsonObject, changes);
        QFETCH(int, splitEntries);
        ParsedVpnConfig config;
        config.dns1 = changes.value("dns1").toString("10.8.0.1");
        config.dns2 = QStringLiteral("2606:4700:4700::1111");
        config.lastConfig = {{"mtu", changes.contains("mtu") ? changes.value("mtu") : "1376"}};
        QCOMPARE(ConfigValueValidator::check(config, "10.8.0.5", "198.51.100.10", splitEntries),
                 QString());
    }

    // Only answers that need no name server: the tests run without a network. The
    // silent-name-server case runs in the sandbox (e2e_attacks).
    void resolve_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("timeLeft");
        QTest::addColumn<QString>("address"); // one of the answers; empty: the lookup fails

        QTest::newRow("address literal") << "192.0.2.7" << true << "192.0.2.7";
        QTest::newRow("hosts file") << "localhost" << true << "127.0.0.1";
        QTest::newRow("deadline passed") << "localhost" << false << "";
        QTest::newRow("not a name") << "a..b" << true << "";
    }

    void resolve()
    {
        QFETCH(QString, host);
        QFETCH(bool, timeLeft);
        QFETCH(QString, address);

        QString error;
        QElapsedTimer timer;
        timer.start();
        const QList<QHostAddress> found =
            HostLookup::resolve(host, timeLeft ? QDeadlineTimer(5000) : QDeadlineTimer(0), &error);
        QVERIFY(timer.elapsed() < 3000);
        QCOMPARE(found.contains(QHostAddress(address)), !address.isEmpty());
        QCOMPARE(error.isEmpty(), !address.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestConfigValueValidator)
#include "tst_configvaluevalidator.moc"
