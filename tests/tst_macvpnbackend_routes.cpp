#include "simulatedroutingtable.h"
#include "testablemacvpnbackend.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString Gateway = QStringLiteral("192.168.1.1");
const QString Server = QStringLiteral("203.0.113.10");
const QString Api = QStringLiteral("198.51.100.7");
const QString ServerRoute = QStringLiteral("inet -host 203.0.113.10 -> 192.168.1.1");
const QString ApiRoute = QStringLiteral("inet -host 198.51.100.7 -> 192.168.1.1");
const QStringList Halves{"inet -net 0.0.0.0/1", "inet -net 128.0.0.0/1", "inet6 -net ::/1",
                         "inet6 -net 8000::/1"};
const QStringList HalvesRemoved{"8000::/1", "::/1", "128.0.0.0/1", "0.0.0.0/1"};
const QString Unreachable =
    QStringLiteral("route: writing to routing socket: Network is unreachable");

QVariantMap entry(const QString &value, const QString &ip = QString())
{
    return {{QStringLiteral("value"), value}, {QStringLiteral("ip"), ip}};
}

// Routes through the tunnel, plus the server and API routes via the old gateway.
QStringList withTunnel(const QStringList &routes,
                       const QStringList &others = {ServerRoute, ApiRoute})
{
    QStringList result = others;
    for (const QString &route : routes)
        result.append(route + QStringLiteral(" -> -interface utun5"));
    return result;
}

// A backend on utun5 whose commands go to a routing table with the given default
// gateway, the API host and one site resolving, and an empty hosts file of its own.
struct Rig
{
    Rig(int splitMode, const QVariantList &entries, const QString &gateway)
        : table(gateway)
    {
        backend.hostsFile = dir.filePath(QStringLiteral("hosts"));
        QFile(backend.hostsFile).open(QIODevice::WriteOnly);
        backend.responder = table.responder();
        backend.interfaceName = QStringLiteral("utun5");
        backend.hosts.insert(QCoreApplication::organizationDomain(), {QHostAddress(Api)});
        backend.hosts.insert("site.example", {QHostAddress("1.2.3.4"), QHostAddress("2001:db8::1"),
                                              QHostAddress("1.2.3.4")});
        backend.splitSettings = {splitMode != 0, splitMode, entries};
        before = table.routes();
    }

    // What is in the table now and was not before, sorted.
    QStringList added() const
    {
        QStringList result = table.routes();
        for (const QString &route : before)
            result.removeOne(route);
        return result;
    }

    // The destinations that removeRoutes deleted, in order.
    QStringList remove()
    {
        const int first = backend.commands.size();
        backend.removeRoutes();
        QStringList destinations;
        for (const auto &command : backend.commands.mid(first))
            destinations.append(command.arguments.constLast());
        return destinations;
    }

    QTemporaryDir dir;
    SimulatedRoutingTable table;
    TestableMacVpnBackend backend; // after the table: destroyed while the table still answers
    QStringList before;
};

} // namespace

class TestMacVpnBackendRoutes : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QCoreApplication::setOrganizationDomain("api.tarvex.test"); }

    // Every route a connect adds, whether it succeeds or stops at a refused route, is
    // removed again: the control plane first, then the recorded routes in reverse, the
    // server route last.
    void routing_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QVariantList>("entries");
        QTest::addColumn<QJsonValue>("allowed");
        QTest::addColumn<QString>("gateway");
        QTest::addColumn<QString>("refused");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<QStringList>("removed");

        const QJsonValue everything(QJsonValue::Undefined);
        const auto full = [&](const char *name, const QJsonValue &allowed, const QStringList &added,
                              const QStringList &removed) {
            QTest::newRow(name) << 0 << QVariantList() << allowed << Gateway << QString()
                                << QString() << withTunnel(added)
                                << QStringList{Api} + removed + QStringList{Server};
        };
        full("no allowed IPs", everything, Halves, HalvesRemoved);
        full("networks", QJsonArray{"10.0.0.0/8", "192.168.1.0/24"},
             {"inet -net 10.0.0.0/8", "inet -net 192.168.1.0/24"},
             {"192.168.1.0/24", "10.0.0.0/8"});
        full("ipv4 default wins over networks", QJsonArray{"0.0.0.0/0", "10.0.0.0/8"},
             Halves.mid(0, 2), HalvesRemoved.mid(2));
        full("ipv6 networks are not routed", QJsonArray{"fd00::/8", "10.0.0.0/8", "2001:db8::/32"},
             {"inet -net 10.0.0.0/8"}, {"10.0.0.0/8"});
        full("ipv6 default only", QJsonArray{"::/0"}, Halves.mid(2), HalvesRemoved.mid(0, 2));
        full("defaults must match exactly", QJsonArray{"0.0.0.0/00", "::0/0"},
             {"inet -net 0.0.0.0/00"}, {"0.0.0.0/00"});

        // A machine without IPv6 refuses the halves; that is no failure. What was refused
        // (another tunnel's route of that name, a static one) is never deleted.
        QTest::newRow("refused IPv6 half")
            << 0 << QVariantList() << everything << Gateway << "::/1" << QString()
            << withTunnel({Halves[0], Halves[1], Halves[3]})
            << QStringList{Api, "8000::/1", "128.0.0.0/1", "0.0.0.0/1", Server};
        QTest::newRow("refused server route")
            << 0 << QVariantList() << everything << Gateway << Server
            << "Не удалось добавить маршрут до сервера: " + Unreachable << QStringList()
            << QStringList();
        QTest::newRow("refused IPv4 route")
            << 0 << QVariantList() << everything << Gateway << "128.0.0.0/1"
            << "Не удалось добавить IPv4 маршрут: " + Unreachable << withTunnel(Halves.mid(0, 1))
            << QStringList{Api, "0.0.0.0/1", Server};

        // Literals, trimmed; a name's answers in the resolver's order, once, ahead of the
        // address stored with it, which is only a fallback; nothing for what is neither.
        const QVariantList selected{entry("site.example", "203.0.113.5"),
                                    entry("10.1.2.0/24"),
                                    entry(" 2001:db8::5 "),
                                    entry("1.2.3.4"),
                                    entry("1.2.3.4/32"),
                                    entry("gone.example", " 203.0.113.0/24 "),
                                    entry("gone.example", "not an address"),
                                    entry("10.0.0.0/33"),
                                    QStringLiteral("not a map")};
        QTest::newRow("only selected")
            << 1 << selected << everything << Gateway << QString() << QString()
            << withTunnel({"inet -host 1.2.3.4", "inet6 -host 2001:db8::1", "inet -net 10.1.2.0/24",
                           "inet6 -host 2001:db8::5", "inet -net 1.2.3.4/32",
                           "inet -net 203.0.113.0/24"})
            << QStringList{Api,           "203.0.113.0/24", "1.2.3.4/32", "2001:db8::5",
                           "10.1.2.0/24", "2001:db8::1",    "1.2.3.4",    Server};
        QTest::newRow("only selected, nothing resolvable")
            << 1 << QVariantList{entry("nowhere.example")} << everything << Gateway << QString()
            << QString() << withTunnel({}) << QStringList{Api, Server};
        QTest::newRow("refused only-selected route")
            << 1 << selected << everything << Gateway << "2001:db8::5"
            << "Не удалось добавить маршрут раздельного туннелирования: " + Unreachable
            << withTunnel(
                   {"inet -host 1.2.3.4", "inet6 -host 2001:db8::1", "inet -net 10.1.2.0/24"})
            << QStringList{Api, "10.1.2.0/24", "2001:db8::1", "1.2.3.4", Server};

        const QVariantList excluded{entry("site.example"), entry("10.9.0.0/16"),
                                    entry("2001:db8::/32")};
        const QStringList exclusions{ServerRoute, ApiRoute, "inet -host 1.2.3.4 -> 192.168.1.1",
                                     "inet -net 10.9.0.0/16 -> 192.168.1.1"};
        QTest::newRow("all except")
            << 2 << excluded << everything << Gateway << QString() << QString()
            << withTunnel(Halves, exclusions)
            << QStringList{Api, "10.9.0.0/16", "1.2.3.4"} + HalvesRemoved + QStringList{Server};
        QTest::newRow("refused exclusion")
            << 2 << excluded << everything << Gateway << "10.9.0.0/16"
            << "Не удалось добавить исключение раздельного туннелирования: " + Unreachable
            << withTunnel(Halves, exclusions.mid(0, 3))
            << QStringList{Api, "1.2.3.4"} + HalvesRemoved + QStringList{Server};
        QTest::newRow("all except without a gateway")
            << 2 << excluded << everything << QString() << QString() << QString()
            << withTunnel(Halves, {}) << HalvesRemoved;
    }

    void routing()
    {
        QFETCH(int, mode);
        QFETCH(QVariantList, entries);
        QFETCH(QJsonValue, allowed);
        QFETCH(QString, gateway);
        QFETCH(QString, refused);
        QFETCH(QString, error);
        QFETCH(QStringList, added);
        QFETCH(QStringList, removed);
        Rig rig(mode, entries, gateway);
        rig.table.failingDestinations.insert(refused);
        ParsedVpnConfig config;
        config.hostName = Server;
        if (!allowed.isUndefined())
            config.lastConfig.insert(QStringLiteral("allowed_ips"), allowed);

        QCOMPARE(rig.backend.configureRoutes(config), error.isEmpty());
        QCOMPARE(rig.backend.lastError(), error);
        added.sort();
        QCOMPARE(rig.added(), added);

        QCOMPARE(rig.remove(), removed);
        QCOMPARE(rig.table.routes(), rig.before);
        QCOMPARE(QFile(rig.backend.hostsFile).size(), 0);
    }

    void removeRoutesOnAnIdleBackendRunsNothing()
    {
        Rig rig(0, {}, Gateway);
        QVERIFY(rig.remove().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestMacVpnBackendRoutes)
#include "tst_macvpnbackend_routes.moc"
