#include "vpnserviceprotocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

// The configuration as it travels between client and daemon. (Reading a reply off the
// socket is the client backend's test: a line in pieces in peerFilledOnlyFromObject,
// broken, non-object and cut-off replies and a silent daemon in brokenReplies.)
class TestVpnServiceProtocol : public QObject
{
    Q_OBJECT

private slots:
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
