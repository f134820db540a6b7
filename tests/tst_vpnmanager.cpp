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

namespace {

using State = VpnManager::State;
using FSD = FakeServiceDaemon;
const QString ActivePeerKey = QStringLiteral("Vpn/ActivePeer");

QVariantMap makePeer(int id, const QString &protocol = QStringLiteral("amnezia-v1"))
{
    return QVariantMap{{"id", id},
                       {"name", QStringLiteral("Peer %1").arg(id)},
                       {"protocol", protocol},
                       {"config", VpnConfigFixture::encode(VpnConfigFixture::awgDocument(
                                      VpnConfigFixture::sampleLastConfig()))}};
}

QString compact(const QVariantMap &peer)
{
    return QString::fromUtf8(
        QJsonDocument(QJsonObject::fromVariantMap(peer)).toJson(QJsonDocument::Compact));
}

// "Vpn/ActivePeer" as stored; empty when the key is absent.
QString stored()
{
    return QSettings().value(ActivePeerKey).toString();
}

bool waitForState(VpnManager &manager, State state)
{
    return QTest::qWaitFor([&] { return manager.state() == state; }, 5000);
}

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
        QVERIFY(QSettings().fileName().startsWith(home.path()));
    }

    void init() { QSettings().clear(); }

    void connectsAndDisconnectsThroughDaemon()
    {
        FakeServiceDaemon daemon;
        daemon.answerSuccess();
        VpnManager manager;
        QList<State> states;
        connect(&manager, &VpnManager::stateChanged, this, [&] { states.append(manager.state()); });

        manager.connectPeer(makePeer(1));
        QVERIFY(stored().isEmpty()); // nothing stored before the tunnel is up
        QVERIFY(waitForState(manager, State::Connected));
        QCOMPARE(stored(), compact(makePeer(1)));

        manager.disconnectVpn();
        QVERIFY(waitForState(manager, State::Disconnected));
        QVERIFY(manager.currentPeer().isEmpty());
        QVERIFY(stored().isEmpty());
        QCOMPARE(daemon.commands(), QStringList({"connect", "disconnect"}));

        // Disconnected already: no request, no state change, but a stale stored peer goes.
        QSettings().setValue(ActivePeerKey, compact(makePeer(4)));
        manager.disconnectVpn();
        QVERIFY(stored().isEmpty());

        // Without a daemon both directions fail with the transport's reason; the
        // connector still holds its backend, so the disconnect asks the daemon too.
        daemon.stop();
        manager.connectPeer(makePeer(2));
        QVERIFY(waitForState(manager, State::Error));
        QVERIFY2(manager.error().startsWith("VPN-сервис недоступен: "),
                 qPrintable(manager.error()));
        manager.disconnectVpn();
        QVERIFY(waitForState(manager, State::Error));
        QCOMPARE(states, QList<State>({State::Connecting, State::Connected, State::Disconnecting,
                                       State::Disconnected, State::Connecting, State::Error,
                                       State::Disconnecting, State::Error}));
    }

    void unusablePeersFailWithinTheCall()
    {
        FakeServiceDaemon daemon;
        VpnManager manager;
        manager.connectPeer(QVariantMap());
        QCOMPARE(manager.state(), State::Error);
        QCOMPARE(manager.error(), QStringLiteral("Соединение не выбрано"));
        manager.connectPeer(makePeer(2, QStringLiteral("wireguard")));
        QCOMPARE(manager.state(), State::Error);
        QCOMPARE(manager.error(), QStringLiteral("Протокол соединения не поддерживается"));
        // A peer its connector refuses.
        QVariantMap emptyConfig = makePeer(3);
        emptyConfig.insert(QStringLiteral("config"), QString());
        manager.connectPeer(emptyConfig);
        QCOMPARE(manager.state(), State::Error);
        QCOMPARE(manager.error(), QStringLiteral("Конфигурация соединения пустая"));
        QTest::qWait(50);
        QVERIFY(daemon.requests().isEmpty());
    }

    void connectWhileBusyOrConnected()
    {
        FakeServiceDaemon daemon;
        daemon.answerSuccess();
        VpnManager manager;
        manager.connectPeer(makePeer(1));
        manager.syncStatus(); // busy: no status request
        manager.connectPeer(makePeer(2));
        QCOMPARE(manager.state(), State::Error);
        QCOMPARE(manager.error(), QStringLiteral("VPN уже выполняет действие"));
        // The first attempt goes on regardless.
        QVERIFY(waitForState(manager, State::Connected));
        QVERIFY(manager.error().isEmpty());
        QCOMPARE(manager.currentPeer(), makePeer(1));

        // The first switch starts the disconnect; the second arrives during it and wins.
        manager.connectPeer(makePeer(2));
        QCOMPARE(manager.state(), State::Disconnecting);
        manager.syncStatus();
        manager.connectPeer(makePeer(3));
        QVERIFY(waitForState(manager, State::Connected));
        QCOMPARE(daemon.requests().last().value("peer").toObject().toVariantMap(), makePeer(3));
        QCOMPARE(stored(), compact(makePeer(3)));

        // A failed disconnect drops the pending peer and keeps the running tunnel.
        daemon.setReply("disconnect", FSD::failReply("connected", "Туннель занят"));
        manager.connectPeer(makePeer(4));
        QVERIFY(waitForState(manager, State::Error));
        QCOMPARE(manager.error(), QStringLiteral("Туннель занят"));
        QCOMPARE(manager.currentPeer(), makePeer(3));
        QCOMPARE(stored(), compact(makePeer(3)));
        daemon.answerSuccess();
        manager.disconnectVpn();
        QVERIFY(waitForState(manager, State::Disconnected));
        QTest::qWait(50);
        // Peer 2 was never asked for, peer 4 dropped with the failed disconnect.
        QCOMPARE(daemon.commands(),
                 QStringList({"connect", "disconnect", "connect", "disconnect", "disconnect"}));
    }

    void directDisconnectAfterRestartKeepsPendingPeer()
    {
        FakeServiceDaemon daemon;
        daemon.setReply("status",
                        FSD::okReply("connected", QJsonObject::fromVariantMap(makePeer(1))));
        daemon.setReply("disconnect", FSD::failReply("error", "DNS не восстановлен"));
        VpnManager manager;
        manager.syncStatus();
        QCOMPARE(manager.state(), State::Connected);

        // No connector: the manager asks the daemon itself, within the call.
        manager.connectPeer(makePeer(2));
        QCOMPARE(manager.state(), State::Error);
        QCOMPARE(manager.error(), QStringLiteral("DNS не восстановлен"));
        QCOMPARE(stored(), compact(makePeer(1)));
        // The switch is still wanted: the next successful disconnect starts it.
        daemon.answerSuccess();
        manager.disconnectVpn();
        QCOMPARE(manager.state(), State::Connecting);
        QVERIFY(stored().isEmpty());
        QVERIFY(waitForState(manager, State::Connected));
        QCOMPARE(manager.currentPeer(), makePeer(2));
        QCOMPARE(daemon.commands(), QStringList({"status", "disconnect", "disconnect", "connect"}));
    }

    void syncStatusFollowsDaemon_data()
    {
        QTest::addColumn<QJsonObject>("reply");
        QTest::addColumn<QString>("before"); // "Vpn/ActivePeer" left by the previous run
        QTest::addColumn<State>("state");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QVariantMap>("current");
        QTest::addColumn<QString>("after"); // empty: key removed

        const QString previous = compact(makePeer(4));
        const QString notAPeer = QStringLiteral("{\"id\": 4");
        QTest::newRow("disconnected") << FSD::okReply("disconnected") << previous
                                      << State::Disconnected << "" << QVariantMap() << "";
        QTest::newRow("connected, daemon's peer")
            << FSD::okReply("connected", QJsonObject::fromVariantMap(makePeer(5))) << previous
            << State::Connected << "" << makePeer(5) << compact(makePeer(5));
        // The daemon forgets its peer when it restarts.
        QTest::newRow("connected, stored peer")
            << FSD::okReply("connected") << previous << State::Connected << "" << makePeer(4)
            << previous;
        QTest::newRow("connected, stored value not a peer")
            << FSD::okReply("connected") << notAPeer << State::Connected << "" << QVariantMap()
            << notAPeer;
        QTest::newRow("error with reason")
            << FSD::okReply("error", {}, "Туннель остановлен") << previous << State::Error
            << "Туннель остановлен" << QVariantMap() << previous;
        QTest::newRow("connecting") << FSD::okReply("connecting") << previous << State::Connecting
                                    << "" << QVariantMap() << previous;
        // A refused query says nothing about the tunnel: nothing visible changes.
        QTest::newRow("refused") << FSD::failReply("error", "нет") << previous
                                 << State::Disconnected << "" << QVariantMap() << previous;
    }

    void syncStatusFollowsDaemon()
    {
        QFETCH(QJsonObject, reply);
        QFETCH(QString, before);
        QFETCH(State, state);
        QFETCH(QString, error);
        QFETCH(QVariantMap, current);
        QFETCH(QString, after);

        FakeServiceDaemon daemon;
        daemon.setReply("status", reply);
        QSettings().setValue(ActivePeerKey, before);
        VpnManager manager;
        manager.syncStatus();

        QCOMPARE(manager.state(), state);
        QCOMPARE(manager.error(), error);
        QCOMPARE(manager.currentPeer(), current);
        QCOMPARE(stored(), after);
    }

private:
    QTemporaryDir home;
};

QTEST_GUILESS_MAIN(TestVpnManager)
#include "tst_vpnmanager.moc"
