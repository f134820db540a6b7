#include "buildconfig.h"
#include "cliententry.h"
#include "fakeservicedaemon.h"
#include "tarvexconfig.h"
#include "vpnconfigfixture.h"
#include "vpnmanager.h"

#include <QFile>
#include <QJsonDocument>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QSettings>
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

        manager.connectPeer(makePeer(1));
        QVERIFY(stored().isEmpty()); // nothing stored before the tunnel is up
        QTRY_COMPARE(manager.state(), State::Connected);
        QCOMPARE(stored(), compact(makePeer(1)));

        manager.disconnectVpn();
        QTRY_COMPARE(manager.state(), State::Disconnected);
        QVERIFY(manager.currentPeer().isEmpty());
        QVERIFY(stored().isEmpty());

        // Disconnected already: no request, but a stale stored peer goes.
        QSettings().setValue(ActivePeerKey, compact(makePeer(4)));
        manager.disconnectVpn();
        QVERIFY(stored().isEmpty());
        QCOMPARE(daemon.commands(), QStringList({"connect", "disconnect"}));
    }

    void unusablePeersFailWithinTheCall()
    {
        FakeServiceDaemon daemon;
        VpnManager manager;
        manager.connectPeer(QVariantMap());
        QCOMPARE(manager.state(), State::Error);
        QCOMPARE(manager.error(), QStringLiteral("Соединение не выбрано"));
        manager.connectPeer(makePeer(2, QStringLiteral("wireguard")));
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
        QTRY_COMPARE(manager.state(), State::Connected);
        QVERIFY(manager.error().isEmpty());
        QCOMPARE(manager.currentPeer(), makePeer(1));

        // The first switch starts the disconnect; the second arrives during it and wins.
        manager.connectPeer(makePeer(2));
        manager.connectPeer(makePeer(3));
        QTRY_COMPARE(manager.state(), State::Connected);

        // A failed disconnect drops the pending peer and keeps the running tunnel (peer 3).
        daemon.setReply("disconnect", FSD::failReply("connected", "Туннель занят"));
        manager.connectPeer(makePeer(4));
        QTRY_COMPARE(manager.state(), State::Error);
        QCOMPARE(manager.error(), QStringLiteral("Туннель занят"));
        QCOMPARE(manager.currentPeer(), makePeer(3));
        QCOMPARE(stored(), compact(makePeer(3)));
        daemon.answerSuccess();
        manager.disconnectVpn();
        QTRY_COMPARE(manager.state(), State::Disconnected);
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

        // No connector: the manager asks the daemon itself, within the call.
        manager.connectPeer(makePeer(2));
        QCOMPARE(manager.state(), State::Error);
        QCOMPARE(manager.error(), QStringLiteral("DNS не восстановлен"));
        QCOMPARE(stored(), compact(makePeer(1)));
        // The switch is still wanted: the next successful disconnect starts it.
        daemon.answerSuccess();
        manager.disconnectVpn();
        QVERIFY(stored().isEmpty()); // the old tunnel's peer goes before the new one is up
        QTRY_COMPARE(manager.state(), State::Connected);
        QCOMPARE(manager.currentPeer(), makePeer(2));
        QCOMPARE(daemon.commands(), QStringList({"status", "disconnect", "disconnect", "connect"}));
    }

    // Whether the client's binary starts, and ends with -1 when its root QML fails, is
    // checked on the real program by client_starts.sh.
    void managerIsPublishedToQml()
    {
        VpnManager manager;
        QQmlApplicationEngine engine;
        ClientEntry::prepareEngine(engine, &manager);
        QCOMPARE(engine.rootContext()->contextProperty("VpnManager").value<QObject *>(), &manager);
    }

    // The URLs the interface starts with: the vendor's by default, the environment's when
    // TARVEX_API_URL or TARVEX_WEBSITE_URL is set (the local vendor API, tests).
    void urlsComeFromTheEnvironmentOrTheDomain()
    {
        // A blank variable counts as unset.
        qputenv("TARVEX_API_URL", "  ");
        qunsetenv("TARVEX_WEBSITE_URL");
        const QString domain = QString::fromLatin1(Tarvex::VendorDomain);
        const BuildConfig byDomain;
        QCOMPARE(byDomain.apiBaseUrl(), "https://" + domain + "/api/v1");
        QCOMPARE(byDomain.websiteUrl(), "https://" + domain);

        qputenv("TARVEX_API_URL", " http://127.0.0.1:8765/api/v1 ");
        qputenv("TARVEX_WEBSITE_URL", "http://127.0.0.1:8765");
        const BuildConfig byEnvironment;
        QCOMPARE(byEnvironment.apiBaseUrl(), QStringLiteral("http://127.0.0.1:8765/api/v1"));
        QCOMPARE(byEnvironment.websiteUrl(), QStringLiteral("http://127.0.0.1:8765"));
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
