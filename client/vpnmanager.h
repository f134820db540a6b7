#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

class VpnConnector;

// The interface's only door to the VPN: the connection state machine, one connector
// per attempt, and the active peer remembered across restarts ("Vpn/ActivePeer").
// Lives on the GUI thread. syncStatus() and the disconnect of a tunnel found after a
// restart talk to the daemon synchronously and block the GUI thread meanwhile.
class VpnManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(State state READ state NOTIFY stateChanged)
    Q_PROPERTY(QVariantMap currentPeer READ currentPeer NOTIFY currentPeerChanged)
    Q_PROPERTY(QString error READ error NOTIFY errorChanged)
    Q_PROPERTY(bool connected READ isConnected NOTIFY stateChanged)
    Q_PROPERTY(bool busy READ isBusy NOTIFY stateChanged)

public:
    // Same numbers as PlatformVpnBackend::Status; the interface compares against them.
    enum State {
        Disconnected = 0,
        Connecting = 1,
        Connected = 2,
        Disconnecting = 3,
        Error = 4,
    };
    Q_ENUM(State)

    explicit VpnManager(QObject *parent = nullptr);
    ~VpnManager() override;

    State state() const;
    QVariantMap currentPeer() const;
    QString error() const;
    bool isConnected() const;
    bool isBusy() const;

    Q_INVOKABLE void connectPeer(const QVariantMap &peer);
    Q_INVOKABLE void disconnectVpn();
    Q_INVOKABLE void syncStatus();
    Q_INVOKABLE void clearError();

signals:
    void stateChanged();
    void currentPeerChanged();
    void errorChanged();

private:
    void beginConnectPeer(const QVariantMap &peer);
    void setConnector(VpnConnector *connector);
    void clearConnector();
    void setCurrentPeer(const QVariantMap &peer);
    void setState(State state);
    void setError(const QString &error);
    void connectPendingPeer();
    bool disconnectServiceTunnel();
    // The tunnel is gone: no error, no connector, no current or stored peer.
    void resetToDisconnected();

    void onConnectorConnected();
    void onConnectorDisconnected();
    void onConnectorError(const QString &error);

    QVariantMap loadPersistedActivePeer() const;
    void savePersistedActivePeer(const QVariantMap &peer) const;
    void clearPersistedActivePeer() const;

    State currentState = Disconnected;
    QVariantMap current;
    QVariantMap pending;
    QString errorText;
    VpnConnector *connector = nullptr;
};
