#include "macvpnserviceclientbackend.h"

#include "peercredentials.h"
#include "secretmasker.h"
#include "tarvexlogging.h"
#include "vpnserviceprotocol.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QLocalSocket>

#include <unistd.h>

namespace {
constexpr int ConnectTimeoutMs = 3000;
constexpr int WriteTimeoutMs = 3000;
constexpr int ReplyTimeoutMs = 60000;

const QString CommandKey = QStringLiteral("command");
const QString ConfigKey = QStringLiteral("config");
const QString PeerKey = QStringLiteral("peer");

// Requests and replies carry the vpn:// configuration and the parsed tunnel keys.
QString loggable(const QJsonObject &message)
{
    return SecretMasker::mask(
        QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
}

// Why the socket did not connect, in words a person can act on; Qt's own texts
// ("Invalid name" for a missing file) say nothing to a user.
QString connectFailureText(const QLocalSocket &socket, const QString &path)
{
    switch (socket.error()) {
    case QLocalSocket::ServerNotFoundError:
        return MacVpnServiceClientBackend::tr("сервис не запущен: сокета %1 нет").arg(path);
    case QLocalSocket::ConnectionRefusedError:
        // A refused connection on an existing file is a daemon that died and left its
        // socket behind; only restarting it as root helps.
        if (QFileInfo::exists(path))
            return MacVpnServiceClientBackend::tr(
                "socket сервиса есть, но сервис не запущен. Перезапустите сервис через sudo");
        return MacVpnServiceClientBackend::tr("сервис не запущен: сокета %1 нет").arg(path);
    case QLocalSocket::SocketAccessError:
        return MacVpnServiceClientBackend::tr("нет доступа к сокету сервиса %1").arg(path);
    case QLocalSocket::SocketTimeoutError:
        return MacVpnServiceClientBackend::tr("сервис не принял соединение за %1 с")
            .arg(ConnectTimeoutMs / 1000);
    default:
        return MacVpnServiceClientBackend::tr("не удалось соединиться с сервисом: %1")
            .arg(socket.errorString());
    }
}

QString readFailureText(const QString &readError, int timeoutMs)
{
    if (readError == VpnServiceProtocol::timeoutError())
        return MacVpnServiceClientBackend::tr("сервис не ответил за %1 с").arg(timeoutMs / 1000.0);
    if (readError == VpnServiceProtocol::closedError())
        return MacVpnServiceClientBackend::tr("сервис закрыл соединение, не ответив на запрос");
    return MacVpnServiceClientBackend::tr("ответ сервиса не удалось прочитать");
}
} // namespace

MacVpnServiceClientBackend::MacVpnServiceClientBackend(QObject *parent)
    : PlatformVpnBackend("[MacVpnServiceClientBackend]", lcTarvexClient, parent)
{}

MacVpnServiceClientBackend::~MacVpnServiceClientBackend() = default;

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
        setLastErrorText(reply.value(QStringLiteral("error")).toString());
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
        if (errorString)
            *errorString = connectFailureText(socket, path);
        qCWarning(lcTarvexClient) << "[MacVpnServiceClientBackend] service connect failed"
                                  << socket.errorString();
        return false;
    }

    // The path lies in /tmp: while the daemon is away any user can listen there.
    uint serviceUid = 0;
    const bool known = PeerCredentials::userId(socket.socketDescriptor(), &serviceUid);
    if (request.value(CommandKey) == QLatin1String("connect") &&
        (!known || !trustsServiceUser(serviceUid))) {
        if (errorString)
            *errorString = tr("сокет %1 открыт не системным сервисом (uid %2), запрос на "
                              "подключение с ключами не отправлен")
                               .arg(path, known ? QString::number(serviceUid) : tr("неизвестен"));
        qCWarning(lcTarvexClient) << "[MacVpnServiceClientBackend] service not trusted"
                                  << "uid=" << (known ? qint64(serviceUid) : -1);
        return false;
    }

    const QByteArray bytes = VpnServiceProtocol::encodeMessage(request);
    qCInfo(lcTarvexClient).noquote()
        << "[MacVpnServiceClientBackend] request =" << loggable(request);

    socket.write(bytes);
    if (!socket.waitForBytesWritten(WriteTimeoutMs)) {
        if (errorString)
            *errorString = socket.state() == QLocalSocket::ConnectedState
                               ? tr("сервис не принял запрос за %1 с").arg(WriteTimeoutMs / 1000)
                               : tr("сервис закрыл соединение, не приняв запрос");
        qCWarning(lcTarvexClient) << "[MacVpnServiceClientBackend] service write failed"
                                  << socket.errorString();
        return false;
    }

    QJsonObject reply;
    QString readError;
    if (!VpnServiceProtocol::readMessage(&socket, &reply, &readError, replyTimeoutMs())) {
        if (errorString)
            *errorString = readFailureText(readError, replyTimeoutMs());
        qCWarning(lcTarvexClient) << "[MacVpnServiceClientBackend] service read failed"
                                  << readError;
        return false;
    }
    qCInfo(lcTarvexClient).noquote()
        << "[MacVpnServiceClientBackend] response =" << loggable(reply);
    if (response)
        *response = reply;
    return true;
}

int MacVpnServiceClientBackend::replyTimeoutMs() const
{
    return ReplyTimeoutMs;
}

bool MacVpnServiceClientBackend::trustsServiceUser(uint uid) const
{
    return uid == 0 || uid == uint(::getuid());
}

QString MacVpnServiceClientBackend::replyError(const QJsonObject &reply, const QString &fallback)
{
    const QString text = reply.value(QStringLiteral("error")).toString();
    return text.isEmpty() ? fallback : text;
}
