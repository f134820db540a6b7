#include "macvpnbackend.h"

QString MacVpnBackend::defaultGateway() const
{
    return {};
}

QStringList MacVpnBackend::allowedIps(const ParsedVpnConfig &config) const
{
    Q_UNUSED(config)
    return {};
}

QString MacVpnBackend::endpointHost(const ParsedVpnConfig &config) const
{
    Q_UNUSED(config)
    return {};
}

int MacVpnBackend::endpointPort(const ParsedVpnConfig &config) const
{
    Q_UNUSED(config)
    return 0;
}

bool MacVpnBackend::isIpv4Route(const QString &route) const
{
    Q_UNUSED(route)
    return false;
}

bool MacVpnBackend::isIpv6Route(const QString &route) const
{
    Q_UNUSED(route)
    return false;
}

QString MacVpnBackend::routeFamily(const QString &route) const
{
    Q_UNUSED(route)
    return {};
}

QString MacVpnBackend::routeType(const QString &route) const
{
    Q_UNUSED(route)
    return {};
}
