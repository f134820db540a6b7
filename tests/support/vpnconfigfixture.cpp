#include "vpnconfigfixture.h"

#include "vpnconfigencoder.h"

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
        {QStringLiteral("last_config"),
         QString::fromUtf8(QJsonDocument(lastConfig).toJson(QJsonDocument::Compact))},
        {QStringLiteral("port"), QStringLiteral("51820")},
        {QStringLiteral("transport_proto"), QStringLiteral("udp")},
    };
    return QJsonObject{
        {QStringLiteral("containers"),
         QJsonArray{
             QJsonObject{{QStringLiteral("container"), container}, {QStringLiteral("awg"), awg}}}},
        {QStringLiteral("defaultContainer"), container},
        {QStringLiteral("description"), QStringLiteral("Test server")},
        {QStringLiteral("dns1"), QStringLiteral("1.1.1.1")},
        {QStringLiteral("dns2"), QStringLiteral("1.0.0.1")},
        {QStringLiteral("hostName"), QStringLiteral("198.51.100.10")},
    };
}

QJsonObject VpnConfigFixture::sampleLastConfig()
{
    // Keys are throwaway test values (32 bytes each), never used anywhere real.
    return QJsonObject{
        {QStringLiteral("client_ip"), QStringLiteral("10.8.1.2/32")},
        {QStringLiteral("client_priv_key"),
         QStringLiteral("YNq8mPY9TuuJ0V2GdJ6f3T7eOV2xYJ3QyEbV1wFr1m8=")},
        {QStringLiteral("server_pub_key"),
         QStringLiteral("3Fk8f5zvVZCH0bWq0c3Ao6Rv1M0wB9xG5Qm7tq8L2Gg=")},
        {QStringLiteral("psk_key"), QStringLiteral("mZ2Yc7N3i9h1x4G8K0bF6dR5tU2wE3qA1sD4fG7hJ9k=")},
        {QStringLiteral("hostName"), QStringLiteral("198.51.100.10")},
        {QStringLiteral("port"), 51820},
        {QStringLiteral("mtu"), QStringLiteral("1376")},
        {QStringLiteral("persistent_keep_alive"), QStringLiteral("25")},
        {QStringLiteral("allowed_ips"),
         QJsonArray{QStringLiteral("0.0.0.0/0"), QStringLiteral("::/0")}},
        {QStringLiteral("Jc"), QStringLiteral("4")},
        {QStringLiteral("Jmin"), QStringLiteral("40")},
        {QStringLiteral("Jmax"), QStringLiteral("70")},
        {QStringLiteral("S1"), QStringLiteral("15")},
        {QStringLiteral("S2"), QStringLiteral("91")},
        {QStringLiteral("H1"), QStringLiteral("1144434789")},
        {QStringLiteral("H2"), QStringLiteral("1561713245")},
        {QStringLiteral("H3"), QStringLiteral("1925184312")},
        {QStringLiteral("H4"), QStringLiteral("1426735201")},
    };
}
