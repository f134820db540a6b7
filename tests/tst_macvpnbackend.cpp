#include "defaultroutewatcher.h"
#include "hostsfileeditor.h"
#include "macsimulator.h"
#include "recoveryjournal.h"
#include "simulatedmac.h"
#include "testablemacvpnbackend.h"
#include "uapirequest.h"
#include "upstreamroute.h"
#include "vpnconfigfixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <ctime>

using ProgramRun = TestableMacVpnBackend::ProgramRun;
Q_DECLARE_METATYPE(ProgramRun::Outcome)

namespace {

using Status = PlatformVpnBackend::Status;
const QString ApiHost = QStringLiteral("api.tarvex.test");
const QString Pinned = QStringLiteral("# BEGIN TARVEX_VPN_CLIENT\n198.51.100.7\tapi.tarvex.test\n"
                                      "# END TARVEX_VPN_CLIENT\n");

// A route of the simulated Mac's dump: through the old default gateway, or the tunnel.
QString viaGateway(const QString &destination)
{
    return "route inet " + destination + " gateway 192.168.1.1 en0";
}

QString viaTunnel(const QString &destination)
{
    return QStringLiteral("route %1 %2 interface utun2")
        .arg(destination.contains(':') ? "inet6" : "inet", destination);
}

const QStringList OutsideRoutes{viaGateway("198.51.100.10"), viaGateway("198.51.100.7")};
const QStringList Halves4{viaTunnel("0.0.0.0/1"), viaTunnel("128.0.0.0/1")};
const QStringList Halves6{viaTunnel("::/1"), viaTunnel("8000::/1")};
const QString SeededDns = "service Wi-Fi enabled dns 192.168.1.1\n"
                          "service Ethernet enabled dns 9.9.9.9 149.112.112.112\n"
                          "service 'Thunderbolt Bridge' disabled dns -";
const QString TunnelDns = "service Wi-Fi enabled dns 1.1.1.1 1.0.0.1\n"
                          "service Ethernet enabled dns 1.1.1.1 1.0.0.1\n"
                          "service 'Thunderbolt Bridge' disabled dns -";

QVariantMap entry(const QString &value, const QString &ip = QString())
{
    return {{"value", value}, {"ip", ip}};
}

QVariantMap splitPeer(int mode, const QVariantList &entries)
{
    return {{"splitTunnel", QVariantMap{{"enabled", true}, {"mode", mode}, {"entries", entries}}}};
}

QList<Status> statuses(const QSignalSpy &spy)
{
    QList<Status> result;
    for (const QList<QVariant> &arguments : spy)
        result.append(arguments.at(0).value<Status>());
    return result;
}

// A backend on a Mac of its own, with the API host and two sites resolving.
struct Rig
{
    Rig()
        : backend(mac)
    {
        backend.hosts.insert(ApiHost, {QHostAddress("198.51.100.7")});
        backend.hosts.insert("site.example", {QHostAddress("1.2.3.4"), QHostAddress("2001:db8::1"),
                                              QHostAddress("1.2.3.4")});
        QList<QHostAddress> many;
        for (quint32 i = 0; i < 1025; ++i)
            many.append(QHostAddress(0x0a400000 + i));
        backend.hosts.insert("many.example", many);
        backend.setTimeouts(TestableMacVpnBackend::shortTimeouts());
        before = mac.dump();
    }

    // The routes that are there now and were not before.
    QStringList addedRoutes() const
    {
        QStringList added = mac.dump("route").split('\n');
        for (const QString &line : before.split('\n'))
            added.removeAll(line);
        added.sort();
        return added;
    }

    void verifyRestored() const
    {
        QCOMPARE(mac.dump(), before);
        QCOMPARE(mac.hosts(), QByteArray(SimulatedMac::DefaultHosts));
        QVERIFY(!QFile::exists(mac.journalFile()));
    }

    SimulatedMac mac;
    TestableMacVpnBackend backend;
    QString before;
};

QString runtimePath(const SimulatedMac &mac, const QString &file = QString())
{
    return QDir(mac.path(QStringLiteral("run/amneziawg"))).filePath(file);
}

const QString NoName = QStringLiteral("Не удалось создать VPN-интерфейс: не удалось получить имя "
                                      "utun-интерфейса");
const QString NoRights = QStringLiteral(
    "Не удалось создать VPN-интерфейс: amneziawg-go не может создать utun-интерфейс без прав "
    "администратора. Нужен привилегированный daemon/helper как в Amnezia.");

const QByteArray KeyA = QByteArray(64, 'a');
const QByteArray Peer = "set=1\npublic_key=" + QByteArray(64, 'b') + "\n";
const QByteArray Invalid = "errno=" + QByteArray::number(-EINVAL) + "\n\n";
const QByteArray Ok = "errno=0\n\n";

const QString ZeroKeyHex = QString(64, QLatin1Char('0'));
const QStringList AllowedIps{"10.0.0.0/8"};
// Zero keys, nothing optional.
const QJsonObject Minimal =
    QJsonDocument::fromJson(R"({"client_priv_key": "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=",
                                "server_pub_key": "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA="})")
        .object();

// The object with the members of the JSON text put in.
QJsonObject with(QJsonObject object, const char *json)
{
    const QJsonObject changes = QJsonDocument::fromJson(json).object();
    for (auto it = changes.begin(); it != changes.end(); ++it)
        object.insert(it.key(), *it);
    return object;
}

// The request for Minimal with the given obfuscation lines, endpoint and tail.
QString minimalRequest(const QStringList &obfuscation, const QString &endpoint,
                       const QStringList &tail)
{
    const QStringList lines =
        QStringList{"set=1", "private_key=" + ZeroKeyHex, "replace_peers=true"} + obfuscation +
        QStringList{"public_key=" + ZeroKeyHex, "endpoint=" + endpoint,
                    "replace_allowed_ips=true"} +
        tail;
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

// "gateway 192.168.1.1 en0", "gateway 192.168.1.1" (interface not known) or "none".
UpstreamRoute way(const QString &text)
{
    const QStringList words = text.split(QLatin1Char(' '));
    if (words.first() == QLatin1String("gateway"))
        return {UpstreamRoute::Kind::Gateway, words.value(1), words.value(2)};
    return {};
}

QString routeGet(const QString &gateway, const QString &interfaceName)
{
    return "   route to: default\ndestination: default\n" +
           (gateway.isEmpty() ? QString() : "    gateway: " + gateway + "\n") +
           "  interface: " + interfaceName + "\n      flags: <UP,GATEWAY,DONE,STATIC>\n";
}

} // namespace

class TestMacVpnBackend : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCoreApplication::setOrganizationDomain(ApiHost);
        // The interlock must hold even when the suite runs from a sandbox shell.
        qunsetenv("TARVEX_SANDBOX");
    }
    void cleanup()
    {
        // The stand-in's knobs are set in this process's environment, which the backend
        // hands on to the tunnel program.
        for (const QString &name : QProcessEnvironment::systemEnvironment().keys())
            if (name.startsWith("TARVEX_AWG_"))
                qunsetenv(qPrintable(name));
    }

    // What a connection sets up, by the configuration's allowed IPs and the peer's split
    // settings; or, with an error, that a failing step ends the connect with its text, and
    // that values that would reach root's commands in a form they do not expect are refused
    // first. Either way the disconnect gives everything back.
    void connection_data()
    {
        QTest::addColumn<QByteArray>("changes");
        QTest::addColumn<QVariantMap>("peer");
        QTest::addColumn<QStringList>("knobs");
        QTest::addColumn<QStringList>("routes");
        QTest::addColumn<QString>("dns");
        QTest::addColumn<QString>("error"); // how it starts; empty: connected
        QTest::addColumn<bool>("refused");  // before anything was changed

        const auto row = [](const char *name, const QByteArray &changes, const QVariantMap &peer,
                            QStringList routes, const QString &dns = TunnelDns,
                            const QStringList &knobs = {}) {
            routes.sort();
            QTest::newRow(name) << changes << peer << knobs << routes << dns << QString() << false;
        };
        row("full tunnel", "{}", {}, OutsideRoutes + Halves4 + Halves6);
        row("networks; IPv6 networks not routed",
            R"({"allowed_ips": ["fd00::/8", "10.0.0.0/8", "2001:db8::/32"]})", {},
            OutsideRoutes + QStringList{viaTunnel("10.0.0.0/8")});
        // The MTU only as text, a number is not even judged; the interface's IPv6 address is
        // not needed.
        row("MTU a number, IPv6 address refused", R"({"mtu": 99999})", {},
            OutsideRoutes + Halves4 + Halves6, TunnelDns, {"fail ifconfig utun* inet6 *"});
        row("the IPv6 default must match exactly", R"({"allowed_ips": ["10.0.0.0/8", "::0/0"]})",
            {}, OutsideRoutes + QStringList{viaTunnel("10.0.0.0/8")});
        // A machine without IPv6 refuses the halves; that is no failure.
        row("IPv6 half refused", "{}", {}, OutsideRoutes + Halves4 + Halves6.mid(1), TunnelDns,
            {"fail route -n add -inet6 -net ::/1 *"});

        // Literals, trimmed; a name's answers in the resolver's order, once, ahead of the
        // address stored with it, which is only a fallback; nothing for what is neither.
        // The system DNS stays as it is.
        const QVariantList selected{entry("site.example", "203.0.113.5"),
                                    entry("10.1.2.0/24"),
                                    entry(" 2001:db8::5 "),
                                    entry("5.6.7.8/32"),
                                    entry("gone.example", " 203.0.113.0/24 "),
                                    entry("gone.example", "not an address"),
                                    entry("10.0.0.0/33"),
                                    "not a map"};
        row("only selected", "{}", splitPeer(1, selected),
            OutsideRoutes + QStringList{"route inet 1.2.3.4 interface utun2",
                                        viaTunnel("2001:db8::1"), viaTunnel("10.1.2.0/24"),
                                        viaTunnel("2001:db8::5"), viaTunnel("5.6.7.8/32"),
                                        viaTunnel("203.0.113.0/24")},
            SeededDns);
        row("only selected, nothing resolvable", "{}", splitPeer(1, {entry("nowhere.example")}),
            OutsideRoutes, SeededDns);
        // Exclusions keep the old gateway; they are IPv4 only.
        const QVariantList excluded{entry("site.example"), entry("10.9.0.0/16"),
                                    entry("2001:db8::/32")};
        row("all except", "{}", splitPeer(2, excluded),
            OutsideRoutes + Halves4 + Halves6 +
                QStringList{viaGateway("1.2.3.4"), viaGateway("10.9.0.0/16")});
        row("all except, no default gateway", "{}", splitPeer(2, excluded), Halves4 + Halves6,
            TunnelDns, {"reply route -n get default"});

        // DNS: only non-blank servers; a service whose servers cannot be read, and all of
        // them when the listing fails, are left alone.
        row("Ethernet unreadable", "{}", {}, OutsideRoutes + Halves4 + Halves6,
            "service Wi-Fi enabled dns 1.1.1.1 1.0.0.1\n"
            "service Ethernet enabled dns 9.9.9.9 149.112.112.112\n"
            "service 'Thunderbolt Bridge' disabled dns -",
            {"fail networksetup -getdnsservers Ethernet"});
        row("no service listing", "{}", {}, OutsideRoutes + Halves4 + Halves6, SeededDns,
            {"fail networksetup -listallnetworkservices"});

        // A failing step; a refused value.
        const QString down = "route: writing to routing socket: Network is down";
        const auto fail = [](const char *name, const QString &knob, const QString &error,
                             const QVariantMap &peer = {}, bool refused = false) {
            QTest::newRow(name) << QByteArray("{}") << peer
                                << (knob.isEmpty() ? QStringList() : QStringList{knob})
                                << QStringList() << QString() << error << refused;
        };
        fail("interface address", "fail stderr=\"ioctl: File exists\" ifconfig utun* inet *",
             "Не удалось настроить IPv4 интерфейса: ioctl: File exists");
        fail("server route", "fail stderr=\"" + down + "\" route -n add -host 198.51.100.10 *",
             "Не удалось добавить маршрут до сервера: " + down);
        fail("split route", "fail stderr=\"" + down + "\" route -n add -inet6 -host 2001:db8::5 *",
             "Не удалось добавить маршрут раздельного туннелирования: " + down,
             splitPeer(1, {entry("10.1.2.0/24"), entry("2001:db8::5")}));
        fail("exclusion", "fail stderr=\"" + down + "\" route -n add -net 10.9.0.0/16 *",
             "Не удалось добавить исключение раздельного туннелирования: " + down,
             splitPeer(2, {entry("1.2.3.4"), entry("10.9.0.0/16")}));
        fail("uapi errno", "awg -22", "Не удалось применить WireGuard/AWG-конфигурацию");
        fail("no tunnel program", "no program", "Не найден amneziawg-go рядом с приложением");
        fail("journal not writable", "no journal folder",
             "Не удалось записать журнал восстановления: ");
        fail("runtime folder not creatable", "no run folder",
             "Не удалось создать runtime-директорию для VPN");

        const auto refuse = [](const char *name, const QByteArray &changes, const QString &error,
                               const QVariantMap &peer = {}) {
            QTest::newRow(name) << changes << peer << QStringList() << QStringList() << QString()
                                << error << true;
        };
        const QString invalid = "Недопустимая конфигурация VPN: поле ";
        refuse("control character", R"({"hostName": "198.51.100.10\nprivate_key=00"})",
               invalid + "hostName содержит управляющие символы");
        refuse("dns option", R"({"dns2": "-setv6off"})",
               invalid + "dns2 должно быть IPv4- или IPv6-адресом");
        refuse("interface as address", R"({"client_ip": "en0/32"})",
               invalid + "client_ip должно быть IPv4-адресом");
        refuse("mtu option", R"({"mtu": "-1"})", invalid + "mtu должно быть числом от 576 до 9000");
        refuse("host option", R"({"hostName": "-interface"})",
               invalid + "hostName не может начинаться с «-»");
        refuse("server name unknown", R"({"hostName": "nowhere.example"})",
               "Не удалось определить адрес сервера VPN nowhere.example: ");
        refuse("too many entries", "{}",
               "Слишком много записей раздельного туннелирования: 257, допустимо не больше 256",
               splitPeer(1, QVariantList(257, entry("10.1.0.0/16"))));
        refuse("no client_ip", R"({"client_ip": ""})", "В конфигурации нет client_ip");
#ifndef Q_OS_MACOS // where the backend may always change the system
        fail("outside the sandbox", "outside the sandbox",
             "Изменение сетевых настроек разрешено только на macOS или в песочнице разработки "
             "(TARVEX_SANDBOX=1)",
             {}, true);
#endif
        // The addresses are known only once the names are resolved, with the tunnel up;
        // still no route is added.
        fail("too many addresses", {},
             "Слишком много адресов раздельного туннелирования: 1025, допустимо не больше 1024",
             splitPeer(1, {entry("many.example")}));
    }

    void connection()
    {
        QFETCH(QByteArray, changes);
        QFETCH(QVariantMap, peer);
        QFETCH(QStringList, knobs);
        QFETCH(QStringList, routes);
        QFETCH(QString, dns);
        QFETCH(QString, error);
        QFETCH(bool, refused);
        Rig rig;
        const QString knob = knobs.value(0);
        if (knob == "awg -22")
            qputenv("TARVEX_AWG_SET_ERRNO", "-22");
        else if (knob == "no program")
            rig.backend.applicationDirectory = rig.mac.path("empty");
        else if (knob.startsWith("no ") && knob.endsWith(" folder")) // a file in its place
            QVERIFY(QFile(rig.mac.path(knob.mid(3).chopped(7))).open(QIODevice::WriteOnly));
        else if (knob == "outside the sandbox")
            rig.backend.allowSystemChanges = false;
        else
            rig.mac.setKnobs(knobs);
        QSignalSpy status(&rig.backend, &PlatformVpnBackend::statusChanged);
        QSignalSpy connected(&rig.backend, &PlatformVpnBackend::connected);
        QSignalSpy errors(&rig.backend, &PlatformVpnBackend::errorOccurred);

        rig.backend.connectVpn(VpnConfigFixture::sampleConfig(changes), peer);
        const bool up = error.isEmpty();
        QCOMPARE(statuses(status),
                 QList<Status>({Status::Connecting, up ? Status::Connected : Status::Error}));
        QCOMPARE(connected.size(), up ? 1 : 0);
        QCOMPARE(errors.size(), up ? 0 : 1);
        if (!up) {
            QVERIFY2(rig.backend.lastError().startsWith(error),
                     qPrintable(rig.backend.lastError()));
            QCOMPARE(errors.at(0).at(0).toString(), rig.backend.lastError());
            rig.verifyRestored();
            const QStringList made =
                rig.mac.commands().filter(QRegularExpression("^/sbin/|setdnsservers"));
            QVERIFY2(!refused || made.isEmpty(), qPrintable(made.join('\n')));
        } else {
            QCOMPARE(rig.addedRoutes(), routes);
            QCOMPARE(rig.mac.dump("service"), dns);
            const bool mtuText =
                QJsonDocument::fromJson(changes).object().value("mtu").isUndefined();
            const bool ipv6 = knobs.filter("ifconfig").isEmpty();
            QVERIFY2(rig.mac.dump().contains(
                         QStringLiteral("interface utun2 mtu %1 up\n"
                                        "  inet 10.8.1.2 dest 10.8.1.2 netmask 255.255.255.255\n%2")
                             .arg(mtuText ? "1376" : "1280",
                                  ipv6 ? "  inet6 fd58:baa6:dead::1 prefixlen 128\n" : "route")),
                     qPrintable(rig.mac.dump("interface")));
            QCOMPARE(rig.mac.hosts(),
                     QByteArray(SimulatedMac::DefaultHosts) +
                         (routes.contains(viaGateway("198.51.100.7")) ? Pinned.toUtf8() : ""));
            QVERIFY(rig.mac.commands().contains("/usr/bin/killall -HUP mDNSResponder"));
            // A disabled service is listed with an asterisk and is none of ours.
            QVERIFY(rig.mac.commands().filter("Thunderbolt").isEmpty());
        }

        // Leaving Connected or Error goes through Disconnecting, and clears the reason.
        status.clear();
        QSignalSpy disconnected(&rig.backend, &PlatformVpnBackend::disconnected);
        rig.mac.setKnobs({});
        rig.backend.disconnectVpn();
        QCOMPARE(statuses(status), QList<Status>({Status::Disconnecting, Status::Disconnected}));
        QCOMPARE(disconnected.size(), 1);
        QVERIFY(rig.backend.lastError().isEmpty());
        rig.verifyRestored();
    }

    // A daemon that dies at any moment leaves a journal naming every route and DNS change it
    // made, so each is written before it is made. Routes go in the reverse order of their
    // adding, the control plane's first and the server's last, so the tunnel's own packets
    // keep their way out until the end.
    void changesAreJournalledFirstAndUndoneInReverse()
    {
        Rig rig;
        QStringList unjournalled;
        rig.backend.beforeCommand = [&](const QString &, const QStringList &arguments) {
            const bool add = arguments.value(1) == "add";
            const bool dns = arguments.value(0) == "-setdnsservers" &&
                             rig.backend.status() == Status::Connecting;
            if (!add && !dns)
                return;
            RecoveryJournal::Contents recorded;
            RecoveryJournal().read(&recorded);
            bool found = false;
            for (const RecoveryJournal::Route &route : recorded.routes)
                found = found || (add && arguments.contains(route.destination));
            for (const RecoveryJournal::DnsServers &servers : recorded.dnsServers)
                found = found || (dns && servers.service == arguments.value(1));
            if (!found)
                unjournalled.append(arguments.join(' '));
        };
        rig.backend.connectVpn(
            VpnConfigFixture::sampleConfig(R"({"allowed_ips": ["10.0.0.0/8", "0.0.0.0/0"]})"),
            splitPeer(2, {entry("10.9.0.0/16"), entry("1.2.3.4")}));
        QCOMPARE(rig.backend.status(), Status::Connected);
        QCOMPARE(unjournalled, QStringList());
        const qsizetype seen = rig.mac.commands().size();
        rig.backend.disconnectVpn();
        QCOMPARE(rig.mac.commands().mid(seen).filter("route -n delete"),
                 QStringList({"/sbin/route -n delete -host 198.51.100.7",
                              "/sbin/route -n delete -host 1.2.3.4",
                              "/sbin/route -n delete -net 10.9.0.0/16",
                              "/sbin/route -n delete -net 128.0.0.0/1",
                              "/sbin/route -n delete -net 0.0.0.0/1",
                              "/sbin/route -n delete -host 198.51.100.10"}));
    }

    // A second connect undoes the first in its own clean-up, without Disconnecting; a
    // disconnect with nothing up changes nothing but still says so.
    void reconnectAndIdleDisconnect()
    {
        Rig rig;
        QSignalSpy status(&rig.backend, &PlatformVpnBackend::statusChanged);
        QSignalSpy disconnected(&rig.backend, &PlatformVpnBackend::disconnected);
        rig.backend.disconnectVpn();
        QCOMPARE(status.size(), 0);
        QCOMPARE(disconnected.size(), 1);
        QVERIFY(rig.mac.commands().isEmpty());

        rig.backend.connectVpn(VpnConfigFixture::sampleConfig());
        status.clear();
        rig.backend.connectVpn(VpnConfigFixture::sampleConfig(),
                               splitPeer(1, {entry("10.1.2.0/24")}));
        QCOMPARE(statuses(status), QList<Status>({Status::Connecting, Status::Connected}));
        QCOMPARE(rig.addedRoutes(), (QStringList{viaTunnel("10.1.2.0/24")} + OutsideRoutes));
        // The full tunnel's DNS went with it, and is not what the journal now restores.
        QCOMPARE(rig.mac.dump("service"), SeededDns);
        rig.backend.disconnectVpn();
        rig.verifyRestored();
    }

    // Without its interface the routes into it are gone and traffic leaves in the clear:
    // the rest is undone at once, and the status says why.
    void tunnelProgramDyingIsUndone()
    {
        Rig rig;
        rig.backend.connectVpn(VpnConfigFixture::sampleConfig());
        RecoveryJournal::Contents recorded;
        QCOMPARE(RecoveryJournal().read(&recorded), RecoveryJournal::State::Complete);
        QVERIFY(recorded.tunnelPid > 0 && ::kill(pid_t(recorded.tunnelPid), SIGKILL) == 0);
        QTRY_COMPARE(rig.backend.status(), Status::Error);
        QCOMPARE(rig.backend.lastError(),
                 "VPN-туннель остановлен: программа amneziawg-go неожиданно завершилась");
        rig.verifyRestored();
    }

    // A daemon that died while connected left its changes and its journal; the next one
    // undoes them before it serves anyone. The tunnel program is stopped only when its pid
    // still is one; a damaged journal is undone as far as it reads and kept aside.
    void leftoversAreUndone_data()
    {
        QTest::addColumn<QString>("programName"); // what runs under the recorded pid
        QTest::addColumn<bool>("damaged");
        QTest::newRow("tunnel program runs") << "amneziawg-go" << false;
        QTest::newRow("pid reused") << "launchd" << false;
        QTest::newRow("damaged") << "amneziawg-go" << true;
    }

    void leftoversAreUndone()
    {
        QFETCH(QString, programName);
        QFETCH(bool, damaged);
        Rig rig;
        QVERIFY(QFile::link("/bin/sleep", rig.mac.path(programName)));
        QProcess program;
        program.start(rig.mac.path(programName), {"30"});
        QVERIFY(program.waitForStarted());

        // What the dead daemon did, recorded as it did it.
        RecoveryJournal journal;
        QVERIFY(journal.setTunnel("/Applications/Tarvex.app/Contents/MacOS/amneziawg-go",
                                  program.processId()));
        const auto run = [&](const QString &tool, const QStringList &arguments) {
            MacSimulator::run(tool, arguments, rig.mac.stateDirectory());
        };
        for (const RecoveryJournal::Route &route :
             {RecoveryJournal::Route{"inet", "198.51.100.10", "-host"},
              {"inet", "0.0.0.0/1", "-net"},
              {"inet6", "::/1", "-net"}}) {
            QVERIFY(journal.addRoute(route));
            run("/sbin/route", {"-n", "add", "-" + route.family, route.type, route.destination,
                                "-interface", "utun1"});
        }
        QVERIFY(journal.addDnsServers("Wi-Fi", {"192.168.1.1"}));
        QVERIFY(journal.addDnsServers("Thunderbolt Bridge", {}));
        run("/usr/sbin/networksetup", {"-setdnsservers", "Wi-Fi", "10.8.0.1"});
        run("/usr/sbin/networksetup", {"-setdnsservers", "Thunderbolt Bridge", "10.8.0.1"});
        QVERIFY(journal.setHostsBlock());
        QFile hosts(rig.mac.hostsFile());
        QVERIFY(hosts.open(QIODevice::WriteOnly));
        hosts.write(
            HostsFileEditor::pin(SimulatedMac::DefaultHosts, ApiHost, {"198.51.100.7"}).content);
        hosts.close();
        if (damaged)
            QVERIFY(
                QFile::resize(rig.mac.journalFile(), QFileInfo(rig.mac.journalFile()).size() - 3));

        rig.backend.recoverFromJournal();
        QCOMPARE(program.waitForFinished(1000), programName == "amneziawg-go");
        rig.verifyRestored();
        QCOMPARE(QDir(rig.mac.path("journal")).entryList({"recovery-journal.unreadable-*"}).size(),
                 damaged ? 1 : 0);
    }

    // The tunnel program's part of a connect, against the stand-in: how it is found and
    // started, how long it is waited for, and what goes over its UAPI socket; and the
    // backend's real way of running a program.
    // Per candidate (application directory, bundle resources, working directory): x the
    // tunnel program, f a file without execute permission, - a directory of that name. The
    // one started is the one the recovery journal names.
    void programIsFoundInOrder_data()
    {
        QTest::addColumn<QString>("kinds");
        QTest::addColumn<int>("expected");

        QTest::newRow("application directory first") << "xxx" << 0;
        QTest::newRow("non-executable skipped, resources before working directory") << "fxx" << 1;
        QTest::newRow("working directory last") << "f-x" << 2;
    }

    void programIsFoundInOrder()
    {
        QFETCH(QString, kinds);
        QFETCH(int, expected);
        Rig rig;
        const QStringList candidates{rig.mac.path("Contents/MacOS/amneziawg-go"),
                                     rig.mac.path("Contents/Resources/amneziawg-go"),
                                     rig.mac.path("cwd/amneziawg-go")};
        for (int i = 0; i < candidates.size(); ++i) {
            QVERIFY(QDir().mkpath(kinds[i] == '-' ? candidates[i]
                                                  : QFileInfo(candidates[i]).absolutePath()));
            if (kinds[i] == 'x')
                QVERIFY(QFile::link(TARVEX_AMNEZIAWG_STANDIN, candidates[i]));
            else if (kinds[i] == 'f')
                QVERIFY(QFile(candidates[i]).open(QIODevice::WriteOnly));
        }
        const QString workingDirectory = QDir::currentPath();
        QDir::setCurrent(rig.mac.path("cwd"));
        rig.backend.applicationDirectory = rig.mac.path("Contents/MacOS");
        rig.backend.connectVpn(VpnConfigFixture::sampleConfig());
        QDir::setCurrent(workingDirectory);

        RecoveryJournal::Contents recorded;
        QCOMPARE(RecoveryJournal().read(&recorded), RecoveryJournal::State::Complete);
        QCOMPARE(QDir::cleanPath(recorded.tunnelProgram), candidates[expected]);
    }

    // A program that never names its interface. One that ends (the tunnel program's own
    // "operation not permitted" on its error output is e2e_failures') ends the wait at once;
    // a hung one, that only ever writes an empty name and ignores SIGTERM, is given up at the
    // time-out without keeping a core busy meanwhile, and killed after the clean-up's own.
    void programGivesNoName_data()
    {
        QTest::addColumn<QStringList>("knobs"); // the stand-in's, TARVEX_AWG_<knob>
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("hung");

        QTest::newRow("any case, on standard output")
            << QStringList{"STDOUT=open utun: Operation NOT Permitted", "EXIT_MESSAGE=exit"}
            << NoRights << false;
        QTest::newRow("both channels, trimmed")
            << QStringList{"STDOUT=starting", "EXIT_MESSAGE=  fatal: bad config  "}
            << "Не удалось создать VPN-интерфейс: starting\nfatal: bad config" << false;
        QTest::newRow("silent exit") << QStringList{"EXIT_MESSAGE= "} << NoName << false;
        QTest::newRow("hung") << QStringList{"NAME=empty", "IGNORE_SIGTERM=1"} << NoName << true;
    }

    void programGivesNoName()
    {
        QFETCH(QStringList, knobs);
        QFETCH(QString, error);
        QFETCH(bool, hung);
        Rig rig;
        for (const QString &knob : knobs)
            qputenv(qPrintable("TARVEX_AWG_" + knob.section('=', 0, 0)),
                    knob.section('=', 1).toUtf8());
        rig.backend.setTimeouts({5000, 5000, hung ? 1000 : 5000, 5000, 500});
        const std::clock_t cpuBefore = std::clock(); // the whole process's CPU time
        QElapsedTimer timer;
        timer.start();
        rig.backend.connectVpn(VpnConfigFixture::sampleConfig());
        const qint64 elapsed = timer.elapsed();
        const double share = double(std::clock() - cpuBefore) / CLOCKS_PER_SEC * 1000.0 / elapsed;
        QCOMPARE(rig.backend.lastError(), error);
        // Hung: the name wait, then SIGTERM's and SIGKILL's.
        QVERIFY2(hung ? elapsed >= 1400 && elapsed < 3500 : elapsed < 2000,
                 qPrintable(QString::number(elapsed)));
        QVERIFY2(!hung || share < 0.25, qPrintable(QString::number(share)));
        QVERIFY(!rig.mac.dump().contains("utun2"));
    }

    // A name file left by an earlier run, pointing at a socket that still answers, must not
    // be taken for the new interface; the new name is trusted only once its socket accepts
    // a connection; and the daemon's own events are served meanwhile. What the program
    // records is exactly the request the backend sent, ended by one blank line, and its
    // answer is read back even when it comes in pieces. (A refusal is the connect sequence's
    // test.)
    void slowProgramIsWaitedFor()
    {
        Rig rig;
        QVERIFY(QDir().mkpath(runtimePath(rig.mac)));
        QFile stale(runtimePath(rig.mac, "amn0.name"));
        QVERIFY(stale.open(QIODevice::WriteOnly) && stale.write("utun0\n") == 6);
        stale.close();
        QLocalServer oldTunnel;
        QVERIFY(oldTunnel.listen(runtimePath(rig.mac, "utun0.sock")));
        qputenv("TARVEX_AWG_NAME_DELAY_MS", "300");
        qputenv("TARVEX_AWG_SOCKET_DELAY_MS", "400");
        qputenv("TARVEX_AWG_REPLY_CHUNK_BYTES", "2");
        qputenv("TARVEX_AWG_REPLY_CHUNK_DELAY_MS", "20");
        rig.backend.setTimeouts({});
        bool served = false;
        QTimer::singleShot(100, this, [&served] { served = true; });

        rig.backend.connectVpn(VpnConfigFixture::sampleConfig());
        QCOMPARE(rig.backend.status(), PlatformVpnBackend::Connected);
        QVERIFY(rig.mac.dump().contains("interface utun2 mtu 1376 up"));
        QVERIFY(served);
        QFile record(runtimePath(rig.mac, "utun2.request"));
        QVERIFY(record.open(QIODevice::ReadOnly));
        const QByteArray request = record.readAll();
        QVERIFY2(request.startsWith("set=1\nprivate_key=60dabc98f63d4eeb89d15d86749e9fdd") &&
                     request.endsWith("allowed_ip=::/0\n\n") && !request.endsWith("\n\n\n"),
                 request.constData());
    }

    // No shell, a time-out for starting and for finishing, both outputs, and never a macOS
    // system program outside macOS and the sandbox, however it is spelt.
    void outcomes_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QByteArray>("script"); // for /bin/sh
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<ProgramRun::Outcome>("outcome");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("errors"); // a pattern, of the error output or the reason

        const auto row = [](const char *name, const QString &program, const QByteArray &script,
                            int timeoutMs, ProgramRun::Outcome outcome, int exitCode,
                            const QString &output, const QString &errors) {
            QTest::newRow(name) << program << script << timeoutMs << outcome << exitCode << output
                                << errors;
        };
        // Every script gets the same arguments; none may be split or expanded on the way.
        row("arguments unsplit and unexpanded, outputs untrimmed", "/bin/sh",
            "for a in \"$@\"; do printf ' [%s]\\n' \"$a\"; done; printf ' bad\\n\\n' >&2; exit 1",
            5000, ProgramRun::Finished, 1, " [USB 10/100 LAN]\n []\n [$HOME]\n [*]\n",
            "^ bad\n\n$");
        row("missing program", "/nonexistent/program", {}, 5000, ProgramRun::NotStarted, 0, "",
            ".+");
        // exec, so that the kill reaches the sleeping program itself and no orphan is left;
        // the reason is the time-out's own, not the crash that the kill causes.
        row("time-out", "/bin/sh", "echo started; exec sleep 30", 300, ProgramRun::TimedOut, 0, "",
            "(?i)timed out");
#ifndef Q_OS_MACOS // where the backend may always change the system
        QStringList refused{"/sbin/ifconfig", "/sbin/route", "/usr/bin/killall"};
        if (QFile::exists("/sbin/route"))
            refused << "/sbin/../sbin/route"; // another spelling of the same file
        for (const QString &program : refused)
            row(qPrintable(program), program, {}, 5000, ProgramRun::Refused, 0, "",
                "^Системные команды разрешены только на macOS или в песочнице "
                "\\(TARVEX_SANDBOX=1\\): " +
                    program + '$');
#endif
    }

    void outcomes()
    {
        QFETCH(QString, program);
        QFETCH(QByteArray, script);
        QFETCH(int, timeoutMs);
        QFETCH(ProgramRun::Outcome, outcome);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QFETCH(QString, errors);
        Rig rig;

        QElapsedTimer timer;
        timer.start();
        const ProgramRun run = rig.backend.runForReal(
            program, {"-c", script, "sh", "USB 10/100 LAN", "", "$HOME", "*"}, timeoutMs);
        // at most the time-out plus the kill wait, with room for a slow start
        QVERIFY2(timer.elapsed() < timeoutMs + 2000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(run.outcome, outcome);
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(run.standardOutput, output);
        const QString reason =
            outcome == ProgramRun::Finished ? run.standardError : run.errorString;
        QVERIFY2(QRegularExpression(errors).match(reason).hasMatch(), qPrintable(reason));
    }

    // The tunnel stand-in accepts and refuses what wireguard-go does, so that a request the
    // backend's tests get through is one a real tunnel program takes too.
    void answersLikeWireguardGo_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        const auto peer = [](const QByteArray &line) {
            return Peer + line + "\n\n";
        };
        QTest::newRow("AmneziaWG keys, upper-case hex")
            << "set=1\nprivate_key=" + KeyA.toUpper() +
                   "\ns3=0\ns4=0\nh1=5-9\ni1=<b 0xf6ab>\ni2=\ni3=x\ni4=y\ni5=z\n\n"
            << Ok;
        QTest::newRow("unknown key") << QByteArray("set=1\nbogus=1\n\n") << Invalid;
        QTest::newRow("key too short") << "set=1\nprivate_key=" + KeyA.left(62) + "\n\n" << Invalid;
        QTest::newRow("device key after public_key") << peer("jc=4") << Invalid;
        QTest::newRow("IPv6 endpoint without brackets")
            << peer("endpoint=2001:db8::1:51820") << Invalid;
        QTest::newRow("allowed ip prefix too long") << peer("allowed_ip=10.0.0.0/33") << Invalid;
        QTest::newRow("keep-alive empty") << peer("persistent_keepalive_interval=") << Invalid;
        QTest::newRow("line without equals") << QByteArray("set=1\nprivate_key\n\n")
                                             << "errno=" + QByteArray::number(-EPROTO) + "\n\n";
    }

    void answersLikeWireguardGo()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QTemporaryDir dir;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("WG_TUN_NAME_FILE", dir.filePath("amn0.name"));
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(TARVEX_AMNEZIAWG_STANDIN), {"-f", "utun"});
        const auto cleanup = qScopeGuard([&] {
            program.kill();
            program.waitForFinished(3000);
        });
        const auto name = [&] {
            QFile file(dir.filePath("amn0.name"));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        QTRY_COMPARE(name(), QByteArray("utun0\n"));
        const auto exchange = [&](const QByteArray &text) {
            QLocalSocket socket;
            socket.connectToServer(dir.filePath("utun0.sock"));
            socket.waitForConnected(1000);
            socket.write(text);
            QByteArray answer;
            while (!answer.contains("\n\n") && socket.waitForReadyRead(1000))
                answer += socket.readAll();
            return answer;
        };
        QCOMPARE(exchange(request), reply);
        // Unlike wireguard-go, a refused request leaves nothing half applied.
        if (reply != Ok)
            QCOMPARE(exchange("get=1\n\n"), QByteArray("listen_port=0\nerrno=0\n\n"));
    }

    // The UAPI exchange with the tunnel program: the request, its reply, the socket talk.

    // The request for a client configuration, or the field whose control character keeps it
    // from being made: it would add lines of its own. (A line feed in the host is the
    // connection table's "control character" row.)
    void setConfig_data()
    {
        QTest::addColumn<QJsonObject>("lastConfig");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QStringList>("allowed");
        // The request; "refused: <field>"; empty: any request of key=value lines.
        QTest::addColumn<QString>("expected");

        const auto row = [](const char *name, const QJsonObject &lastConfig, const QString &host,
                            const QString &expected, const QStringList &allowed = AllowedIps) {
            QTest::newRow(name) << lastConfig << host << allowed << expected;
        };
        const QJsonObject sample = VpnConfigFixture::sampleLastConfig();
        const QString server = QStringLiteral("198.51.100.10");
        row("every field", sample, server,
            QStringLiteral(
                "set=1\n"
                "private_key=60dabc98f63d4eeb89d15d86749e9fdd3ede395db1609dd0c846d5d7016bd66f\n"
                "replace_peers=true\n"
                "jc=4\njmin=40\njmax=70\ns1=15\ns2=91\n"
                "h1=1144434789\nh2=1561713245\nh3=1925184312\nh4=1426735201\n"
                "public_key=dc593c7f9cef559087d1b5aad1cdc0a3a46fd4cd3007dc46e509bbb6af0bd868\n"
                "preshared_key="
                "999d9873b3778bd875c781bc2b46c5e9d479b54db0137a80d6c0f87c6ee127d9\n"
                "endpoint=198.51.100.10:51820\nreplace_allowed_ips=true\n"
                "persistent_keepalive_interval=25\nallowed_ip=10.0.0.0/8\n"));
        const QString endpoint = QStringLiteral("203.0.113.5:51820");
        const QStringList tail{"persistent_keepalive_interval=60", "allowed_ip=10.0.0.0/8"};
        row("keep-alive not a string, psk empty",
            with(Minimal, R"({"persistent_keep_alive": 25, "psk_key": ""})"), "203.0.113.5",
            minimalRequest({}, endpoint, tail));
        // wireguard-go refuses an empty interval; without the line there is none.
        row("keep-alive blank", with(Minimal, R"({"persistent_keep_alive": " "})"), "203.0.113.5",
            minimalRequest({}, endpoint, {tail.last()}));
        // A number, an empty text and a wrong-case name are all left out.
        row("obfuscation strings only, table order",
            with(Minimal, R"({"I5": "<b 0xf6ab>", "H4": "7", "Jc": 4, "Jmin": "", "jmax": "70",
                              "Jmax": "1000"})"),
            "203.0.113.5", minimalRequest({"jmax=1000", "h4=7", "i5=<b 0xf6ab>"}, endpoint, tail));
        // Keys are decoded leniently: the tunnel program judges them, not the backend; and
        // hex-encoded, so nothing they carry reaches the request as text.
        row("line feed in a key", with(sample, R"({"client_priv_key": "AAAA\nlisten_port=1"})"),
            server, "");
        row("ipv6 endpoint in brackets", Minimal, "2001:db8::1",
            minimalRequest({}, "[2001:db8::1]:51820", tail));
        row("non-ASCII accepted", with(sample, R"({"I1": "<b 0x01>ё"})"), "сервер.рф", "");
        row("line feed in keep-alive",
            with(sample, R"({"persistent_keep_alive": "25\npublic_key=ab"})"), server,
            "refused: persistent_keep_alive");
        row("DEL, first table key", with(sample, R"({"Jc": "4\u007f"})"), server, "refused: Jc");
        row("C1 control, last table key", with(sample, R"({"I5": "\u0085"})"), server,
            "refused: I5");
        row("line feed inside an allowed ip", sample, server, "refused: allowed_ips",
            {"0.0.0.0/0\nallowed_ip=::/0"});
    }

    void setConfig()
    {
        QFETCH(QJsonObject, lastConfig);
        QFETCH(QString, host);
        QFETCH(QStringList, allowed);
        QFETCH(QString, expected);
        const QString field = UapiRequest::fieldWithControlCharacter(lastConfig, host, allowed);
        QCOMPARE(field, expected.startsWith("refused: ") ? expected.mid(9) : QString());
        if (!field.isEmpty())
            return;
        const QString request = UapiRequest::setConfig(lastConfig, host, 51820, allowed);
        if (!expected.isEmpty())
            QCOMPARE(request, expected);
        for (const QString &line : request.split('\n', Qt::SkipEmptyParts))
            QVERIFY2(line.contains('=') && !line.contains('\r'), qPrintable(line));
    }

    void replyErrno_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<int>("errnoValue");

        QTest::newRow("after get lines")
            << QString("listen_port=0\npublic_key=ab\nerrno=-22") << -22;
        QTest::newRow("first errno wins") << QString("errno=3\nerrno=0") << 3;
        QTest::newRow("empty reply") << QString() << -1;
        QTest::newRow("key must match exactly") << QString("errnos=1\nmy_errno=2\n errno=3") << -1;
        QTest::newRow("errno without equals skipped") << QString("errno\nerrno=2") << 2;
        QTest::newRow("value not a number is no success") << QString("errno=\nerrno=0") << -1;
    }

    void replyErrno()
    {
        QFETCH(QString, reply);
        QFETCH(int, errnoValue);
        QCOMPARE(UapiRequest::replyErrno(reply), errnoValue);
    }

    // What goes on the wire (always ending in exactly one blank line) and how the reply is
    // taken from what comes back.
    void exchange_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("hangUp");
        QTest::addColumn<QString>("reply");

        QTest::newRow("blank line added, UTF-8")
            << "set=1\ni1=ё" << QByteArray("set=1\ni1=\xd1\x91\n\n")
            << QByteArray("listen_port=0\nerrno=0\n\n") << false << "listen_port=0\nerrno=0";
        // A hang-up before the blank line: the partial reply is used at once instead of
        // after the full time-out.
        QTest::newRow("hang-up before blank line")
            << "get=1" << QByteArray("get=1\n\n") << QByteArray("errno=1\n") << true << "errno=1";
        QTest::newRow("no blank line before the time-out")
            << "get=1" << QByteArray("get=1\n\n") << QByteArray("errno=0\n") << false << "errno=0";
    }

    void exchange()
    {
        QFETCH(QString, request);
        QFETCH(QByteArray, wire);
        QFETCH(QByteArray, answer);
        QFETCH(bool, hangUp);
        QFETCH(QString, reply);
        constexpr int TimeoutMs = 500;
        QTemporaryDir dir;
        QLocalServer server;
        QVERIFY(server.listen(dir.filePath("utun2.sock")));

        // exchange() blocks its caller: the tunnel program's side is played here meanwhile.
        QString result;
        QElapsedTimer timer;
        timer.start();
        std::unique_ptr<QThread> client(QThread::create([&] {
            QLocalSocket socket;
            socket.connectToServer(dir.filePath("utun2.sock"));
            if (socket.waitForConnected(1000))
                UapiRequest::exchange(socket, request, TimeoutMs, &result);
        }));
        client->start();
        QByteArray received;
        QVERIFY(server.waitForNewConnection(3000));
        QLocalSocket *socket = server.nextPendingConnection();
        // Anything after the blank line would be a fault too: collect it.
        while (socket->waitForReadyRead(received.contains("\n\n") ? 50 : 3000))
            received += socket->readAll();
        socket->write(answer);
        socket->waitForBytesWritten(1000);
        if (hangUp)
            socket->disconnectFromServer();
        QVERIFY(client->wait(3000));
        const qint64 elapsed = timer.elapsed();
        QCOMPARE(received, wire);
        QCOMPARE(result, reply);
        const bool timesOut = !hangUp && !answer.endsWith("\n\n");
        QVERIFY2(timesOut ? elapsed >= TimeoutMs : elapsed < TimeoutMs,
                 qPrintable(QString::number(elapsed)));
    }

    // The way out that the routes around the tunnel follow, and its watcher.

    // What the daemon's routes around the tunnel do when route -n get default answers
    // `found`, or fails with `error`: stay (empty), or the add that puts them on the new way
    // out. Only an answer of "not in table" means no default route; a run that said nothing
    // leaves the routes where they are. (Another network, an interface-only default and a
    // gateway coming back are e2e_recovery's moves.)
    void follow_data()
    {
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("found");
        QTest::addColumn<QString>("error"); // empty: the run succeeded
        QTest::addColumn<QString>("route"); // family type destination
        QTest::addColumn<QString>("add");

        const auto row = [](const char *name, const QString &current, const QString &found,
                            const QString &add, const QString &route = "inet -host 198.51.100.10",
                            const QString &error = {}) {
            QTest::newRow(name) << current << found << error << route << add;
        };
        const QString en0 = "gateway 192.168.1.1 en0", moved = "-n add -host 198.51.100.10 ";
        const QString v4 = "inet -host 198.51.100.10", v6 = "inet6 -host 2001:db8:51::10";
        const QString noTable = "route: writing to routing socket: not in table";
        row("same gateway and interface", en0, routeGet("192.168.1.1", "en0"), "");
        row("same gateway, interface unknown at connect", "gateway 192.168.1.1",
            routeGet("192.168.1.1", "en0"), "");
        row("same address, other interface (Wi-Fi to Ethernet)", en0,
            routeGet("192.168.1.1", "en7"), moved + "192.168.1.1");
        row("no default route (empty output): blackhole", en0, "", moved + "127.0.0.1 -blackhole");
        row("empty table: blackhole", en0, "", moved + "127.0.0.1 -blackhole", v4, noTable);
        row("timed out: stay", en0, "", "", v4, "Process operation timed out");
        row("default into the tunnel itself: stay", en0, routeGet("", "utun2"), "");
        row("no routes at connect: nothing follows", "none", routeGet("10.0.5.1", "en1"), "");
        // Labels are matched whole; an IPv6 gateway keeps its colons.
        row("ipv6 server, scoped gateway", "gateway fe80::1%en0 en0",
            "gateways: 10.9.9.9\n" + routeGet("fe80::1%en1", "en1"),
            "-n add -inet6 -host 2001:db8:51::10 fe80::1%en1", v6);
        row("ipv6 server, no default: blackhole", "gateway fe80::1%en0 en0", "",
            "-n add -inet6 -host 2001:db8:51::10 ::1 -blackhole", v6, noTable);
    }

    void follow()
    {
        QFETCH(QString, current);
        QFETCH(QString, found);
        QFETCH(QString, error);
        QFETCH(QString, route);
        QFETCH(QString, add);

        const QStringList parts = route.split(' ');
        const RecoveryJournal::Route entry{parts[0], parts[2], parts[1]};
        const auto run = UpstreamRoute::fromRouteGetRun(error.isEmpty(), found, error);
        const auto next = run ? UpstreamRoute::next(way(current), *run, "utun2") : std::nullopt;
        QCOMPARE(next ? next->addArguments(entry).join(' ') : QString(), add);
        // Once moved, the same answer moves nothing again: the daemon's own changes come
        // back as routing messages.
        if (next)
            QVERIFY(!UpstreamRoute::next(*next, *run, "utun2"));
    }

    // Only messages that can change the way out count, by their type at the line start.
    void isRouteChange_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("counts");

        QTest::newRow("add, errno 0")
            << QByteArray("RTM_ADD: Add Route: len 132, pid: 0, seq 1, errno 0, flags:<UP>")
            << true;
        QTest::newRow("refused request of a user")
            << QByteArray("RTM_ADD: Add Route: len 132, pid: 501, seq 1, errno 1, flags:<UP>")
            << false;
        QTest::newRow("change") << QByteArray("RTM_CHANGE: Change Metrics or flags") << true;
        QTest::newRow("address gone") << QByteArray("RTM_DELADDR: address being removed") << true;
        QTest::newRow("someone's route get") << QByteArray("RTM_GET: Report Metrics") << false;
        QTest::newRow("type mid-line") << QByteArray("locks: RTM_ADD: inits:") << false;
        QTest::newRow("longer type name") << QByteArray("RTM_ADDR: something") << false;
    }

    void isRouteChange()
    {
        QFETCH(QByteArray, line);
        QFETCH(bool, counts);
        QCOMPARE(DefaultRouteWatcher::isRouteChange(line), counts);
    }

    // A monitor that keeps dying is started again, each time after a longer pause up to
    // the limit, and a look follows every restart.
    void restartsWithGrowingPause()
    {
        QTemporaryDir dir;
        const QString starts = dir.filePath("starts");
        DefaultRouteWatcher::Timing timing;
        timing.restartMinMs = 50;
        timing.restartMaxMs = 200;
        timing.debounceMs = 60000; // only the restarts' looks are counted
        DefaultRouteWatcher watcher;
        QSignalSpy checks(&watcher, &DefaultRouteWatcher::checkNeeded);
        watcher.setTiming(timing);
        watcher.start("/bin/sh", {"-c", QStringLiteral("echo x >> '%1'; exit 1").arg(starts)});
        QTest::qWait(1100);
        watcher.stop();
        QFile file(starts);
        QVERIFY(file.open(QIODevice::ReadOnly));
        // Pauses 50, 100, 200, 200, 200 ms: about seven starts in 1.1 s, never a busy loop.
        const int count = int(file.readAll().count('\n'));
        QVERIFY2(count >= 4 && count <= 8, qPrintable(QString::number(count)));
        // The last restart may have been stopped before its script wrote.
        QVERIFY(checks.size() == count - 1 || checks.size() == count);
    }
};

QTEST_GUILESS_MAIN(TestMacVpnBackend)
#include "tst_macvpnbackend.moc"
