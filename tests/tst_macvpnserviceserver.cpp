#include "macvpnserviceserver.h"
#include "tarvexconfig.h"
#include "vpnserviceprotocol.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <functional>
#include <memory>
#include <thread>

namespace {

// A backend that does no tunnel work. A test can hook into a connect to run the event loop
// there, as the real backend does while it waits for the tunnel interface; qWait also runs
// deferred deletions, so a socket the server deleted too early crashes the test.
class FakeBackend : public PlatformVpnBackend
{
public:
    using PlatformVpnBackend::setStatus;
    void connectVpn(const ParsedVpnConfig &config) override { connectVpn(config, {}); }
    void connectVpn(const ParsedVpnConfig &, const QVariantMap &peer) override
    {
        ++connects;
        lastPeer = peer;
        setError(QString());
        setStatus(Connecting);
        if (whileConnecting)
            whileConnecting();
        failWith.isEmpty() ? setStatus(Connected) : setError(failWith);
    }
    void disconnectVpn() override { setStatus(Disconnected); }

    QString failWith; // a connect fails with this text when it is not empty
    std::function<void()> whileConnecting;
    int connects = 0;
    QVariantMap lastPeer;
};

QByteArray request(const QString &command, const QJsonObject &peer = {})
{
    QJsonObject request{{"command", command}};
    if (!peer.isEmpty())
        request.insert("peer", peer);
    return VpnServiceProtocol::encodeMessage(request);
}

QJsonObject reply(const QString &status, const QString &error = {}, const QJsonObject &peer = {})
{
    QJsonObject reply{{"ok", error.isEmpty()}, {"status", status}, {"error", error}};
    if (!peer.isEmpty())
        reply.insert("peer", peer);
    return reply;
}

QJsonObject peer(int id)
{
    return {{"id", id}, {"name", "Нидерланды"}};
}

// The one reply a client got, once the server has closed the connection.
QJsonObject onlyReply(QLocalSocket *socket)
{
    const bool closed = QTest::qWaitFor(
        [socket] { return socket->state() == QLocalSocket::UnconnectedState; }, 5000);
    const QList<QByteArray> lines = socket->readAll().split('\n');
    return closed && lines.size() == 2 ? QJsonDocument::fromJson(lines.first()).object()
                                       : QJsonObject();
}

} // namespace

class TestMacVpnServiceServer : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString path;
    FakeBackend *fake = nullptr;
    std::unique_ptr<MacVpnServiceServer> server;

    std::unique_ptr<QLocalSocket> send(const QByteArray &bytes)
    {
        auto socket = std::make_unique<QLocalSocket>();
        socket->connectToServer(path);
        if (socket->waitForConnected(3000) && !bytes.isEmpty()) {
            socket->write(bytes);
            socket->waitForBytesWritten(3000);
        }
        return socket;
    }

    QJsonObject exchange(const QByteArray &bytes) { return onlyReply(send(bytes).get()); }

private slots:
    void init()
    {
        static int serial = 0;
        QVERIFY(dir.isValid());
        path = dir.filePath(QStringLiteral("service-%1.sock").arg(++serial));
        qputenv("TARVEX_SERVICE_SOCKET", path.toUtf8());
        auto backend = std::make_unique<FakeBackend>();
        fake = backend.get();
        server = std::make_unique<MacVpnServiceServer>(std::move(backend));
        QVERIFY(server->start());
    }

    void singleRequests_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QJsonObject>("expected");

        // A status request padded with JSON white space to the given length.
        const auto padded = [](int length) {
            return "{\"command\":\"status\"" + QByteArray(length - 20, ' ') + '}';
        };
        const QJsonObject tooLarge = reply("disconnected", "Запрос к службе VPN слишком большой");

        QTest::newRow("unknown command")
            << request("reboot") << reply("disconnected", "unknown command");
        // Valid JSON that is no object; the parser has no complaint to pass on. (A parse
        // error fails the same object check.)
        QTest::newRow("json array") << QByteArray("[\"status\"]\n")
                                    << reply("disconnected", QJsonParseError{}.errorString());
        QTest::newRow("only the first request of a connection")
            << request("status") + request("connect") + request("disconnect")
            << reply("disconnected");
        QTest::newRow("exactly the size limit") << padded(1024) + '\n' << reply("disconnected");
        QTest::newRow("one byte over") << padded(1025) + '\n' << tooLarge;
        QTest::newRow("over the limit, line still open") << padded(4096) << tooLarge;
        QTest::newRow("line never finished")
            << QByteArray("{\"command\":\"sta")
            << reply("disconnected", "Запрос к службе VPN не получен вовремя");
    }

    void singleRequests()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QJsonObject, expected);
        server->setMaxRequestBytes(1024);
        server->setRequestTimeoutMs(200);
        // In two pieces: the server keeps what came until the line is complete.
        const auto socket = send(bytes.left(8));
        QTest::qWait(50);
        socket->write(bytes.mid(8));
        QCOMPARE(onlyReply(socket.get()), expected);
    }

    // Connections beyond the limit are answered "busy" and closed at once; those held never
    // stop the next client once they are gone. One user's share and the bytes of unfinished
    // requests are e2e_attacks' floods.
    void connectionLimit()
    {
        server->setConnectionLimits(2, 10);
        std::unique_ptr<QLocalSocket> held[] = {send({}), send({})};
        QTest::qWait(100); // both accepted
        QCOMPARE(exchange(request("status")),
                 reply("disconnected", "Служба VPN перегружена: слишком много одновременных "
                                       "запросов. Повторите позже"));

        held[0]->abort();
        QTest::qWait(50); // the server sees it go
        QCOMPARE(exchange(request("status")), reply("disconnected"));
    }

    void peerIsReportedOnlyWhileConnected()
    {
        QCOMPARE(exchange(request("connect", peer(1))), reply("connected", {}, peer(1)));
        QCOMPARE(fake->lastPeer, peer(1).toVariantMap());
        // The version goes to whoever asks and carries nothing else.
        QCOMPARE(exchange(request("version")),
                 QJsonObject({{"ok", true}, {"version", Tarvex::Version}}));

        // A failed connect reports no peer but keeps the one of the connection before it.
        fake->failWith = QStringLiteral("Не найден amneziawg-go рядом с приложением");
        QCOMPARE(exchange(request("connect", peer(2))), reply("error", fake->failWith));
        fake->failWith.clear();
        fake->setStatus(PlatformVpnBackend::Connected);
        QCOMPARE(exchange(request("status")).value("peer").toObject(), peer(1));

        QCOMPARE(exchange(request("connect")), reply("connected"));

        exchange(request("connect", peer(3)));
        QCOMPARE(exchange(request("disconnect")), reply("disconnected"));
        fake->setStatus(PlatformVpnBackend::Connected);
        QCOMPARE(exchange(request("status")), reply("connected"));
    }

    // A connect lets the event loop run while it waits for the tunnel: status is answered
    // meanwhile, tunnel changes are refused, and the client that asked may even leave.
    void requestsDuringAConnect()
    {
        const auto client = send(request("connect", peer(3)));
        QList<QJsonObject> during;
        fake->whileConnecting = [&] {
            for (const QByteArray &bytes :
                 {request("status"), request("connect", peer(9)), request("disconnect")})
                during.append(exchange(bytes));
            client->abort();
            QTest::qWait(100);
        };
        QTRY_COMPARE(during.size(), 3);
        const QJsonObject busy = reply("connecting", "Служба VPN занята: идёт подключение. "
                                                     "Повторите запрос после его завершения");
        QCOMPARE(during, QList<QJsonObject>({reply("connecting"), busy, busy}));
        QCOMPARE(fake->connects, 1);
        QCOMPARE(exchange(request("status")), reply("connected", {}, peer(3)));
    }

    void runningServerIsTakenOver()
    {
        fake->setStatus(PlatformVpnBackend::Connected);
        MacVpnServiceServer second(std::make_unique<FakeBackend>());
        QVERIFY(second.start());
        QCOMPARE(exchange(request("status")), reply("disconnected"));
    }

    // The real daemon binary, never asked to connect: that would reach for the system's
    // network settings. That it answers, and SIGTERM, are the sandbox's scenarios
    // (e2e_tunnel).
    void daemonExitsCleanly_data()
    {
        QTest::addColumn<QString>("socketName");
        QTest::addColumn<int>("signalNumber"); // 0: none sent
        QTest::addColumn<int>("exitCode");
        QTest::newRow("SIGINT") << "int.sock" << int(SIGINT) << 0;
        QTest::newRow("cannot listen") << "missing-folder/daemon.sock" << 0 << 1;
    }

    void daemonExitsCleanly()
    {
        QFETCH(QString, socketName);
        QFETCH(int, signalNumber);
        QFETCH(int, exitCode);
        const QString socketPath = dir.filePath(socketName);
        qputenv("TARVEX_SERVICE_SOCKET", QFile::encodeName(socketPath));
        qunsetenv("TARVEX_SANDBOX");
        QProcess daemon;
        daemon.setProcessChannelMode(QProcess::MergedChannels);
        daemon.start(QStringLiteral(TARVEX_SERVICE_BINARY), {});

        // The signal handlers are in place before the socket is made.
        if (signalNumber) {
            QVERIFY(QTest::qWaitFor([&] { return QFile::exists(socketPath); }, 10000));
            ::kill(pid_t(daemon.processId()), signalNumber);
        }
        QVERIFY(daemon.waitForFinished(10000));
        QVERIFY2(daemon.exitStatus() == QProcess::NormalExit && daemon.exitCode() == exitCode,
                 daemon.readAll().constData());
        // The server was destroyed, and with it the socket file.
        QVERIFY(!QFile::exists(socketPath));
    }

    // A message as it travels between client and daemon: one JSON object on one line, read
    // off the socket however the bytes arrive, and the configuration it carries.
    void readMessage_data()
    {
        QTest::addColumn<QByteArrayList>("pieces");
        QTest::addColumn<QString>("error"); // empty: the message is read

        QTest::newRow("pieces; bytes after the line feed dropped")
            << QByteArrayList{"{\"command\":", "\"sta", "tus\"}\n{\"command\":\"disconnect\"}\n"}
            << QString();
        // Valid JSON that is no object: the parser had nothing to complain of. (Broken JSON
        // and a time-out after waiting are tst_clientcore's replies rows "not JSON" and
        // "silent daemon".)
        QTest::newRow("json array") << QByteArrayList{"[1,2]\n"} << QJsonParseError{}.errorString();
        // Run with no time at all: the time is up before a line already waiting is read.
        QTest::newRow("zero time-out") << QByteArrayList{"{\"ok\":true}\n"} << "timeout";
        QTest::newRow("peer closes without a line feed")
            << QByteArrayList{"{\"ok\":true}"} << "connection closed";
    }

    void readMessage()
    {
        QFETCH(QByteArrayList, pieces);
        QFETCH(QString, error);

        // The writer runs on a plain thread so that this one can block inside readMessage while
        // the pieces trickle in; it closes its end once it has written them all.
        QTemporaryDir dir;
        QLocalServer server;
        QVERIFY(server.listen(dir.filePath(QStringLiteral("s.sock"))));
        std::thread writer([&] {
            QLocalSocket client;
            client.connectToServer(server.fullServerName());
            for (qsizetype i = 0; i < pieces.size() && client.waitForConnected(3000); ++i) {
                QThread::msleep(i > 0 ? 150 : 0);
                client.write(pieces.at(i));
                client.waitForBytesWritten(3000);
            }
        });
        const auto joinWriter = qScopeGuard([&] { writer.join(); });
        QVERIFY(server.waitForNewConnection(3000));
        QLocalSocket *reader = server.nextPendingConnection();
        const int timeoutMs = error == QLatin1String("timeout") ? 0 : 3000;
        if (timeoutMs == 0)
            QVERIFY(reader->waitForReadyRead(3000) || reader->bytesAvailable() > 0);

        QJsonObject message{{"untouched", true}};
        QString readError;
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(VpnServiceProtocol::readMessage(reader, &message, &readError, timeoutMs),
                 error.isEmpty());
        QCOMPARE(readError, error);
        QCOMPARE(message, error.isEmpty() ? QJsonObject({{"command", "status"}})
                                          : QJsonObject({{"untouched", true}}));
        // A closed peer ends the wait as soon as it is gone, long before the time-out.
        if (error == QLatin1String("connection closed"))
            QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    }

    void configTravelsAsJson()
    {
        const QByteArray text = R"({"rawConfig": {"containers": [1, 2]},
            "defaultContainer": "amnezia-awg", "container": "amnezia-awg2", "protocolName": "awg",
            "protocolConfig": {"last_config": "{}"}, "lastConfigRaw": "mtu = 1376",
            "lastConfig": {"mtu": "1376"}, "hostName": "vpn.example.net",
            "dns1": "1.1.1.1", "dns2": "Ж"})";
        const QJsonObject json = QJsonDocument::fromJson(text).object();
        QCOMPARE(
            VpnServiceProtocol::parsedConfigToJson(VpnServiceProtocol::parsedConfigFromJson(json)),
            json);

        // A value of the wrong type reads as empty.
        QJsonObject wrongTypes;
        for (auto it = json.begin(); it != json.end(); ++it)
            wrongTypes.insert(it.key(), it->isString() ? QJsonValue(QJsonArray{1}) : "{\"a\":1}");
        QCOMPARE(VpnServiceProtocol::parsedConfigToJson(
                     VpnServiceProtocol::parsedConfigFromJson(wrongTypes)),
                 VpnServiceProtocol::parsedConfigToJson(ParsedVpnConfig()));
    }
};

QTEST_GUILESS_MAIN(TestMacVpnServiceServer)
#include "tst_macvpnserviceserver.moc"
