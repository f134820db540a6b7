#include "fuzzbackend.h"

#include "fuzzenvironment.h"

PlatformVpnBackend::Status FuzzBackend::status() const
{
    return currentStatus;
}

QString FuzzBackend::lastError() const
{
    return currentStatus == Error ? failure : QString();
}

void FuzzBackend::connectVpn(const ParsedVpnConfig &config)
{
    connectVpn(config, {});
}

void FuzzBackend::connectVpn(const ParsedVpnConfig &, const QVariantMap &)
{
    FuzzEnvironment::require(!busy, "the backend is never entered during a connect");
    busy = true;
    currentStatus = Connecting;
    if (whileConnecting)
        whileConnecting();
    currentStatus = nextConnectSucceeds ? Connected : Error;
    busy = false;
}

void FuzzBackend::disconnectVpn()
{
    FuzzEnvironment::require(!busy, "the backend is never entered during a connect");
    currentStatus = Disconnected;
}
