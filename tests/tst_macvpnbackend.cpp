#include "hostsfileeditor.h"
#include "macsimulator.h"
#include "recoveryjournal.h"
#include "simulatedmac.h"
#include "testablemacvpnbackend.h"
#include "vpnconfigfixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <csignal>

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
    void cleanup() { qunsetenv("TARVEX_AWG_SET_ERRNO"); }

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
};

QTEST_GUILESS_MAIN(TestMacVpnBackend)
#include "tst_macvpnbackend.moc"
