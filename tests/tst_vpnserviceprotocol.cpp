#include "vpnserviceprotocol.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <thread>

// A message as it travels between client and daemon: one JSON object on one line, read
// off the socket however the bytes arrive, and the configuration it carries.
class TestVpnServiceProtocol : public QObject
{
    Q_OBJECT

private slots:
    void readMessage_data()
    {
        QTest::addColumn<QByteArrayList>("pieces");
        QTest::addColumn<QString>("error"); // empty: the message is read

        QTest::newRow("pieces; bytes after the line feed dropped")
            << QByteArrayList{"{\"command\":", "\"sta", "tus\"}\n{\"command\":\"disconnect\"}\n"}
            << QString();
        // Valid JSON that is no object: the parser had nothing to complain of. (Broken JSON
        // and a time-out after waiting are tst_macvpnserviceclientbackend's "not JSON" and
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

QTEST_GUILESS_MAIN(TestVpnServiceProtocol)
#include "tst_vpnserviceprotocol.moc"
