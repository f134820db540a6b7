#include "testablemacvpnbackend.h"

#include <QTest>

namespace {

using Backend = TestableMacVpnBackend;
using Command = TestableMacVpnBackend::Command;
using CommandResult = TestableMacVpnBackend::CommandResult;

// networksetup with a few network services that really keep their DNS servers. The
// listing is in the system's order, not sorted, and one service is disabled.
struct NetworkSetup
{
    QStringList listing{"Wi-Fi", "USB 10/100/1000 LAN", "*Bluetooth PAN", "Ethernet"};
    QMap<QString, QStringList> servers{{"Wi-Fi", {}},
                                       {"USB 10/100/1000 LAN", {"9.9.9.9", "149.112.112.112"}},
                                       {"*Bluetooth PAN", {"1.1.1.1"}},
                                       {"Ethernet", {"192.168.1.1"}}};
    bool listingFails = false;
    QSet<QString> unreadable;

    CommandResult handle(const Command &command)
    {
        if (command.program != QLatin1String("/usr/sbin/networksetup"))
            return {};
        const QStringList &args = command.arguments;
        if (args == QStringList{"-listallnetworkservices"}) {
            if (listingFails)
                return {false, QString(), "networksetup: not permitted\n"};
            return {true,
                    "An asterisk (*) denotes that a network service is disabled.\n" +
                        listing.join('\n') + '\n',
                    QString()};
        }
        const QString service = args.value(1);
        if (args.value(0) == "-getdnsservers" && args.size() == 2) {
            if (unreadable.contains(service))
                return {false, QString(), "timed out"};
            const QStringList list = servers.value(service);
            if (list.isEmpty())
                return {true, "There aren't any DNS Servers set on " + service + ".\n", QString()};
            return {true, list.join('\n') + '\n', QString()};
        }
        if (args.value(0) == "-setdnsservers" && args.size() >= 3) {
            const QStringList list = args.mid(2);
            servers[service] = list == QStringList{"Empty"} ? QStringList() : list;
            return {};
        }
        return {false, QString(), "** Error: unknown command\n"};
    }
};

struct Rig
{
    Rig()
    {
        backend.responder = [this](const Command &command) {
            return networkSetup.handle(command);
        };
    }

    NetworkSetup networkSetup;
    Backend backend;
};

ParsedVpnConfig configWith(const QString &dns1, const QString &dns2)
{
    ParsedVpnConfig config;
    config.dns1 = dns1;
    config.dns2 = dns2;
    return config;
}

} // namespace

class TestMacVpnBackendDns : public QObject
{
    Q_OBJECT

private slots:
    void blankServersChangeNothing()
    {
        Rig rig;
        QTest::ignoreMessage(QtInfoMsg, "[MacVpnBackend] configureDns QList()");
        QVERIFY(rig.backend.configureDns(configWith(QString(), " \t")));
        QVERIFY(rig.backend.commands.isEmpty());
        QVERIFY(rig.backend.savedDnsServers.isEmpty());
        rig.backend.restoreDns();
        QVERIFY(rig.backend.commands.isEmpty());
    }

    void serversAreSetOnEveryEnabledService_data()
    {
        QTest::addColumn<QString>("dns1");
        QTest::addColumn<QString>("dns2");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("both") << "10.8.0.1"
                              << "10.8.0.2" << QStringList{"10.8.0.1", "10.8.0.2"};
        QTest::newRow("only dns2") << ""
                                   << "10.8.0.2" << QStringList{"10.8.0.2"};
        QTest::newRow("only dns1, blank dns2") << "10.8.0.1"
                                               << "  " << QStringList{"10.8.0.1"};
    }

    void serversAreSetOnEveryEnabledService()
    {
        QFETCH(QString, dns1);
        QFETCH(QString, dns2);
        QFETCH(QStringList, expected);
        Rig rig;
        const auto before = rig.networkSetup.servers;

        QVERIFY(rig.backend.configureDns(configWith(dns1, dns2)));
        for (const char *service : {"Wi-Fi", "USB 10/100/1000 LAN", "Ethernet"})
            QCOMPARE(rig.networkSetup.servers.value(service), expected);
        QCOMPARE(rig.networkSetup.servers.value("*Bluetooth PAN"), QStringList{"1.1.1.1"});
        QCOMPARE(rig.backend.savedDnsServers.keys(),
                 QStringList({"Ethernet", "USB 10/100/1000 LAN", "Wi-Fi"}));

        rig.backend.restoreDns();
        QCOMPARE(rig.networkSetup.servers, before);
    }

    void restoreGivesBackWhatEachServiceHad()
    {
        Rig rig;
        QVERIFY(rig.backend.configureDns(configWith("10.8.0.1", "10.8.0.2")));
        QCOMPARE(rig.backend.savedDnsServers.value("Wi-Fi"), QStringList());
        QCOMPARE(rig.backend.savedDnsServers.value("USB 10/100/1000 LAN"),
                 QStringList({"9.9.9.9", "149.112.112.112"}));
        QCOMPARE(rig.backend.commandLines().mid(0, 3),
                 QStringList({"/usr/sbin/networksetup -listallnetworkservices",
                              "/usr/sbin/networksetup -getdnsservers Wi-Fi",
                              "/usr/sbin/networksetup -setdnsservers Wi-Fi 10.8.0.1 10.8.0.2"}));
        // A service name with blanks travels as one argument.
        QCOMPARE(rig.backend.commands.at(3).arguments,
                 QStringList({"-getdnsservers", "USB 10/100/1000 LAN"}));

        rig.backend.commands.clear();
        rig.backend.restoreDns();
        QCOMPARE(rig.backend.commandLines(),
                 QStringList({"/usr/sbin/networksetup -setdnsservers Ethernet 192.168.1.1",
                              "/usr/sbin/networksetup -setdnsservers USB 10/100/1000 LAN 9.9.9.9 "
                              "149.112.112.112",
                              "/usr/sbin/networksetup -setdnsservers Wi-Fi Empty"}));
        QVERIFY(rig.backend.savedDnsServers.isEmpty());

        rig.backend.commands.clear();
        rig.backend.restoreDns();
        QVERIFY(rig.backend.commands.isEmpty());
    }

    void failingListingLeavesEveryServiceAlone()
    {
        Rig rig;
        rig.networkSetup.listingFails = true;
        const auto before = rig.networkSetup.servers;
        QVERIFY(rig.backend.configureDns(configWith("10.8.0.1", QString())));
        QCOMPARE(rig.backend.commands.size(), 1);
        QVERIFY(rig.backend.savedDnsServers.isEmpty());
        QCOMPARE(rig.networkSetup.servers, before);
    }

    void unreadableServiceIsRestoredEmpty()
    {
        Rig rig;
        rig.networkSetup.unreadable.insert("Ethernet");
        QVERIFY(rig.backend.configureDns(configWith("10.8.0.1", QString())));
        QCOMPARE(rig.backend.savedDnsServers.value("Ethernet"), QStringList());
        QCOMPARE(rig.networkSetup.servers.value("Ethernet"), QStringList{"10.8.0.1"});
        rig.backend.restoreDns();
        QCOMPARE(rig.networkSetup.servers.value("Ethernet"), QStringList());
    }

    void flushTouchesBothCaches()
    {
        Rig rig;
        QTest::ignoreMessage(QtInfoMsg, "[MacVpnBackend] flushDnsCache");
        rig.backend.flushDnsCache();
        QCOMPARE(rig.backend.commandLines(), QStringList({"/usr/bin/dscacheutil -flushcache",
                                                          "/usr/bin/killall -HUP mDNSResponder"}));
    }
};

QTEST_GUILESS_MAIN(TestMacVpnBackendDns)
#include "tst_macvpnbackend_dns.moc"
