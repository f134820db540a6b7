#pragma once

#include "parsedvpnconfig.h"

#include <QObject>
#include <QVariantMap>

// The tunnel operations both programs share: the daemon implements them for real
// (MacVpnBackend), the client forwards them to the daemon (MacVpnServiceClientBackend).
class PlatformVpnBackend : public QObject
{
    Q_OBJECT

public:
    // The numbers are part of the wire protocol: status strings are indexed by them.
    enum Status {
        Disconnected = 0,
        Connecting = 1,
        Connected = 2,
        Disconnecting = 3,
        Error = 4,
    };
    Q_ENUM(Status)

    explicit PlatformVpnBackend(QObject *parent = nullptr);

    virtual Status status() const = 0;
    virtual QString lastError() const = 0;
    virtual void connectVpn(const ParsedVpnConfig &config) = 0;
    virtual void connectVpn(const ParsedVpnConfig &config, const QVariantMap &peer);
    virtual void disconnectVpn() = 0;
    virtual bool refreshStatus(QVariantMap *peerOut);

signals:
    void connected();
    void disconnected();
    void errorOccurred(const QString &error);
    void statusChanged(PlatformVpnBackend::Status status);
};

Q_DECLARE_METATYPE(PlatformVpnBackend::Status)
