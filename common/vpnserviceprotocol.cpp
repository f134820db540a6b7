#include "vpnserviceprotocol.h"

#include <QElapsedTimer>
#include <QIODevice>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QLocalSocket>
#include <QThread>

namespace {
constexpr char DefaultSocketPath[] = "/private/tmp/tarvex-client-service.sock";
constexpr int ReadSliceMs = 100;

// True when nothing more can arrive: the other end of a local socket has gone and every
// byte it sent has been read.
bool peerHasClosed(QIODevice *device)
{
    const auto *socket = qobject_cast<QLocalSocket *>(device);
    return socket && socket->state() == QLocalSocket::UnconnectedState &&
           socket->bytesAvailable() == 0;
}

// Waits up to sliceMs for the device to become readable. A device that cannot signal
// (or has nothing more to say) makes waitForReadyRead return at once; sleeping out the
// slice keeps the reader polling until its time-out without spinning a core.
void waitForData(QIODevice *device, qint64 sliceMs)
{
    if (sliceMs <= 0)
        return;
    QElapsedTimer slice;
    slice.start();
    if (device && (device->waitForReadyRead(int(sliceMs)) || peerHasClosed(device)))
        return;
    const qint64 rest = sliceMs - slice.elapsed();
    if (rest > 0)
        QThread::msleep(quint64(rest));
}
} // namespace

QString VpnServiceProtocol::socketPath()
{
    const QString overridden = qEnvironmentVariable("TARVEX_SERVICE_SOCKET");
    return overridden.isEmpty() ? QString::fromLatin1(DefaultSocketPath) : overridden;
}

QByteArray VpnServiceProtocol::encodeMessage(const QJsonObject &message)
{
    return QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n';
}

bool VpnServiceProtocol::readMessage(QIODevice *device, QJsonObject *message, QString *error,
                                     int timeoutMs)
{
    QByteArray buffer;
    QElapsedTimer timer;
    timer.start();

    bool timedOut = false;
    bool closed = false;
    forever
    {
        if (buffer.contains('\n'))
            break;
        if (timer.elapsed() >= timeoutMs) {
            timedOut = true;
            break;
        }
        if (device)
            buffer.append(device->readAll());
        if (buffer.contains('\n'))
            break;
        if (peerHasClosed(device)) {
            closed = true;
            break;
        }
        waitForData(device, qMin<qint64>(ReadSliceMs, timeoutMs - timer.elapsed()));
    }

    if (timedOut || closed || !buffer.contains('\n')) {
        if (error)
            *error = closed ? closedError() : timeoutError();
        return false;
    }

    QJsonParseError parseError;
    const QJsonDocument document =
        QJsonDocument::fromJson(buffer.left(buffer.indexOf('\n')), &parseError);
    if (parseError.error == QJsonParseError::NoError && document.isObject()) {
        if (message)
            *message = document.object();
        return true;
    }
    if (error)
        *error = parseError.errorString();
    return false;
}

QString VpnServiceProtocol::timeoutError()
{
    return QStringLiteral("timeout");
}

QString VpnServiceProtocol::closedError()
{
    return QStringLiteral("connection closed");
}

QJsonObject VpnServiceProtocol::parsedConfigToJson(const ParsedVpnConfig &config)
{
    return QJsonObject{
        {QStringLiteral("rawConfig"), config.rawConfig},
        {QStringLiteral("defaultContainer"), config.defaultContainer},
        {QStringLiteral("container"), config.container},
        {QStringLiteral("protocolName"), config.protocolName},
        {QStringLiteral("protocolConfig"), config.protocolConfig},
        {QStringLiteral("lastConfigRaw"), config.lastConfigRaw},
        {QStringLiteral("lastConfig"), config.lastConfig},
        {QStringLiteral("hostName"), config.hostName},
        {QStringLiteral("dns1"), config.dns1},
        {QStringLiteral("dns2"), config.dns2},
    };
}

ParsedVpnConfig VpnServiceProtocol::parsedConfigFromJson(const QJsonObject &json)
{
    // A value of the wrong type reads as empty: the daemon never rejects a request
    // for its config's shape, the backend's own checks decide.
    const auto text = [&json](const char *key) {
        const QJsonValue value = json.value(QLatin1String(key));
        return value.isString() ? value.toString() : QString();
    };
    const auto object = [&json](const char *key) {
        const QJsonValue value = json.value(QLatin1String(key));
        return value.isObject() ? value.toObject() : QJsonObject();
    };

    ParsedVpnConfig config;
    config.rawConfig = object("rawConfig");
    config.defaultContainer = text("defaultContainer");
    config.container = text("container");
    config.protocolName = text("protocolName");
    config.protocolConfig = object("protocolConfig");
    config.lastConfigRaw = text("lastConfigRaw");
    config.lastConfig = object("lastConfig");
    config.hostName = text("hostName");
    config.dns1 = text("dns1");
    config.dns2 = text("dns2");
    return config;
}

QString VpnServiceProtocol::statusToString(PlatformVpnBackend::Status status)
{
    switch (status) {
    case PlatformVpnBackend::Disconnected:
        return QStringLiteral("disconnected");
    case PlatformVpnBackend::Connecting:
        return QStringLiteral("connecting");
    case PlatformVpnBackend::Connected:
        return QStringLiteral("connected");
    case PlatformVpnBackend::Disconnecting:
        return QStringLiteral("disconnecting");
    case PlatformVpnBackend::Error:
        return QStringLiteral("error");
    }
    return QStringLiteral("unknown");
}

PlatformVpnBackend::Status VpnServiceProtocol::statusFromString(const QString &status)
{
    if (status == QLatin1String("connecting"))
        return PlatformVpnBackend::Connecting;
    if (status == QLatin1String("connected"))
        return PlatformVpnBackend::Connected;
    if (status == QLatin1String("disconnecting"))
        return PlatformVpnBackend::Disconnecting;
    if (status == QLatin1String("error"))
        return PlatformVpnBackend::Error;
    return PlatformVpnBackend::Disconnected;
}
