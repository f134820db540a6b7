#pragma once

#include "parsedvpnconfig.h"
#include "platformvpnbackend.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

class QIODevice;

// The framing between client and daemon: one compact JSON object per line,
// one request and one reply per connection.
class VpnServiceProtocol
{
public:
    VpnServiceProtocol() = delete;

    // TARVEX_SERVICE_SOCKET, when set and non-empty, replaces the fixed path so that
    // tests, the sandbox and development builds can run a daemon of their own.
    static QString socketPath();
    static QByteArray encodeMessage(const QJsonObject &message);
    // Fails with timeoutError() when no complete line came in time, with closedError() as
    // soon as the other end of a local socket has closed without completing one, otherwise
    // with the JSON parser's text.
    static bool readMessage(QIODevice *device, QJsonObject *message, QString *error, int timeoutMs);
    static QString timeoutError();
    static QString closedError();

    static QJsonObject parsedConfigToJson(const ParsedVpnConfig &config);
    static ParsedVpnConfig parsedConfigFromJson(const QJsonObject &json);

    static QString statusToString(PlatformVpnBackend::Status status);
    // The client's reading of a status string: anything it does not know is Disconnected.
    static PlatformVpnBackend::Status statusFromString(const QString &status);
};
