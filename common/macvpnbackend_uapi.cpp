#include "macvpnbackend.h"

QString MacVpnBackend::uapiSetConfig(const ParsedVpnConfig &config) const
{
    Q_UNUSED(config)
    return {};
}

QString MacVpnBackend::uapiCommand(const QString &request)
{
    Q_UNUSED(request)
    return {};
}

int MacVpnBackend::uapiErrno(const QString &reply) const
{
    Q_UNUSED(reply)
    return -1;
}

QString MacVpnBackend::hexKey(const QString &base64Key) const
{
    Q_UNUSED(base64Key)
    return {};
}
