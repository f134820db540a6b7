#include "macvpnserviceserver.h"
#include "vpnconfigfixture.h"
#include "vpnconfigparser.h"
#include "vpnserviceprotocol.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <functional>
#include <memory>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// A backend that does no tunnel work. A connect can be made to run the event loop for a
// while, as the real one does while it waits for the tunnel interface.
class FakeBackend : public PlatformVpnBackend
{
public:
    Status status() const override { return currentStatus; }
    QString lastError() const override { return errorText; }
    void connectVpn(const ParsedVpnConfig &config) override { connectVpn(config, QVariantMap()); }

    void connectVpn(const ParsedVpnConfig &config, const QVariantMap &peer) override
    {
        ++connects;
        lastConfig = config;
        lastPeer = peer;
        errorText.clear();
        currentStatus = Connecting;

        insideConnect = true;
        if (whileConnecting)
            whileConnecting();
        QElapsedTimer timer;
        timer.start();
        while (spinUntil && !spinUntil() && timer.elapsed() < 5000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
            QThread::msleep(2);
        }
        insideConnect = false;

        if (failWith.isEmpty()) {
            currentStatus = Connected;
        } else {
            currentStatus = Error;
            errorText = failWith;
        }
    }

    void disconnectVpn() override
    {
        ++disconnects;
        errorText.clear();
        currentStatus = Disconnected;
    }

    Status currentStatus = Disconnected;
    QString errorText;
    QString failWith; // a connect fails with this text when it is not empty
    std::function<void()> whileConnecting;
    std::function<bool()> spinUntil;
    bool insideConnect = false;
    int connects = 0;
    int disconnects = 0;
    ParsedVpnConfig lastConfig;
    QVariantMap lastPeer;
};

QByteArray line(const QJsonObject &request)
{
    return VpnServiceProtocol::encodeMessage(request);
}

QByteArray statusLine()
{
    return line({{"command", "status"}});
}

QByteArray connectLine(const QJsonObject &peer = {}, const QString &host = "198.51.100.10")
{
    ParsedVpnConfig config;
    config.hostName = host;
    config.dns1 = "1.1.1.1";
    QJsonObject request{{"command", "connect"},
                        {"config", VpnServiceProtocol::parsedConfigToJson(config)}};
    if (!peer.isEmpty())
        request.insert("peer", peer);
    return line(request);
}

QJsonObject peer(int id)
{
    return {{"id", id}, {"name", QStringLiteral("Нидерланды %1").arg(id)}, {"protocol", "awg"}};
}

bool waitUntilClosed(QLocalSocket *socket, int timeoutMs = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (socket->state() != QLocalSocket::UnconnectedState && timer.elapsed() < timeoutMs)
        QTest::qWait(5);
    return socket->state() == QLocalSocket::UnconnectedState;
}

// The reply lines a client received; the server closes after the first.
QList<QJsonObject> replies(QLocalSocket *socket)
{
    QList<QJsonObject> objects;
    const QList<QByteArray> lines = socket->readAll().split('\n');
    for (const QByteArray &text : lines) {
        if (!text.isEmpty())
            objects.append(QJsonDocument::fromJson(text).object());
    }
    return objects;
}

// Collects the service's log lines while it lives.
class ServiceLog
{
public:
    ServiceLog()
    {
        active = this;
        previous = qInstallMessageHandler(&ServiceLog::handle);
    }
    ~ServiceLog()
    {
        qInstallMessageHandler(previous);
        active = nullptr;
    }

    QStringList lines;

private:
    static void handle(QtMsgType, const QMessageLogContext &context, const QString &message)
    {
        if (active && qstrcmp(context.category, "tarvex.service") == 0)
            active->lines.append(message);
    }

    static inline ServiceLog *active = nullptr;
    QtMessageHandler previous = nullptr;
};

} // namespace

class TestMacVpnServiceServer : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString path;
    FakeBackend *fake = nullptr;
    std::unique_ptr<MacVpnServiceServer> server;

    // A client that has sent its bytes; the caller waits for the reply.
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

    // One whole exchange: the single reply, after the server closed the connection.
    QJsonObject exchange(const QByteArray &bytes)
    {
        const auto socket = send(bytes);
        if (!waitUntilClosed(socket.get()))
            return {{"test", "the server did not close the connection"}};
        const QList<QJsonObject> received = replies(socket.get());
        if (received.size() != 1)
            return {{"test", QStringLiteral("%1 replies").arg(received.size())}};
        return received.first();
    }

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }

    void init()
    {
        static int serial = 0;
        path = dir.filePath(QStringLiteral("service-%1.sock").arg(++serial));
        qputenv("TARVEX_SERVICE_SOCKET", path.toUtf8());
        auto backend = std::make_unique<FakeBackend>();
        fake = backend.get();
        server = std::make_unique<MacVpnServiceServer>(std::move(backend));
        QVERIFY(server->start());
    }

    void cleanup()
    {
        server.reset();
        fake = nullptr;
    }

    void statusWhenIdle()
    {
        const QJsonObject reply = exchange(statusLine());
        QCOMPARE(reply, QJsonObject({{"ok", true}, {"status", "disconnected"}, {"error", ""}}));
    }

    void requestsThatAreRefused_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QString>("error");

        const auto parserText = [](const QByteArray &text) {
            QJsonParseError error;
            QJsonDocument::fromJson(text, &error);
            return error.errorString();
        };
        QTest::newRow("unknown command")
            << QByteArray("{\"command\":\"reboot\"}\n") << "unknown command";
        QTest::newRow("missing command") << QByteArray("{\"peer\":{}}\n") << "unknown command";
        QTest::newRow("command not a string")
            << QByteArray("{\"command\":1}\n") << "unknown command";
        QTest::newRow("commands are case-sensitive")
            << QByteArray("{\"command\":\"Status\"}\n") << "unknown command";
        QTest::newRow("truncated json")
            << QByteArray("{\"command\":\n") << parserText("{\"command\":");
        QTest::newRow("json array") << QByteArray("[\"status\"]\n") << parserText("[\"status\"]");
        QTest::newRow("empty line") << QByteArray("\n") << parserText("");
        QTest::newRow("not json") << QByteArray("status\n") << parserText("status");
    }

    void requestsThatAreRefused()
    {
        QFETCH(QByteArray, request);
        QFETCH(QString, error);
        QVERIFY(!error.isEmpty());
        const QJsonObject reply = exchange(request);
        QCOMPARE(reply, QJsonObject({{"ok", false}, {"status", "disconnected"}, {"error", error}}));
        QCOMPARE(fake->connects + fake->disconnects, 0);
    }

    void connectPassesConfigAndPeerAndReportsThePeer()
    {
        QJsonObject connected = exchange(connectLine(peer(7), "203.0.113.5"));
        QCOMPARE(
            connected,
            QJsonObject({{"ok", true}, {"status", "connected"}, {"error", ""}, {"peer", peer(7)}}));
        QCOMPARE(fake->connects, 1);
        QCOMPARE(fake->lastConfig.hostName, QStringLiteral("203.0.113.5"));
        QCOMPARE(fake->lastConfig.dns1, QStringLiteral("1.1.1.1"));
        QCOMPARE(fake->lastPeer, peer(7).toVariantMap());

        QCOMPARE(exchange(statusLine()).value("peer").toObject(), peer(7));
    }

    void connectWithoutPeerReportsNoPeer()
    {
        QCOMPARE(exchange(connectLine()),
                 QJsonObject({{"ok", true}, {"status", "connected"}, {"error", ""}}));
        QVERIFY(fake->lastPeer.isEmpty());
        QVERIFY(!exchange(statusLine()).contains("peer"));
    }

    void disconnectForgetsThePeer()
    {
        exchange(connectLine(peer(1)));
        QCOMPARE(exchange(line({{"command", "disconnect"}})),
                 QJsonObject({{"ok", true}, {"status", "disconnected"}, {"error", ""}}));
        QCOMPARE(fake->disconnects, 1);

        // Even a backend that reports Connected again has no peer to show.
        fake->currentStatus = PlatformVpnBackend::Connected;
        QVERIFY(!exchange(statusLine()).contains("peer"));
    }

    void failedConnectKeepsTheEarlierPeerUnreported()
    {
        exchange(connectLine(peer(1)));
        fake->failWith = QStringLiteral("Не найден amneziawg-go рядом с приложением");
        QCOMPARE(exchange(connectLine(peer(2))),
                 QJsonObject({{"ok", false}, {"status", "error"}, {"error", fake->failWith}}));
        const QJsonObject status = exchange(statusLine());
        QCOMPARE(status.value("status").toString(), QStringLiteral("error"));
        QCOMPARE(status.value("error").toString(), fake->failWith);
        QVERIFY(!status.contains("peer"));

        fake->currentStatus = PlatformVpnBackend::Connected;
        QCOMPARE(exchange(statusLine()).value("peer").toObject(), peer(1));
    }

    void onlyTheFirstRequestOfAConnectionIsAnswered()
    {
        const auto socket = send(statusLine() + connectLine() + statusLine());
        QVERIFY(waitUntilClosed(socket.get()));
        const QList<QJsonObject> received = replies(socket.get());
        QCOMPARE(received.size(), 1);
        QCOMPARE(received.first().value("status").toString(), QStringLiteral("disconnected"));
        QCOMPARE(fake->connects, 0);
    }

    void requestInPiecesIsAnsweredAtItsLineFeed()
    {
        server->setRequestTimeoutMs(1000); // slow, but complete in time
        const QByteArray request = statusLine();
        const auto socket = send(request.left(5));
        QTest::qWait(100);
        socket->write(request.mid(5, 8));
        QTest::qWait(100);
        QCOMPARE(socket->state(), QLocalSocket::ConnectedState);
        QCOMPARE(socket->bytesAvailable(), 0);

        socket->write(request.mid(13));
        QVERIFY(waitUntilClosed(socket.get()));
        const QList<QJsonObject> received = replies(socket.get());
        QCOMPARE(received.size(), 1);
        QCOMPARE(received.first().value("ok"), QJsonValue(true));
    }

    void statusDuringConnectIsAnsweredAtOnce()
    {
        std::unique_ptr<QLocalSocket> statusClient;
        bool answeredInsideConnect = false;
        fake->whileConnecting = [&] {
            statusClient = send(statusLine());
            connect(statusClient.get(), &QLocalSocket::disconnected, this,
                    [&] { answeredInsideConnect = fake->insideConnect; });
        };
        fake->spinUntil = [&] {
            return statusClient->state() == QLocalSocket::UnconnectedState;
        };

        QCOMPARE(exchange(connectLine(peer(3))).value("status").toString(),
                 QStringLiteral("connected"));
        QVERIFY(answeredInsideConnect);
        const QList<QJsonObject> received = replies(statusClient.get());
        QCOMPARE(received.size(), 1);
        QCOMPARE(received.first(),
                 QJsonObject({{"ok", true}, {"status", "connecting"}, {"error", ""}}));
    }

    void connectAndDisconnectDuringConnectAreRefused()
    {
        std::unique_ptr<QLocalSocket> secondConnect;
        std::unique_ptr<QLocalSocket> disconnect;
        fake->whileConnecting = [&] {
            secondConnect = send(connectLine(peer(9)));
            disconnect = send(line({{"command", "disconnect"}}));
        };
        fake->spinUntil = [&] {
            return secondConnect->state() == QLocalSocket::UnconnectedState &&
                   disconnect->state() == QLocalSocket::UnconnectedState;
        };

        QCOMPARE(
            exchange(connectLine(peer(3))),
            QJsonObject({{"ok", true}, {"status", "connected"}, {"error", ""}, {"peer", peer(3)}}));
        for (QLocalSocket *client : {secondConnect.get(), disconnect.get()}) {
            const QList<QJsonObject> received = replies(client);
            QCOMPARE(received.size(), 1);
            QCOMPARE(received.first().value("ok"), QJsonValue(false));
            QCOMPARE(received.first().value("status").toString(), QStringLiteral("connecting"));
            QVERIFY(received.first().value("error").toString().contains(
                QStringLiteral("идёт подключение")));
        }
        QCOMPARE(fake->connects, 1);
        QCOMPARE(fake->disconnects, 0);
        QCOMPARE(fake->lastPeer, peer(3).toVariantMap());

        // Once the connect is over, both work again.
        fake->whileConnecting = nullptr;
        fake->spinUntil = nullptr;
        QCOMPARE(exchange(line({{"command", "disconnect"}})).value("ok"), QJsonValue(true));
        QCOMPARE(exchange(connectLine(peer(9))).value("ok"), QJsonValue(true));
    }

    void moreBytesDuringItsOwnConnectAreIgnored()
    {
        std::unique_ptr<QLocalSocket> client = send(connectLine(peer(4)));
        fake->whileConnecting = [&] {
            client->write(statusLine() + line({{"command", "disconnect"}}));
            client->waitForBytesWritten(3000);
        };
        QElapsedTimer spin;
        fake->spinUntil = [&] {
            if (!spin.isValid())
                spin.start();
            return spin.elapsed() > 300;
        };

        QVERIFY(waitUntilClosed(client.get()));
        const QList<QJsonObject> received = replies(client.get());
        QCOMPARE(received.size(), 1);
        QCOMPARE(received.first().value("status").toString(), QStringLiteral("connected"));
        QCOMPARE(fake->disconnects, 0);
    }

    void clientLeavingDuringConnectIsSurvived()
    {
        std::unique_ptr<QLocalSocket> client = send(connectLine(peer(5)));
        fake->whileConnecting = [&] {
            client->abort();
        };
        QElapsedTimer spin;
        fake->spinUntil = [&] {
            if (!spin.isValid())
                spin.start();
            return spin.elapsed() > 300;
        };

        ServiceLog log;
        QTRY_COMPARE(fake->connects, 1);
        QTRY_VERIFY(log.lines.contains("[MacVpnServiceServer] client left before the response"));
        QCOMPARE(exchange(statusLine()).value("peer").toObject(), peer(5));
    }

    void requestSizeIsBounded_data()
    {
        QTest::addColumn<int>("lineLength");
        QTest::addColumn<bool>("lineFeed");
        QTest::addColumn<bool>("answered");

        QTest::newRow("exactly the limit") << 1024 << true << true;
        QTest::newRow("one byte over") << 1025 << true << false;
        QTest::newRow("over the limit without a line feed yet") << 4096 << false << false;
    }

    void requestSizeIsBounded()
    {
        QFETCH(int, lineLength);
        QFETCH(bool, lineFeed);
        QFETCH(bool, answered);
        server->setMaxRequestBytes(1024);

        // A status request padded with JSON white space to the wanted length.
        const QByteArray request = statusLine().trimmed();
        QByteArray bytes =
            request.left(request.size() - 1) + QByteArray(lineLength - request.size(), ' ') + '}';
        QCOMPARE(bytes.size(), lineLength);
        if (lineFeed)
            bytes += '\n';

        QElapsedTimer timer;
        timer.start();
        const QJsonObject reply = exchange(bytes);
        QVERIFY(timer.elapsed() < 3000); // refused on arrival, not at the time limit
        QCOMPARE(reply.value("ok").toBool(), answered);
        QCOMPARE(reply.value("status").toString(), QStringLiteral("disconnected"));
        if (!answered)
            QVERIFY(reply.value("error").toString().contains(QStringLiteral("слишком большой")));
    }

    void idleConnectionsAreClosed_data()
    {
        QTest::addColumn<QByteArray>("bytes");

        QTest::newRow("nothing sent") << QByteArray();
        QTest::newRow("line never finished") << QByteArray("{\"command\":\"sta");
    }

    void idleConnectionsAreClosed()
    {
        QFETCH(QByteArray, bytes);
        server->setRequestTimeoutMs(200);

        QElapsedTimer timer;
        timer.start();
        const QJsonObject reply = exchange(bytes);
        const qint64 elapsed = timer.elapsed();
        QVERIFY2(elapsed >= 190 && elapsed < 3000, qPrintable(QString::number(elapsed)));
        QCOMPARE(reply.value("ok"), QJsonValue(false));
        QVERIFY(reply.value("error").toString().contains(QStringLiteral("не получен вовремя")));
    }

    void leftoverSocketFileIsReplacedWithMode0666_data()
    {
        QTest::addColumn<bool>("socketFile");

        QTest::newRow("socket of a crashed daemon") << true;
        QTest::newRow("plain file") << false;
    }

    void leftoverSocketFileIsReplacedWithMode0666()
    {
        QFETCH(bool, socketFile);
        server.reset();
        QVERIFY(!QFile::exists(path));

        if (socketFile) {
            // Bound and never listened on: what a killed daemon leaves behind.
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address = {};
            address.sun_family = AF_UNIX;
            qstrncpy(address.sun_path, QFile::encodeName(path).constData(),
                     sizeof(address.sun_path));
            QCOMPARE(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)), 0);
            ::close(fd);
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0600) == 0);

        auto backend = std::make_unique<FakeBackend>();
        fake = backend.get();
        server = std::make_unique<MacVpnServiceServer>(std::move(backend));
        QVERIFY(server->start());

        struct stat info = {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
        QVERIFY(S_ISSOCK(info.st_mode));
        QCOMPARE(info.st_mode & 07777, mode_t(0666));
        QCOMPARE(exchange(statusLine()).value("ok"), QJsonValue(true));
    }

    void secondServerTakesThePathOver()
    {
        fake->currentStatus = PlatformVpnBackend::Error;
        auto backend = std::make_unique<FakeBackend>();
        MacVpnServiceServer second(std::move(backend));
        QVERIFY(second.start());
        QCOMPARE(exchange(statusLine()).value("status").toString(), QStringLiteral("disconnected"));
    }

    void pathThatCannotBeTakenFailsToStart()
    {
        server.reset();
        QVERIFY(QDir().mkpath(path + "/occupied"));

        ServiceLog log;
        MacVpnServiceServer blocked(std::make_unique<FakeBackend>());
        QVERIFY(!blocked.start());
        QCOMPARE(log.lines.size(), 2);
        QVERIFY2(
            log.lines.at(0).startsWith("[MacVpnServiceServer] stale socket detected \"" + path),
            qPrintable(log.lines.at(0)));
        QVERIFY2(log.lines.at(1).startsWith("[MacVpnServiceServer] listen failed \"" + path),
                 qPrintable(log.lines.at(1)));
        QDir(path).removeRecursively();
    }

    void secretsStayOutOfTheLogButReachTheBackend()
    {
        QJsonObject lastConfig = VpnConfigFixture::sampleLastConfig();
        const QString privateKey = lastConfig.value("client_priv_key").toString();
        const QString presharedKey = lastConfig.value("psk_key").toString();
        lastConfig.insert("config", "[Interface]\nPrivateKey = " + privateKey +
                                        "\n[Peer]\nPresharedKey = " + presharedKey + "\n");
        const QString vpnUrl = VpnConfigFixture::encode(VpnConfigFixture::awgDocument(lastConfig));
        const VpnConfigParseResult parsed = VpnConfigParser::parseConfig(vpnUrl);
        QVERIFY(parsed.ok);
        const QJsonObject peerWithConfig{{"id", 11}, {"config", vpnUrl}};
        const QJsonObject request{{"command", "connect"},
                                  {"config", VpnServiceProtocol::parsedConfigToJson(parsed.config)},
                                  {"peer", peerWithConfig}};

        ServiceLog log;
        const QJsonObject reply = exchange(line(request));
        QCOMPARE(reply.value("peer").toObject(), peerWithConfig);
        QCOMPARE(fake->lastConfig.lastConfig.value("client_priv_key").toString(), privateKey);
        QCOMPARE(fake->lastConfig.lastConfigRaw, parsed.config.lastConfigRaw);

        const QString requestLine =
            log.lines.filter(QStringLiteral("[MacVpnServiceServer] request =")).value(0);
        const QString responseLine =
            log.lines.filter(QStringLiteral("[MacVpnServiceServer] response =")).value(0);
        QVERIFY(requestLine.contains(QStringLiteral("198.51.100.10")));
        QVERIFY(responseLine.contains(QStringLiteral("\\\"id\\\":11")));
        for (const QString &logged : {requestLine, responseLine}) {
            QVERIFY(!logged.isEmpty());
            QVERIFY2(!logged.contains(privateKey), qPrintable(logged));
            QVERIFY2(!logged.contains(presharedKey), qPrintable(logged));
            QVERIFY2(!logged.contains(vpnUrl.mid(6, 24)), qPrintable(logged));
        }
    }
};

QTEST_GUILESS_MAIN(TestMacVpnServiceServer)
#include "tst_macvpnserviceserver.moc"
