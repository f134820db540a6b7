#pragma once

#include "parsedvpnconfig.h"

#include <QVariantMap>

// Turns a vpn:// string (URL-safe base64 of Qt-compressed JSON) into a ParsedVpnConfig.
class VpnConfigParser
{
public:
    VpnConfigParser() = delete;

    static VpnConfigParseResult parseConfig(const QString &config);
    static VpnConfigParseResult parsePeerConfig(const QVariantMap &peer);
};
