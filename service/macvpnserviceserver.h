#pragma once

#include "platformvpnbackend.h"

#include <QJsonObject>
#include <QLocalServer>
#include <QObject>

#include <memory>

class QLocalSocket;
class QTimer;

// The daemon's side of the local socket: one request per connection, handled by calling
// the one tunnel backend synchronously, one reply, then the connection is closed.
class MacVpnServiceServer : public QObject
{
    Q_OBJECT

public:
    // A local user can reach the socket, so a request is bounded in size and in time.
    static constexpr qint64 DefaultMaxRequestBytes = 1024 * 1024;
    static constexpr int DefaultRequestTimeoutMs = 10000;
    // And what all connections hold together: one user's connections cannot take all of
    // it, so another user's client still gets through.
    static constexpr int DefaultMaxConnections = 64;
    static constexpr int DefaultMaxConnectionsPerUser = 8;
    static constexpr qint64 DefaultMaxBufferedBytes = 16 * 1024 * 1024;
    // How often the listening socket is checked: Qt closes it (and deletes its file) when
    // accepting a connection fails, for instance when descriptors run out.
    static constexpr int ListenCheckIntervalMs = 1000;

    // Serves a MacVpnBackend.
    explicit MacVpnServiceServer(QObject *parent = nullptr);
    // Serves the given backend (tests pass a fake one).
    explicit MacVpnServiceServer(std::unique_ptr<PlatformVpnBackend> backend,
                                 QObject *parent = nullptr);
    ~MacVpnServiceServer() override;

    bool start();

    // Longest request line accepted, line feed excluded.
    void setMaxRequestBytes(qint64 bytes);
    // Time a connection has, from being accepted, to deliver its complete request line.
    void setRequestTimeoutMs(int milliseconds);
    // Connections open at once, in all and per user; more are answered "busy" and closed.
    void setConnectionLimits(int connections, int connectionsPerUser);
    // Bytes of unfinished requests held for all connections together.
    void setMaxBufferedBytes(qint64 bytes);

    // Ends the event loop (SIGTERM). A connect that is running is finished, undone, and its
    // client told so, first.
    void stop();

private:
    void handleNewConnection();
    void handleReadyRead(QLocalSocket *socket);
    void handleDisconnected(QLocalSocket *socket);
    void handleRequestTimeout(QLocalSocket *socket);
    QJsonObject handleRequest(const QJsonObject &request, uint callerUid);
    QJsonObject statusResponse(bool ok, const QString &error) const;
    void writeResponse(QLocalSocket *socket, const QJsonObject &response);

    QJsonObject undoConnectForStop();

    void takeRequest(QLocalSocket *socket);
    void rejectRequest(QLocalSocket *socket, const QString &error);

    // Limits and caller identity.
    static uint callerUid(const QLocalSocket *socket);
    bool admitConnection(QLocalSocket *socket);
    bool bufferFits(const QLocalSocket *socket, qint64 newSize) const;
    void rejectBusy(QLocalSocket *socket);
    // The peer goes only to root and to the user whose connect it belongs to: it holds
    // the whole configuration, keys included.
    QJsonObject withPeerFor(uint callerUid, QJsonObject response) const;
    void checkListening();

    QLocalServer localServer;
    std::unique_ptr<PlatformVpnBackend> backend;
    QJsonObject activePeer;
    uint activePeerOwner = 0;
    QTimer *listenCheck = nullptr;
    bool listeningLost = false;

    qint64 maxRequestBytes = DefaultMaxRequestBytes;
    int requestTimeoutMs = DefaultRequestTimeoutMs;
    int maxConnections = DefaultMaxConnections;
    int maxConnectionsPerUser = DefaultMaxConnectionsPerUser;
    qint64 maxBufferedBytes = DefaultMaxBufferedBytes;
    // True while the backend runs a connect: its tunnel wait lets other requests in.
    bool connectInProgress = false;
    bool stopRequested = false;
};
