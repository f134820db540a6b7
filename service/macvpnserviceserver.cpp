#include "macvpnserviceserver.h"

#include "macvpnbackend.h"
#include "peercredentials.h"
#include "secretmasker.h"
#include "tarvexconfig.h"
#include "tarvexlogging.h"
#include "vpnserviceprotocol.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QLocalSocket>
#include <QTimer>

#include <limits>

#include <unistd.h>

namespace {

constexpr int ProbeTimeoutMs = 500;
constexpr int WriteTimeoutMs = 3000;

// Per-connection state lives on the accepted socket itself.
constexpr char BufferProperty[] = "buffer";         // bytes received so far
constexpr char RequestTakenProperty[] = "request";  // the one request has been read or refused
constexpr char HandlingProperty[] = "handling";     // the request is being handled right now
constexpr char RequestTimerName[] = "requestTimer"; // child timer bounding the wait for a line
constexpr char UidProperty[] = "uid";               // the caller's user id, when the kernel told
constexpr char AdmittedProperty[] = "admitted";     // counted against the connection limits

// A caller whose user id could not be learnt: never root, never the owner of a peer.
constexpr uint UnknownUid = std::numeric_limits<uint>::max();

} // namespace

MacVpnServiceServer::MacVpnServiceServer(QObject *parent)
    : MacVpnServiceServer(std::make_unique<MacVpnBackend>(), parent)
{}

MacVpnServiceServer::MacVpnServiceServer(std::unique_ptr<PlatformVpnBackend> backend,
                                         QObject *parent)
    : QObject(parent)
    , backend(backend ? std::move(backend) : std::make_unique<MacVpnBackend>())
{
    connect(&localServer, &QLocalServer::newConnection, this,
            &MacVpnServiceServer::handleNewConnection);
    listenCheck = new QTimer(this);
    connect(listenCheck, &QTimer::timeout, this, &MacVpnServiceServer::checkListening);
}

// Members go in reverse order: the peer, then the backend (whose destructor undoes the
// tunnel), then the local server, which removes the socket file.
MacVpnServiceServer::~MacVpnServiceServer() = default;

void MacVpnServiceServer::setMaxRequestBytes(qint64 bytes)
{
    maxRequestBytes = bytes;
}

void MacVpnServiceServer::setRequestTimeoutMs(int milliseconds)
{
    requestTimeoutMs = milliseconds;
}

void MacVpnServiceServer::setConnectionLimits(int connections, int connectionsPerUser)
{
    maxConnections = connections;
    maxConnectionsPerUser = connectionsPerUser;
}

void MacVpnServiceServer::setMaxBufferedBytes(qint64 bytes)
{
    maxBufferedBytes = bytes;
}

bool MacVpnServiceServer::start()
{
    const QString path = VpnServiceProtocol::socketPath();

    // Takes the path over even from a daemon that still runs: only one can own it.
    QLocalServer::removeServer(path);
    bool listening = localServer.listen(path);

    if (!listening && localServer.serverError() == QAbstractSocket::AddressInUseError) {
        // The file could not be removed; whether it is stale tells the probe.
        QLocalSocket probe;
        probe.connectToServer(path, QIODevice::ReadWrite);
        if (!probe.waitForConnected(ProbeTimeoutMs)) {
            qCWarning(lcTarvexService)
                << "[MacVpnServiceServer] stale socket detected" << path << probe.errorString();
            QFile::remove(path);
            listening = localServer.listen(path);
        }
    }

    if (!listening) {
        qCWarning(lcTarvexService)
            << "[MacVpnServiceServer] listen failed" << path << localServer.errorString();
        return false;
    }

    // Clients run as ordinary users; the daemon runs as root.
    const QFile::Permissions everyoneReadWrite = QFile::ReadOwner | QFile::WriteOwner |
                                                 QFile::ReadGroup | QFile::WriteGroup |
                                                 QFile::ReadOther | QFile::WriteOther;
    if (!QFile::setPermissions(path, everyoneReadWrite))
        qCWarning(lcTarvexService) << "[MacVpnServiceServer] socket permissions not set" << path;

    const uint euid = ::geteuid();
    qCInfo(lcTarvexService) << "[MacVpnServiceServer] listening" << path << "euid=" << euid;
    if (euid != 0)
        qCWarning(lcTarvexService)
            << "[MacVpnServiceServer] service is not running as root; utun creation may fail";
    listenCheck->start(ListenCheckIntervalMs);
    return true;
}

void MacVpnServiceServer::handleNewConnection()
{
    while (QLocalSocket *socket = localServer.nextPendingConnection()) {
        qCInfo(lcTarvexService) << "[MacVpnServiceServer] client connected";
        connect(socket, &QLocalSocket::readyRead, this,
                [this, socket] { handleReadyRead(socket); });
        connect(socket, &QLocalSocket::disconnected, this,
                [this, socket] { handleDisconnected(socket); });

        auto *timer = new QTimer(socket);
        timer->setObjectName(QLatin1String(RequestTimerName));
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, this, [this, socket] { handleRequestTimeout(socket); });
        timer->start(requestTimeoutMs);

        if (!admitConnection(socket))
            rejectBusy(socket);
    }
}

void MacVpnServiceServer::handleReadyRead(QLocalSocket *socket)
{
    // One request per connection: whatever follows it is dropped.
    if (socket->property(RequestTakenProperty).toBool()) {
        socket->readAll();
        return;
    }

    QByteArray buffer = socket->property(BufferProperty).toByteArray();
    buffer.append(socket->readAll());
    const qsizetype lineEnd = buffer.indexOf('\n');
    const qsizetype lineLength = lineEnd < 0 ? buffer.size() : lineEnd;

    if (lineLength > maxRequestBytes) {
        qCWarning(lcTarvexService) << "[MacVpnServiceServer] request too large" << lineLength
                                   << "limit=" << maxRequestBytes;
        rejectRequest(socket, tr("Запрос к службе VPN слишком большой"));
        return;
    }
    if (lineEnd < 0) {
        if (!bufferFits(socket, buffer.size())) {
            rejectBusy(socket);
            return;
        }
        socket->setProperty(BufferProperty, buffer);
        return;
    }

    takeRequest(socket);
    const QByteArray line = buffer.left(lineEnd);
    qCInfo(lcTarvexService) << "[MacVpnServiceServer] request ="
                            << SecretMasker::mask(QString::fromUtf8(line));

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(line, &parseError);

    // A connect lets the event loop run while it waits for the tunnel, and this client may
    // hang up meanwhile; the socket must outlive this call, so its deletion waits.
    socket->setProperty(HandlingProperty, true);
    const uint caller = callerUid(socket);
    const QJsonObject response = parseError.error == QJsonParseError::NoError && document.isObject()
                                     ? handleRequest(document.object(), caller)
                                     : statusResponse(false, parseError.errorString());
    socket->setProperty(HandlingProperty, false);

    if (socket->state() == QLocalSocket::UnconnectedState) {
        qCWarning(lcTarvexService) << "[MacVpnServiceServer] client left before the response";
        socket->deleteLater();
        return;
    }
    writeResponse(socket, withPeerFor(caller, response));
}

void MacVpnServiceServer::handleDisconnected(QLocalSocket *socket)
{
    if (!socket->property(HandlingProperty).toBool())
        socket->deleteLater();
}

void MacVpnServiceServer::handleRequestTimeout(QLocalSocket *socket)
{
    if (socket->property(RequestTakenProperty).toBool() ||
        socket->state() != QLocalSocket::ConnectedState)
        return;
    qCWarning(lcTarvexService) << "[MacVpnServiceServer] request timeout" << requestTimeoutMs;
    rejectRequest(socket, tr("Запрос к службе VPN не получен вовремя"));
}

QJsonObject MacVpnServiceServer::handleRequest(const QJsonObject &request, uint callerUid)
{
    const QString command = request.value(QLatin1String("command")).toString();
    qCInfo(lcTarvexService) << "[MacVpnServiceServer] command" << command;

    if (command == QLatin1String("status"))
        return statusResponse(true, QString());

    // How an updated client recognises an older daemon that launchd kept running. Nothing
    // else: the reply goes to whoever asks.
    if (command == QLatin1String("version"))
        return {{QStringLiteral("ok"), true},
                {QStringLiteral("version"), QString::fromLatin1(Tarvex::Version)}};

    const bool changesTunnel =
        command == QLatin1String("connect") || command == QLatin1String("disconnect");
    if (changesTunnel && connectInProgress) {
        // Reached from inside the running connect's tunnel wait; forwarding it would tear
        // down or restart the half-built tunnel under the running sequence.
        qCWarning(lcTarvexService) << "[MacVpnServiceServer] refused while connecting" << command;
        return statusResponse(false, tr("Служба VPN занята: идёт подключение. Повторите запрос "
                                        "после его завершения"));
    }

    if (command == QLatin1String("disconnect")) {
        backend->disconnectVpn();
        activePeer = QJsonObject();
        return statusResponse(true, QString());
    }

    if (command == QLatin1String("connect")) {
        const ParsedVpnConfig config = VpnServiceProtocol::parsedConfigFromJson(
            request.value(QLatin1String("config")).toObject());
        const QJsonObject peer = request.value(QLatin1String("peer")).toObject();

        connectInProgress = true;
        backend->connectVpn(config, peer.toVariantMap());
        connectInProgress = false;
        if (stopRequested)
            return undoConnectForStop();

        if (backend->status() == PlatformVpnBackend::Connected) {
            activePeer = peer;
            activePeerOwner = callerUid;
            return statusResponse(true, QString());
        }
        return statusResponse(false, backend->lastError());
    }

    return statusResponse(false, QStringLiteral("unknown command"));
}

QJsonObject MacVpnServiceServer::statusResponse(bool ok, const QString &error) const
{
    return QJsonObject{
        {QStringLiteral("ok"), ok},
        {QStringLiteral("status"), VpnServiceProtocol::statusToString(backend->status())},
        {QStringLiteral("error"), error.isEmpty() ? backend->lastError() : error},
    };
}

void MacVpnServiceServer::writeResponse(QLocalSocket *socket, const QJsonObject &response)
{
    const QByteArray bytes = VpnServiceProtocol::encodeMessage(response);
    qCInfo(lcTarvexService) << "[MacVpnServiceServer] response ="
                            << SecretMasker::mask(QString::fromUtf8(bytes).trimmed());
    socket->write(bytes);
    socket->waitForBytesWritten(WriteTimeoutMs);
    // The disconnected signal then deletes the socket.
    socket->disconnectFromServer();
}

void MacVpnServiceServer::takeRequest(QLocalSocket *socket)
{
    socket->setProperty(RequestTakenProperty, true);
    socket->setProperty(BufferProperty, QVariant());
    if (auto *timer = socket->findChild<QTimer *>(QLatin1String(RequestTimerName),
                                                  Qt::FindDirectChildrenOnly))
        timer->stop();
}

void MacVpnServiceServer::rejectRequest(QLocalSocket *socket, const QString &error)
{
    takeRequest(socket);
    writeResponse(socket, statusResponse(false, error));
}

uint MacVpnServiceServer::callerUid(const QLocalSocket *socket)
{
    bool known = false;
    const uint uid = socket->property(UidProperty).toUInt(&known);
    return known ? uid : UnknownUid;
}

bool MacVpnServiceServer::admitConnection(QLocalSocket *socket)
{
    uint uid = UnknownUid;
    if (PeerCredentials::userId(socket->socketDescriptor(), &uid))
        socket->setProperty(UidProperty, uid);

    // Connections already answered and closing count no more; this one is not counted yet.
    int open = 0;
    int openOfUser = 0;
    const QList<QLocalSocket *> sockets =
        localServer.findChildren<QLocalSocket *>(Qt::FindDirectChildrenOnly);
    for (const QLocalSocket *other : sockets) {
        if (!other->property(AdmittedProperty).toBool() ||
            other->state() == QLocalSocket::UnconnectedState)
            continue;
        ++open;
        if (callerUid(other) == uid)
            ++openOfUser;
    }
    if (open >= maxConnections || openOfUser >= maxConnectionsPerUser) {
        qCWarning(lcTarvexService)
            << "[MacVpnServiceServer] connection refused: busy"
            << "uid=" << uid << "open=" << open << "openOfUser=" << openOfUser;
        return false;
    }
    socket->setProperty(AdmittedProperty, true);
    return true;
}

bool MacVpnServiceServer::bufferFits(const QLocalSocket *socket, qint64 newSize) const
{
    qint64 buffered = newSize;
    const QList<QLocalSocket *> sockets =
        localServer.findChildren<QLocalSocket *>(Qt::FindDirectChildrenOnly);
    for (const QLocalSocket *other : sockets) {
        if (other != socket)
            buffered += other->property(BufferProperty).toByteArray().size();
    }
    if (buffered <= maxBufferedBytes)
        return true;
    qCWarning(lcTarvexService) << "[MacVpnServiceServer] request buffers full" << buffered
                               << "limit=" << maxBufferedBytes << "uid=" << callerUid(socket);
    return false;
}

void MacVpnServiceServer::rejectBusy(QLocalSocket *socket)
{
    rejectRequest(socket, tr("Служба VPN перегружена: слишком много одновременных запросов. "
                             "Повторите позже"));
}

QJsonObject MacVpnServiceServer::withPeerFor(uint callerUid, QJsonObject response) const
{
    // Only a reply that reports the status reports the peer: the version reply does not.
    const bool statusReply = response.contains(QLatin1String("status"));
    const bool mayRead =
        callerUid != UnknownUid && (callerUid == 0 || callerUid == activePeerOwner);
    if (statusReply && mayRead && backend->status() == PlatformVpnBackend::Connected &&
        !activePeer.isEmpty())
        response.insert(QStringLiteral("peer"), activePeer);
    return response;
}

void MacVpnServiceServer::checkListening()
{
    if (localServer.isListening())
        return;
    // Until the path is ours again another user could bind it; start() takes it back
    // (root may remove any entry of the sticky /tmp), and clients check who listens.
    if (!listeningLost)
        qCWarning(lcTarvexService)
            << "[MacVpnServiceServer] listening socket lost" << localServer.errorString();
    listeningLost = true;
    if (!start())
        return; // tried again at the next check
    listeningLost = false;
    qCInfo(lcTarvexService) << "[MacVpnServiceServer] listening again";
}
