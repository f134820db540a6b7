#include "secretmasker.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

class TestSecretMasker : public QObject
{
    Q_OBJECT

private slots:
    // Log lines are compact JSON, so the line breaks of a wg-quick text appear as "\n".
    void masking_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("masked");

        const QString keys = R"({"client_priv_key":"a2V5MQ==","psk_key":"a2V5Mg==","port":51820})";
        const QString masked = R"({"client_priv_key":"***","psk_key":"***","port":51820})";
        // The client configuration also travels as JSON text inside a JSON string.
        const auto inString = [](const QString &json) {
            return QString::fromUtf8(
                QJsonDocument(QJsonObject{{"lastConfigRaw", json}}).toJson(QJsonDocument::Compact));
        };
        QTest::newRow("json values") << keys << masked;
        QTest::newRow("json text inside a string") << inString(keys) << inString(masked);
        QTest::newRow("wg-quick lines, public key kept")
            << R"({"config":"PrivateKey = a2V5MQ==\nPublicKey = cHVi\nPresharedKey = a2V5Mg=="})"
            << R"({"config":"PrivateKey = ***\nPublicKey = cHVi\nPresharedKey = ***"})";
        QTest::newRow("vpn url") << R"({"config":"vpn://AAAAeJy_rV-1x","id":3})"
                                 << R"({"config":"vpn://***","id":3})";
        // The tunnel's UAPI request, in the daemon's own log.
        QTest::newRow("uapi request")
            << "set=1\nprivate_key=60da\npublic_key=dc59\npreshared_key=999d\nendpoint=a:1"
            << "set=1\nprivate_key=***\npublic_key=dc59\npreshared_key=***\nendpoint=a:1";
        QTest::newRow("truncated request") << "{\"command\":\"connect\",\"client_priv_key\":\"a2V5"
                                           << "{\"command\":\"connect\",\"client_priv_key\":\"***";
    }

    void masking()
    {
        QFETCH(QString, text);
        QFETCH(QString, masked);
        QCOMPARE(SecretMasker::mask(text), masked);
    }
};

QTEST_GUILESS_MAIN(TestSecretMasker)
#include "tst_secretmasker.moc"
