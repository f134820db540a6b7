#include "macvpnbackend.h"

#include "tarvexlogging.h"

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

QStringList MacVpnBackend::splitTunnelRoutes(const SplitTunnelSettings &settings) const
{
    QStringList routes;
    for (const QVariant &entry : settings.entries) {
        const QStringList destinations = resolvedSplitTunnelRoutes(entry.toMap());
        for (const QString &destination : destinations) {
            // Exclusions go to the old default gateway, which is an IPv4 router.
            if (settings.mode == SplitTunnelSettings::AllExcept && !isIpv4Route(destination))
                continue;
            if (!routes.contains(destination))
                routes.append(destination);
        }
    }
    return routes;
}
