#include "simulatedroutingtable.h"
#include "testablemacvpnbackend.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString Gateway = QStringLiteral("192.168.1.1");
const QString Server = QStringLiteral("203.0.113.10");
const QString ApiHost = QStringLiteral("api.tarvex.test");
const QString ApiAddress = QStringLiteral("198.51.100.7");
const QString HostsBefore = QStringLiteral("127.0.0.1\tlocalhost\n::1\tlocalhost\n");

using Backend = TestableMacVpnBackend;

ParsedVpnConfig configWith(const QJsonValue &allowed)
{
    ParsedVpnConfig config;
    config.hostName = Server;
    if (!allowed.isUndefined())
        config.lastConfig.insert(QStringLiteral("allowed_ips"), allowed);
    return config;
}

QVariantMap entry(const QString &value, const QString &ip = QString())
{
    return {{QStringLiteral("value"), value}, {QStringLiteral("ip"), ip}};
}

QStringList installed(const Backend &backend)
{
    QStringList result;
    for (const auto &route : backend.installedRoutes)
        result.append(route.family + QLatin1Char(' ') + route.type + QLatin1Char(' ') +
                      route.destination);
    return result;
}

// A backend on utun5 whose commands go to a routing table with a default route, the
// API host resolving to one address, and a hosts file of its own.
struct Rig
{
    explicit Rig(const QString &gateway = Gateway)
        : table(gateway)
    {
        QFile file(dir.filePath(QStringLiteral("hosts")));
        if (file.open(QIODevice::WriteOnly))
            file.write(HostsBefore.toUtf8());
        backend.hostsFile = file.fileName();
        backend.responder = table.responder();
        backend.interfaceName = QStringLiteral("utun5");
        backend.hosts.insert(ApiHost, {QHostAddress(ApiAddress)});
    }

    void split(int mode, const QVariantList &entries)
    {
        backend.splitSettings.enabled = true;
        backend.splitSettings.mode = mode;
        backend.splitSettings.entries = entries;
    }

    QString hostsContent() const
    {
        QFile file(backend.hostsFile);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    QStringList commandsFrom(int first) const { return backend.commandLines().mid(first); }

    QTemporaryDir dir;
    SimulatedRoutingTable table;
    Backend backend; // after the table: destroyed while the table still answers
};

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

const QString ServerRoute = QStringLiteral("inet -host 203.0.113.10 -> 192.168.1.1");
const QString ApiRoute = QStringLiteral("inet -host 198.51.100.7 -> 192.168.1.1");

} // namespace

class TestMacVpnBackendRoutes : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QCoreApplication::setOrganizationDomain(ApiHost); }

    void fullRoutingFollowsAllowedIps_data()
    {
        QTest::addColumn<QJsonValue>("allowed");
        QTest::addColumn<QStringList>("expectedInstalled");

        const QStringList everything{"inet -net 0.0.0.0/1", "inet -net 128.0.0.0/1",
                                     "inet6 -net ::/1", "inet6 -net 8000::/1"};
        QTest::newRow("no allowed IPs") << QJsonValue(QJsonValue::Undefined) << everything;
        QTest::newRow("empty array") << QJsonValue(QJsonArray()) << everything;
        QTest::newRow("both defaults") << QJsonValue(QJsonArray{"0.0.0.0/0", "::/0"}) << everything;
        QTest::newRow("networks only")
            << QJsonValue(QJsonArray{"10.0.0.0/8", "192.168.1.0/24"})
            << QStringList{"inet -net 10.0.0.0/8", "inet -net 192.168.1.0/24"};
        QTest::newRow("ipv4 default wins over networks")
            << QJsonValue(QJsonArray{"0.0.0.0/0", "10.0.0.0/8"})
            << QStringList{"inet -net 0.0.0.0/1", "inet -net 128.0.0.0/1"};
        QTest::newRow("ipv6 networks are not routed")
            << QJsonValue(QJsonArray{"fd00::/8", "10.0.0.0/8", "2001:db8::/32"})
            << QStringList{"inet -net 10.0.0.0/8"};
        QTest::newRow("ipv6 default only") << QJsonValue(QJsonArray{"::/0"})
                                           << QStringList{"inet6 -net ::/1", "inet6 -net 8000::/1"};
        QTest::newRow("default must match exactly")
            << QJsonValue(QJsonArray{"0.0.0.0/00", "::0/0"}) << QStringList{"inet -net 0.0.0.0/00"};
    }

    void fullRoutingFollowsAllowedIps()
    {
        QFETCH(QJsonValue, allowed);
        QFETCH(QStringList, expectedInstalled);
        Rig rig;
        const QStringList before = rig.table.routes();

        QVERIFY(rig.backend.configureRoutes(configWith(allowed)));
        QCOMPARE(installed(rig.backend), expectedInstalled);
        QCOMPARE(rig.backend.serverHost, Server);
        QStringList tunnelRoutes;
        for (const QString &route : expectedInstalled)
            tunnelRoutes.append(route + QStringLiteral(" -> -interface utun5"));
        QCOMPARE(rig.table.routes(),
                 sorted(before + tunnelRoutes + QStringList{ServerRoute, ApiRoute}));

        rig.backend.removeRoutes();
        QCOMPARE(rig.table.routes(), before);
        QVERIFY(rig.backend.installedRoutes.isEmpty());
        QVERIFY(rig.backend.controlPlaneRoutes.isEmpty());
        QVERIFY(!rig.hostsContent().contains(QStringLiteral("TARVEX")));
    }

    void ipv6HalvesNeverFail_data()
    {
        QTest::addColumn<QString>("refused");
        QTest::newRow("first half") << "::/1";
        QTest::newRow("second half") << "8000::/1";
    }

    void ipv6HalvesNeverFail()
    {
        QFETCH(QString, refused);
        Rig rig;
        rig.table.failingDestinations.insert(refused);
        const QStringList before = rig.table.routes();

        QVERIFY(rig.backend.configureRoutes(configWith(QJsonArray{"0.0.0.0/0", "::/0"})));
        QCOMPARE(installed(rig.backend),
                 QStringList({"inet -net 0.0.0.0/1", "inet -net 128.0.0.0/1", "inet6 -net ::/1",
                              "inet6 -net 8000::/1"}));
        QVERIFY(rig.backend.lastError().isEmpty());

        const int first = rig.backend.commands.size();
        rig.backend.removeRoutes();
        QVERIFY(rig.commandsFrom(first).contains("/sbin/route -n delete -inet6 -net " + refused));
        QCOMPARE(rig.table.routes(), before);
    }

    // A failing add stops at once with its own text; what was added before stays
    // recorded, and removeRoutes takes it away again in reverse order, server last.
    void failedAddIsUndoneInReverse_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QVariantList>("entries");
        QTest::addColumn<QString>("refused");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QStringList>("installedAtFailure");

        const QString why =
            QStringLiteral("route: writing to routing socket: Network is unreachable");
        QTest::newRow("server route")
            << 0 << QVariantList() << Server << "Не удалось добавить маршрут до сервера: " + why
            << QStringList();
        QTest::newRow("second IPv4 route")
            << 0 << QVariantList() << "128.0.0.0/1"
            << "Не удалось добавить IPv4 маршрут: " + why << QStringList{"inet -net 0.0.0.0/1"};
        QTest::newRow("second only-selected route")
            << 1 << QVariantList{entry("10.1.0.0/16"), entry("2001:db8::5"), entry("10.2.0.0/16")}
            << "10.2.0.0/16"
            << "Не удалось добавить маршрут раздельного туннелирования: " + why
            << QStringList{"inet -net 10.1.0.0/16", "inet6 -host 2001:db8::5"};
        QTest::newRow("second exclusion")
            << 2 << QVariantList{entry("10.1.0.0/16"), entry("10.2.3.4")} << "10.2.3.4"
            << "Не удалось добавить исключение раздельного туннелирования: " + why
            << QStringList{"inet -net 0.0.0.0/1", "inet -net 128.0.0.0/1", "inet6 -net ::/1",
                           "inet6 -net 8000::/1", "inet -net 10.1.0.0/16"};
    }

    void failedAddIsUndoneInReverse()
    {
        QFETCH(int, mode);
        QFETCH(QVariantList, entries);
        QFETCH(QString, refused);
        QFETCH(QString, error);
        QFETCH(QStringList, installedAtFailure);
        Rig rig;
        if (mode != 0)
            rig.split(mode, entries);
        rig.table.failingDestinations.insert(refused);
        const QStringList before = rig.table.routes();
        QSignalSpy errors(&rig.backend, &PlatformVpnBackend::errorOccurred);

        QVERIFY(!rig.backend.configureRoutes(configWith(QJsonValue(QJsonValue::Undefined))));
        QCOMPARE(rig.backend.lastError(), error);
        QCOMPARE(rig.backend.status(), PlatformVpnBackend::Error);
        QCOMPARE(errors.size(), 1);
        QCOMPARE(installed(rig.backend), installedAtFailure);
        QCOMPARE(rig.backend.commandLines().constLast().contains(refused), true);

        const int first = rig.backend.commands.size();
        rig.backend.removeRoutes();
        QStringList expectedDeletes;
        if (refused != Server)
            expectedDeletes << "/sbin/route -n delete -host " + ApiAddress;
        for (auto it = installedAtFailure.crbegin(); it != installedAtFailure.crend(); ++it) {
            QStringList parts = it->split(' ');
            expectedDeletes << QStringLiteral("/sbin/route -n delete ") +
                                   (parts[0] == "inet6" ? "-inet6 " : "") + parts[1] + ' ' +
                                   parts[2];
        }
        expectedDeletes << "/sbin/route -n delete -host " + Server;
        QCOMPARE(rig.commandsFrom(first), expectedDeletes);
        QCOMPARE(rig.table.routes(), before);
        QCOMPARE(rig.hostsContent().contains("TARVEX"), false);
    }

    void serverRouteFailureStopsEverythingElse()
    {
        Rig rig;
        rig.table.failingDestinations.insert(Server);
        QVERIFY(!rig.backend.configureRoutes(configWith(QJsonValue(QJsonValue::Undefined))));
        QCOMPARE(rig.backend.commandLines(),
                 QStringList({"/sbin/route -n get default",
                              "/sbin/route -n add -host 203.0.113.10 192.168.1.1"}));
        QCOMPARE(rig.backend.lookups, 0);
    }

    void onlySelectedRoutesOnlyTheEntries()
    {
        Rig rig;
        rig.backend.hosts.insert(
            "site.example",
            {QHostAddress("1.2.3.4"), QHostAddress("2001:db8::1"), QHostAddress("1.2.3.4")});
        rig.split(1, {entry("site.example"), entry("10.1.2.0/24"), entry("2001:db8::5"),
                      entry("1.2.3.4/32")});
        const QStringList before = rig.table.routes();

        QTest::ignoreMessage(
            QtInfoMsg,
            "[MacVpnBackend] configureRoutes endpoint= \"203.0.113.10\" gateway= \"192.168.1.1\" "
            "allowedIps= QList(\"0.0.0.0/0\", \"::/0\") splitEnabled= true splitMode= 1 "
            "splitRoutes= QList(\"1.2.3.4\", \"2001:db8::1\", \"10.1.2.0/24\", \"2001:db8::5\", "
            "\"1.2.3.4/32\")");
        QVERIFY(rig.backend.configureRoutes(configWith(QJsonValue(QJsonValue::Undefined))));

        QCOMPARE(rig.commandsFrom(rig.backend.commands.size() - 5),
                 QStringList({"/sbin/route -n add -host 1.2.3.4 -interface utun5",
                              "/sbin/route -n add -inet6 -host 2001:db8::1 -interface utun5",
                              "/sbin/route -n add -net 10.1.2.0/24 -interface utun5",
                              "/sbin/route -n add -inet6 -host 2001:db8::5 -interface utun5",
                              "/sbin/route -n add -net 1.2.3.4/32 -interface utun5"}));
        QCOMPARE(
            installed(rig.backend),
            QStringList({"inet -host 1.2.3.4", "inet6 -host 2001:db8::1", "inet -net 10.1.2.0/24",
                         "inet6 -host 2001:db8::5", "inet -net 1.2.3.4/32"}));
        QVERIFY(!rig.backend.commandLines().join('\n').contains("0.0.0.0/1"));

        rig.backend.removeRoutes();
        QCOMPARE(rig.table.routes(), before);
    }

    void onlySelectedWithNothingResolvableSucceeds()
    {
        Rig rig;
        rig.split(1, {entry("nowhere.example")});
        QTest::ignoreMessage(QtWarningMsg,
                             "[MacVpnBackend] split tunnel host not resolved \"nowhere.example\"");
        QVERIFY(rig.backend.configureRoutes(configWith(QJsonValue(QJsonValue::Undefined))));
        QVERIFY(rig.backend.installedRoutes.isEmpty());
        QCOMPARE(rig.table.routes(),
                 sorted({"inet -net default -> 192.168.1.1", ServerRoute, ApiRoute}));
    }

    void allExceptPinsExclusionsToTheOldGateway()
    {
        Rig rig;
        rig.backend.hosts.insert("site.example",
                                 {QHostAddress("1.2.3.4"), QHostAddress("2001:db8::1")});
        rig.split(2, {entry("site.example"), entry("10.9.0.0/16"), entry("2001:db8::/32")});
        const QStringList before = rig.table.routes();

        QVERIFY(rig.backend.configureRoutes(configWith(QJsonArray{"0.0.0.0/0", "::/0"})));
        QCOMPARE(rig.table.routes(),
                 sorted(before + QStringList{ServerRoute, ApiRoute,
                                             "inet -net 0.0.0.0/1 -> -interface utun5",
                                             "inet -net 128.0.0.0/1 -> -interface utun5",
                                             "inet6 -net ::/1 -> -interface utun5",
                                             "inet6 -net 8000::/1 -> -interface utun5",
                                             "inet -host 1.2.3.4 -> 192.168.1.1",
                                             "inet -net 10.9.0.0/16 -> 192.168.1.1"}));
        QCOMPARE(rig.hostsContent(), HostsBefore + "# BEGIN TARVEX_VPN_CLIENT\n198.51.100.7\t" +
                                         ApiHost + "\n# END TARVEX_VPN_CLIENT\n");

        const int first = rig.backend.commands.size();
        rig.backend.removeRoutes();
        QCOMPARE(rig.commandsFrom(first),
                 QStringList({"/sbin/route -n delete -host 198.51.100.7",
                              "/sbin/route -n delete -net 10.9.0.0/16",
                              "/sbin/route -n delete -host 1.2.3.4",
                              "/sbin/route -n delete -inet6 -net 8000::/1",
                              "/sbin/route -n delete -inet6 -net ::/1",
                              "/sbin/route -n delete -net 128.0.0.0/1",
                              "/sbin/route -n delete -net 0.0.0.0/1",
                              "/sbin/route -n delete -host 203.0.113.10"}));
        QCOMPARE(rig.table.routes(), before);
        QCOMPARE(rig.hostsContent(), HostsBefore);
    }

    void noGatewayStillRoutesTheTunnel()
    {
        Rig rig{QString()};
        rig.split(2, {entry("10.9.0.0/16")});
        QTest::ignoreMessage(QtWarningMsg,
                             "[MacVpnBackend] control-plane bypass skipped: empty gateway");

        QVERIFY(rig.backend.configureRoutes(configWith(QJsonArray{"0.0.0.0/0"})));
        QCOMPARE(rig.table.routes(), QStringList({"inet -net 0.0.0.0/1 -> -interface utun5",
                                                  "inet -net 128.0.0.0/1 -> -interface utun5"}));
        QVERIFY(rig.backend.lastError().isEmpty());
        QCOMPARE(rig.backend.lookups, 0);

        rig.backend.removeRoutes();
        QVERIFY(rig.table.routes().isEmpty());
    }

    void removeRoutesOnAnIdleBackendRunsNothing()
    {
        Rig rig;
        rig.backend.removeRoutes();
        QVERIFY(rig.backend.commands.isEmpty());
        QCOMPARE(rig.hostsContent(), HostsBefore);
    }
};

QTEST_GUILESS_MAIN(TestMacVpnBackendRoutes)
#include "tst_macvpnbackend_routes.moc"
