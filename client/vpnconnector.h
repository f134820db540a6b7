#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

// One connection attempt of one protocol family, from a peer map to a running
// tunnel. Outcomes arrive as signals on the thread the connector lives on.
class VpnConnector : public QObject
{
    Q_OBJECT

public:
    explicit VpnConnector(QObject *parent = nullptr);

    virtual QString protocol() const = 0;
    virtual bool canHandle(const QVariantMap &peer) const = 0;
    virtual void connectPeer(const QVariantMap &peer) = 0;
    virtual void disconnectVpn() = 0;
    virtual QString lastError() const = 0;

signals:
    void connected();
    // The tunnel is down and the connector has let go of its backend.
    void disconnected();
    void errorOccurred(const QString &error);
};
