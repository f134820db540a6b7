#include "vpnserviceprotocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <thread>

class TestVpnServiceProtocol : public QObject
{
    Q_OBJECT

private slots:
    // The line is taken whole from its pieces, and nothing after it. (Broken JSON, a reply
    // that is not an object, a peer that closes mid-line and a silent one are
    // tst_macvpnserviceclientbackend's brokenReplies.)
    void readsOneLineFromPieces()
    {
        const QByteArrayList pieces{"{\"command\":", "\"sta",
                                    "tus\"}\n{\"command\":\"disconnect\"}\n"};
        // The writer runs on a plain thread so that this one can block inside readMessage while
        // the pieces trickle in.
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

        QJsonObject message;
        QString error;
        QVERIFY2(
            VpnServiceProtocol::readMessage(server.nextPendingConnection(), &message, &error, 3000),
            qPrintable(error));
        QCOMPARE(message, QJsonObject({{"command", "status"}}));
    }

    void configTravelsAsJson()
    {
        const QByteArray text = R"({"rawConfig": {"containers": [1, 2]},
            "defaultContainer": "amnezia-awg", "container": "amnezia-awg2", "protocolName": "awg",
            "protocolConfig": {"last_config": "{}"}, "lastConfigRaw": "mtu = 1376",
            "lastConfig": {"mtu": "1376"}, "hostName": "vpn.example.net",
            "dns1": "1.1.1.1", "dns2": "Ж"})";
        const QJsonObject json = QJsonDocument::fromJson(text).object();
        const QByteArray wire = VpnServiceProtocol::encodeMessage(json);
        QVERIFY(wire.endsWith("}\n") && wire.count('\n') == 1);
        const ParsedVpnConfig config =
            VpnServiceProtocol::parsedConfigFromJson(QJsonDocument::fromJson(wire).object());
        QCOMPARE(config.hostName, QStringLiteral("vpn.example.net"));
        QCOMPARE(VpnServiceProtocol::parsedConfigToJson(config), json);

        // Empty members are written all the same.
        const QJsonObject empty = VpnServiceProtocol::parsedConfigToJson(ParsedVpnConfig());
        QCOMPARE(empty.keys(), json.keys());

        // A value of the wrong type reads as empty.
        QJsonObject wrongTypes;
        for (auto it = json.begin(); it != json.end(); ++it)
            wrongTypes.insert(it.key(), it->isString() ? QJsonValue(QJsonArray{1}) : "{\"a\":1}");
        QCOMPARE(VpnServiceProtocol::parsedConfigToJson(
                     VpnServiceProtocol::parsedConfigFromJson(wrongTypes)),
                 empty);
    }
};

QTEST_GUILESS_MAIN(TestVpnServiceProtocol)
#include "tst_vpnserviceprotocol.moc"
