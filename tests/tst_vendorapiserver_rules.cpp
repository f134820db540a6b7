#include "amneziav2connector.h"
#include "vendorapiserver.h"
#include "vendorcrypto.h"
#include "vpnconfigparser.h"

#include <QDate>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// What only the local vendor API's own tests can show: the rules behind its answers,
// storage and secrets, the sign-in lockout, peers between accounts, the tariff and the
// program's options. The envelope, the keys the client reads, the registration's checks
// and the answer to an unknown address are proven end to end by the QML suites, which run
// against the same program.

namespace {

const QString Password = QStringLiteral("correct horse battery");
const QString ServerKey = QStringLiteral("x2o47cahNTyOubo6WuqASOSm0GAAXCppnK14WhnyPWU=");
const QString SharedKey = QStringLiteral("qqImUij3b0nHO8Z3beYAE0Z88NaX18vGfqMJ6yJii0Y=");

struct Reply
{
    int status = 0;
    QJsonObject json;

    QJsonObject data() const { return json.value("data").toObject(); }
    QString token() const { return data().value("token").toString(); }
    QString error(const QString &field) const
    {
        return json.value("errors").toObject().value(field).toArray().at(0).toString();
    }
};

// A servers file of one country per server: "protocol endpoint pool", ids from 1.
QByteArray fixture(const QStringList &servers)
{
    QStringList countries;
    for (const QString &server : servers)
        countries << QStringLiteral(R"({"id": %1, "name": "Страна %1", "servers": [{"id": "%1",
            "protocol": "%2", "endpoint": "%3", "address_pool": "%4", "public_key": "%5",
            "preshared_key": "%6", "dns": ["10.20.0.1"], "allowed_ips": ["0.0.0.0/0"],
            "awg": {"Jc": 4, "H1": "1-2"}}]})")
                         .arg(countries.size() + 1)
                         .arg(server.section(' ', 0, 0), server.section(' ', 1, 1),
                              server.section(' ', 2, 2), ServerKey, SharedKey);
    return QStringLiteral(R"({"countries": [%1]})").arg(countries.join(',')).toUtf8();
}

} // namespace

class TestVendorApiServerRules : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    std::unique_ptr<VendorApiServer> server;
    QUrl root;
    QNetworkAccessManager manager;
    int accounts = 0;

    Reply send(const QByteArray &method, const QString &path, const QByteArray &body,
               const QString &token = {}, const QByteArray &type = "application/json")
    {
        QNetworkRequest request(QUrl(root.toString() + path));
        request.setTransferTimeout(15000);
        request.setHeader(QNetworkRequest::ContentTypeHeader, type);
        if (!token.isEmpty())
            request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
        QNetworkReply *network = manager.sendCustomRequest(request, method, body);
        QEventLoop loop;
        connect(network, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        network->deleteLater();
        return {network->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                QJsonDocument::fromJson(network->readAll()).object()};
    }

    Reply api(const QByteArray &method, const QString &path, const QJsonObject &body = {},
              const QString &token = {})
    {
        return send(method, "/api/v1" + path, body.isEmpty() ? "" : QJsonDocument(body).toJson(),
                    token);
    }

    // The address of the last account made.
    QString email() const { return QStringLiteral("user%1@example.com").arg(accounts); }

    QString newAccount()
    {
        ++accounts;
        return api("POST", "/auth/register",
                   {{"name", "Анна"},
                    {"email", email()},
                    {"password", Password},
                    {"password_confirmation", Password},
                    {"agree_with_personal_agreement", true}})
            .token();
    }

    Reply createPeer(const QString &token, int countryId)
    {
        return api("POST", "/peers", {{"country_id", countryId}, {"name", "Дом"}}, token);
    }

    static VpnConfigParseResult parsed(const Reply &reply)
    {
        return VpnConfigParser::parsePeerConfig(reply.data().toVariantMap());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        // Country 3 has a pool of five addresses.
        QFile servers(dir.filePath("servers.json"));
        QVERIFY(servers.open(QIODevice::WriteOnly));
        servers.write(fixture({"amnezia-v1 198.51.100.10:51820 10.20.0.0/24",
                               "amnezia-v2 [2001:db8::2]:443 10.21.0.0/24",
                               "amnezia-v1 c.example:1 10.22.0.0/29"}));
        servers.close();
        VendorApiServer::Settings settings;
        settings.dataFolder = dir.filePath("data");
        settings.serversFile = dir.filePath("servers.json");
        settings.cheapPasswordHashing = true;
        settings.signInLockoutMs = 500;
        server = std::make_unique<VendorApiServer>(settings);
        QVERIFY2(server->start(0), qPrintable(server->errorString()));
        root = server->rootUrl();
    }

    void secretsAreStoredHashed()
    {
        const QString token = newAccount();
        QVERIFY(token.size() >= 40);
        QFile database(dir.filePath("data/vendor-api.sqlite"));
        QVERIFY(database.open(QIODevice::ReadOnly));
        const QByteArray bytes = database.readAll();
        QVERIFY(!bytes.contains(token.toUtf8()));
        QVERIFY(!bytes.contains(Password.toUtf8()));
        QVERIFY(bytes.contains("$argon2id$"));
    }

    void repeatedWrongPasswordsLockTheAddressForAWhile()
    {
        newAccount();
        const QString bystander = email();
        newAccount();
        const QString email = this->email();
        const auto attempt = [&](const QString &address, const QString &password) {
            return api("POST", "/auth/login", {{"email", address}, {"password", password}});
        };
        for (int i = 1; i <= 5; ++i)
            QCOMPARE(attempt(email, "wrong password!").error("email"), "Неверный email или пароль");
        QCOMPARE(attempt(email, Password).status, 429);
        QVERIFY(!attempt(bystander, Password).token().isEmpty());
        QTest::qWait(600);
        QVERIFY(!attempt(email, Password).token().isEmpty());
    }

    // The product's own parser and connector decide whether the client can use a peer; the
    // amnezia-v2 country's endpoint is an IPv6 address.
    void peersConnectThroughTheirCountrysServer()
    {
        const VpnConfigParseResult peer = parsed(createPeer(newAccount(), 2));
        QVERIFY2(peer.ok, qPrintable(peer.error));
        QVERIFY(AmneziaV2Connector().acceptsConfiguration(peer.config));
        const QJsonObject config = peer.config.lastConfig;
        QCOMPARE(
            QStringList(
                {config.value("hostName").toString(), QString::number(config.value("port").toInt()),
                 config.value("server_pub_key").toString(), config.value("psk_key").toString(),
                 config.value("Jc").toString(), config.value("H1").toString(), peer.config.dns1}),
            QStringList({"2001:db8::2", "443", ServerKey, SharedKey, "4", "1-2", "10.20.0.1"}));
        QVERIFY(!VendorCrypto::publicKeyFor(config.value("client_priv_key").toString()).isEmpty());
    }

    void tunnelAddressesAndKeysAreUniqueUntilThePoolIsFull()
    {
        const QString token = newAccount();
        QStringList addresses;
        QSet<QString> keys;
        QList<qint64> ids;
        for (int i = 0; i < 5; ++i) {
            const Reply reply = createPeer(token, 3);
            const QJsonObject config = parsed(reply).config.lastConfig;
            addresses.append(config.value("client_ip").toString());
            keys.insert(config.value("client_priv_key").toString());
            ids.append(reply.data().value("id").toInteger());
        }
        QCOMPARE(keys.size(), 5);
        QCOMPARE(addresses, QStringList({"10.22.0.2/32", "10.22.0.3/32", "10.22.0.4/32",
                                         "10.22.0.5/32", "10.22.0.6/32"}));
        QCOMPARE(createPeer(token, 3).error("country_id"),
                 "На серверах этой страны нет свободных мест");
        // A deleted peer frees its address, never its id.
        QCOMPARE(api("DELETE", "/peers/" + QString::number(ids.at(1)), {}, token).status, 200);
        const Reply reused = createPeer(token, 3);
        QCOMPARE(parsed(reused).config.lastConfig.value("client_ip").toString(), "10.22.0.3/32");
        QVERIFY(reused.data().value("id").toInteger() > ids.last());
    }

    void otherAccountsPeersAreInvisible()
    {
        const QString owner = newAccount();
        const QString intruder = newAccount();
        const QJsonObject peer = createPeer(owner, 1).data();
        const QString id = QString::number(peer.value("id").toInteger());
        QCOMPARE(api("GET", "/peers", {}, intruder).json.value("data"), QJsonArray());
        QCOMPARE(api("PATCH", "/peers/" + id, {{"name", "Чужое"}}, intruder).status, 404);
        QCOMPARE(api("DELETE", "/peers/" + id, {}, intruder).status, 404);
        QCOMPARE(api("GET", "/peers", {}, owner).json.value("data"), QJsonArray{peer});
    }

    // 5 ₽ a day for the first device, 3 ₽ for every further one; the balance lasts the
    // whole days it pays for. amount: a top-up on the payment page (refused under 1 ₽).
    void tariff_data()
    {
        QTest::addColumn<int>("peers");
        QTest::addColumn<QByteArray>("amount");
        QTest::addColumn<double>("balance");
        QTest::addColumn<double>("dayWriteOff");
        QTest::addColumn<int>("days"); // -1: "-"
        QTest::newRow("no peer") << 0 << QByteArray("500") << 500.0 << 0.0 << -1;
        QTest::newRow("three peers, a kopeck short")
            << 3 << QByteArray("21,99") << 21.99 << 11.0 << 1;
        QTest::newRow("three peers, 2 days") << 3 << QByteArray("22.00") << 22.0 << 11.0 << 2;
        QTest::newRow("top-up under 1 ₽") << 1 << QByteArray("0.99") << 0.0 << 5.0 << 0;
    }

    void tariff()
    {
        QFETCH(int, peers);
        QFETCH(QByteArray, amount);
        QFETCH(double, balance);
        QFETCH(double, dayWriteOff);
        QFETCH(int, days);
        const QString token = newAccount();
        for (int i = 0; i < peers; ++i)
            QCOMPARE(createPeer(token, 1).status, 201);
        const QUrl link(api("GET", "/payment/link", {}, token).data().value("url").toString());
        send("POST", link.path(), "amount=" + amount, {}, "application/x-www-form-urlencoded");
        const QJsonObject user = api("GET", "/profile", {}, token).data();
        QCOMPARE(user.value("balance").toDouble(), balance);
        QCOMPARE(user.value("dayWriteOff").toDouble(), dayWriteOff);
        QCOMPARE(user.value("isFirstDevice").toBool(), peers == 0);
        QCOMPARE(user.value("balanceExpiresAt").toString(),
                 days < 0 ? "-" : QDate::currentDate().addDays(days).toString("dd.MM.yyyy"));
    }

    // Every QML suite starts the program on port 0; the top of the range is refused, never
    // wrapped to another port.
    void programRefusesAPortOutOfRange()
    {
        QProcess program;
        program.start(QStringLiteral(TARVEX_VENDOR_API),
                      {"--port", "65536", "--data", dir.filePath("refused")});
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitCode(), 2);
        QVERIFY(program.readAllStandardError().contains("bad arguments"));
    }
};

QTEST_MAIN(TestVendorApiServerRules)
#include "tst_vendorapiserver_rules.moc"
