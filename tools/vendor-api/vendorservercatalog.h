#pragma once

#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QSet>
#include <QStringList>

// The countries and their VPN servers, read from a readable JSON fixture so that a
// person or a test can point a country at any server (the sandbox's live WireGuard
// server included). The file is checked completely on load; a server that starts has
// only valid records.
class VendorServerCatalog
{
public:
    struct Server
    {
        QString id;
        QString name;
        QString protocol; // "amnezia-v1" or "amnezia-v2"
        QString host;
        int port = 0;
        QString publicKey;
        QString presharedKey; // optional; shared by every peer of the server
        QStringList dns;
        QStringList allowedIps;
        QHostAddress poolNetwork; // the tunnel addresses handed to peers
        int poolPrefix = 0;
        int mtu = 1280;
        int persistentKeepAlive = 25;
        QJsonObject obfuscation; // the AmneziaWG values ("Jc", "S1", "H1", ...), as text

        // The pool's first host address not in used, skipping the server's own first
        // one; empty when the pool is full.
        QString freeAddress(const QSet<QString> &used) const;
    };

    struct Country
    {
        int id = 0;
        QString name;
        QList<Server> servers;
    };

    // False with errorString() set when the file is unreadable or any record is invalid.
    bool load(const QString &path);
    QString errorString() const { return error; }

    const QList<Country> &countries() const { return countryList; }
    const Country *country(int id) const;

private:
    bool readServer(const QJsonObject &object, const QString &where, Server &server);
    bool fail(const QString &where, const QString &what);

    QList<Country> countryList;
    QString error;
};
