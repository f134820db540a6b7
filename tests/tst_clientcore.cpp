#include "amneziav1connector.h"
#include "amneziav2connector.h"
#include "buildconfig.h"
#include "cliententry.h"
#include "daemonversioncheck.h"
#include "fakeservicedaemon.h"
#include "macvpnserviceclientbackend.h"
#include "platformvpnbackend.h"
#include "tarvexconfig.h"
#include "vpnconfigfixture.h"
#include "vpnconnectorfactory.h"
#include "vpnmanager.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>

namespace {

using State = VpnManager::State;
using FSD = FakeServiceDaemon;
const QString ActivePeerKey = QStringLiteral("Vpn/ActivePeer");

// A peer with an AmneziaWG document under the given container name, its settings'
// "protocol_version" set unless version is Undefined.
QVariantMap makePeer(int id, const QString &protocol = QStringLiteral("amnezia-v1"),
                     const QString &container = "amnezia-awg",
                     const QJsonValue &version = QJsonValue::Undefined)
{
    QJsonObject document =
        VpnConfigFixture::awgDocument(VpnConfigFixture::sampleLastConfig(), container);
    QJsonArray containers = document.value("containers").toArray();
    QJsonObject first = containers.at(0).toObject();
    QJsonObject awg = first.value("awg").toObject();
    if (!version.isUndefined())
        awg.insert("protocol_version", version);
    first.insert("awg", awg);
    containers[0] = first;
    document.insert("containers", containers);
    return {{"id", id},
            {"name", QStringLiteral("Peer %1").arg(id)},
            {"protocol", protocol},
            {"config", VpnConfigFixture::encode(document)}};
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

using Status = PlatformVpnBackend::Status;
using Answer = FSD::Answer;
const QString Unavailable = QStringLiteral("VPN-сервис недоступен: ");

// The daemon's minute-long reply wait, cut down so a silent daemon costs little.
class QuickBackend : public MacVpnServiceClientBackend
{
protected:
    int replyTimeoutMs() const override { return 300; }
};

// StaleFile: what a crashed daemon leaves, a file where its socket was that nobody listens on
// (the kernel refuses a connection to a plain file as to a dead socket).
enum DaemonState { Running, Stopped, StaleFile };

// A connector that counts its backend's status changes made on the interface's thread,
// where the blocking talk with the daemon would freeze the window. Shared: a backend may
// outlive its connector and still report.
class ObservedConnector : public AmneziaV1Connector
{
public:
    QPointer<PlatformVpnBackend> backend;
    struct Counts
    {
        std::atomic<int> all{0}, onMainThread{0};
    };
    std::shared_ptr<Counts> counts = std::make_shared<Counts>();

protected:
    PlatformVpnBackend *createBackend() override
    {
        backend = AmneziaV1Connector::createBackend();
        QObject::connect(
            backend, &PlatformVpnBackend::statusChanged, backend,
            [counts = counts] {
                ++counts->all;
                counts->onMainThread += QThread::currentThread() == qApp->thread();
            },
            Qt::DirectConnection);
        return backend;
    }
};

} // namespace

class TestClientCore : public QObject
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

    // The client's side of the daemon's socket: how replies and transport failures read.
    // Transport failures end the connect at once with a reason a person understands; only the
    // silent daemon is waited for (here 0.3 s instead of a minute). A killed daemon is
    // e2e_attacks' scenario.
    void replies_data()
    {
        QTest::addColumn<int>("daemonState");
        QTest::addColumn<QString>("command");
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<Status>("status");
        QTest::addColumn<QString>("error");    // %1: the socket's path
        QTest::addColumn<bool>("fails");       // errorOccurred; refreshStatus false
        QTest::addColumn<QVariantMap>("peer"); // what a status fills in

        const QString no = QStringLiteral("daemon says no");
        const auto row = [](const char *name, const char *command, const QJsonObject &reply,
                            Status status, const QString &error, bool fails,
                            const QVariantMap &peer = {}) {
            QTest::newRow(name) << int(Running) << command << FSD::reply(reply) << status << error
                                << fails << peer;
        };
        const auto unavailable = [](const char *name, DaemonState state, const Answer &answer,
                                    const QString &reason) {
            QTest::newRow(name) << int(state) << "connect" << answer << Status::Error
                                << Unavailable + reason << true << QVariantMap();
        };

        QJsonObject arrayPeer = FSD::okReply("connected");
        arrayPeer.insert("peer", QJsonArray{1, 2});

        // Success is "ok": true and nothing else that might read as true.
        row("connect, ok 1", "connect", {{"ok", 1}, {"error", no}}, Status::Error, no, true);
        // A failure without a usable reason gets the operation's own text.
        row("status, empty error", "status", FSD::failReply("error", ""), Status::Error,
            "Не удалось получить состояние VPN", true);
        // The status query succeeded; "error" is the daemon's reason for a failed tunnel.
        row("status error with reason", "status", FSD::okReply("error", {}, "Туннель остановлен"),
            Status::Error, "Туннель остановлен", false);
        row("status connected, stray error text", "status",
            FSD::okReply("connected", {{"name", "Riga"}}, no), Status::Connected, "", false,
            {{"name", "Riga"}});
        row("status, peer not an object", "status", arrayPeer, Status::Connected, "", false);
        row("status unknown to the client", "status", FSD::okReply("Connected"),
            Status::Disconnected, "", false);
        // No socket file: the daemon is not running, said so, and no talk of sudo.
        unavailable("no socket file", Stopped, {}, "сервис не запущен: сокета %1 нет");
        unavailable("stale socket file", StaleFile, {},
                    "socket сервиса есть, но сервис не запущен. Перезапустите сервис через sudo");
        unavailable("silent daemon", Running, {Answer::Silent, {}}, "сервис не ответил за 0.3 с");
        unavailable("closed without reply", Running, {},
                    "сервис закрыл соединение, не ответив на запрос");
        unavailable("not JSON", Running, {Answer::Reply, "ok\n"},
                    "ответ сервиса не удалось прочитать");
    }

    void replies()
    {
        QFETCH(int, daemonState);
        QFETCH(QString, command);
        QFETCH(Answer, answer);
        QFETCH(Status, status);
        QFETCH(QString, error);
        QFETCH(bool, fails);
        QFETCH(QVariantMap, peer);

        FakeServiceDaemon daemon;
        daemon.setAnswer(command, answer);
        const QString path = qEnvironmentVariable("TARVEX_SERVICE_SOCKET");
        error.replace("%1", path);
        if (daemonState != Running)
            daemon.stop();
        if (daemonState == StaleFile)
            QVERIFY(QFile(path).open(QIODevice::WriteOnly));
        QuickBackend backend;
        QSignalSpy errors(&backend, &PlatformVpnBackend::errorOccurred);
        QVariantMap filled{{QStringLiteral("left over"), true}};
        bool result = true;
        QElapsedTimer timer;
        timer.start();
        // Twice: each failure is news, even the same one again.
        for (int i = 0; i < 2; ++i) {
            if (command == QLatin1String("status"))
                result = backend.refreshStatus(&filled);
            else
                backend.connectVpn(VpnConfigFixture::sampleConfig());
        }

        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(backend.status(), status);
        QCOMPARE(backend.lastError(), error);
        QCOMPARE(result, !fails || command != "status");
        QCOMPARE(errors.count(), fails ? 2 : 0);
        if (fails)
            QCOMPARE(errors.at(1).at(0).toString(), error);
        if (command == QLatin1String("status"))
            QCOMPARE(filled, peer);
    }

    void logsNeverCarryKeys()
    {
        FakeServiceDaemon daemon;
        const QString url = VpnConfigFixture::encode(
            VpnConfigFixture::awgDocument(VpnConfigFixture::sampleLastConfig()));
        const QVariantMap peer{{"id", 7}, {"config", url}};
        // The reply echoes the peer, so both directions are logged with the secrets in.
        daemon.setReply("connect", FSD::okReply("connected", QJsonObject::fromVariantMap(peer)));

        static QStringList messages;
        messages.clear();
        const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext &,
                                      const QString &message) { messages.append(message); });
        MacVpnServiceClientBackend backend;
        backend.connectVpn(VpnConfigFixture::sampleConfig(), peer);
        qInstallMessageHandler(previous);

        QCOMPARE(backend.status(), Status::Connected);
        const QString log = messages.join(QLatin1Char('\n'));
        QVERIFY(!log.contains(
            VpnConfigFixture::sampleLastConfig().value("client_priv_key").toString()));
        QVERIFY(!log.contains(url.mid(6, 40)));
    }

    // How the client tells, at start, whether the daemon is the one it came with.
    void daemonVersion()
    {
        using Verdict = DaemonVersionCheck::Verdict;
        const MacVpnServiceClientBackend backend;
        FakeServiceDaemon daemon;
        daemon.setReply("version", {{"ok", true}, {"version", "1.4.0"}});
        QCOMPARE(DaemonVersionCheck::check(backend, "1.4.0"), Verdict::Current);
        QCOMPARE(DaemonVersionCheck::check(backend, "1.4.1"), Verdict::Outdated);
        daemon.stop();
        QCOMPARE(DaemonVersionCheck::check(backend, "1.4.0"), Verdict::NotRunning);
    }

    // The connectors between the manager and the daemon: which takes a peer, and their
    // worker threads.
    // The factory picks the connector by the trimmed protocol, case and all; the connector
    // itself does not trim.
    void acceptance_data()
    {
        QTest::addColumn<QVariantMap>("peer");
        // Empty: accepted, reaches the daemon. (The parser's own text passed on is
        // unusablePeersFailWithinTheCall.)
        QTest::addColumn<QString>("error");

        const QString v1 = "amnezia-v1", v2 = "amnezia-v2", awg2 = "amnezia-awg2";
        const QString notV1 = "VPN-конфигурация не является Amnezia v1";
        const QString notV2 = "VPN-конфигурация не является Amnezia v2";
        const auto row = [](const char *name, const QVariantMap &peer, const QString &error) {
            QTest::newRow(name) << peer << error;
        };
        row("v1 document", makePeer(11, v1), "");
        row("v1, padded", makePeer(11, " " + v1 + " "),
            "Протокол соединения не поддерживается Amnezia v1");
        row("v2, tab and newline", makePeer(11, "\t" + v2 + "\n", awg2, "2"),
            "Протокол соединения не поддерживается Amnezia v2");
        row("other case", makePeer(11, "Amnezia-v1"), "no connector");
        row("v1 refuses awg2", makePeer(11, v1, awg2, "2"), notV1);
        row("v2 document, version text 2", makePeer(11, v2, awg2, "2"), "");
        row("v2 refuses version number 2", makePeer(11, v2, awg2, 2), notV2);
        row("v2 refuses awg container with version 2", makePeer(11, v2, "amnezia-awg", "2"), notV2);
    }

    void acceptance()
    {
        QFETCH(QVariantMap, peer);
        QFETCH(QString, error);

        FakeServiceDaemon daemon;
        daemon.answerSuccess();
        QObject owner;
        VpnConnector *connector = VpnConnectorFactory::create(peer, &owner);
        QCOMPARE(VpnConnectorFactory::isSupported(peer), error != "no connector");
        if (!connector) {
            QCOMPARE(error, "no connector");
            return;
        }
        const bool v1 = qobject_cast<AmneziaV1Connector *>(connector);
        QSignalSpy connected(connector, &VpnConnector::connected);
        QSignalSpy disconnected(connector, &VpnConnector::disconnected);
        QSignalSpy errors(connector, &VpnConnector::errorOccurred);
        connector->connectPeer(peer);

        if (!error.isEmpty()) {
            QCOMPARE(errors.count(), 1); // before connectPeer returned
            QCOMPARE(errors.at(0).at(0).toString(), error);
            // Nothing started, so there is nothing to wait for.
            connector->disconnectVpn();
            QCOMPARE(disconnected.count(), 1);
            delete connector;
            QVERIFY(daemon.requests().isEmpty());
            return;
        }
        QVERIFY(connected.wait(5000));
        const QJsonObject request = daemon.requests().value(0);
        QCOMPARE(request.value("config").toObject().value("container").toString(),
                 v1 ? "amnezia-awg" : "amnezia-awg2");
        QCOMPARE(request.value("peer").toObject(), QJsonObject::fromVariantMap(peer));

        // Deleting a connector stops its worker but is no disconnect: the tunnel stays up.
        QPointer<QThread> worker = connector->findChild<QThread *>();
        QVERIFY(worker);
        delete connector;
        QVERIFY(!worker);
        QCOMPARE(daemon.commands(), QStringList{"connect"});
    }

    // Dropping a connector whose connect still waits for the daemon must not freeze the
    // interface; the request ends as soon as the daemon goes away, and the thread with it.
    void droppingABusyConnectorDoesNotBlock()
    {
        FakeServiceDaemon daemon;
        daemon.setAnswer("connect", {FakeServiceDaemon::Answer::Silent, {}});
        auto *connector = new AmneziaV1Connector;
        connector->connectPeer(makePeer(11));
        QTRY_COMPARE(daemon.commands(), QStringList{"connect"});
        QPointer<QThread> worker = connector->findChild<QThread *>();

        QElapsedTimer timer;
        timer.start();
        delete connector;
        QVERIFY2(timer.elapsed() < 1500, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(worker && worker->isRunning());

        daemon.stop();
        QTRY_VERIFY_WITH_TIMEOUT(!worker, 3000);
    }

    // The backend works on the worker thread only, and goes with it once disconnected. (A
    // failed disconnect keeping both for the retry is connectWhileBusyOrConnected's.)
    void backendLivesOnTheWorkerThread()
    {
        FakeServiceDaemon daemon;
        daemon.answerSuccess();
        ObservedConnector connector;
        QSignalSpy connected(&connector, &VpnConnector::connected);
        QSignalSpy disconnected(&connector, &VpnConnector::disconnected);
        connector.connectPeer(makePeer(11));
        QPointer<QThread> worker = connector.findChild<QThread *>();
        QVERIFY(worker && worker != QThread::currentThread());
        QVERIFY(connected.wait(5000));
        connector.disconnectVpn();
        QVERIFY(disconnected.wait(5000));

        QCOMPARE(daemon.commands(), QStringList({"connect", "disconnect"}));
        QVERIFY(connector.counts->all > 0);
        QCOMPARE(connector.counts->onMainThread.load(), 0);
        // Released before disconnected() reached us: thread gone, backend deleted with it.
        QVERIFY(!worker);
        QVERIFY(!connector.backend);
    }

private:
    QTemporaryDir home;
};

QTEST_GUILESS_MAIN(TestClientCore)
#include "tst_clientcore.moc"
