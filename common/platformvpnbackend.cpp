#include "platformvpnbackend.h"

PlatformVpnBackend::PlatformVpnBackend(QObject *parent)
    : QObject(parent)
{
    // Backends run on worker threads in the client; statusChanged must survive
    // a queued connection.
    qRegisterMetaType<PlatformVpnBackend::Status>();
}

void PlatformVpnBackend::connectVpn(const ParsedVpnConfig &config, const QVariantMap &peer)
{
    Q_UNUSED(peer)
    connectVpn(config);
}

bool PlatformVpnBackend::refreshStatus(QVariantMap *peerOut)
{
    if (peerOut)
        peerOut->clear();
    return true;
}
