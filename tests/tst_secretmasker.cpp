#include "secretmasker.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {

const QString Key = QStringLiteral("YNq8mPY9TuuJ0V2GdJ6f3T7eOV2xYJ3QyEbV1wFr1m8=");

QString compact(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

} // namespace

class TestSecretMasker : public QObject
{
    Q_OBJECT

private slots:
    void masking_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("masked");

        const QJsonObject lastConfig{{"client_priv_key", Key}, {"psk_key", Key}, {"port", 51820}};
        const QJsonObject maskedLastConfig{
            {"client_priv_key", "***"}, {"psk_key", "***"}, {"port", 51820}};

        QTest::newRow("json values") << compact(lastConfig) << compact(maskedLastConfig);
        QTest::newRow("escaped json text inside a string")
            << compact({{"lastConfigRaw", compact(lastConfig)}})
            << compact({{"lastConfigRaw", compact(maskedLastConfig)}});
        QTest::newRow("escaped twice")
            << compact({{"outer", compact({{"last_config", compact(lastConfig)}})}})
            << compact({{"outer", compact({{"last_config", compact(maskedLastConfig)}})}});
        QTest::newRow("white space around the colon") << "{ \"psk_key\" : \"" + Key + "\" }"
                                                      << "{ \"psk_key\" : \"***\" }";
        QTest::newRow("empty key still masked") << "{\"psk_key\":\"\"}"
                                                << "{\"psk_key\":\"***\"}";
        QTest::newRow("wg-quick lines")
            << compact({{"config", "[Interface]\nPrivateKey = " + Key +
                                       "\nAddress = 10.8.1.2/32\n"
                                       "[Peer]\nPublicKey = " +
                                       Key + "\nPresharedKey = " + Key}})
            << compact({{"config", "[Interface]\nPrivateKey = ***\nAddress = 10.8.1.2/32\n"
                                   "[Peer]\nPublicKey = " +
                                       Key + "\nPresharedKey = ***"}});
        QTest::newRow("vpn url") << "{\"config\":\"vpn://AAAAeJy_rV-1x\",\"id\":3}"
                                 << "{\"config\":\"vpn://***\",\"id\":3}";
        QTest::newRow("public keys and look-alike names stay")
            << "{\"server_pub_key\":\"" + Key +
                   "\",\"client_priv_key_id\":\"7\",\"xpsk_key\":\"a\"}"
            << "{\"server_pub_key\":\"" + Key +
                   "\",\"client_priv_key_id\":\"7\",\"xpsk_key\":\"a\"}";
        QTest::newRow("non-string value untouched") << "{\"psk_key\":null}"
                                                    << "{\"psk_key\":null}";
        QTest::newRow("truncated request") << "{\"command\":\"connect\",\"client_priv_key\":\"YNq8"
                                           << "{\"command\":\"connect\",\"client_priv_key\":\"***";
        QTest::newRow("nothing secret") << "{\"command\":\"status\"}"
                                        << "{\"command\":\"status\"}";
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
