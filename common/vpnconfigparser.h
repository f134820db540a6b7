#pragma once

#include "parsedvpnconfig.h"

#include <QVariantMap>

// Turns a vpn:// string (URL-safe base64 of Qt-compressed JSON) into a ParsedVpnConfig.
class VpnConfigParser
{
public:
    // Largest configuration document accepted, uncompressed. The daemon reads requests of
    // up to 1 MiB, and a connect request carries the document and parts of it again, so a
    // larger one could never be connected.
    static constexpr int MaxDocumentBytes = 1024 * 1024;

    VpnConfigParser() = delete;

    static VpnConfigParseResult parseConfig(const QString &config);
    static VpnConfigParseResult parsePeerConfig(const QVariantMap &peer);
};
