#include "platformvpnbackendfactory.h"

#include "macvpnserviceclientbackend.h"

PlatformVpnBackend *PlatformVpnBackendFactory::create(QObject *parent)
{
    return new MacVpnServiceClientBackend(parent);
}
