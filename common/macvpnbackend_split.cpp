#include "macvpnbackend.h"

#include "tarvexlogging.h"

MacVpnBackend::SplitTunnelSettings MacVpnBackend::splitTunnelFromPeer(const QVariantMap &peer) const
{
    const QVariantMap st = peer.value(QStringLiteral("splitTunnel")).toMap();

    SplitTunnelSettings settings;
    settings.enabled = st.value(QStringLiteral("enabled")).toBool();
    settings.mode = st.value(QStringLiteral("mode")).toInt();
    settings.entries = st.value(QStringLiteral("entries")).toList();
    if (settings.mode != 1 && settings.mode != 2) {
        settings.enabled = false;
        settings.mode = 0;
    }
    return settings;
}

QStringList MacVpnBackend::resolvedSplitTunnelRoutes(const QVariantMap &entry) const
{
    const QString value = entry.value(QStringLiteral("value")).toString().trimmed();
    if (isIpv4Route(value) || isIpv6Route(value))
        return {value};

    // Resolved once, here, through the DNS the system had before the tunnel; addresses
    // that change later are not followed. An empty name cannot resolve, so the resolver
    // is not asked.
    QStringList addresses;
    if (!value.isEmpty()) {
        QString error;
        const QList<QHostAddress> found = lookupHost(value, &error);
        for (const QHostAddress &address : found) {
            const auto protocol = address.protocol();
            if (protocol != QAbstractSocket::IPv4Protocol &&
                protocol != QAbstractSocket::IPv6Protocol)
                continue;
            const QString text = address.toString();
            if (!addresses.contains(text))
                addresses.append(text);
        }
    }
    if (!addresses.isEmpty())
        return addresses;

    const QString ip = entry.value(QStringLiteral("ip")).toString().trimmed();
    if (isIpv4Route(ip) || isIpv6Route(ip))
        return {ip};

    qCWarning(lcTarvexBackend) << "[MacVpnBackend] split tunnel host not resolved" << value;
    return {};
}

QStringList MacVpnBackend::splitTunnelRoutes() const
{
    QStringList routes;
    for (const QVariant &entry : splitSettings.entries) {
        const QStringList destinations = resolvedSplitTunnelRoutes(entry.toMap());
        for (const QString &destination : destinations) {
            if (!routes.contains(destination))
                routes.append(destination);
        }
    }

    // Exclusions go to the old default gateway, which is an IPv4 router.
    if (splitSettings.mode == 2) {
        QStringList ipv4Routes;
        for (const QString &route : std::as_const(routes)) {
            if (isIpv4Route(route))
                ipv4Routes.append(route);
        }
        return ipv4Routes;
    }
    return routes;
}
