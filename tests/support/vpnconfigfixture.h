#pragma once

#include "parsedvpnconfig.h"

#include <QJsonObject>
#include <QString>

// Builds vpn:// strings from readable JSON, the inverse of the parser's decoding
// steps, so fixtures stay reviewable instead of being opaque blobs.
class VpnConfigFixture
{
public:
    VpnConfigFixture() = delete;

    // VpnConfigEncoder's encoding, kept here so tests read as fixtures.
    static QString encode(const QJsonObject &document);
    static QString encodeBytes(const QByteArray &json);

    // A complete, valid AmneziaWG document: one container "amnezia-awg" whose
    // "awg" settings carry lastConfig as JSON text.
    static QJsonObject awgDocument(const QJsonObject &lastConfig,
                                   const QString &container = QStringLiteral("amnezia-awg"));
    // A client configuration with every key the backend reads.
    static QJsonObject sampleLastConfig();
    // That sample parsed, with the members of the JSON text put into its lastConfig;
    // dns1, dns2 and hostName onto the configuration itself too.
    static ParsedVpnConfig sampleConfig(const QByteArray &changes = "{}");
};
