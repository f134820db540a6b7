#include "uapidevice.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <optional>

namespace {

constexpr int KeyLength = 32;

int invalid(QString *error, const QString &reason)
{
    *error = reason;
    return -EINVAL;
}

// strconv.ParseUint semantics: decimal digits only, no sign, inside the bit width.
std::optional<quint64> parseUnsigned(const QString &text, quint64 max)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    if (!digits.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const quint64 value = text.toULongLong(&ok, 10);
    if (!ok || value > max)
        return std::nullopt;
    return value;
}

// Exactly 64 hexadecimal digits, either case.
std::optional<QByteArray> parseKey(const QString &text)
{
    static const QRegularExpression hex(QStringLiteral("^[0-9a-fA-F]{64}$"));
    if (!hex.match(text).hasMatch())
        return std::nullopt;
    return QByteArray::fromHex(text.toLatin1());
}

// A literal address the way Go's netip parses it: dotted quad without leading zeros,
// or an IPv6 address (a zone only where allowZone is set). Host names are refused:
// the tunnel program resolves nothing itself.
bool isLiteralAddress(const QString &text, bool ipv6, bool allowZone)
{
    if (!ipv6) {
        static const QRegularExpression quad(
            QStringLiteral("^(0|[1-9][0-9]{0,2})\\.(0|[1-9][0-9]{0,2})\\.(0|[1-9][0-9]{0,2})"
                           "\\.(0|[1-9][0-9]{0,2})$"));
        const QRegularExpressionMatch match = quad.match(text);
        if (!match.hasMatch())
            return false;
        for (int i = 1; i <= 4; ++i) {
            if (match.captured(i).toInt() > 255)
                return false;
        }
        return true;
    }
    if (!text.contains(QLatin1Char(':')))
        return false;
    if (text.contains(QLatin1Char('%')) && !allowZone)
        return false;
    QHostAddress address;
    return address.setAddress(text) && address.protocol() == QAbstractSocket::IPv6Protocol;
}

// "a.b.c.d:port" or "[v6]:port".
bool isEndpoint(const QString &text)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0 || !parseUnsigned(text.mid(colon + 1), 65535))
        return false;
    const QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        return isLiteralAddress(host.mid(1, host.size() - 2), true, true);
    return isLiteralAddress(host, false, false);
}

// "address/bits" with bits inside the family's width.
bool isPrefix(const QString &text)
{
    const int slash = text.indexOf(QLatin1Char('/'));
    if (slash <= 0)
        return false;
    const QString address = text.left(slash);
    const bool ipv6 = address.contains(QLatin1Char(':'));
    const QString bits = text.mid(slash + 1);
    if (bits.size() > 1 && bits.startsWith(QLatin1Char('0')))
        return false;
    return isLiteralAddress(address, ipv6, false) && parseUnsigned(bits, ipv6 ? 128 : 32);
}

// h1-h4 are 32-bit message types, newer AmneziaWG versions also take a range "low-high".
bool isHeaderValue(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('-'));
    if (parts.size() > 2)
        return false;
    for (const QString &part : parts) {
        if (!parseUnsigned(part, 0xffffffffULL))
            return false;
    }
    return parts.size() == 1 || parts.at(0).toULongLong() <= parts.at(1).toULongLong();
}

bool isObfuscationValue(const QString &key, const QString &value)
{
    if (key.startsWith(QLatin1Char('i')))
        return true; // i1-i5 are packet templates, taken as given
    if (key.startsWith(QLatin1Char('h')))
        return isHeaderValue(value);
    return parseUnsigned(value, 0x7fffffffULL).has_value();
}

// WireGuard clamps a private key when it is set, and reports it clamped.
QByteArray clamped(QByteArray key)
{
    key[0] = char(quint8(key.at(0)) & 248);
    key[31] = char((quint8(key.at(31)) & 127) | 64);
    return key;
}

} // namespace

const QStringList &UapiDevice::obfuscationKeys()
{
    static const QStringList keys{
        QStringLiteral("jc"), QStringLiteral("jmin"), QStringLiteral("jmax"), QStringLiteral("s1"),
        QStringLiteral("s2"), QStringLiteral("s3"),   QStringLiteral("s4"),   QStringLiteral("h1"),
        QStringLiteral("h2"), QStringLiteral("h3"),   QStringLiteral("h4"),   QStringLiteral("i1"),
        QStringLiteral("i2"), QStringLiteral("i3"),   QStringLiteral("i4"),   QStringLiteral("i5"),
    };
    return keys;
}

int UapiDevice::set(const QList<QByteArray> &lines, QString *error)
{
    // Work on a copy so that a refused request changes nothing.
    UapiDevice next = *this;
    Peer *peer = nullptr;
    bool peerCreated = false;
    // A removed peer, or one named with update_only that did not exist, still has its
    // remaining keys checked, as wireguard-go does, but they change nothing.
    Peer discarded;

    for (const QByteArray &rawLine : lines) {
        const QString line = QString::fromUtf8(rawLine);
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals < 0) {
            *error = QStringLiteral("failed to parse line \"%1\"").arg(line);
            return -EPROTO;
        }
        const QString key = line.left(equals);
        const QString value = line.mid(equals + 1);

        if (key == QLatin1String("public_key")) {
            const auto publicKey = parseKey(value);
            if (!publicKey)
                return invalid(error, QStringLiteral("failed to get peer by public key"));
            peer = nullptr;
            for (Peer &existing : next.peers) {
                if (existing.publicKey == *publicKey)
                    peer = &existing;
            }
            peerCreated = !peer;
            if (peerCreated) {
                next.peers.append(Peer{*publicKey, QByteArray(KeyLength, '\0'), {}, 0, {}});
                peer = &next.peers.last();
            }
            continue;
        }

        if (!peer) {
            // Interface keys: only valid before the first peer.
            if (key == QLatin1String("private_key")) {
                const auto privateKey = parseKey(value);
                if (!privateKey)
                    return invalid(error, QStringLiteral("failed to set private_key"));
                next.privateKey = clamped(*privateKey);
            } else if (key == QLatin1String("listen_port")) {
                const auto port = parseUnsigned(value, 65535);
                if (!port)
                    return invalid(error, QStringLiteral("failed to parse listen_port"));
                next.listenPort = int(*port);
            } else if (key == QLatin1String("fwmark")) {
                const auto mark = parseUnsigned(value, 0xffffffffULL);
                if (!mark)
                    return invalid(error, QStringLiteral("invalid fwmark"));
                next.fwmark = quint32(*mark);
            } else if (key == QLatin1String("replace_peers")) {
                if (value != QLatin1String("true"))
                    return invalid(error, QStringLiteral("failed to set replace_peers"));
                next.peers.clear();
            } else if (obfuscationKeys().contains(key)) {
                if (!isObfuscationValue(key, value))
                    return invalid(error, QStringLiteral("failed to parse %1").arg(key));
                next.obfuscation.insert(key, value);
            } else {
                return invalid(error, QStringLiteral("invalid UAPI device key: %1").arg(key));
            }
            continue;
        }

        const auto dropPeer = [&]() {
            if (peer == &discarded)
                return;
            const QByteArray removed = peer->publicKey;
            next.peers.erase(std::remove_if(next.peers.begin(), next.peers.end(),
                                            [&](const Peer &p) { return p.publicKey == removed; }),
                             next.peers.end());
            discarded = Peer{removed, QByteArray(KeyLength, '\0'), {}, 0, {}};
            peer = &discarded;
        };

        if (key == QLatin1String("update_only")) {
            if (value != QLatin1String("true"))
                return invalid(error, QStringLiteral("failed to set update only"));
            if (peerCreated)
                dropPeer();
        } else if (key == QLatin1String("remove")) {
            if (value != QLatin1String("true"))
                return invalid(error, QStringLiteral("failed to set remove"));
            dropPeer();
        } else if (key == QLatin1String("preshared_key")) {
            const auto presharedKey = parseKey(value);
            if (!presharedKey)
                return invalid(error, QStringLiteral("failed to set preshared key"));
            peer->presharedKey = *presharedKey;
        } else if (key == QLatin1String("endpoint")) {
            if (!isEndpoint(value))
                return invalid(error, QStringLiteral("failed to set endpoint %1").arg(value));
            peer->endpoint = value;
        } else if (key == QLatin1String("persistent_keepalive_interval")) {
            const auto interval = parseUnsigned(value, 65535);
            if (!interval)
                return invalid(error,
                               QStringLiteral("failed to set persistent keepalive interval"));
            peer->persistentKeepalive = int(*interval);
        } else if (key == QLatin1String("replace_allowed_ips")) {
            if (value != QLatin1String("true"))
                return invalid(error, QStringLiteral("failed to replace allowedips"));
            peer->allowedIps.clear();
        } else if (key == QLatin1String("allowed_ip")) {
            if (!isPrefix(value))
                return invalid(error, QStringLiteral("failed to set allowed ip: %1").arg(value));
            peer->allowedIps.append(value);
        } else if (key == QLatin1String("protocol_version")) {
            if (value != QLatin1String("1"))
                return invalid(error, QStringLiteral("invalid protocol version: %1").arg(value));
        } else {
            return invalid(error, QStringLiteral("invalid UAPI peer key: %1").arg(key));
        }
    }

    *this = next;
    return 0;
}

int UapiDevice::withoutObfuscation(const QList<QByteArray> &lines, QList<QByteArray> *plain,
                                   QString *error)
{
    plain->clear();
    bool inPeer = false;
    for (const QByteArray &rawLine : lines) {
        const QString line = QString::fromUtf8(rawLine);
        const int equals = line.indexOf(QLatin1Char('='));
        const QString key = line.left(equals);
        if (equals < 0 || !obfuscationKeys().contains(key)) {
            // Everything else, a line without "=" included, is the plain device's to judge.
            inPeer = inPeer || key == QLatin1String("public_key");
            plain->append(rawLine);
            continue;
        }
        if (inPeer)
            return invalid(error, QStringLiteral("invalid UAPI peer key: %1").arg(key));
        if (!isObfuscationValue(key, line.mid(equals + 1)))
            return invalid(error, QStringLiteral("failed to parse %1").arg(key));
    }
    return 0;
}

QByteArray UapiDevice::get() const
{
    QByteArray out;
    auto line = [&out](const QString &key, const QString &value) {
        out += key.toUtf8() + '=' + value.toUtf8() + '\n';
    };
    if (!privateKey.isEmpty())
        line(QStringLiteral("private_key"), QString::fromLatin1(privateKey.toHex()));
    line(QStringLiteral("listen_port"), QString::number(listenPort));
    if (fwmark != 0)
        line(QStringLiteral("fwmark"), QString::number(fwmark));
    for (const QString &key : obfuscationKeys()) {
        if (obfuscation.contains(key))
            line(key, obfuscation.value(key));
    }
    for (const Peer &peer : peers) {
        line(QStringLiteral("public_key"), QString::fromLatin1(peer.publicKey.toHex()));
        line(QStringLiteral("preshared_key"), QString::fromLatin1(peer.presharedKey.toHex()));
        line(QStringLiteral("protocol_version"), QStringLiteral("1"));
        if (!peer.endpoint.isEmpty())
            line(QStringLiteral("endpoint"), peer.endpoint);
        line(QStringLiteral("last_handshake_time_sec"), QStringLiteral("0"));
        line(QStringLiteral("last_handshake_time_nsec"), QStringLiteral("0"));
        line(QStringLiteral("tx_bytes"), QStringLiteral("0"));
        line(QStringLiteral("rx_bytes"), QStringLiteral("0"));
        line(QStringLiteral("persistent_keepalive_interval"),
             QString::number(peer.persistentKeepalive));
        for (const QString &allowedIp : peer.allowedIps)
            line(QStringLiteral("allowed_ip"), allowedIp);
    }
    return out;
}

QJsonObject UapiDevice::toJson() const
{
    QJsonObject obfuscationObject;
    for (auto it = obfuscation.cbegin(); it != obfuscation.cend(); ++it)
        obfuscationObject.insert(it.key(), it.value());

    QJsonArray peerArray;
    for (const Peer &peer : peers) {
        peerArray.append(QJsonObject{
            {QStringLiteral("public_key"), QString::fromLatin1(peer.publicKey.toHex())},
            {QStringLiteral("preshared_key"), QString::fromLatin1(peer.presharedKey.toHex())},
            {QStringLiteral("endpoint"), peer.endpoint},
            {QStringLiteral("persistent_keepalive_interval"), peer.persistentKeepalive},
            {QStringLiteral("allowed_ips"), QJsonArray::fromStringList(peer.allowedIps)},
        });
    }
    return QJsonObject{
        {QStringLiteral("private_key"), QString::fromLatin1(privateKey.toHex())},
        {QStringLiteral("listen_port"), listenPort},
        {QStringLiteral("fwmark"), qint64(fwmark)},
        {QStringLiteral("obfuscation"), obfuscationObject},
        {QStringLiteral("peers"), peerArray},
    };
}
