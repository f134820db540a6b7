#include "macvpnbackend.h"

QString MacVpnBackend::controlPlaneHost() const
{
    return {};
}

void MacVpnBackend::installControlPlaneBypass(const QString &gateway)
{
    Q_UNUSED(gateway)
}

void MacVpnBackend::removeControlPlaneBypass() {}

void MacVpnBackend::pinControlPlaneHosts(const QStringList &addresses)
{
    Q_UNUSED(addresses)
}

void MacVpnBackend::unpinControlPlaneHosts() {}
