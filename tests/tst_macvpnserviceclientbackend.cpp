#include "daemonversioncheck.h"
#include "fakeservicedaemon.h"
#include "macvpnserviceclientbackend.h"
#include "vpnconfigfixture.h"
#include "vpnconfigparser.h"
#include "vpnserviceprotocol.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using Status = PlatformVpnBackend::Status;
const QString Unavailable = QStringLiteral("VPN-сервис недоступен: ");

// The daemon's minute-long reply wait, cut down so a silent daemon costs little.
class QuickBackend : public MacVpnServiceClientBackend
{
protected:
    int replyTimeoutMs() const override { return 300; }
};

ParsedVpnConfig sampleConfig()
{
    return VpnConfigParser::parseConfig(VpnConfigFixture::encode(VpnConfigFixture::awgDocument(
                                            VpnConfigFixture::sampleLastConfig())))
        .config;
}

QVariantMap samplePeer()
{
    return QVariantMap{{"id", 7}, {"name", "Frankfurt"}, {"sites", QStringList{"a.example"}}};
}

// Runs one command; the result is refreshStatus's, or true for the others.
bool run(PlatformVpnBackend &backend, const QString &command)
{
    if (command == QLatin1String("status"))
        return backend.refreshStatus(nullptr);
    if (command == QLatin1String("disconnect"))
        backend.disconnectVpn();
    else
        backend.connectVpn(sampleConfig(), samplePeer());
    return true;
}

// A socket file nobody listens on, as a crashed daemon leaves behind.
bool makeStaleSocket(const QString &path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    std::memcpy(address.sun_path, name.constData(),
                qMin(size_t(name.size()), sizeof(address.sun_path) - 1));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0;
    ::close(fd);
    return bound;
}

} // namespace

class TestMacVpnServiceClientBackend : public QObject
{
    Q_OBJECT

private slots:
    void connectRequestCarriesConfigAndPeer()
    {
        FakeServiceDaemon daemon;
        MacVpnServiceClientBackend backend;
        backend.connectVpn(sampleConfig(), samplePeer());
        backend.connectVpn(sampleConfig(), QVariantMap());

        const QJsonObject request{
            {"command", "connect"},
            {"config", VpnServiceProtocol::parsedConfigToJson(sampleConfig())}};
        QJsonObject withPeer = request;
        withPeer.insert("peer", QJsonObject::fromVariantMap(samplePeer()));
        // An empty peer map sends no "peer" key at all.
        QCOMPARE(daemon.requests(), QList<QJsonObject>({withPeer, request}));
    }

    void replies_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QJsonObject>("reply");
        QTest::addColumn<Status>("status");
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("fails"); // errorOccurred; refreshStatus false

        const QString no = QStringLiteral("daemon says no");
        const auto ok = [](const QString &status, const QString &error = QString()) {
            return QJsonObject{{"ok", true}, {"status", status}, {"error", error}};
        };
        // Success is "ok": true and nothing else that might read as true.
        QTest::newRow("connect") << "connect" << ok("connected") << Status::Connected << ""
                                 << false;
        QTest::newRow("connect, ok 1")
            << "connect" << QJsonObject{{"ok", 1}, {"error", no}} << Status::Error << no << true;
        QTest::newRow("disconnect")
            << "disconnect" << ok("disconnected") << Status::Disconnected << "" << false;
        // A failure without a usable reason gets the operation's own text.
        QTest::newRow("connect, no ok, no error")
            << "connect" << QJsonObject() << Status::Error << "Не удалось подключиться" << true;
        QTest::newRow("disconnect, empty error")
            << "disconnect" << FakeServiceDaemon::failReply("error", "") << Status::Error
            << "Не удалось отключиться" << true;
        QTest::newRow("status, empty error")
            << "status" << FakeServiceDaemon::failReply("error", "") << Status::Error
            << "Не удалось получить состояние VPN" << true;
        // The status query succeeded; "error" is the daemon's reason for a failed tunnel.
        QTest::newRow("status error with reason") << "status" << ok("error", "Туннель остановлен")
                                                  << Status::Error << "Туннель остановлен" << false;
        QTest::newRow("status connected, stray error text")
            << "status" << ok("connected", no) << Status::Connected << "" << false;
    }

    void replies()
    {
        QFETCH(QString, command);
        QFETCH(QJsonObject, reply);
        QFETCH(Status, status);
        QFETCH(QString, error);
        QFETCH(bool, fails);

        FakeServiceDaemon daemon;
        daemon.setReply(command, reply);
        MacVpnServiceClientBackend backend;
        QSignalSpy errors(&backend, &PlatformVpnBackend::errorOccurred);
        const bool result = run(backend, command);

        QCOMPARE(backend.status(), status);
        QCOMPARE(backend.lastError(), error);
        QCOMPARE(result, !fails || command != "status");
        QCOMPARE(errors.count(), fails ? 1 : 0);
        if (fails)
            QCOMPARE(errors.at(0).at(0).toString(), error);
    }

    void peerFilledOnlyFromObject()
    {
        FakeServiceDaemon daemon;
        MacVpnServiceClientBackend backend;
        QVariantMap peer{{QStringLiteral("left over"), true}};
        // In pieces: the backend must wait for the whole line, not take the first read.
        daemon.setAnswer("status", FakeServiceDaemon::reply(
                                       FakeServiceDaemon::okReply("connected", {{"name", "Riga"}}),
                                       FakeServiceDaemon::Answer::InPieces));
        QVERIFY(backend.refreshStatus(&peer));
        QCOMPARE(peer, QVariantMap({{"name", "Riga"}}));

        QJsonObject arrayPeer = FakeServiceDaemon::okReply("connected");
        arrayPeer.insert("peer", QJsonArray{1, 2});
        daemon.setReply("status", arrayPeer);
        QVERIFY(backend.refreshStatus(&peer));
        QVERIFY(peer.isEmpty());
        QCOMPARE(backend.status(), Status::Connected);
    }

    // Each failure is news, even the same one twice; a status the client does not know
    // reads as disconnected.
    void everyFailureIsReported()
    {
        FakeServiceDaemon daemon;
        daemon.setReply("connect", FakeServiceDaemon::failReply("error", "Сбой"));
        daemon.setReply("status", FakeServiceDaemon::okReply("Connected"));
        MacVpnServiceClientBackend backend;
        QSignalSpy errors(&backend, &PlatformVpnBackend::errorOccurred);
        backend.connectVpn(sampleConfig());
        backend.connectVpn(sampleConfig());
        QCOMPARE(errors.count(), 2);
        QVERIFY(backend.refreshStatus(nullptr));
        QCOMPARE(backend.status(), Status::Disconnected);
    }

    void unreachableDaemon()
    {
        FakeServiceDaemon daemon;
        daemon.stop();
        MacVpnServiceClientBackend backend;

        // No socket file: the daemon is not running, said so, and no talk of sudo.
        const QString path = qEnvironmentVariable("TARVEX_SERVICE_SOCKET");
        backend.connectVpn(sampleConfig());
        QCOMPARE(backend.status(), Status::Error);
        QCOMPARE(backend.lastError(), Unavailable + "сервис не запущен: сокета " + path + " нет");

        QVERIFY(makeStaleSocket(path));
        backend.disconnectVpn();
        QCOMPARE(backend.lastError(),
                 Unavailable + "socket сервиса есть, но сервис не запущен. Перезапустите сервис "
                               "через sudo");
    }

    // Each ends at once with a reason a person understands; only the silent daemon is
    // waited for (here 0.3 s instead of a minute).
    void brokenReplies_data()
    {
        QTest::addColumn<FakeServiceDaemon::Answer>("answer");
        QTest::addColumn<QString>("transportError");

        using Answer = FakeServiceDaemon::Answer;
        const QString unreadable = QStringLiteral("ответ сервиса не удалось прочитать");
        QTest::newRow("silent daemon")
            << Answer{Answer::Silent, {}} << "сервис не ответил за 0.3 с";
        QTest::newRow("closed without reply")
            << Answer{Answer::Reply, {}} << "сервис закрыл соединение, не ответив на запрос";
        QTest::newRow("closed mid-reply")
            << Answer{Answer::InPieces, "{\"ok\":true,\"status\":\"connected\""}
            << "сервис закрыл соединение, не ответив на запрос";
        QTest::newRow("not JSON") << Answer{Answer::Reply, "ok\n"} << unreadable;
        QTest::newRow("not an object") << Answer{Answer::Reply, "[true]\n"} << unreadable;
    }

    void brokenReplies()
    {
        QFETCH(FakeServiceDaemon::Answer, answer);
        QFETCH(QString, transportError);

        FakeServiceDaemon daemon;
        daemon.setAnswer(QStringLiteral("connect"), answer);
        std::unique_ptr<MacVpnServiceClientBackend> backend =
            answer.kind == FakeServiceDaemon::Answer::Silent
                ? std::make_unique<QuickBackend>()
                : std::make_unique<MacVpnServiceClientBackend>();
        QElapsedTimer timer;
        timer.start();
        backend->connectVpn(sampleConfig());

        QCOMPARE(backend->status(), Status::Error);
        QCOMPARE(backend->lastError(), Unavailable + transportError);
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
    }

    void logsNeverCarryKeys()
    {
        FakeServiceDaemon daemon;
        QVariantMap peer = samplePeer();
        const QString vpnUrl = VpnConfigFixture::encode(
            VpnConfigFixture::awgDocument(VpnConfigFixture::sampleLastConfig()));
        peer.insert(QStringLiteral("config"), vpnUrl);
        // The reply echoes the peer, so both directions are logged with the secrets in.
        daemon.setReply("connect",
                        FakeServiceDaemon::okReply("connected", QJsonObject::fromVariantMap(peer)));

        static QStringList messages;
        messages.clear();
        const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext &,
                                      const QString &message) { messages.append(message); });
        MacVpnServiceClientBackend backend;
        backend.connectVpn(sampleConfig(), peer);
        qInstallMessageHandler(previous);

        QCOMPARE(backend.status(), Status::Connected);
        const QString log = messages.join(QLatin1Char('\n'));
        QVERIFY(!log.contains(
            VpnConfigFixture::sampleLastConfig().value("client_priv_key").toString()));
        QVERIFY(!log.contains(vpnUrl.mid(6, 40)));
    }

    // How the client tells, at start, whether the daemon is the one it came with.
    void daemonVersion_data()
    {
        QTest::addColumn<bool>("running");
        QTest::addColumn<FakeServiceDaemon::Answer>("answer");
        QTest::addColumn<DaemonVersionCheck::Verdict>("verdict");

        using Answer = FakeServiceDaemon::Answer;
        using Verdict = DaemonVersionCheck::Verdict;
        const auto version = [](const QString &version) {
            QJsonObject reply = FakeServiceDaemon::okReply("connected");
            reply.insert("version", version);
            return FakeServiceDaemon::reply(reply);
        };
        QTest::newRow("same version") << true << version("1.4.0") << Verdict::Current;
        QTest::newRow("other version") << true << version("1.3.9") << Verdict::Outdated;
        QTest::newRow("daemon older than the request")
            << true
            << FakeServiceDaemon::reply(
                   FakeServiceDaemon::failReply("connected", "unknown command"))
            << Verdict::Outdated;
        QTest::newRow("busy daemon") << true << Answer{Answer::Silent, {}} << Verdict::NotRunning;
        QTest::newRow("no daemon") << false << Answer{} << Verdict::NotRunning;
    }

    void daemonVersion()
    {
        QFETCH(bool, running);
        QFETCH(FakeServiceDaemon::Answer, answer);
        QFETCH(DaemonVersionCheck::Verdict, verdict);

        FakeServiceDaemon daemon;
        daemon.setAnswer("version", answer);
        if (!running)
            daemon.stop();
        QCOMPARE(DaemonVersionCheck::check(QuickBackend(), "1.4.0"), verdict);
    }
};

QTEST_GUILESS_MAIN(TestMacVpnServiceClientBackend)
#include "tst_macvpnserviceclientbackend.moc"
