#pragma once

#include <QStringList>
#include <QVariantMap>

class QObject;
class VpnConnector;

// Chooses the connector for a peer by its "protocol" value.
class VpnConnectorFactory
{
public:
    VpnConnectorFactory() = delete;

    // The peer's "protocol" as text, trimmed; empty when missing.
    static QString protocolFromPeer(const QVariantMap &peer);
    // A new connector owned by parent, or null (logged) for an unsupported protocol.
    static VpnConnector *create(const QVariantMap &peer, QObject *parent);
    static QStringList supportedProtocols();
    static bool isSupported(const QVariantMap &peer);
};
