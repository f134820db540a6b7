#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// The configuration state of one simulated WireGuard device and the rules of the
// cross-platform userspace API ("set=1" / "get=1") that change and report it.
// The checks follow wireguard-go: a value it would refuse is refused here with the
// same negative errno, so a request accepted by the stand-in is one a real tunnel
// program accepts too.
class UapiDevice
{
public:
    struct Peer
    {
        QByteArray publicKey;    // 32 bytes
        QByteArray presharedKey; // 32 bytes, zero when unset
        QString endpoint;
        int persistentKeepalive = 0;
        QStringList allowedIps;
    };

    // The AmneziaWG interface keys in the order a "get" reports them.
    static const QStringList &obfuscationKeys();

    // Applies the key=value lines of one "set" request (without the "set=1" line and
    // the blank line). Returns 0, or a negative errno with the reason in *error; a
    // refused request leaves the device unchanged.
    int set(const QList<QByteArray> &lines, QString *error);

    // Splits the AmneziaWG interface keys off the lines of a "set" request, for a plain
    // WireGuard device that would refuse them: checks them as set() does and puts the
    // other lines, in order, into *plain. Returns 0, or a negative errno with the reason
    // in *error when an obfuscation key is malformed or follows the first public_key.
    static int withoutObfuscation(const QList<QByteArray> &lines, QList<QByteArray> *plain,
                                  QString *error);

    // The key=value lines a "get" request answers with, each ended by a line feed,
    // without the closing errno line.
    QByteArray get() const;

    // The applied configuration for tests to read (keys as lower-case hexadecimal).
    QJsonObject toJson() const;

private:
    QByteArray privateKey;
    int listenPort = 0;
    quint32 fwmark = 0;
    QMap<QString, QString> obfuscation;
    QList<Peer> peers;
};
