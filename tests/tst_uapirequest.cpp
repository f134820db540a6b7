#include "uapirequest.h"
#include "vpnconfigfixture.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

namespace {

const QString ZeroKeyHex = QString(64, QLatin1Char('0'));
const QStringList AllowedIps{"10.0.0.0/8"};
// Zero keys, nothing optional.
const QJsonObject Minimal =
    QJsonDocument::fromJson(R"({"client_priv_key": "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=",
                                "server_pub_key": "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA="})")
        .object();

// The object with the members of the JSON text put in.
QJsonObject with(QJsonObject object, const char *json)
{
    const QJsonObject changes = QJsonDocument::fromJson(json).object();
    for (auto it = changes.begin(); it != changes.end(); ++it)
        object.insert(it.key(), *it);
    return object;
}

// The request for Minimal with the given obfuscation lines, endpoint and tail.
QString minimalRequest(const QStringList &obfuscation, const QString &endpoint,
                       const QStringList &tail)
{
    const QStringList lines =
        QStringList{"set=1", "private_key=" + ZeroKeyHex, "replace_peers=true"} + obfuscation +
        QStringList{"public_key=" + ZeroKeyHex, "endpoint=" + endpoint,
                    "replace_allowed_ips=true"} +
        tail;
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace

class TestUapiRequest : public QObject
{
    Q_OBJECT

private slots:
    // The request for a client configuration, or the field whose control character keeps it
    // from being made: it would add lines of its own. (A line feed in the host is
    // tst_macvpnbackend's connection.)
    void setConfig_data()
    {
        QTest::addColumn<QJsonObject>("lastConfig");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QStringList>("allowed");
        // The request; "refused: <field>"; empty: any request of key=value lines.
        QTest::addColumn<QString>("expected");

        const auto row = [](const char *name, const QJsonObject &lastConfig, const QString &host,
                            const QString &expected, const QStringList &allowed = AllowedIps) {
            QTest::newRow(name) << lastConfig << host << allowed << expected;
        };
        const QJsonObject sample = VpnConfigFixture::sampleLastConfig();
        const QString server = QStringLiteral("198.51.100.10");
        row("every field", sample, server,
            QStringLiteral(
                "set=1\n"
                "private_key=60dabc98f63d4eeb89d15d86749e9fdd3ede395db1609dd0c846d5d7016bd66f\n"
                "replace_peers=true\n"
                "jc=4\njmin=40\njmax=70\ns1=15\ns2=91\n"
                "h1=1144434789\nh2=1561713245\nh3=1925184312\nh4=1426735201\n"
                "public_key=dc593c7f9cef559087d1b5aad1cdc0a3a46fd4cd3007dc46e509bbb6af0bd868\n"
                "preshared_key="
                "999d9873b3778bd875c781bc2b46c5e9d479b54db0137a80d6c0f87c6ee127d9\n"
                "endpoint=198.51.100.10:51820\nreplace_allowed_ips=true\n"
                "persistent_keepalive_interval=25\nallowed_ip=10.0.0.0/8\n"));
        const QString endpoint = QStringLiteral("203.0.113.5:51820");
        const QStringList tail{"persistent_keepalive_interval=60", "allowed_ip=10.0.0.0/8"};
        row("keep-alive not a string, psk empty",
            with(Minimal, R"({"persistent_keep_alive": 25, "psk_key": ""})"), "203.0.113.5",
            minimalRequest({}, endpoint, tail));
        // wireguard-go refuses an empty interval; without the line there is none.
        row("keep-alive blank", with(Minimal, R"({"persistent_keep_alive": " "})"), "203.0.113.5",
            minimalRequest({}, endpoint, {tail.last()}));
        // A number, an empty text and a wrong-case name are all left out.
        row("obfuscation strings only, table order",
            with(Minimal, R"({"I5": "<b 0xf6ab>", "H4": "7", "Jc": 4, "Jmin": "", "jmax": "70",
                              "Jmax": "1000"})"),
            "203.0.113.5", minimalRequest({"jmax=1000", "h4=7", "i5=<b 0xf6ab>"}, endpoint, tail));
        // Keys are decoded leniently: the tunnel program judges them, not the backend; and
        // hex-encoded, so nothing they carry reaches the request as text.
        row("line feed in a key", with(sample, R"({"client_priv_key": "AAAA\nlisten_port=1"})"),
            server, "");
        row("ipv6 endpoint in brackets", Minimal, "2001:db8::1",
            minimalRequest({}, "[2001:db8::1]:51820", tail));
        row("non-ASCII accepted", with(sample, R"({"I1": "<b 0x01>ё"})"), "сервер.рф", "");
        row("line feed in keep-alive",
            with(sample, R"({"persistent_keep_alive": "25\npublic_key=ab"})"), server,
            "refused: persistent_keep_alive");
        row("DEL, first table key", with(sample, R"({"Jc": "4\u007f"})"), server, "refused: Jc");
        row("C1 control, last table key", with(sample, R"({"I5": "\u0085"})"), server,
            "refused: I5");
        row("line feed inside an allowed ip", sample, server, "refused: allowed_ips",
            {"0.0.0.0/0\nallowed_ip=::/0"});
    }

    void setConfig()
    {
        QFETCH(QJsonObject, lastConfig);
        QFETCH(QString, host);
        QFETCH(QStringList, allowed);
        QFETCH(QString, expected);
        const QString field = UapiRequest::fieldWithControlCharacter(lastConfig, host, allowed);
        QCOMPARE(field, expected.startsWith("refused: ") ? expected.mid(9) : QString());
        if (!field.isEmpty())
            return;
        const QString request = UapiRequest::setConfig(lastConfig, host, 51820, allowed);
        if (!expected.isEmpty())
            QCOMPARE(request, expected);
        for (const QString &line : request.split('\n', Qt::SkipEmptyParts))
            QVERIFY2(line.contains('=') && !line.contains('\r'), qPrintable(line));
    }

    void replyErrno_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<int>("errnoValue");

        QTest::newRow("after get lines")
            << QString("listen_port=0\npublic_key=ab\nerrno=-22") << -22;
        QTest::newRow("first errno wins") << QString("errno=3\nerrno=0") << 3;
        QTest::newRow("empty reply") << QString() << -1;
        QTest::newRow("key must match exactly") << QString("errnos=1\nmy_errno=2\n errno=3") << -1;
        QTest::newRow("errno without equals skipped") << QString("errno\nerrno=2") << 2;
        QTest::newRow("value not a number is no success") << QString("errno=\nerrno=0") << -1;
    }

    void replyErrno()
    {
        QFETCH(QString, reply);
        QFETCH(int, errnoValue);
        QCOMPARE(UapiRequest::replyErrno(reply), errnoValue);
    }

    // What goes on the wire (always ending in exactly one blank line) and how the reply is
    // taken from what comes back.
    void exchange_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("hangUp");
        QTest::addColumn<QString>("reply");

        QTest::newRow("blank line added, UTF-8")
            << "set=1\ni1=ё" << QByteArray("set=1\ni1=\xd1\x91\n\n")
            << QByteArray("listen_port=0\nerrno=0\n\n") << false << "listen_port=0\nerrno=0";
        // A hang-up before the blank line: the partial reply is used at once instead of
        // after the full time-out.
        QTest::newRow("hang-up before blank line")
            << "get=1" << QByteArray("get=1\n\n") << QByteArray("errno=1\n") << true << "errno=1";
        QTest::newRow("no blank line before the time-out")
            << "get=1" << QByteArray("get=1\n\n") << QByteArray("errno=0\n") << false << "errno=0";
    }

    void exchange()
    {
        QFETCH(QString, request);
        QFETCH(QByteArray, wire);
        QFETCH(QByteArray, answer);
        QFETCH(bool, hangUp);
        QFETCH(QString, reply);
        constexpr int TimeoutMs = 500;
        QTemporaryDir dir;
        QLocalServer server;
        QVERIFY(server.listen(dir.filePath("utun2.sock")));

        // exchange() blocks its caller: the tunnel program's side is played here meanwhile.
        QString result;
        QElapsedTimer timer;
        timer.start();
        std::unique_ptr<QThread> client(QThread::create([&] {
            QLocalSocket socket;
            socket.connectToServer(dir.filePath("utun2.sock"));
            if (socket.waitForConnected(1000))
                UapiRequest::exchange(socket, request, TimeoutMs, &result);
        }));
        client->start();
        QByteArray received;
        QVERIFY(server.waitForNewConnection(3000));
        QLocalSocket *socket = server.nextPendingConnection();
        // Anything after the blank line would be a fault too: collect it.
        while (socket->waitForReadyRead(received.contains("\n\n") ? 50 : 3000))
            received += socket->readAll();
        socket->write(answer);
        socket->waitForBytesWritten(1000);
        if (hangUp)
            socket->disconnectFromServer();
        QVERIFY(client->wait(3000));
        const qint64 elapsed = timer.elapsed();
        QCOMPARE(received, wire);
        QCOMPARE(result, reply);
        const bool timesOut = !hangUp && !answer.endsWith("\n\n");
        QVERIFY2(timesOut ? elapsed >= TimeoutMs : elapsed < TimeoutMs,
                 qPrintable(QString::number(elapsed)));
    }
};

QTEST_GUILESS_MAIN(TestUapiRequest)
#include "tst_uapirequest.moc"
