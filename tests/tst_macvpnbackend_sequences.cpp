#include "simulatedroutingtable.h"
#include "testablemacvpnbackend.h"
#include "vpnconfigfixture.h"
#include "vpnconfigparser.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString HostsBefore = QStringLiteral("127.0.0.1\tlocalhost\n::1\tlocalhost\n");
const QString ApiHost = QStringLiteral("api.tarvex.test");

ParsedVpnConfig sampleConfig(const QJsonObject &changes = {})
{
    QJsonObject lastConfig = VpnConfigFixture::sampleLastConfig();
    for (auto it = changes.begin(); it != changes.end(); ++it)
        lastConfig.insert(it.key(), it.value());
    const VpnConfigParseResult parsed = VpnConfigParser::parseConfig(
        VpnConfigFixture::encode(VpnConfigFixture::awgDocument(lastConfig)));
    Q_ASSERT(parsed.ok);
    return parsed.config;
}

// A backend whose tunnel program is the stand-in and whose commands go to a simulated
// routing table; everything the sequences change can be compared with what was before.
struct Rig
{
    Rig()
        : table(QStringLiteral("192.168.1.1"))
    {
        QFile hosts(dir.filePath(QStringLiteral("hosts")));
        hosts.open(QIODevice::WriteOnly);
        hosts.write(HostsBefore.toUtf8());
        hosts.close();

        backend.applicationDirectory = QFileInfo(QStringLiteral(TARVEX_AMNEZIAWG_STANDIN)).path();
        backend.runtimeDirectoryPath = dir.filePath(QStringLiteral("run"));
        backend.hostsFile = hosts.fileName();
        backend.hosts.insert(ApiHost, {QHostAddress(QStringLiteral("198.51.100.7"))});
        const TestableMacVpnBackend::Responder routes = table.responder();
        backend.responder = [this, routes](const TestableMacVpnBackend::Command &command) {
            if (command.program == failingProgram)
                return TestableMacVpnBackend::CommandResult{false, {}, QStringLiteral("boom\n")};
            return routes(command);
        };
        routesBefore = table.routes();
    }

    QString hostsContent() const
    {
        QFile file(backend.hostsFile);
        file.open(QIODevice::ReadOnly);
        return QString::fromUtf8(file.readAll());
    }

    void verifyRestored() const
    {
        QCOMPARE(table.routes(), routesBefore);
        QCOMPARE(hostsContent(), HostsBefore);
        QCOMPARE(backend.tunnelProcess.state(), QProcess::NotRunning);
        QVERIFY(backend.interfaceName.isEmpty());
        QVERIFY(!QFile::exists(backend.journal.filePath()));
    }

    QTemporaryDir dir;
    SimulatedRoutingTable table;
    TestableMacVpnBackend backend;
    QStringList routesBefore;
    QString failingProgram;
};

QList<PlatformVpnBackend::Status> statuses(const QSignalSpy &spy)
{
    QList<PlatformVpnBackend::Status> result;
    for (const QList<QVariant> &arguments : spy)
        result.append(arguments.at(0).value<PlatformVpnBackend::Status>());
    return result;
}

} // namespace

class TestMacVpnBackendSequences : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QCoreApplication::setOrganizationDomain(ApiHost); }

    void connectThenDisconnectRestoresEverything()
    {
        Rig rig;
        QSignalSpy status(&rig.backend, &PlatformVpnBackend::statusChanged);
        QSignalSpy connected(&rig.backend, &PlatformVpnBackend::connected);
        QSignalSpy errors(&rig.backend, &PlatformVpnBackend::errorOccurred);

        rig.backend.connectVpn(sampleConfig());
        QCOMPARE(statuses(status),
                 (QList<PlatformVpnBackend::Status>{PlatformVpnBackend::Connecting,
                                                    PlatformVpnBackend::Connected}));
        QCOMPARE(connected.size(), 1);
        QCOMPARE(errors.size(), 0);
        QVERIFY(rig.table.routes() != rig.routesBefore);
        QVERIFY(rig.hostsContent().contains(QStringLiteral("198.51.100.7\t") + ApiHost));
        QCOMPARE(rig.backend.tunnelProcess.state(), QProcess::Running);

        // A second connect tears the first down in its own clean-up: no Disconnecting.
        status.clear();
        rig.backend.connectVpn(sampleConfig());
        QCOMPARE(statuses(status),
                 (QList<PlatformVpnBackend::Status>{PlatformVpnBackend::Connecting,
                                                    PlatformVpnBackend::Connected}));

        status.clear();
        QSignalSpy disconnected(&rig.backend, &PlatformVpnBackend::disconnected);
        rig.backend.disconnectVpn();
        QCOMPARE(statuses(status),
                 (QList<PlatformVpnBackend::Status>{PlatformVpnBackend::Disconnecting,
                                                    PlatformVpnBackend::Disconnected}));
        QCOMPARE(disconnected.size(), 1);
        rig.verifyRestored();
    }

    void failingStepRollsBack_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("error");

        QTest::newRow("no tunnel program") << "missing binary"
                                           << "Не найден amneziawg-go рядом с приложением";
        QTest::newRow("uapi errno") << "uapi"
                                    << "Не удалось применить WireGuard/AWG-конфигурацию";
        QTest::newRow("interface address") << "ifconfig"
                                           << "Не удалось настроить IPv4 интерфейса: boom";
        QTest::newRow("route half-way") << "route"
                                        << "Не удалось добавить IPv4 маршрут: ";
        QTest::newRow("control character")
            << "newline"
            << "Недопустимая конфигурация VPN: поле hostName содержит управляющие символы";
        QTest::newRow("server name does not resolve")
            << "unknown host"
            << "Не удалось определить адрес сервера VPN nowhere.example: ";
        // No change is made that a daemon started after a crash could not undo.
        QTest::newRow("journal not writable") << "journal"
                                              << "Не удалось записать журнал восстановления: ";
    }

    void failingStepRollsBack()
    {
        QFETCH(QString, failure);
        QFETCH(QString, error);
        Rig rig;
        ParsedVpnConfig config = sampleConfig();
        if (failure == QLatin1String("missing binary"))
            rig.backend.applicationDirectory = rig.dir.path();
        else if (failure == QLatin1String("uapi"))
            qputenv("TARVEX_AWG_SET_ERRNO", "-22");
        else if (failure == QLatin1String("ifconfig"))
            rig.failingProgram = QStringLiteral("/sbin/ifconfig");
        else if (failure == QLatin1String("route"))
            rig.table.failingDestinations.insert(QStringLiteral("128.0.0.0/1"));
        else if (failure == QLatin1String("unknown host"))
            config.hostName = QStringLiteral("nowhere.example");
        else if (failure == QLatin1String("journal"))
            rig.backend.journal.setDirectory(rig.backend.hostsFile);
        else
            config.hostName = QStringLiteral("198.51.100.10\nprivate_key=00");

        QSignalSpy status(&rig.backend, &PlatformVpnBackend::statusChanged);
        QSignalSpy connected(&rig.backend, &PlatformVpnBackend::connected);
        QSignalSpy errors(&rig.backend, &PlatformVpnBackend::errorOccurred);
        rig.backend.connectVpn(config);
        qunsetenv("TARVEX_AWG_SET_ERRNO");

        QCOMPARE(statuses(status), (QList<PlatformVpnBackend::Status>{
                                       PlatformVpnBackend::Connecting, PlatformVpnBackend::Error}));
        QCOMPARE(connected.size(), 0);
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.at(0).at(0).toString().startsWith(error),
                 qPrintable(errors.at(0).at(0).toString()));
        QCOMPARE(rig.backend.lastError(), errors.at(0).at(0).toString());
        rig.verifyRestored();

        // Leaving Error goes through Disconnecting and clears the reason.
        status.clear();
        rig.backend.disconnectVpn();
        QCOMPARE(statuses(status),
                 (QList<PlatformVpnBackend::Status>{PlatformVpnBackend::Disconnecting,
                                                    PlatformVpnBackend::Disconnected}));
        QVERIFY(rig.backend.lastError().isEmpty());
    }

    // Values that would reach root's commands in a form they do not expect, and split lists
    // too long to handle in time, are refused before the first change; the limit on resolved
    // addresses applies once the names are known, still before any route.
    void unsafeValuesRefusedBeforeAnyChange_data()
    {
        QTest::addColumn<QJsonObject>("changes");
        QTest::addColumn<QStringList>("splitEntries"); // mode 1 when not empty
        QTest::addColumn<QString>("error");

        const QString invalid = QStringLiteral("Недопустимая конфигурация VPN: поле ");
        QTest::newRow("dns word") << QJsonObject{{"dns1", "Empty"}} << QStringList()
                                  << invalid + "dns1 должно быть IPv4- или IPv6-адресом";
        QTest::newRow("interface as address")
            << QJsonObject{{"client_ip", "en0/32"}} << QStringList()
            << invalid + "client_ip должно быть IPv4-адресом";
        QTest::newRow("mtu option") << QJsonObject{{"mtu", "-1"}} << QStringList()
                                    << invalid + "mtu должно быть числом от 576 до 9000";
        QTest::newRow("host option") << QJsonObject{{"hostName", "-interface"}} << QStringList()
                                     << invalid + "hostName не может начинаться с «-»";
        QTest::newRow("too many entries")
            << QJsonObject() << QStringList(257, QStringLiteral("10.1.0.0/16"))
            << "Слишком много записей раздельного туннелирования: 257, допустимо не больше 256";
        QTest::newRow("too many addresses")
            << QJsonObject() << QStringList(2, QStringLiteral("many.example"))
            << "Слишком много адресов раздельного туннелирования: 1025, допустимо не больше 1024";
    }

    void unsafeValuesRefusedBeforeAnyChange()
    {
        QFETCH(QJsonObject, changes);
        QFETCH(QStringList, splitEntries);
        QFETCH(QString, error);
        Rig rig;
        QList<QHostAddress> many;
        for (quint32 i = 0; i < 1025; ++i)
            many.append(QHostAddress(0x0a400000 + i));
        rig.backend.hosts.insert(QStringLiteral("many.example"), many);

        ParsedVpnConfig config = sampleConfig(changes);
        if (changes.contains("dns1"))
            config.dns1 = changes.value("dns1").toString();
        if (changes.contains("hostName"))
            config.hostName = changes.value("hostName").toString();
        QVariantList entries;
        for (const QString &entry : std::as_const(splitEntries))
            entries.append(QVariantMap{{QStringLiteral("value"), entry}});
        const QVariantMap peer{
            {QStringLiteral("splitTunnel"), QVariantMap{{QStringLiteral("enabled"), true},
                                                        {QStringLiteral("mode"), 1},
                                                        {QStringLiteral("entries"), entries}}}};

        rig.backend.connectVpn(config, splitEntries.isEmpty() ? QVariantMap() : peer);
        QCOMPARE(rig.backend.status(), PlatformVpnBackend::Error);
        QCOMPARE(rig.backend.lastError(), error);
        rig.verifyRestored();
        const QStringList lines = rig.backend.commandLines();
        QVERIFY2(lines.filter(QRegularExpression("route -n add|-setdnsservers")).isEmpty(),
                 qPrintable(lines.join('\n')));
        // The addresses are known only once the names are resolved, with the tunnel up.
        if (!error.contains(QStringLiteral("адресов")))
            QVERIFY(lines.filter(QStringLiteral("/sbin/ifconfig")).isEmpty());
    }

    void disconnectWhileDisconnectedChangesNothing()
    {
        Rig rig;
        QSignalSpy status(&rig.backend, &PlatformVpnBackend::statusChanged);
        QSignalSpy disconnected(&rig.backend, &PlatformVpnBackend::disconnected);
        rig.backend.disconnectVpn();
        QCOMPARE(status.size(), 0);
        QCOMPARE(disconnected.size(), 1);
        QVERIFY(rig.backend.commands.isEmpty());
    }

    void onlySelectedSplitLeavesDnsAloneButFlushes()
    {
        Rig rig;
        const QVariantMap peer{
            {QStringLiteral("splitTunnel"),
             QVariantMap{{QStringLiteral("enabled"), true},
                         {QStringLiteral("mode"), 1},
                         {QStringLiteral("entries"),
                          QVariantList{QVariantMap{
                              {QStringLiteral("value"), QStringLiteral("10.1.0.0/16")}}}}}}};
        rig.backend.connectVpn(sampleConfig(), peer);
        QCOMPARE(rig.backend.status(), PlatformVpnBackend::Connected);
        const QStringList lines = rig.backend.commandLines();
        QVERIFY(lines.filter(QStringLiteral("networksetup")).isEmpty());
        QVERIFY(lines.contains(QStringLiteral("/usr/bin/dscacheutil -flushcache")));
        QVERIFY(lines.contains(QStringLiteral("/sbin/route -n add -net 10.1.0.0/16 -interface ") +
                               rig.backend.interfaceName));
    }
};

QTEST_GUILESS_MAIN(TestMacVpnBackendSequences)
#include "tst_macvpnbackend_sequences.moc"
