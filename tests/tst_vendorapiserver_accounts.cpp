#include "vendorapiserver.h"
#include "vendorapitestclient.h"

#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

using Reply = VendorApiTestClient::Reply;

// Accounts, tokens and the HTTP front of the local vendor API, run in-process and
// driven over real HTTP.
class TestVendorApiServerAccounts : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    std::unique_ptr<VendorApiServer> server;
    std::unique_ptr<VendorApiTestClient> client;
    int accounts = 0;

    QString newEmail() { return QStringLiteral("user%1@example.com").arg(++accounts); }

    QJsonObject registration(const QString &email)
    {
        return {{"name", "Анна"},
                {"email", email},
                {"password", VendorApiTestClient::Password},
                {"password_confirmation", VendorApiTestClient::Password},
                {"agree_with_personal_agreement", true},
                {"device_name", "vpn-client"}};
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        VendorApiServer::Settings settings;
        settings.dataFolder = dir.filePath("data");
        settings.serversFile = QStringLiteral(TARVEX_VENDOR_API_SERVERS);
        settings.cheapPasswordHashing = true;
        settings.signInLockoutMs = 500;
        server = std::make_unique<VendorApiServer>(settings);
        QVERIFY2(server->start(0), qPrintable(server->errorString()));
        client = std::make_unique<VendorApiTestClient>(server->rootUrl());
        QVERIFY(!client->registerAccount("taken@example.com").isEmpty());
    }

    void registrationIsChecked_data()
    {
        QTest::addColumn<QJsonObject>("changes");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("message");
        const auto password = [](const char *text) {
            return QJsonObject{{"password", text}, {"password_confirmation", text}};
        };
        QTest::newRow("valid") << QJsonObject() << 201 << ""
                               << "";
        QTest::newRow("password of 12") << password("twelve chars") << 201 << ""
                                        << "";
        QTest::newRow("password of 11") << password("eleven char") << 422 << "password"
                                        << "Пароль должен содержать не менее 12 символов";
        QTest::newRow("confirmation differs")
            << QJsonObject{{"password_confirmation", "correct horse batterY"}} << 422
            << "password_confirmation"
            << "Пароли не совпадают";
        QTest::newRow("empty name") << QJsonObject{{"name", "  "}} << 422 << "name"
                                    << "Введите имя";
        QTest::newRow("malformed e-mail")
            << QJsonObject{{"email", "user@localhost"}} << 422 << "email"
            << "Введите корректный email";
        QTest::newRow("e-mail taken, other case")
            << QJsonObject{{"email", " Taken@Example.COM "}} << 422 << "email"
            << "Этот email уже зарегистрирован";
        QTest::newRow("agreement not accepted")
            << QJsonObject{{"agree_with_personal_agreement", "true"}} << 422
            << "agree_with_personal_agreement"
            << "Необходимо принять оферту и соглашение";
    }

    void registrationIsChecked()
    {
        QFETCH(QJsonObject, changes);
        QFETCH(int, status);
        QFETCH(QString, field);
        QFETCH(QString, message);
        QJsonObject body = registration(newEmail());
        for (auto it = changes.begin(); it != changes.end(); ++it)
            body.insert(it.key(), it.value());
        const Reply reply = client->api("POST", "/auth/register", body);
        QCOMPARE(reply.status, status);
        if (!field.isEmpty()) {
            QCOMPARE(reply.json.value("success"), QJsonValue(false));
            QCOMPARE(reply.json.value("errors").toObject().keys(), QStringList{field});
            QCOMPARE(reply.fieldError(field), message);
        }
    }

    void onlyHashesAreStored()
    {
        const Reply reply = client->api("POST", "/auth/register", registration(newEmail()));
        QCOMPARE(reply.status, 201);
        const QString token = reply.data().value("token").toString();
        QVERIFY(token.size() >= 40);
        QFile database(dir.filePath("data/vendor-api.sqlite"));
        QVERIFY(database.open(QIODevice::ReadOnly));
        const QByteArray bytes = database.readAll();
        QVERIFY(!bytes.contains(token.toUtf8()));
        QVERIFY(!bytes.contains(VendorApiTestClient::Password.toUtf8()));
    }

    void tokensAreChecked_data()
    {
        QTest::addColumn<QByteArray>("authorization"); // %1: a valid token
        QTest::addColumn<bool>("loggedOut");
        QTest::addColumn<int>("status");
        QTest::newRow("valid") << QByteArray("Bearer %1") << false << 200;
        QTest::newRow("scheme in lower case") << QByteArray("bearer %1") << false << 200;
        QTest::newRow("no header") << QByteArray() << false << 401;
        QTest::newRow("unknown token") << QByteArray("Bearer AAAA%1") << false << 401;
        QTest::newRow("other scheme") << QByteArray("Basic %1") << false << 401;
        QTest::newRow("revoked by logout") << QByteArray("Bearer %1") << true << 401;
    }

    void tokensAreChecked()
    {
        QFETCH(QByteArray, authorization);
        QFETCH(bool, loggedOut);
        QFETCH(int, status);
        const QString email = newEmail();
        const QString token = client->registerAccount(email);
        const QString other = client->signIn(email);
        if (loggedOut)
            QCOMPARE(client->api("POST", "/auth/logout", {}, token).status, 200);
        QList<std::pair<QByteArray, QByteArray>> headers;
        if (!authorization.isEmpty())
            headers.append(
                {"Authorization", QString::fromLatin1(authorization).arg(token).toUtf8()});
        QCOMPARE(client->send("GET", "/api/v1/profile", {}, headers).status, status);
        // Logging out ends only the session it was sent with.
        QCOMPARE(client->api("GET", "/profile", {}, other).status, 200);
    }

    void repeatedWrongPasswordsLockTheAddressForAWhile()
    {
        const QString email = newEmail();
        const QString bystander = newEmail();
        client->registerAccount(email);
        client->registerAccount(bystander);
        for (int attempt = 1; attempt <= 5; ++attempt) {
            const Reply reply = client->api("POST", "/auth/login",
                                            {{"email", email}, {"password", "wrong password!"}});
            QCOMPARE(reply.status, 422);
            QCOMPARE(reply.fieldError("email"), "Неверный email или пароль");
        }
        QCOMPARE(client
                     ->api("POST", "/auth/login",
                           {{"email", email}, {"password", VendorApiTestClient::Password}})
                     .status,
                 429);
        QVERIFY(!client->signIn(bystander).isEmpty());
        QTest::qWait(600);
        QVERIFY(!client->signIn(email).isEmpty());
        // An unknown address gets the same answer as a wrong password.
        const Reply unknown = client->api("POST", "/auth/login",
                                          {{"email", "nobody@example.com"}, {"password", "x"}});
        QCOMPARE(unknown.status, 422);
        QCOMPARE(unknown.fieldError("email"), "Неверный email или пароль");
    }

    void malformedRequestsGetTheirStatus_data()
    {
        const qint64 limit = VendorApiServer::Settings().maxBodyBytes;
        // A syntactically valid object of exactly the given size.
        const auto objectOfSize = [](qint64 size) {
            return "{\"name\":\"" + QByteArray(size - 11, 'a') + "\"}";
        };
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::newRow("broken JSON")
            << QByteArray("POST") << "/auth/login" << QByteArray("{\"email\": ") << 400;
        QTest::newRow("JSON array")
            << QByteArray("POST") << "/auth/login" << QByteArray("[]") << 400;
        QTest::newRow("body at the limit")
            << QByteArray("POST") << "/auth/login" << objectOfSize(limit) << 422;
        QTest::newRow("body over the limit")
            << QByteArray("POST") << "/auth/login" << objectOfSize(limit + 1) << 413;
        QTest::newRow("unknown path") << QByteArray("GET") << "/nothing" << QByteArray() << 404;
        QTest::newRow("unknown method") << QByteArray("PUT") << "/peers" << QByteArray() << 405;
        QTest::newRow("token needed first")
            << QByteArray("POST") << "/peers" << QByteArray("{") << 401;
    }

    void malformedRequestsGetTheirStatus()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        const Reply reply = client->send(method, "/api/v1" + path, body);
        QCOMPARE(reply.status, status);
        QCOMPARE(reply.json.value("success"), QJsonValue(false));
        QVERIFY(!reply.json.value("message").toString().isEmpty());
    }
};

QTEST_MAIN(TestVendorApiServerAccounts)
#include "tst_vendorapiserver_accounts.moc"
