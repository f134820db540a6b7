#include "cliententry.h"
#include "fakeservicedaemon.h"
#include "vpnconfigfixture.h"
#include "vpnmanager.h"

#include <QFile>
#include <QJsonDocument>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

Q_DECLARE_METATYPE(FakeServiceDaemon::Answer)

namespace {

const QString ActivePeerKey = QStringLiteral("Vpn/ActivePeer");

QVariantMap makePeer(int id, const QString &protocol = QStringLiteral("amnezia-v1"))
{
    return QVariantMap{
        {QStringLiteral("id"), id},
        {QStringLiteral("name"), QStringLiteral("Peer %1").arg(id)},
        {QStringLiteral("protocol"), protocol},
        {QStringLiteral("config"), VpnConfigFixture::encode(VpnConfigFixture::awgDocument(
                                       VpnConfigFixture::sampleLastConfig()))},
    };
}

QJsonObject asJson(const QVariantMap &peer)
{
    return QJsonObject::fromVariantMap(peer);
}

QVariant storedValue()
{
    return QSettings().value(ActivePeerKey);
}

QVariantMap storedPeer()
{
    return QJsonDocument::fromJson(storedValue().toString().toUtf8()).object().toVariantMap();
}

void storePeer(const QVariantMap &peer)
{
    QSettings().setValue(
        ActivePeerKey,
        QString::fromUtf8(QJsonDocument(asJson(peer)).toJson(QJsonDocument::Compact)));
}

void scriptHappyDaemon(FakeServiceDaemon &daemon)
{
    daemon.setAnswer(QStringLiteral("connect"),
                     FakeServiceDaemon::reply(FakeServiceDaemon::okReply("connected")));
    daemon.setAnswer(QStringLiteral("disconnect"),
                     FakeServiceDaemon::reply(FakeServiceDaemon::okReply("disconnected")));
    daemon.setAnswer(QStringLiteral("status"),
                     FakeServiceDaemon::reply(FakeServiceDaemon::okReply("disconnected")));
}

// The peer each recorded connect request carried, in order.
QList<QVariant> connectedIds(const FakeServiceDaemon &daemon)
{
    QList<QVariant> ids;
    for (const QJsonObject &request : daemon.requests()) {
        if (request.value(QStringLiteral("command")) == QLatin1String("connect"))
            ids.append(request.value(QStringLiteral("peer")).toObject().value("id").toVariant());
    }
    return ids;
}

// Every state the manager passed through, with busy/connected as seen at that moment.
class StateLog : public QObject
{
public:
    explicit StateLog(VpnManager &manager)
        : manager(manager)
    {
        connect(&manager, &VpnManager::stateChanged, this, [this] {
            states.append(this->manager.state());
            QCOMPARE(this->manager.isBusy(),
                     this->manager.state() == VpnManager::Connecting ||
                         this->manager.state() == VpnManager::Disconnecting);
            QCOMPARE(this->manager.isConnected(), this->manager.state() == VpnManager::Connected);
        });
    }

    VpnManager &manager;
    QList<VpnManager::State> states;
};

bool waitForState(VpnManager &manager, VpnManager::State state)
{
    return QTest::qWaitFor([&] { return manager.state() == state; }, 5000);
}

// A socket path with nothing behind it, for as long as the object lives.
class NoDaemon
{
public:
    NoDaemon() { qputenv("TARVEX_SERVICE_SOCKET", dir.filePath("none.sock").toUtf8()); }
    ~NoDaemon() { qunsetenv("TARVEX_SERVICE_SOCKET"); }

private:
    QTemporaryDir dir;
};

} // namespace

class TestVpnManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Test mode keeps the settings out of the user's configuration; a temporary
        // home keeps even Qt's test location off the machine's real home directory.
        QVERIFY(home.isValid());
        qputenv("HOME", QFile::encodeName(home.path()));
        QStandardPaths::setTestModeEnabled(true);
        ClientEntry::setApplicationIdentity();
    }

    void init() { QSettings().clear(); }

    void connectsThroughDaemon()
    {
        FakeServiceDaemon daemon;
        scriptHappyDaemon(daemon);
        VpnManager manager;
        StateLog log(manager);
        QSignalSpy peerChanged(&manager, &VpnManager::currentPeerChanged);
        const QVariantMap peer = makePeer(1);

        manager.connectPeer(peer);
        QCOMPARE(manager.state(), VpnManager::Connecting);
        QCOMPARE(manager.currentPeer(), peer);
        QVERIFY(!storedValue().isValid()); // nothing stored before the tunnel is up
        QVERIFY(waitForState(manager, VpnManager::Connected));

        QCOMPARE(log.states,
                 QList<VpnManager::State>({VpnManager::Connecting, VpnManager::Connected}));
        QCOMPARE(peerChanged.count(), 1);
        QVERIFY(manager.error().isEmpty());
        QCOMPARE(daemon.commands(), QStringList{"connect"});
        const QJsonObject request = daemon.requests().at(0);
        QCOMPARE(request.value("peer").toObject(), asJson(peer));
        QCOMPARE(request.value("config").toObject().value("hostName").toString(),
                 QStringLiteral("198.51.100.10"));
        // Stored as compact JSON text.
        QCOMPARE(storedValue().toString(),
                 QString::fromUtf8(QJsonDocument(asJson(peer)).toJson(QJsonDocument::Compact)));

        manager.disconnectVpn();
        QVERIFY(waitForState(manager, VpnManager::Disconnected));
        QVERIFY(manager.currentPeer().isEmpty());
        QVERIFY(!storedValue().isValid());
        QCOMPARE(daemon.commands(), QStringList({"connect", "disconnect"}));
    }

    void connectFailuresEndInError_data()
    {
        QTest::addColumn<QJsonObject>("reply");
        QTest::addColumn<QString>("error");

        QTest::newRow("daemon's reason")
            << FakeServiceDaemon::failReply("error", "Не удалось запустить amneziawg-go")
            << QStringLiteral("Не удалось запустить amneziawg-go");
        QTest::newRow("failure without reason") << FakeServiceDaemon::failReply("error", "")
                                                << QStringLiteral("Не удалось подключиться");
    }

    void connectFailuresEndInError()
    {
        QFETCH(QJsonObject, reply);
        QFETCH(QString, error);

        FakeServiceDaemon daemon;
        daemon.setAnswer(QStringLiteral("connect"), FakeServiceDaemon::reply(reply));
        VpnManager manager;
        manager.connectPeer(makePeer(1));
        QVERIFY(waitForState(manager, VpnManager::Error));
        QCOMPARE(manager.error(), error);
        QVERIFY(!storedValue().isValid());
    }

    void unreachableDaemonFailsConnectAndDisconnect()
    {
        NoDaemon noDaemon;
        VpnManager manager;
        StateLog log(manager);

        manager.connectPeer(makePeer(1));
        QVERIFY(waitForState(manager, VpnManager::Error));
        QVERIFY2(manager.error().startsWith("VPN-сервис недоступен: "),
                 qPrintable(manager.error()));

        // The connector still holds its backend, so the disconnect asks the daemon too.
        manager.disconnectVpn();
        QCOMPARE(manager.state(), VpnManager::Disconnecting);
        QVERIFY(manager.error().isEmpty());
        QVERIFY(waitForState(manager, VpnManager::Error));
        QVERIFY(manager.error().startsWith("VPN-сервис недоступен: "));
        QCOMPARE(log.states,
                 QList<VpnManager::State>({VpnManager::Connecting, VpnManager::Error,
                                           VpnManager::Disconnecting, VpnManager::Error}));
    }

    void refusedPeerFailsWithinTheCall()
    {
        FakeServiceDaemon daemon;
        scriptHappyDaemon(daemon);
        VpnManager manager;
        StateLog log(manager);
        QVariantMap peer = makePeer(1);
        peer.insert(QStringLiteral("config"), QString());

        manager.connectPeer(peer);
        QCOMPARE(log.states, QList<VpnManager::State>({VpnManager::Connecting, VpnManager::Error}));
        QCOMPARE(manager.error(), QStringLiteral("Конфигурация соединения пустая"));

        // Nothing was started, so the connector answers at once.
        manager.disconnectVpn();
        QCOMPARE(log.states,
                 QList<VpnManager::State>({VpnManager::Connecting, VpnManager::Error,
                                           VpnManager::Disconnecting, VpnManager::Disconnected}));
        QVERIFY(manager.currentPeer().isEmpty());
        QTest::qWait(50);
        QVERIFY(daemon.requests().isEmpty());
    }

    void unusablePeers_data()
    {
        QTest::addColumn<QVariantMap>("peer");
        QTest::addColumn<QString>("error");

        QTest::newRow("empty peer") << QVariantMap() << QStringLiteral("Соединение не выбрано");
        QTest::newRow("unsupported protocol")
            << makePeer(2, QStringLiteral("wireguard"))
            << QStringLiteral("Протокол соединения не поддерживается");
    }

    void unusablePeers()
    {
        QFETCH(QVariantMap, peer);
        QFETCH(QString, error);

        FakeServiceDaemon daemon;
        scriptHappyDaemon(daemon);
        VpnManager manager;
        manager.connectPeer(peer);
        QCOMPARE(manager.state(), VpnManager::Error);
        QCOMPARE(manager.error(), error);
        QVERIFY(manager.currentPeer().isEmpty());
        QTest::qWait(50);
        QVERIFY(daemon.requests().isEmpty());
    }

    void emptyPeerWhileConnectedLeavesTunnelUp()
    {
        FakeServiceDaemon daemon;
        scriptHappyDaemon(daemon);
        VpnManager manager;
        manager.connectPeer(makePeer(1));
        QVERIFY(waitForState(manager, VpnManager::Connected));

        manager.connectPeer(QVariantMap());
        QCOMPARE(manager.state(), VpnManager::Error);
        QCOMPARE(manager.error(), QStringLiteral("Соединение не выбрано"));
        QCOMPARE(manager.currentPeer(), makePeer(1));
        QCOMPARE(storedPeer(), makePeer(1));
        QTest::qWait(50);
        QCOMPARE(daemon.commands(), QStringList{"connect"});
    }

    void connectWhileConnectedSwitchesPeers()
    {
        FakeServiceDaemon daemon;
        scriptHappyDaemon(daemon);
        VpnManager manager;
        manager.connectPeer(makePeer(1));
        QVERIFY(waitForState(manager, VpnManager::Connected));

        manager.connectPeer(makePeer(2));
        QCOMPARE(manager.state(), VpnManager::Disconnecting);
        QVERIFY(waitForState(manager, VpnManager::Connecting));
        QVERIFY(waitForState(manager, VpnManager::Connected));

        QCOMPARE(daemon.commands(), QStringList({"connect", "disconnect", "connect"}));
        QCOMPARE(connectedIds(daemon), QList<QVariant>({1, 2}));
        QCOMPARE(manager.currentPeer(), makePeer(2));
        QCOMPARE(storedPeer(), makePeer(2));
    }

    void failedSwitchDropsPendingPeer()
    {
        FakeServiceDaemon daemon;
        scriptHappyDaemon(daemon);
        daemon.setAnswer(
            QStringLiteral("disconnect"),
            FakeServiceDaemon::reply(FakeServiceDaemon::failReply("connected", "Туннель занят")));
        VpnManager manager;
        manager.connectPeer(makePeer(1));
        QVERIFY(waitForState(manager, VpnManager::Connected));

        manager.connectPeer(makePeer(2));
        QVERIFY(waitForState(manager, VpnManager::Error));
        QCOMPARE(manager.error(), QStringLiteral("Туннель занят"));
        // A failed disconnect does not forget the running tunnel.
        QCOMPARE(storedPeer(), makePeer(1));
        QCOMPARE(manager.currentPeer(), makePeer(1));

        daemon.setAnswer(QStringLiteral("disconnect"),
                         FakeServiceDaemon::reply(FakeServiceDaemon::okReply("disconnected")));
        manager.disconnectVpn();
        QVERIFY(waitForState(manager, VpnManager::Disconnected));
        QTest::qWait(50);
        QCOMPARE(manager.state(), VpnManager::Disconnected);
        QCOMPARE(connectedIds(daemon), QList<QVariant>({1}));
    }

    void lastConnectDuringDisconnectWins()
    {
        FakeServiceDaemon daemon;
        scriptHappyDaemon(daemon);
        VpnManager manager;
        manager.connectPeer(makePeer(1));
        QVERIFY(waitForState(manager, VpnManager::Connected));

        manager.connectPeer(makePeer(2));
        manager.connectPeer(makePeer(3));
        QCOMPARE(manager.state(), VpnManager::Disconnecting);
        QVERIFY(waitForState(manager, VpnManager::Connecting));
        QVERIFY(waitForState(manager, VpnManager::Connected));
        QTest::qWait(50);

        QCOMPARE(connectedIds(daemon), QList<QVariant>({1, 3}));
        QCOMPARE(manager.currentPeer(), makePeer(3));
    }

    void connectWhileConnectingIsRefusedButAttemptContinues()
    {
        FakeServiceDaemon daemon;
        scriptHappyDaemon(daemon);
        VpnManager manager;
        manager.connectPeer(makePeer(1));
        manager.connectPeer(makePeer(2));
        QCOMPARE(manager.state(), VpnManager::Error);
        QCOMPARE(manager.error(), QStringLiteral("VPN уже выполняет действие"));

        QVERIFY(waitForState(manager, VpnManager::Connected));
        QVERIFY(manager.error().isEmpty());
        QCOMPARE(manager.currentPeer(), makePeer(1));
        QCOMPARE(connectedIds(daemon), QList<QVariant>({1}));
    }

    void directDisconnectAfterRestart()
    {
        FakeServiceDaemon daemon;
        scriptHappyDaemon(daemon);
        daemon.setAnswer(
            QStringLiteral("status"),
            FakeServiceDaemon::reply(FakeServiceDaemon::okReply("connected", asJson(makePeer(1)))));
        VpnManager manager;
        StateLog log(manager);
        manager.syncStatus();
        QCOMPARE(manager.state(), VpnManager::Connected);
        QCOMPARE(manager.currentPeer(), makePeer(1));
        QCOMPARE(storedPeer(), makePeer(1));

        // No connector: the manager asks the daemon itself, within the call.
        manager.disconnectVpn();
        QCOMPARE(log.states,
                 QList<VpnManager::State>(
                     {VpnManager::Connected, VpnManager::Disconnecting, VpnManager::Disconnected}));
        QCOMPARE(daemon.commands(), QStringList({"status", "disconnect"}));
        QVERIFY(manager.currentPeer().isEmpty());
        QVERIFY(!storedValue().isValid());
    }

    void failedDirectDisconnectKeepsPendingPeer_data()
    {
        QTest::addColumn<FakeServiceDaemon::Answer>("failure");
        QTest::addColumn<QString>("error");

        QTest::newRow("daemon's reason") << FakeServiceDaemon::reply(FakeServiceDaemon::failReply(
                                                "error", "DNS не восстановлен"))
                                         << QStringLiteral("DNS не восстановлен");
        QTest::newRow("no reason")
            << FakeServiceDaemon::reply(FakeServiceDaemon::failReply("error", ""))
            << QStringLiteral("Не удалось отключиться");
        QTest::newRow("unreadable reply")
            << FakeServiceDaemon::raw("[]\n")
            << QStringLiteral("VPN-сервис недоступен: no error occurred");
    }

    void failedDirectDisconnectKeepsPendingPeer()
    {
        QFETCH(FakeServiceDaemon::Answer, failure);
        QFETCH(QString, error);

        FakeServiceDaemon daemon;
        scriptHappyDaemon(daemon);
        daemon.setAnswer(
            QStringLiteral("status"),
            FakeServiceDaemon::reply(FakeServiceDaemon::okReply("connected", asJson(makePeer(1)))));
        daemon.setAnswer(QStringLiteral("disconnect"), failure);
        VpnManager manager;
        manager.syncStatus();
        QCOMPARE(manager.state(), VpnManager::Connected);

        manager.connectPeer(makePeer(2));
        QCOMPARE(manager.state(), VpnManager::Error);
        QCOMPARE(manager.error(), error);
        QCOMPARE(storedPeer(), makePeer(1));

        daemon.setAnswer(QStringLiteral("disconnect"),
                         FakeServiceDaemon::reply(FakeServiceDaemon::okReply("disconnected")));
        manager.disconnectVpn();
        QCOMPARE(manager.state(), VpnManager::Connecting); // the kept peer started at once
        QVERIFY(waitForState(manager, VpnManager::Connected));
        QCOMPARE(manager.currentPeer(), makePeer(2));
        QCOMPARE(daemon.commands(), QStringList({"status", "disconnect", "disconnect", "connect"}));
    }

    void syncStatusFollowsDaemon_data()
    {
        QTest::addColumn<QJsonObject>("reply");
        QTest::addColumn<VpnManager::State>("state");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QVariantMap>("current");
        QTest::addColumn<QVariantMap>("stored"); // empty: key removed

        const QVariantMap daemonPeer = makePeer(5);
        const QVariantMap storedBefore = makePeer(4);
        using FSD = FakeServiceDaemon;

        QTest::newRow("disconnected") << FSD::okReply("disconnected") << VpnManager::Disconnected
                                      << "" << QVariantMap() << QVariantMap();
        QTest::newRow("unknown status text") << FSD::okReply("asleep") << VpnManager::Disconnected
                                             << "" << QVariantMap() << QVariantMap();
        QTest::newRow("connected, daemon's peer")
            << FSD::okReply("connected", asJson(daemonPeer)) << VpnManager::Connected << ""
            << daemonPeer << daemonPeer;
        QTest::newRow("connected, stored peer")
            << FSD::okReply("connected") << VpnManager::Connected << "" << storedBefore
            << storedBefore;
        QTest::newRow("error with reason")
            << QJsonObject{{"ok", true}, {"status", "error"}, {"error", "Туннель остановлен"}}
            << VpnManager::Error << "Туннель остановлен" << QVariantMap() << storedBefore;
        QTest::newRow("error without reason")
            << FSD::okReply("error") << VpnManager::Error << "" << QVariantMap() << storedBefore;
        QTest::newRow("connecting") << FSD::okReply("connecting") << VpnManager::Connecting << ""
                                    << QVariantMap() << storedBefore;
        QTest::newRow("disconnecting") << FSD::okReply("disconnecting") << VpnManager::Disconnecting
                                       << "" << QVariantMap() << storedBefore;
    }

    void syncStatusFollowsDaemon()
    {
        QFETCH(QJsonObject, reply);
        QFETCH(VpnManager::State, state);
        QFETCH(QString, error);
        QFETCH(QVariantMap, current);
        QFETCH(QVariantMap, stored);

        FakeServiceDaemon daemon;
        daemon.setAnswer(QStringLiteral("status"), FakeServiceDaemon::reply(reply));
        storePeer(makePeer(4)); // left by the previous run
        VpnManager manager;
        manager.syncStatus();

        QCOMPARE(manager.state(), state);
        QCOMPARE(manager.error(), error);
        QCOMPARE(manager.currentPeer(), current);
        if (stored.isEmpty())
            QVERIFY(!storedValue().isValid());
        else
            QCOMPARE(storedPeer(), stored);
        QCOMPARE(daemon.commands(), QStringList{"status"});
    }

    void syncStatusWithoutAnswerChangesNothing_data()
    {
        QTest::addColumn<int>("failure");
        QTest::newRow("daemon gone") << 0;
        QTest::newRow("refused query") << 1;
        QTest::newRow("unreadable reply") << 2;
    }

    void syncStatusWithoutAnswerChangesNothing()
    {
        QFETCH(int, failure);

        auto daemon = std::make_unique<FakeServiceDaemon>();
        scriptHappyDaemon(*daemon);
        VpnManager manager;
        manager.connectPeer(makePeer(1));
        QVERIFY(waitForState(manager, VpnManager::Connected));

        std::unique_ptr<NoDaemon> noDaemon;
        if (failure == 0) {
            daemon.reset();
            noDaemon = std::make_unique<NoDaemon>();
        } else {
            daemon->setAnswer(QStringLiteral("status"),
                              failure == 1 ? FakeServiceDaemon::reply(
                                                 FakeServiceDaemon::failReply("error", "нет"))
                                           : FakeServiceDaemon::raw("{\n"));
        }
        QSignalSpy states(&manager, &VpnManager::stateChanged);
        QSignalSpy peers(&manager, &VpnManager::currentPeerChanged);
        QSignalSpy errors(&manager, &VpnManager::errorChanged);

        manager.syncStatus();
        QCOMPARE(states.count() + peers.count() + errors.count(), 0);
        QCOMPARE(manager.state(), VpnManager::Connected);
        QCOMPARE(storedPeer(), makePeer(1));
        if (daemon)
            QCOMPARE(daemon->commands().last(), QStringLiteral("status"));
    }

    void syncStatusWhileBusySendsNothing()
    {
        FakeServiceDaemon daemon;
        scriptHappyDaemon(daemon);
        VpnManager manager;

        manager.connectPeer(makePeer(1));
        manager.syncStatus();
        QCOMPARE(manager.state(), VpnManager::Connecting);
        QVERIFY(waitForState(manager, VpnManager::Connected));

        manager.disconnectVpn();
        manager.syncStatus();
        QCOMPARE(manager.state(), VpnManager::Disconnecting);
        QVERIFY(waitForState(manager, VpnManager::Disconnected));

        QCOMPARE(daemon.commands(), QStringList({"connect", "disconnect"}));
    }

    void disconnectWhenDisconnectedClearsStalePeer()
    {
        FakeServiceDaemon daemon;
        scriptHappyDaemon(daemon);
        storePeer(makePeer(4));
        VpnManager manager;
        QSignalSpy states(&manager, &VpnManager::stateChanged);

        manager.disconnectVpn();
        QVERIFY(!storedValue().isValid());
        QCOMPARE(states.count(), 0);
        QTest::qWait(50);
        QVERIFY(daemon.requests().isEmpty());
    }

    void storedValueThatIsNotAPeerIsIgnored_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::newRow("not JSON") << QStringLiteral("{\"id\": 4");
        QTest::newRow("array") << QStringLiteral("[{\"id\": 4}]");
        QTest::newRow("string") << QStringLiteral("\"peer\"");
        QTest::newRow("empty") << QString();
    }

    void storedValueThatIsNotAPeerIsIgnored()
    {
        QFETCH(QString, stored);

        FakeServiceDaemon daemon;
        daemon.setAnswer(QStringLiteral("status"),
                         FakeServiceDaemon::reply(FakeServiceDaemon::okReply("connected")));
        QSettings().setValue(ActivePeerKey, stored);
        VpnManager manager;
        QSignalSpy peers(&manager, &VpnManager::currentPeerChanged);

        manager.syncStatus();
        QCOMPARE(manager.state(), VpnManager::Connected);
        QVERIFY(manager.error().isEmpty());
        QVERIFY(manager.currentPeer().isEmpty());
        QCOMPARE(peers.count(), 0);
    }

    void settingsLiveInTheTestLocation()
    {
        QSettings settings;
        QVERIFY2(settings.fileName().startsWith(home.path()), qPrintable(settings.fileName()));
        QCOMPARE(settings.organizationName(), QStringLiteral("Tarvex"));
        QCOMPARE(settings.applicationName(), QStringLiteral("Tarvex"));
    }

private:
    QTemporaryDir home;
};

QTEST_GUILESS_MAIN(TestVpnManager)
#include "tst_vpnmanager.moc"
