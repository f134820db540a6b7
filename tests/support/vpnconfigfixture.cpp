#include "vpnconfigfixture.h"

#include "vpnconfigencoder.h"
#include "vpnconfigparser.h"

#include <QJsonArray>
#include <QJsonDocument>

QString VpnConfigFixture::encode(const QJsonObject &document)
{
    return VpnConfigEncoder::encode(document);
}

QString VpnConfigFixture::encodeBytes(const QByteArray &json)
{
    return VpnConfigEncoder::encodeBytes(json);
}

QJsonObject VpnConfigFixture::awgDocument(const QJsonObject &lastConfig, const QString &container)
{
    const QJsonObject awg{
        {"last_config",
         QString::fromUtf8(QJsonDocument(lastConfig).toJson(QJsonDocument::Compact))},
        {"port", "51820"},
        {"transport_proto", "udp"}};
    return {{"containers", QJsonArray{QJsonObject{{"container", container}, {"awg", awg}}}},
            {"defaultContainer", container},
            {"description", "Test server"},
            {"dns1", "1.1.1.1"},
            {"dns2", "1.0.0.1"},
            {"hostName", "198.51.100.10"}};
}

QJsonObject VpnConfigFixture::sampleLastConfig()
{
    // Keys are throwaway test values (32 bytes each), never used anywhere real.
    return QJsonDocument::fromJson(R"({"client_ip": "10.8.1.2/32",
        "client_priv_key": "YNq8mPY9TuuJ0V2GdJ6f3T7eOV2xYJ3QyEbV1wFr1m8=",
        "server_pub_key": "3Fk8f5zvVZCH0bWq0c3Ao6Rv1M0wB9xG5Qm7tq8L2Gg=",
        "psk_key": "mZ2Yc7N3i9h1x4G8K0bF6dR5tU2wE3qA1sD4fG7hJ9k=",
        "hostName": "198.51.100.10", "port": 51820, "mtu": "1376", "persistent_keep_alive": "25",
        "allowed_ips": ["0.0.0.0/0", "::/0"], "Jc": "4", "Jmin": "40", "Jmax": "70", "S1": "15",
        "S2": "91", "H1": "1144434789", "H2": "1561713245", "H3": "1925184312",
        "H4": "1426735201"})")
        .object();
}

ParsedVpnConfig VpnConfigFixture::sampleConfig(const QByteArray &changes)
{
    QJsonObject lastConfig = sampleLastConfig();
    const QJsonObject changed = QJsonDocument::fromJson(changes).object();
    for (auto it = changed.begin(); it != changed.end(); ++it)
        lastConfig.insert(it.key(), it.value());
    ParsedVpnConfig config = VpnConfigParser::parseConfig(encode(awgDocument(lastConfig))).config;
    config.dns1 = changed.value("dns1").toString(config.dns1);
    config.dns2 = changed.value("dns2").toString(config.dns2);
    config.hostName = changed.value("hostName").toString(config.hostName);
    return config;
}
