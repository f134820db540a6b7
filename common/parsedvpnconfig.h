#pragma once

#include <QJsonObject>
#include <QString>

// A decoded vpn:// configuration. Plain value type; the tunnel keys stay inside
// lastConfig and each backend step reads the ones it needs.
struct ParsedVpnConfig
{
    QJsonObject rawConfig;
    QString defaultContainer;
    QString container;
    QString protocolName;
    QJsonObject protocolConfig;
    QString lastConfigRaw;
    QJsonObject lastConfig;
    QString hostName;
    QString dns1;
    QString dns2;
};

// What VpnConfigParser returns. On failure config keeps whatever was filled in
// before the failing step, so callers must test ok first.
struct VpnConfigParseResult
{
    bool ok = false;
    QJsonObject document;
    ParsedVpnConfig config;
    QString error;
};
