#include "peerconfigbuilder.h"

#include "vpnconfigencoder.h"

#include <QJsonArray>

QString PeerConfigBuilder::config(const VendorServerCatalog::Server &server,
                                  const QString &clientAddress, const QString &privateKey)
{
    const bool second = server.protocol == QLatin1String("amnezia-v2");
    const QString container =
        second ? QStringLiteral("amnezia-awg2") : QStringLiteral("amnezia-awg");

    QJsonObject client = server.obfuscation;
    client.insert(QStringLiteral("client_ip"), clientAddress + QStringLiteral("/32"));
    client.insert(QStringLiteral("client_priv_key"), privateKey);
    client.insert(QStringLiteral("server_pub_key"), server.publicKey);
    if (!server.presharedKey.isEmpty())
        client.insert(QStringLiteral("psk_key"), server.presharedKey);
    client.insert(QStringLiteral("hostName"), server.host);
    client.insert(QStringLiteral("port"), server.port);
    client.insert(QStringLiteral("mtu"), QString::number(server.mtu));
    client.insert(QStringLiteral("persistent_keep_alive"),
                  QString::number(server.persistentKeepAlive));
    client.insert(QStringLiteral("allowed_ips"), QJsonArray::fromStringList(server.allowedIps));

    QJsonObject awg{
        {QStringLiteral("last_config"), client},
        {QStringLiteral("port"), QString::number(server.port)},
        {QStringLiteral("transport_proto"), QStringLiteral("udp")},
    };
    if (second)
        awg.insert(QStringLiteral("protocol_version"), QStringLiteral("2"));

    return VpnConfigEncoder::encode(VpnConfigEncoder::withTextLastConfigs(QJsonObject{
        {QStringLiteral("containers"),
         QJsonArray{
             QJsonObject{{QStringLiteral("container"), container}, {QStringLiteral("awg"), awg}}}},
        {QStringLiteral("defaultContainer"), container},
        {QStringLiteral("description"), server.name},
        {QStringLiteral("dns1"), server.dns.value(0)},
        {QStringLiteral("dns2"), server.dns.value(1)},
        {QStringLiteral("hostName"), server.host},
    }));
}
