#include "macvpnbackend.h"

QString MacVpnBackend::clientIpv4(const ParsedVpnConfig &config) const
{
    Q_UNUSED(config)
    return {};
}

bool MacVpnBackend::configureInterface(const ParsedVpnConfig &config)
{
    Q_UNUSED(config)
    return false;
}
