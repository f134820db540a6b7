#include "testablemacvpnbackend.h"
#include "vpnconfigfixture.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

namespace {

const QString ZeroKeyBase64 = QStringLiteral("AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=");
const QString ZeroKeyHex = QString(64, QLatin1Char('0'));

// The tunnel program's side of one UAPI exchange, on its own thread because
// uapiCommand() blocks the calling thread until the reply is complete.
class ScriptedUapiPeer : public QThread
{
public:
    ScriptedUapiPeer(const QString &path, const QList<QByteArray> &replyChunks, int chunkDelayMs,
                     bool hangUpAfterReply)
        : path(path)
        , replyChunks(replyChunks)
        , chunkDelayMs(chunkDelayMs)
        , hangUpAfterReply(hangUpAfterReply)
    {}

    ~ScriptedUapiPeer() override { wait(); }

    void startListening()
    {
        start();
        ready.acquire();
    }

    QByteArray received; // read after wait()

protected:
    void run() override
    {
        QLocalServer server;
        server.listen(path);
        ready.release();
        if (!server.waitForNewConnection(5000))
            return;
        QLocalSocket *socket = server.nextPendingConnection();
        QElapsedTimer timer;
        timer.start();
        while (!received.contains("\n\n") && timer.elapsed() < 3000) {
            if (socket->waitForReadyRead(100))
                received += socket->readAll();
        }
        // Anything sent after the blank line would be a fault too: collect it.
        if (socket->waitForReadyRead(50))
            received += socket->readAll();
        for (const QByteArray &chunk : replyChunks) {
            socket->write(chunk);
            socket->waitForBytesWritten(1000);
            QThread::msleep(chunkDelayMs);
        }
        if (hangUpAfterReply)
            socket->disconnectFromServer();
        else
            socket->waitForDisconnected(8000); // until the client gives up
    }

private:
    QString path;
    QList<QByteArray> replyChunks;
    int chunkDelayMs;
    bool hangUpAfterReply;
    QSemaphore ready;
};

ParsedVpnConfig configWith(const QJsonObject &lastConfig, const QString &hostName = QString())
{
    ParsedVpnConfig config;
    config.lastConfig = lastConfig;
    config.hostName = hostName;
    return config;
}

// The smallest configuration: zero keys, a server, nothing optional.
QJsonObject minimalLastConfig()
{
    return QJsonObject{
        {QStringLiteral("client_priv_key"), ZeroKeyBase64},
        {QStringLiteral("server_pub_key"), ZeroKeyBase64},
        {QStringLiteral("hostName"), QStringLiteral("203.0.113.5")},
        {QStringLiteral("port"), QStringLiteral("51820")},
        {QStringLiteral("allowed_ips"), QJsonArray{QStringLiteral("10.0.0.0/8")}},
    };
}

QJsonObject with(QJsonObject object, const QString &key, const QJsonValue &value)
{
    if (value.isUndefined())
        object.remove(key);
    else
        object.insert(key, value);
    return object;
}

// The request for minimalLastConfig() with the given lines in place of the
// obfuscation block, the peer's optional key and the keep-alive/allowed-ip tail.
QString minimalRequest(const QStringList &obfuscation, const QStringList &psk,
                       const QString &endpoint, const QStringList &tail)
{
    QStringList lines{QStringLiteral("set=1"), QStringLiteral("private_key=") + ZeroKeyHex,
                      QStringLiteral("replace_peers=true")};
    lines += obfuscation;
    lines += QStringLiteral("public_key=") + ZeroKeyHex;
    lines += psk;
    lines += QStringLiteral("endpoint=") + endpoint;
    lines += QStringLiteral("replace_allowed_ips=true");
    lines += tail;
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace

class TestMacVpnBackendUapi : public QObject
{
    Q_OBJECT

private slots:
    void fullRequestText()
    {
        TestableMacVpnBackend backend;
        const ParsedVpnConfig config = configWith(VpnConfigFixture::sampleLastConfig());
        QCOMPARE(
            backend.uapiSetConfig(config),
            QStringLiteral(
                "set=1\n"
                "private_key=60dabc98f63d4eeb89d15d86749e9fdd3ede395db1609dd0c846d5d7016bd66f\n"
                "replace_peers=true\n"
                "jc=4\njmin=40\njmax=70\ns1=15\ns2=91\n"
                "h1=1144434789\nh2=1561713245\nh3=1925184312\nh4=1426735201\n"
                "public_key=dc593c7f9cef559087d1b5aad1cdc0a3a46fd4cd3007dc46e509bbb6af0bd868\n"
                "preshared_key=999d9873b3778bd875c781bc2b46c5e9d479b54db0137a80d6c0f87c6ee127d9\n"
                "endpoint=198.51.100.10:51820\n"
                "replace_allowed_ips=true\n"
                "persistent_keepalive_interval=25\n"
                "allowed_ip=0.0.0.0/0\n"
                "allowed_ip=::/0\n"));
    }

    void requestVariants_data()
    {
        QTest::addColumn<QJsonObject>("lastConfig");
        QTest::addColumn<QString>("hostName");
        QTest::addColumn<QString>("expected");

        const QJsonObject base = minimalLastConfig();
        const QString endpoint = QStringLiteral("203.0.113.5:51820");
        const QStringList plainTail{QStringLiteral("persistent_keepalive_interval=60"),
                                    QStringLiteral("allowed_ip=10.0.0.0/8")};
        const QString keepAlive = QStringLiteral("persistent_keep_alive");

        QTest::newRow("keep-alive absent")
            << base << "" << minimalRequest({}, {}, endpoint, plainTail);
        QTest::newRow("keep-alive as number is not a string")
            << with(base, keepAlive, 25) << "" << minimalRequest({}, {}, endpoint, plainTail);
        QTest::newRow("keep-alive empty string")
            << with(base, keepAlive, QString()) << ""
            << minimalRequest({}, {}, endpoint,
                              {"persistent_keepalive_interval=", "allowed_ip=10.0.0.0/8"});
        QTest::newRow("keep-alive text copied")
            << with(base, keepAlive, QStringLiteral("15")) << ""
            << minimalRequest({}, {}, endpoint,
                              {"persistent_keepalive_interval=15", "allowed_ip=10.0.0.0/8"});

        QTest::newRow("psk empty") << with(base, "psk_key", QString()) << ""
                                   << minimalRequest({}, {}, endpoint, plainTail);
        QTest::newRow("psk not a string")
            << with(base, "psk_key", 7) << "" << minimalRequest({}, {}, endpoint, plainTail);
        QTest::newRow("psk present")
            << with(base, "psk_key", ZeroKeyBase64) << ""
            << minimalRequest({}, {"preshared_key=" + ZeroKeyHex}, endpoint, plainTail);

        QJsonObject obfuscated = base;
        obfuscated.insert("I5", "<b 0xf6ab3267fa>");
        obfuscated.insert("H4", "7");
        obfuscated.insert("Jc", 4);      // a number: left out
        obfuscated.insert("Jmin", "");   // empty: left out
        obfuscated.insert("jmax", "70"); // wrong case: not a parameter
        obfuscated.insert("Jmax", "1000");
        obfuscated.insert("S4", "0");
        QTest::newRow("obfuscation strings only, table order")
            << obfuscated << ""
            << minimalRequest({"jmax=1000", "s4=0", "h4=7", "i5=<b 0xf6ab3267fa>"}, {}, endpoint,
                              plainTail);

        const QStringList defaultTail{QStringLiteral("persistent_keepalive_interval=60"),
                                      QStringLiteral("allowed_ip=0.0.0.0/0"),
                                      QStringLiteral("allowed_ip=::/0")};
        QTest::newRow("allowed ips absent") << with(base, "allowed_ips", QJsonValue::Undefined)
                                            << "" << minimalRequest({}, {}, endpoint, defaultTail);
        QTest::newRow("allowed ips empty array") << with(base, "allowed_ips", QJsonArray()) << ""
                                                 << minimalRequest({}, {}, endpoint, defaultTail);
        QTest::newRow("allowed ips trimmed, blanks dropped")
            << with(base, "allowed_ips", QJsonArray{" 10.1.0.0/16 ", "", 5, "fd00::/8"}) << ""
            << minimalRequest({}, {}, endpoint,
                              {"persistent_keepalive_interval=60", "allowed_ip=10.1.0.0/16",
                               "allowed_ip=fd00::/8"});

        QTest::newRow("ipv6 endpoint has no brackets")
            << with(base, "hostName", "2001:db8::1") << ""
            << minimalRequest({}, {}, "2001:db8::1:51820", plainTail);
        QTest::newRow("configuration host name wins")
            << base << "vpn.example.net"
            << minimalRequest({}, {}, "vpn.example.net:51820", plainTail);
        QTest::newRow("port as number") << with(base, "port", 443) << ""
                                        << minimalRequest({}, {}, "203.0.113.5:443", plainTail);
        QTest::newRow("port missing") << with(base, "port", QJsonValue::Undefined) << ""
                                      << minimalRequest({}, {}, "203.0.113.5:0", plainTail);

        QJsonObject noKeys = base;
        noKeys.remove("client_priv_key");
        noKeys.remove("server_pub_key");
        QTest::newRow("keys missing give empty hex")
            << noKeys << ""
            << QStringLiteral("set=1\nprivate_key=\nreplace_peers=true\npublic_key=\n"
                              "endpoint=203.0.113.5:51820\nreplace_allowed_ips=true\n"
                              "persistent_keepalive_interval=60\nallowed_ip=10.0.0.0/8\n");
    }

    void requestVariants()
    {
        QFETCH(QJsonObject, lastConfig);
        QFETCH(QString, hostName);
        QFETCH(QString, expected);
        TestableMacVpnBackend backend;
        QCOMPARE(backend.uapiSetConfig(configWith(lastConfig, hostName)), expected);
    }

    void hexKey_data()
    {
        QTest::addColumn<QString>("base64");
        QTest::addColumn<QString>("hex");

        QTest::newRow("32 zero bytes") << ZeroKeyBase64 << ZeroKeyHex;
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("lower-case output") << "/+8="
                                           << "ffef";
        QTest::newRow("padding optional") << "/+8"
                                          << "ffef";
        QTest::newRow("foreign characters skipped") << " /+\n8=\t"
                                                    << "ffef";
        QTest::newRow("non-Latin characters skipped") << "/+ё8"
                                                      << "ffef";
        QTest::newRow("garbage decodes to nothing") << "!!!"
                                                    << "";
    }

    void hexKey()
    {
        QFETCH(QString, base64);
        QFETCH(QString, hex);
        TestableMacVpnBackend backend;
        QCOMPARE(backend.hexKey(base64), hex);
    }

    void replyErrno_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<int>("errnoValue");

        QTest::newRow("success") << "errno=0" << 0;
        QTest::newRow("negative") << "errno=-22" << -22;
        QTest::newRow("after get lines") << "listen_port=0\npublic_key=ab\nerrno=5" << 5;
        QTest::newRow("first errno wins") << "errno=3\nerrno=0" << 3;
        QTest::newRow("blank lines skipped") << "\n\nerrno=7\n\n" << 7;
        QTest::newRow("empty reply") << "" << -1;
        QTest::newRow("no errno line") << "listen_port=0" << -1;
        QTest::newRow("errno without equals") << "errno" << -1;
        QTest::newRow("errno without equals, later line") << "errno\nerrno=2" << 2;
        QTest::newRow("key must match exactly") << "errnos=1\nmy_errno=2\n errno=3" << -1;
        QTest::newRow("leading equals skipped") << "=errno=1" << -1;
        QTest::newRow("garbage value") << "errno=abc" << 0;
        QTest::newRow("empty value") << "errno=" << 0;
        QTest::newRow("out of int range") << "errno=99999999999" << 0;
        QTest::newRow("value with carriage return") << "errno=1\r" << 1;
    }

    void replyErrno()
    {
        QFETCH(QString, reply);
        QFETCH(int, errnoValue);
        TestableMacVpnBackend backend;
        QCOMPARE(backend.uapiErrno(reply), errnoValue);
    }

    // The bytes on the wire always end in exactly one blank line.
    void bytesWritten_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QByteArray>("wire");

        const QString built =
            TestableMacVpnBackend().uapiSetConfig(configWith(minimalLastConfig()));
        QTest::newRow("built request gets one line feed") << built << (built + "\n").toUtf8();
        QTest::newRow("empty request") << "" << QByteArray("\n\n");
        QTest::newRow("no trailing line feed") << "get=1" << QByteArray("get=1\n\n");
        QTest::newRow("one trailing line feed") << "get=1\n" << QByteArray("get=1\n\n");
        QTest::newRow("already terminated") << "get=1\n\n" << QByteArray("get=1\n\n");
        QTest::newRow("UTF-8 encoded") << "set=1\ni1=ё\n" << QByteArray("set=1\ni1=\xd1\x91\n\n");
    }

    void bytesWritten()
    {
        QFETCH(QString, request);
        QFETCH(QByteArray, wire);
        QTemporaryDir dir;
        TestableMacVpnBackend backend;
        backend.runtimeDir = dir.path();
        backend.interfaceName = QStringLiteral("utun4");
        ScriptedUapiPeer peer(dir.filePath("utun4.sock"), {"errno=0\n\n"}, 0, true);
        peer.startListening();

        const QString reply = backend.uapiCommand(request);
        peer.wait();
        QCOMPARE(peer.received, wire);
        QCOMPARE(reply, QStringLiteral("errno=0"));
    }

    void replyAssembly_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<int>("chunkDelayMs");
        QTest::addColumn<bool>("hangUp");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<int>("errnoValue");
        QTest::addColumn<int>("minMs");
        QTest::addColumn<int>("maxMs");

        QTest::newRow("one piece")
            << QList<QByteArray>{"errno=0\n\n"} << 0 << false << "errno=0" << 0 << 0 << 1000;
        QTest::newRow("split across reads") << QList<QByteArray>{"err", "no=-2", "2\n", "\n"} << 150
                                            << false << "errno=-22" << -22 << 300 << 2000;
        QTest::newRow("get reply trimmed")
            << QList<QByteArray>{"listen_port=0\n", "errno=0\n\n"} << 50 << false
            << "listen_port=0\nerrno=0" << 0 << 0 << 1000;
        // The program hung up before the blank line: the partial reply is used at once
        // instead of after the full time-out.
        QTest::newRow("hang-up before blank line")
            << QList<QByteArray>{"errno=1\n"} << 0 << true << "errno=1" << 1 << 0 << 1000;
        QTest::newRow("hang-up without errno") << QList<QByteArray>{"private_key=ab\n"} << 0 << true
                                               << "private_key=ab" << -1 << 0 << 1000;
        QTest::newRow("no blank line before the time-out")
            << QList<QByteArray>{"errno=0\n"} << 0 << false << "errno=0" << 0 << 4900 << 6500;
    }

    void replyAssembly()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(int, chunkDelayMs);
        QFETCH(bool, hangUp);
        QFETCH(QString, reply);
        QFETCH(int, errnoValue);
        QFETCH(int, minMs);
        QFETCH(int, maxMs);
        QTemporaryDir dir;
        TestableMacVpnBackend backend;
        backend.runtimeDir = dir.path();
        backend.interfaceName = QStringLiteral("utun2");
        ScriptedUapiPeer peer(dir.filePath("utun2.sock"), chunks, chunkDelayMs, hangUp);
        peer.startListening();

        QElapsedTimer timer;
        timer.start();
        const QString received = backend.uapiCommand(QStringLiteral("set=1\n"));
        const qint64 elapsed = timer.elapsed();
        QCOMPARE(received, reply);
        QCOMPARE(backend.uapiErrno(received), errnoValue);
        QVERIFY2(elapsed >= minMs && elapsed <= maxMs, qPrintable(QString::number(elapsed)));
    }

    void missingSocketGivesEmptyReply()
    {
        QTemporaryDir dir;
        TestableMacVpnBackend backend;
        backend.runtimeDir = dir.path();
        backend.interfaceName = QStringLiteral("utun9");
        QElapsedTimer timer;
        timer.start();
        const QString reply = backend.uapiCommand(QStringLiteral("set=1\n"));
        QVERIFY(reply.isEmpty());
        QCOMPARE(backend.uapiErrno(reply), -1);
        QVERIFY(timer.elapsed() < 1000);
        QCOMPARE(backend.lastError(), QString());
    }

    void controlCharactersRefused_data()
    {
        QTest::addColumn<QJsonObject>("lastConfig");
        QTest::addColumn<QString>("hostName");
        QTest::addColumn<QString>("field"); // empty: accepted

        const QJsonObject base = VpnConfigFixture::sampleLastConfig();
        QTest::newRow("sample accepted") << base << ""
                                         << "";
        QTest::newRow("non-ASCII accepted") << with(base, "I1", "<b 0x01>ё") << "сервер.рф"
                                            << "";
        QTest::newRow("line feed in host") << base << "198.51.100.10\nprivate_key=00"
                                           << "hostName";
        QTest::newRow("carriage return in lastConfig host")
            << with(base, "hostName", "198.51.100.10\r") << ""
            << "hostName";
        QTest::newRow("line feed in keep-alive")
            << with(base, "persistent_keep_alive", "25\npublic_key=ab") << ""
            << "persistent_keep_alive";
        QTest::newRow("tab in obfuscation value") << with(base, "H2", "1\t2") << ""
                                                  << "H2";
        QTest::newRow("NUL in obfuscation value")
            << with(base, "I3", QString::fromLatin1("a\0b", 3)) << ""
            << "I3";
        QTest::newRow("DEL in obfuscation value") << with(base, "Jc", "4\x7f") << ""
                                                  << "Jc";
        QTest::newRow("C1 control in obfuscation value")
            << with(base, "S3", QString(QChar(0x85))) << ""
            << "S3";
        QTest::newRow("line feed inside an allowed ip")
            << with(base, "allowed_ips", QJsonArray{"0.0.0.0/0\nallowed_ip=::/0"}) << ""
            << "allowed_ips";
        // Surrounding white space is trimmed away before the value is used.
        QTest::newRow("line feed around an allowed ip")
            << with(base, "allowed_ips", QJsonArray{"\n10.0.0.0/8\r\n"}) << ""
            << "";
        // Keys are hex-encoded and numbers never reach the request as text.
        QTest::newRow("line feed in a key is harmless")
            << with(base, "client_priv_key", ZeroKeyBase64 + "\nlisten_port=1") << ""
            << "";
        QTest::newRow("number keep-alive ignored") << with(base, "persistent_keep_alive", 25) << ""
                                                   << "";
    }

    void controlCharactersRefused()
    {
        QFETCH(QJsonObject, lastConfig);
        QFETCH(QString, hostName);
        QFETCH(QString, field);
        TestableMacVpnBackend backend;
        const ParsedVpnConfig config = configWith(lastConfig, hostName);
        QString error = QStringLiteral("untouched");
        const bool safe = backend.uapiConfigIsSafe(config, &error);
        QCOMPARE(safe, field.isEmpty());
        if (safe) {
            QCOMPARE(error, QStringLiteral("untouched"));
            // An accepted configuration really gives one key=value pair per line.
            const QStringList lines = backend.uapiSetConfig(config).split('\n', Qt::SkipEmptyParts);
            for (const QString &line : lines)
                QVERIFY2(line.count('=') >= 1 && !line.contains('\r'), qPrintable(line));
        } else {
            QCOMPARE(error, QStringLiteral("Недопустимая конфигурация VPN: поле %1 содержит "
                                           "управляющие символы")
                                .arg(field));
        }
        QCOMPARE(backend.status(), PlatformVpnBackend::Disconnected);
        QVERIFY(backend.uapiConfigIsSafe(config, nullptr) == safe);
    }

    void logTextHidesKeys()
    {
        TestableMacVpnBackend backend;
        const QString request =
            backend.uapiSetConfig(configWith(VpnConfigFixture::sampleLastConfig()));
        const QString logged = TestableMacVpnBackend::uapiLogText(request);
        QVERIFY(!logged.contains("60dabc98f63d4eeb89d15d86749e9fdd"));
        QVERIFY(!logged.contains("999d9873b3778bd875c781bc2b46c5e9"));
        QVERIFY(logged.contains("private_key=(hidden)\n"));
        QVERIFY(logged.contains("preshared_key=(hidden)\n"));
        // Everything else, the public key included, stays readable.
        QCOMPARE(logged.count('\n'), request.count('\n'));
        QVERIFY(logged.contains("public_key=dc593c7f9cef559087d1b5aad1cdc0a3"));
        QVERIFY(logged.contains("endpoint=198.51.100.10:51820\n"));
    }
};

QTEST_GUILESS_MAIN(TestMacVpnBackendUapi)
#include "tst_macvpnbackend_uapi.moc"
