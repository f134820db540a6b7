#include "testablemacvpnbackend.h"

#include <QTest>

namespace {

using Command = TestableMacVpnBackend::Command;
using CommandResult = TestableMacVpnBackend::CommandResult;
using Servers = QMap<QString, QStringList>;

// networksetup with network services that really keep their DNS servers, listed in the
// system's order, one of them disabled and one with a name that has blanks in it.
struct Rig
{
    Rig()
    {
        backend.responder = [this](const Command &command) {
            return networkSetup(command);
        };
    }

    CommandResult networkSetup(const Command &command)
    {
        const QStringList &args = command.arguments;
        const QString service = args.value(1);
        QString output;
        if (args == QStringList{"-listallnetworkservices"} && !listingFails)
            output = "An asterisk (*) denotes that a network service is disabled.\n" +
                     listing.join('\n');
        else if (args.value(0) == "-getdnsservers" && args.size() == 2 && service != unreadable)
            output = servers.value(service).isEmpty()
                         ? "There aren't any DNS Servers set on " + service + "."
                         : servers.value(service).join('\n');
        else if (args.value(0) == "-setdnsservers" && args.size() >= 3)
            servers[service] = args.mid(2) == QStringList{"Empty"} ? QStringList() : args.mid(2);
        else
            return {false, QString(), "** Error: failed\n"};
        return {true, output + '\n', QString()};
    }

    bool configure(const QString &dns1, const QString &dns2)
    {
        ParsedVpnConfig config;
        config.dns1 = dns1;
        config.dns2 = dns2;
        return backend.configureDns(config);
    }

    const QStringList listing{"Wi-Fi", "USB 10/100/1000 LAN", "*Bluetooth PAN", "Ethernet"};
    Servers servers{{"Wi-Fi", {}},
                    {"USB 10/100/1000 LAN", {"9.9.9.9", "149.112.112.112"}},
                    {"*Bluetooth PAN", {"1.1.1.1"}},
                    {"Ethernet", {"192.168.1.1"}}};
    bool listingFails = false;
    QString unreadable;
    TestableMacVpnBackend backend;
};

} // namespace

class TestMacVpnBackendDns : public QObject
{
    Q_OBJECT

private slots:
    // Every enabled service gets the servers; restoring gives each its own back, a
    // service without manual servers through "Empty", and a second restore runs nothing.
    // Blank servers change nothing at all.
    void serversSetAndRestored_data()
    {
        QTest::addColumn<QStringList>("dns");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("both") << QStringList{"10.8.0.1", "10.8.0.2"}
                              << QStringList{"10.8.0.1", "10.8.0.2"};
        QTest::newRow("only dns2") << QStringList{"", "10.8.0.2"} << QStringList{"10.8.0.2"};
        QTest::newRow("blank") << QStringList{"", " \t"} << QStringList();
    }

    void serversSetAndRestored()
    {
        QFETCH(QStringList, dns);
        QFETCH(QStringList, expected);
        Rig rig;
        const Servers before = rig.servers;

        QVERIFY(rig.configure(dns[0], dns[1]));
        Servers during = before;
        for (const char *service : {"Wi-Fi", "USB 10/100/1000 LAN", "Ethernet"})
            during[service] = expected.isEmpty() ? before.value(service) : expected;
        QCOMPARE(rig.servers, during);
        QCOMPARE(rig.backend.commands.isEmpty(), expected.isEmpty());

        rig.backend.restoreDns();
        QCOMPARE(rig.servers, before);
        rig.backend.commands.clear();
        rig.backend.restoreDns();
        QVERIFY(rig.backend.commands.isEmpty());
    }

    void failedReadsChangeNothingThatCannotBeRestored()
    {
        Rig rig;
        rig.listingFails = true;
        const Servers before = rig.servers;
        QVERIFY(rig.configure("10.8.0.1", QString()));
        QCOMPARE(rig.servers, before);

        // A service whose servers could not be read is left alone; the others are not.
        rig.listingFails = false;
        rig.unreadable = "Ethernet";
        QVERIFY(rig.configure("10.8.0.1", QString()));
        QCOMPARE(rig.servers.value("Ethernet"), before.value("Ethernet"));
        QCOMPARE(rig.servers.value("Wi-Fi"), QStringList{"10.8.0.1"});
        QVERIFY(!rig.backend.savedDnsServers.contains("Ethernet"));
        rig.backend.restoreDns();
        QCOMPARE(rig.servers, before);
    }

    void flushTouchesBothCaches()
    {
        Rig rig;
        rig.backend.flushDnsCache();
        QCOMPARE(rig.backend.commandLines(), QStringList({"/usr/bin/dscacheutil -flushcache",
                                                          "/usr/bin/killall -HUP mDNSResponder"}));
    }
};

QTEST_GUILESS_MAIN(TestMacVpnBackendDns)
#include "tst_macvpnbackend_dns.moc"
