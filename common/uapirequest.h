#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

class QLocalSocket;

// The WireGuard cross-platform UAPI as the backend speaks it to the tunnel program: the
// "set" request that configures the interface and its one peer, and the "errno" of the
// reply. Plain text in, plain text out; only exchange() touches a socket.
class UapiRequest
{
public:
    UapiRequest() = delete;

    // The endpoint and allowed IPs are the backend's readings of the configuration (an
    // IPv6 host is bracketed here); the keys and obfuscation values come from lastConfig.
    static QString setConfig(const QJsonObject &lastConfig, const QString &endpointHost,
                             int endpointPort, const QStringList &allowedIps);
    // The value of the first "errno" line; -1 when there is none or it is no number.
    static int replyErrno(const QString &reply);
    // Base64 to lower-case hex, leniently: the tunnel program judges the key, not we.
    static QString hexKey(const QString &base64Key);

    // A line feed, carriage return or other control character in a value copied into the
    // request would add lines of its own to the root-configured tunnel's request. The name
    // of the first field holding one, or an empty text when there is none.
    static QString fieldWithControlCharacter(const QJsonObject &lastConfig,
                                             const QString &endpointHost,
                                             const QStringList &allowedIps);

    // Writes the request, ended by the blank line UAPI wants, on a connected socket and
    // reads until the reply's blank line, the other end's hang-up or the time-out; the
    // reply is trimmed. False when the request could not be written.
    static bool exchange(QLocalSocket &socket, const QString &request, int timeoutMs,
                         QString *reply);
};
