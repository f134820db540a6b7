#include "macvpnbackend.h"

MacVpnBackend::SplitTunnelSettings MacVpnBackend::splitTunnelFromPeer(const QVariantMap &peer) const
{
    Q_UNUSED(peer)
    return {};
}

QStringList MacVpnBackend::splitTunnelRoutes() const
{
    return {};
}

QStringList MacVpnBackend::resolvedSplitTunnelRoutes(const QVariantMap &entry) const
{
    Q_UNUSED(entry)
    return {};
}
