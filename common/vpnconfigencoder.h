#pragma once

#include <QJsonObject>
#include <QString>

// The inverse of the parser's decoding steps: a configuration document becomes the
// vpn:// text a peer carries. Used by the fixtures, vpnconfig-encode and the local
// vendor API, so all three hand out exactly what VpnConfigParser reads.
class VpnConfigEncoder
{
public:
    VpnConfigEncoder() = delete;

    // vpn:// + URL-safe base64 (no padding) of Qt's compressed form of the JSON text.
    static QString encode(const QJsonObject &document);
    static QString encodeBytes(const QByteArray &json);

    // The document with every protocol object's "last_config" that is a JSON object
    // turned into the compact JSON text the format carries there; readable documents
    // may write it as an object.
    static QJsonObject withTextLastConfigs(QJsonObject document);
};
