#pragma once

#include "parsedvpnconfig.h"

#include <QLoggingCategory>
#include <QObject>
#include <QVariantMap>

// The tunnel operations both programs share: the daemon implements them for real
// (MacVpnBackend), the client forwards them to the daemon (MacVpnServiceClientBackend).
// Both keep their status and last error the same way, here.
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

    using LoggingCategory = const QLoggingCategory &(*)();

    explicit PlatformVpnBackend(QObject *parent = nullptr);

    virtual Status status() const;
    virtual QString lastError() const;
    virtual void connectVpn(const ParsedVpnConfig &config) = 0;
    virtual void connectVpn(const ParsedVpnConfig &config, const QVariantMap &peer);
    virtual void disconnectVpn() = 0;
    virtual bool refreshStatus(QVariantMap *peerOut);

signals:
    void connected();
    void disconnected();
    void errorOccurred(const QString &error);
    void statusChanged(PlatformVpnBackend::Status status);

protected:
    // logPrefix ("[MacVpnBackend]") and category name the implementation in its log lines.
    PlatformVpnBackend(const char *logPrefix, LoggingCategory category, QObject *parent);

    // Signals statusChanged only when the status really changes.
    void setStatus(Status status);
    // An empty text clears the last error silently; any other is logged, sets Error and is
    // signalled, even when it is the same text as before (each failure is news).
    void setError(const QString &error);
    // Keeps a reason without the status and signal of a failure.
    void setLastErrorText(const QString &error);

private:
    const char *logPrefix;
    LoggingCategory category;
    Status currentStatus = Disconnected;
    QString lastErrorText;
};

Q_DECLARE_METATYPE(PlatformVpnBackend::Status)
