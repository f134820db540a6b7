#include "amneziav1connector.h"
#include "amneziav2connector.h"
#include "vendorapiserver.h"
#include "vendorapitestclient.h"
#include "vendorcrypto.h"
#include "vpnconfigparser.h"

#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

using Reply = VendorApiTestClient::Reply;

namespace {

const QString ServerKey = QStringLiteral("x2o47cahNTyOubo6WuqASOSm0GAAXCppnK14WhnyPWU=");
const QString SharedKey = QStringLiteral("qqImUij3b0nHO8Z3beYAE0Z88NaX18vGfqMJ6yJii0Y=");

QJsonObject serverRecord(const QString &id, const QString &protocol, const QString &endpoint,
                         const QString &pool)
{
    return {{"id", id},
            {"protocol", protocol},
            {"endpoint", endpoint},
            {"public_key", ServerKey},
            {"preshared_key", SharedKey},
            {"dns", QJsonArray{"10.20.0.1"}},
            {"allowed_ips", QJsonArray{"0.0.0.0/0"}},
            {"address_pool", pool},
            {"awg", QJsonObject{{"Jc", 4}, {"H1", "1-2"}}}};
}

QJsonObject country(int id, const QString &name, const QJsonArray &servers)
{
    return {{"id", id}, {"name", name}, {"servers", servers}};
}

} // namespace

// Peers and countries of the local vendor API, on a
// fixture of its own: Альфа (amnezia-v1), Бета (amnezia-v2), Гамма (a pool of five
// addresses) and a country without servers.
class TestVendorApiServerPeers : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    std::unique_ptr<VendorApiServer> server;
    std::unique_ptr<VendorApiTestClient> client;
    int accounts = 0;

    QString newAccount()
    {
        return client->registerAccount(QStringLiteral("peers%1@example.com").arg(++accounts));
    }

    Reply createPeer(const QString &token, const QJsonValue &countryId,
                     const QString &name = QStringLiteral("Дом"))
    {
        return client->api("POST", "/peers", {{"country_id", countryId}, {"name", name}}, token);
    }

    QString writeFixture(const QString &name, const QByteArray &json)
    {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size())
            return QString();
        return file.fileName();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        const QJsonObject fixture{
            {"countries",
             QJsonArray{
                 country(1, "Альфа",
                         {serverRecord("a", "amnezia-v1", "198.51.100.10:51820", "10.20.0.0/24")}),
                 country(2, "Бета",
                         {serverRecord("b", "amnezia-v2", "[2001:db8::2]:443", "10.21.0.0/24")}),
                 country(3, "Гамма",
                         {serverRecord("c", "amnezia-v1", "c.example:1", "10.22.0.0/29")}),
                 country(4, "Пустая", {}),
             }}};
        VendorApiServer::Settings settings;
        settings.dataFolder = dir.filePath("data");
        settings.serversFile = writeFixture("servers.json", QJsonDocument(fixture).toJson());
        settings.cheapPasswordHashing = true;
        server = std::make_unique<VendorApiServer>(settings);
        QVERIFY2(server->start(0), qPrintable(server->errorString()));
        client = std::make_unique<VendorApiTestClient>(server->rootUrl());
    }

    void peersConnectThroughTheirCountrysServer_data()
    {
        QTest::addColumn<int>("countryId");
        QTest::addColumn<QString>("protocol");
        QTest::addColumn<QString>("container");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::newRow("amnezia-v1") << 1 << "amnezia-v1"
                                    << "amnezia-awg"
                                    << "198.51.100.10" << 51820;
        QTest::newRow("amnezia-v2") << 2 << "amnezia-v2"
                                    << "amnezia-awg2"
                                    << "2001:db8::2" << 443;
    }

    void peersConnectThroughTheirCountrysServer()
    {
        QFETCH(int, countryId);
        QFETCH(QString, protocol);
        QFETCH(QString, container);
        QFETCH(QString, host);
        QFETCH(int, port);
        const QString token = newAccount();
        const Reply first = createPeer(token, countryId, " Ноутбук ");
        const Reply second = createPeer(token, countryId);
        QCOMPARE(first.status, 201);
        const QJsonObject peer = first.data();
        QCOMPARE(peer.keys(), QStringList({"config", "id", "name", "protocol"}));
        QVERIFY(peer.value("id").isDouble());
        QCOMPARE(peer.value("name").toString(), "Ноутбук");
        QCOMPARE(peer.value("protocol").toString(), protocol);

        const VpnConfigParseResult parsed = VpnConfigParser::parsePeerConfig(peer.toVariantMap());
        QVERIFY2(parsed.ok, qPrintable(parsed.error));
        QCOMPARE(parsed.config.container, container);
        const bool second_ = protocol == "amnezia-v2";
        // The connectors' acceptance test decides whether the client can use the peer.
        QCOMPARE(AmneziaV1Connector().acceptsConfiguration(parsed.config), !second_);
        QCOMPARE(AmneziaV2Connector().acceptsConfiguration(parsed.config), second_);

        const QJsonObject client = parsed.config.lastConfig;
        QCOMPARE(client.value("hostName").toString(), host);
        QCOMPARE(client.value("port").toInt(), port);
        QCOMPARE(client.value("server_pub_key").toString(), ServerKey);
        QCOMPARE(client.value("psk_key").toString(), SharedKey);
        QCOMPARE(client.value("Jc").toString(), "4");
        QCOMPARE(client.value("H1").toString(), "1-2");
        QCOMPARE(client.value("allowed_ips").toArray(), QJsonArray{"0.0.0.0/0"});
        QCOMPARE(parsed.config.dns1, "10.20.0.1");
        const QString privateKey = client.value("client_priv_key").toString();
        QVERIFY(!VendorCrypto::publicKeyFor(privateKey).isEmpty());
        const QJsonObject other =
            VpnConfigParser::parsePeerConfig(second.data().toVariantMap()).config.lastConfig;
        QVERIFY(other.value("client_priv_key").toString() != privateKey);
        QVERIFY(other.value("client_ip") != client.value("client_ip"));
    }

    void tunnelAddressesAreUniqueUntilThePoolIsFull()
    {
        const QString token = newAccount();
        QStringList addresses;
        QList<qint64> ids;
        const auto addressOf = [](const Reply &reply) {
            return VpnConfigParser::parsePeerConfig(reply.data().toVariantMap())
                .config.lastConfig.value("client_ip")
                .toString();
        };
        for (int i = 0; i < 5; ++i) {
            const Reply reply = createPeer(token, 3);
            QCOMPARE(reply.status, 201);
            addresses.append(addressOf(reply));
            ids.append(reply.data().value("id").toInteger());
        }
        QCOMPARE(addresses, QStringList({"10.22.0.2/32", "10.22.0.3/32", "10.22.0.4/32",
                                         "10.22.0.5/32", "10.22.0.6/32"}));
        QCOMPARE(createPeer(token, 3).fieldError("country_id"),
                 "На серверах этой страны нет свободных мест");

        // A deleted peer frees its address, never its id.
        QCOMPARE(
            client->api("DELETE", QStringLiteral("/peers/%1").arg(ids.at(1)), {}, token).status,
            200);
        const Reply reused = createPeer(token, 3);
        QCOMPARE(addressOf(reused), "10.22.0.3/32");
        QVERIFY(reused.data().value("id").toInteger() > ids.last());
    }

    void peerRequestsAreChecked_data()
    {
        QTest::addColumn<QJsonObject>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("message");
        QTest::newRow("country as text")
            << QJsonObject{{"country_id", "1"}, {"name", "Дом"}} << 201 << ""
            << "";
        QTest::newRow("no country") << QJsonObject{{"name", "Дом"}} << 422 << "country_id"
                                    << "Выберите страну";
        QTest::newRow("unknown country")
            << QJsonObject{{"country_id", 99}, {"name", "Дом"}} << 422 << "country_id"
            << "Страна не найдена";
        QTest::newRow("country without servers")
            << QJsonObject{{"country_id", 4}, {"name", "Дом"}} << 422 << "country_id"
            << "Страна не найдена";
        QTest::newRow("blank name")
            << QJsonObject{{"country_id", 1}, {"name", " "}} << 422 << "name"
            << "Введите название соединения";
        QTest::newRow("name of 101")
            << QJsonObject{{"country_id", 1}, {"name", QString(101, 'x')}} << 422 << "name"
            << "Название соединения слишком длинное";
    }

    void peerRequestsAreChecked()
    {
        QFETCH(QJsonObject, body);
        QFETCH(int, status);
        QFETCH(QString, field);
        QFETCH(QString, message);
        const Reply reply = client->api("POST", "/peers", body, newAccount());
        QCOMPARE(reply.status, status);
        if (!field.isEmpty())
            QCOMPARE(reply.fieldError(field), message);
    }

    void otherAccountsPeersAreInvisible_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("id"); // empty: the owner's peer
        QTest::newRow("rename") << QByteArray("PATCH") << "";
        QTest::newRow("delete") << QByteArray("DELETE") << "";
        QTest::newRow("delete a non-number") << QByteArray("DELETE") << "abc";
    }

    void otherAccountsPeersAreInvisible()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, id);
        const QString owner = newAccount();
        const QString intruder = newAccount();
        const QJsonObject peer = createPeer(owner, 1).data();
        if (id.isEmpty())
            id = QString::number(peer.value("id").toInteger());
        QCOMPARE(client->api("GET", "/peers", {}, intruder).json.value("data"), QJsonArray());
        QCOMPARE(client->api(method, "/peers/" + id, {{"name", "Чужое"}}, intruder).status, 404);
        QCOMPARE(client->api("GET", "/peers", {}, owner).json.value("data"), QJsonArray{peer});
    }

    void invalidFixtureStopsTheStart_data()
    {
        QTest::addColumn<QJsonObject>("change"); // merged into a valid server record
        QTest::addColumn<QString>("error");
        QTest::newRow("protocol") << QJsonObject{{"protocol", "wireguard"}} << "\"protocol\"";
        QTest::newRow("endpoint without port")
            << QJsonObject{{"endpoint", "198.51.100.10"}} << "\"endpoint\"";
        QTest::newRow("IPv6 pool")
            << QJsonObject{{"address_pool", "fd00::/64"}} << "\"address_pool\"";
        QTest::newRow("awg object value")
            << QJsonObject{{"awg", QJsonObject{{"Jc", QJsonObject()}}}} << "\"awg\"";
    }

    void invalidFixtureStopsTheStart()
    {
        QFETCH(QJsonObject, change);
        QFETCH(QString, error);
        QJsonObject record = serverRecord("x", "amnezia-v1", "198.51.100.10:1", "10.0.0.0/24");
        for (auto it = change.begin(); it != change.end(); ++it)
            record.insert(it.key(), it.value());
        const QJsonObject fixture{{"countries", QJsonArray{country(1, "Икс", {record})}}};
        VendorApiServer::Settings settings;
        settings.dataFolder = dir.filePath("invalid");
        settings.serversFile = writeFixture("invalid.json", QJsonDocument(fixture).toJson());
        VendorApiServer invalid(settings);
        QVERIFY(!invalid.start(0));
        QVERIFY2(invalid.errorString().contains(error), qPrintable(invalid.errorString()));
        QVERIFY(invalid.errorString().contains("country 0, server 0"));
    }
};

QTEST_MAIN(TestVendorApiServerPeers)
#include "tst_vendorapiserver_peers.moc"
