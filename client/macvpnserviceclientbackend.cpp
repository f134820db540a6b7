#include "macvpnserviceclientbackend.h"

#include "tarvexlogging.h"
#include "vpnserviceprotocol.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QLocalSocket>

namespace {
constexpr int ConnectTimeoutMs = 3000;
constexpr int WriteTimeoutMs = 3000;
constexpr int ReplyTimeoutMs = 60000;

const QString CommandKey = QStringLiteral("command");
const QString ConfigKey = QStringLiteral("config");
const QString PeerKey = QStringLiteral("peer");

// Requests and replies carry the vpn:// configuration and the parsed tunnel keys
// (private and pre-shared keys) under "config", also inside the peer: the log shows
// everything else, never those.
QString redactedForLog(QJsonObject message)
{
    const QString hidden = QStringLiteral("<hidden>");
    if (message.contains(ConfigKey))
        message.insert(ConfigKey, hidden);
    if (message.value(PeerKey).isObject()) {
        QJsonObject peer = message.value(PeerKey).toObject();
        if (peer.contains(ConfigKey))
            peer.insert(ConfigKey, hidden);
        message.insert(PeerKey, peer);
    }
    return QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact));
}
} // namespace

MacVpnServiceClientBackend::MacVpnServiceClientBackend(QObject *parent)
    : PlatformVpnBackend(parent)
{}

MacVpnServiceClientBackend::~MacVpnServiceClientBackend() = default;

PlatformVpnBackend::Status MacVpnServiceClientBackend::status() const
{
    return currentStatus;
}

QString MacVpnServiceClientBackend::lastError() const
{
    return lastErrorText;
}

void MacVpnServiceClientBackend::connectVpn(const ParsedVpnConfig &config)
{
    connectVpn(config, QVariantMap());
}

void MacVpnServiceClientBackend::connectVpn(const ParsedVpnConfig &config, const QVariantMap &peer)
{
    qCInfo(lcTarvexClient) << "[MacVpnServiceClientBackend] connectVpn";
    setError(QString());
    setStatus(Connecting);

    QJsonObject request{
        {CommandKey, QStringLiteral("connect")},
        {ConfigKey, VpnServiceProtocol::parsedConfigToJson(config)},
    };
    if (!peer.isEmpty())
        request.insert(PeerKey, QJsonObject::fromVariantMap(peer));

    QJsonObject reply;
    QString transportError;
    if (!sendRequest(request, &reply, &transportError)) {
        setError(tr("VPN-сервис недоступен: %1").arg(transportError));
        return;
    }
    if (reply.value(QStringLiteral("ok")) != QJsonValue(true)) {
        setError(replyError(reply, tr("Не удалось подключиться")));
        return;
    }
    setStatus(Connected);
    emit connected();
}

void MacVpnServiceClientBackend::disconnectVpn()
{
    qCInfo(lcTarvexClient) << "[MacVpnServiceClientBackend] disconnectVpn";
    setError(QString());
    setStatus(Disconnecting);

    QJsonObject reply;
    QString transportError;
    if (!sendRequest(QJsonObject{{CommandKey, QStringLiteral("disconnect")}}, &reply,
                     &transportError)) {
        setError(tr("VPN-сервис недоступен: %1").arg(transportError));
        return;
    }
    if (reply.value(QStringLiteral("ok")) != QJsonValue(true)) {
        setError(replyError(reply, tr("Не удалось отключиться")));
        return;
    }
    setStatus(Disconnected);
    emit disconnected();
}

bool MacVpnServiceClientBackend::refreshStatus(QVariantMap *peerOut)
{
    qCInfo(lcTarvexClient) << "[MacVpnServiceClientBackend] refreshStatus";
    setError(QString());
    if (peerOut)
        peerOut->clear();

    QJsonObject reply;
    QString transportError;
    if (!sendRequest(QJsonObject{{CommandKey, QStringLiteral("status")}}, &reply,
                     &transportError)) {
        // An unreachable daemon says nothing about the tunnel: keep what we knew.
        qCWarning(lcTarvexClient) << "[MacVpnServiceClientBackend] status failed" << transportError;
        return false;
    }
    if (reply.value(QStringLiteral("ok")) != QJsonValue(true)) {
        setError(replyError(reply, tr("Не удалось получить состояние VPN")));
        return false;
    }

    const Status reported =
        VpnServiceProtocol::statusFromString(reply.value(QStringLiteral("status")).toString());
    // The daemon's reason for a failed tunnel travels in "error"; keep it as the last
    // error (without errorOccurred: the query itself succeeded) so the interface can
    // show why. It is stored before the status so statusChanged observers see it.
    if (reported == Error)
        lastErrorText = reply.value(QStringLiteral("error")).toString();
    setStatus(reported);

    const QJsonValue peer = reply.value(PeerKey);
    if (peerOut && peer.isObject())
        *peerOut = peer.toObject().toVariantMap();
    return true;
}

bool MacVpnServiceClientBackend::sendRequest(const QJsonObject &request, QJsonObject *response,
                                             QString *errorString) const
{
    // A fresh socket per request: the daemon answers one request per connection and
    // closes it, and no state may linger between operations.
    QLocalSocket socket;
    const QString path = VpnServiceProtocol::socketPath();
    qCInfo(lcTarvexClient) << "[MacVpnServiceClientBackend] connect service" << path;

    socket.connectToServer(path, QIODevice::ReadWrite);
    if (!socket.waitForConnected(ConnectTimeoutMs)) {
        if (errorString) {
            *errorString = socket.errorString();
            // A refused connection on an existing file is a daemon that died and left
            // its socket behind; only restarting it as root helps.
            if (socket.error() == QLocalSocket::ConnectionRefusedError && QFileInfo::exists(path))
                *errorString = tr("socket сервиса есть, но сервис не запущен. Перезапустите "
                                  "сервис через sudo");
        }
        qCWarning(lcTarvexClient) << "[MacVpnServiceClientBackend] service connect failed"
                                  << socket.errorString();
        return false;
    }

    const QByteArray bytes = VpnServiceProtocol::encodeMessage(request);
    qCInfo(lcTarvexClient).noquote()
        << "[MacVpnServiceClientBackend] request =" << redactedForLog(request);

    socket.write(bytes);
    if (!socket.waitForBytesWritten(WriteTimeoutMs)) {
        if (errorString)
            *errorString = socket.errorString();
        qCWarning(lcTarvexClient) << "[MacVpnServiceClientBackend] service write failed"
                                  << socket.errorString();
        return false;
    }

    QJsonObject reply;
    QString readError;
    if (!VpnServiceProtocol::readMessage(&socket, &reply, &readError, replyTimeoutMs())) {
        if (errorString)
            *errorString = readError;
        qCWarning(lcTarvexClient) << "[MacVpnServiceClientBackend] service read failed"
                                  << readError;
        return false;
    }
    qCInfo(lcTarvexClient).noquote()
        << "[MacVpnServiceClientBackend] response =" << redactedForLog(reply);
    if (response)
        *response = reply;
    return true;
}

int MacVpnServiceClientBackend::replyTimeoutMs() const
{
    return ReplyTimeoutMs;
}

void MacVpnServiceClientBackend::setError(const QString &error)
{
    lastErrorText = error;
    if (lastErrorText.isEmpty())
        return;
    qCWarning(lcTarvexClient) << "[MacVpnServiceClientBackend] error:" << lastErrorText;
    setStatus(Error);
    emit errorOccurred(lastErrorText);
}

void MacVpnServiceClientBackend::setStatus(Status status)
{
    if (status == currentStatus)
        return;
    currentStatus = status;
    qCInfo(lcTarvexClient) << "[MacVpnServiceClientBackend] status changed" << status;
    emit statusChanged(status);
}

QString MacVpnServiceClientBackend::replyError(const QJsonObject &reply, const QString &fallback)
{
    const QString text = reply.value(QStringLiteral("error")).toString();
    return text.isEmpty() ? fallback : text;
}
