#include "macvpnbackend.h"

bool MacVpnBackend::configureDns(const ParsedVpnConfig &config)
{
    Q_UNUSED(config)
    return true;
}

void MacVpnBackend::restoreDns() {}

void MacVpnBackend::flushDnsCache() const {}
