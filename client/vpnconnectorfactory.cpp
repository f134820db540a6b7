#include "vpnconnectorfactory.h"

#include "amneziav1connector.h"
#include "amneziav2connector.h"
#include "tarvexlogging.h"

QString VpnConnectorFactory::protocolFromPeer(const QVariantMap &peer)
{
    return peer.value(QStringLiteral("protocol")).toString().trimmed();
}

VpnConnector *VpnConnectorFactory::create(const QVariantMap &peer, QObject *parent)
{
    const QString protocol = protocolFromPeer(peer);
    if (protocol == QLatin1String("amnezia-v1"))
        return new AmneziaV1Connector(parent);
    if (protocol == QLatin1String("amnezia-v2"))
        return new AmneziaV2Connector(parent);
    qCWarning(lcTarvexClient) << "[VpnConnectorFactory] unsupported protocol" << protocol;
    return nullptr;
}

QStringList VpnConnectorFactory::supportedProtocols()
{
    return {QStringLiteral("amnezia-v1"), QStringLiteral("amnezia-v2")};
}

bool VpnConnectorFactory::isSupported(const QVariantMap &peer)
{
    return supportedProtocols().contains(protocolFromPeer(peer), Qt::CaseSensitive);
}
