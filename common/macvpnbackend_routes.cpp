#include "macvpnbackend.h"

bool MacVpnBackend::configureRoutes(const ParsedVpnConfig &config)
{
    Q_UNUSED(config)
    return false;
}

void MacVpnBackend::removeRoutes() {}
