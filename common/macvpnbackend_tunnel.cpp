#include "macvpnbackend.h"

QString MacVpnBackend::findTunnelBinary() const
{
    return {};
}

bool MacVpnBackend::startTunnelProcess()
{
    return false;
}

QString MacVpnBackend::waitForTunnelName(const QString &nameFile)
{
    Q_UNUSED(nameFile)
    return {};
}

void MacVpnBackend::stopTunnelProcess() {}
