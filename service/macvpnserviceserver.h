#pragma once

#include "platformvpnbackend.h"

#include <QJsonObject>
#include <QLocalServer>
#include <QObject>

#include <memory>

class QLocalSocket;

// The daemon's side of the local socket: one request per connection, handled by calling
// the one tunnel backend synchronously, one reply, then the connection is closed.
class MacVpnServiceServer : public QObject
{
    Q_OBJECT

public:
    // A local user can reach the socket, so a request is bounded in size and in time.
    static constexpr qint64 DefaultMaxRequestBytes = 1024 * 1024;
    static constexpr int DefaultRequestTimeoutMs = 10000;

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

    // Ends the event loop (SIGTERM). A connect that is running is finished, undone, and its
    // client told so, first.
    void stop();

private:
    void handleNewConnection();
    void handleReadyRead(QLocalSocket *socket);
    void handleDisconnected(QLocalSocket *socket);
    void handleRequestTimeout(QLocalSocket *socket);
    QJsonObject handleRequest(const QJsonObject &request);
    QJsonObject statusResponse(bool ok, const QString &error) const;
    void writeResponse(QLocalSocket *socket, const QJsonObject &response);

    QJsonObject undoConnectForStop();

    void takeRequest(QLocalSocket *socket);
    void rejectRequest(QLocalSocket *socket, const QString &error);

    QLocalServer localServer;
    std::unique_ptr<PlatformVpnBackend> backend;
    QJsonObject activePeer;

    qint64 maxRequestBytes = DefaultMaxRequestBytes;
    int requestTimeoutMs = DefaultRequestTimeoutMs;
    // True while the backend runs a connect: its tunnel wait lets other requests in.
    bool connectInProgress = false;
    bool stopRequested = false;
};
