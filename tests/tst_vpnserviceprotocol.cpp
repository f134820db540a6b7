#include "vpnserviceprotocol.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <functional>
#include <thread>

namespace {

// A connected pair of local sockets; the client end is driven from a plain thread so
// the test thread can block inside readMessage while bytes trickle in.
class SocketPair
{
public:
    explicit SocketPair(std::function<void(QLocalSocket &)> writer)
    {
        path = dir.filePath(QStringLiteral("s.sock"));
        server.listen(path);
        thread = std::thread([this, writer] {
            QLocalSocket client;
            client.connectToServer(path);
            if (!client.waitForConnected(3000))
                return;
            writer(client);
        });
        if (server.waitForNewConnection(3000))
            reader = server.nextPendingConnection();
    }
    ~SocketPair() { thread.join(); }

    QTemporaryDir dir;
    QString path;
    QLocalServer server;
    QLocalSocket *reader = nullptr;
    std::thread thread;
};

void writeNow(QLocalSocket &socket, const QByteArray &bytes)
{
    socket.write(bytes);
    socket.waitForBytesWritten(3000);
}

} // namespace

class TestVpnServiceProtocol : public QObject
{
    Q_OBJECT

private slots:
    void socketPathHonoursOverride()
    {
        qunsetenv("TARVEX_SERVICE_SOCKET");
        QCOMPARE(VpnServiceProtocol::socketPath(),
                 QStringLiteral("/private/tmp/tarvex-client-service.sock"));
        qputenv("TARVEX_SERVICE_SOCKET", "");
        QCOMPARE(VpnServiceProtocol::socketPath(),
                 QStringLiteral("/private/tmp/tarvex-client-service.sock"));
        qputenv("TARVEX_SERVICE_SOCKET", "/tmp/x/service.sock");
        QCOMPARE(VpnServiceProtocol::socketPath(), QStringLiteral("/tmp/x/service.sock"));
        qunsetenv("TARVEX_SERVICE_SOCKET");
    }

    void encodeMessageIsOneCompactLine()
    {
        QCOMPARE(VpnServiceProtocol::encodeMessage(QJsonObject()), QByteArray("{}\n"));

        const QByteArray bytes = VpnServiceProtocol::encodeMessage(QJsonObject{
            {QStringLiteral("b"), QStringLiteral("line\nbreak")}, {QStringLiteral("a"), 1}});
        QCOMPARE(bytes, QByteArray("{\"a\":1,\"b\":\"line\\nbreak\"}\n"));
        QCOMPARE(bytes.count('\n'), 1);
    }

    void readMessageReassemblesPieces()
    {
        SocketPair pair([](QLocalSocket &s) {
            writeNow(s, "{\"command\":");
            QThread::msleep(150);
            writeNow(s, "\"sta");
            QThread::msleep(150);
            writeNow(s, "tus\"}\n{\"command\":\"disconnect\"}\n");
        });
        QVERIFY(pair.reader);

        QJsonObject message;
        QString error;
        QVERIFY(VpnServiceProtocol::readMessage(pair.reader, &message, &error, 3000));
        QCOMPARE(message.value(QStringLiteral("command")).toString(), QStringLiteral("status"));
        QCOMPARE(message.size(), 1);
        QVERIFY(error.isEmpty());
    }

    void readMessageRejectsNonObjects_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("expectedError");
        QTest::newRow("array") << QByteArray("[1,2]\n") << QStringLiteral("no error occurred");
        QTest::newRow("string") << QByteArray("\"x\"\n") << QString();
        QTest::newRow("garbage") << QByteArray("{oops\n") << QString();
        QTest::newRow("empty line") << QByteArray("\n") << QString();
    }

    void readMessageRejectsNonObjects()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, expectedError);
        SocketPair pair([line](QLocalSocket &s) { writeNow(s, line); });
        QVERIFY(pair.reader);

        QJsonObject message{{QStringLiteral("untouched"), true}};
        QString error;
        QVERIFY(!VpnServiceProtocol::readMessage(pair.reader, &message, &error, 3000));
        QVERIFY(!error.isEmpty());
        QVERIFY(error != QLatin1String("timeout"));
        if (!expectedError.isEmpty())
            QCOMPARE(error, expectedError);
        QVERIFY(message.contains(QStringLiteral("untouched")));
    }

    void readMessageWithoutTimeReadsNothing_data()
    {
        QTest::addColumn<int>("timeoutMs");
        QTest::newRow("zero") << 0;
        QTest::newRow("negative") << -5;
    }

    void readMessageWithoutTimeReadsNothing()
    {
        QFETCH(int, timeoutMs);
        SocketPair pair([](QLocalSocket &s) { writeNow(s, "{\"ok\":true}\n"); });
        QVERIFY(pair.reader);
        QVERIFY(pair.reader->waitForReadyRead(3000) || pair.reader->bytesAvailable() > 0);

        QString error;
        QVERIFY(!VpnServiceProtocol::readMessage(pair.reader, nullptr, &error, timeoutMs));
        QCOMPARE(error, QStringLiteral("timeout"));
    }

    void peerClosingWithoutLineFeedTimesOut()
    {
        SocketPair pair([](QLocalSocket &s) {
            writeNow(s, "{\"ok\":true}");
            s.disconnectFromServer();
        });
        QVERIFY(pair.reader);

        QElapsedTimer timer;
        timer.start();
        QString error;
        QVERIFY(!VpnServiceProtocol::readMessage(pair.reader, nullptr, &error, 700));
        QCOMPARE(error, QStringLiteral("timeout"));
        // The reader polls until its time is up, but must not overrun it by much.
        QVERIFY2(timer.elapsed() >= 650, qPrintable(QString::number(timer.elapsed())));
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
    }

    void readMessageAcceptsNullPointers()
    {
        SocketPair pair([](QLocalSocket &s) { writeNow(s, "{\"ok\":true}\n"); });
        QVERIFY(pair.reader);
        QVERIFY(VpnServiceProtocol::readMessage(pair.reader, nullptr, nullptr, 3000));
    }

    void configJsonHasAllTenKeys()
    {
        const QJsonObject json = VpnServiceProtocol::parsedConfigToJson(ParsedVpnConfig());
        const QStringList objects{QStringLiteral("rawConfig"), QStringLiteral("protocolConfig"),
                                  QStringLiteral("lastConfig")};
        const QStringList strings{QStringLiteral("defaultContainer"),
                                  QStringLiteral("container"),
                                  QStringLiteral("protocolName"),
                                  QStringLiteral("lastConfigRaw"),
                                  QStringLiteral("hostName"),
                                  QStringLiteral("dns1"),
                                  QStringLiteral("dns2")};
        QCOMPARE(json.size(), 10);
        for (const QString &key : objects)
            QVERIFY2(json.value(key).isObject() && json.value(key).toObject().isEmpty(),
                     qPrintable(key));
        for (const QString &key : strings)
            QVERIFY2(json.value(key).isString() && json.value(key).toString().isEmpty(),
                     qPrintable(key));
    }

    void configRoundTripsThroughJson()
    {
        ParsedVpnConfig config;
        config.rawConfig = QJsonObject{{QStringLiteral("containers"), QJsonArray{1, 2}}};
        config.defaultContainer = QStringLiteral("amnezia-awg");
        config.container = QStringLiteral("amnezia-awg");
        config.protocolName = QStringLiteral("awg");
        config.protocolConfig = QJsonObject{{QStringLiteral("last_config"), QStringLiteral("{}")}};
        config.lastConfigRaw = QStringLiteral("{\"client_ip\":\"10.0.0.2\"}");
        config.lastConfig = QJsonObject{{QStringLiteral("client_ip"), QStringLiteral("10.0.0.2")}};
        config.hostName = QStringLiteral("vpn.example.net");
        config.dns1 = QStringLiteral("1.1.1.1");
        config.dns2 = QStringLiteral("Ж");

        const QByteArray wire =
            VpnServiceProtocol::encodeMessage(VpnServiceProtocol::parsedConfigToJson(config));
        const ParsedVpnConfig back =
            VpnServiceProtocol::parsedConfigFromJson(QJsonDocument::fromJson(wire).object());

        QCOMPARE(back.rawConfig, config.rawConfig);
        QCOMPARE(back.defaultContainer, config.defaultContainer);
        QCOMPARE(back.container, config.container);
        QCOMPARE(back.protocolName, config.protocolName);
        QCOMPARE(back.protocolConfig, config.protocolConfig);
        QCOMPARE(back.lastConfigRaw, config.lastConfigRaw);
        QCOMPARE(back.lastConfig, config.lastConfig);
        QCOMPARE(back.hostName, config.hostName);
        QCOMPARE(back.dns1, config.dns1);
        QCOMPARE(back.dns2, config.dns2);
    }

    void configFromJsonEmptiesWrongTypes()
    {
        const ParsedVpnConfig config = VpnServiceProtocol::parsedConfigFromJson(QJsonObject{
            {QStringLiteral("dns1"), 8},
            {QStringLiteral("hostName"), QJsonObject()},
            {QStringLiteral("lastConfig"), QStringLiteral("{\"a\":1}")},
            {QStringLiteral("rawConfig"), QJsonArray{1}},
            {QStringLiteral("dns2"), QStringLiteral("9.9.9.9")},
        });
        QVERIFY(config.dns1.isEmpty());
        QVERIFY(config.hostName.isEmpty());
        QVERIFY(config.lastConfig.isEmpty());
        QVERIFY(config.rawConfig.isEmpty());
        QCOMPARE(config.dns2, QStringLiteral("9.9.9.9"));
    }

    void statusStringsBothWays_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("readBack");
        QTest::newRow("disconnected") << 0 << "disconnected" << 0;
        QTest::newRow("connecting") << 1 << "connecting" << 1;
        QTest::newRow("connected") << 2 << "connected" << 2;
        QTest::newRow("disconnecting") << 3 << "disconnecting" << 3;
        QTest::newRow("error") << 4 << "error" << 4;
        QTest::newRow("out of range") << 7 << "unknown" << 0;
        QTest::newRow("negative") << -1 << "unknown" << 0;
    }

    void statusStringsBothWays()
    {
        QFETCH(int, status);
        QFETCH(QString, text);
        QFETCH(int, readBack);
        QCOMPARE(VpnServiceProtocol::statusToString(PlatformVpnBackend::Status(status)), text);
        QCOMPARE(int(VpnServiceProtocol::statusFromString(text)), readBack);
    }

    void unknownStatusStringsReadAsDisconnected()
    {
        for (const QString &text : {QString(), QStringLiteral("Connected"),
                                    QStringLiteral(" connected"), QStringLiteral("up")})
            QCOMPARE(VpnServiceProtocol::statusFromString(text), PlatformVpnBackend::Disconnected);
    }
};

QTEST_GUILESS_MAIN(TestVpnServiceProtocol)
#include "tst_vpnserviceprotocol.moc"
