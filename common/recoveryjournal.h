#pragma once

#include <QByteArray>
#include <QFileInfo>
#include <QList>
#include <QString>
#include <QStringList>

// What the daemon has to undo should it die while a tunnel is up: the tunnel program it
// started, the routes it added, the DNS servers each network service had before, and
// whether it wrote its block into the hosts file. Held in one small file in a folder
// only root may enter, replaced as a whole and flushed to disk at every change, so that
// a crash or a power cut leaves either the previous or the new record, never a mix.
//
// The file holds one JSON object per line: a header, the records, and an end line that
// counts them. A file cut short by other means still gives every complete record before
// the cut; it is then reported as damaged.
class RecoveryJournal
{
public:
    // A route to delete again, as it was given to /sbin/route (MacVpnBackend::RouteEntry).
    struct Route
    {
        QString family; // "inet" or "inet6"
        QString destination;
        QString type; // "-host" or "-net"

        friend bool operator==(const Route &a, const Route &b)
        {
            return a.family == b.family && a.destination == b.destination && a.type == b.type;
        }
    };

    // The servers a network service had before the tunnel's were set; none means "Empty".
    struct DnsServers
    {
        QString service;
        QStringList servers;

        friend bool operator==(const DnsServers &a, const DnsServers &b)
        {
            return a.service == b.service && a.servers == b.servers;
        }
    };

    struct Contents
    {
        // The tunnel program, whose interface ends with it; set before it starts.
        QString tunnelProgram;
        qint64 tunnelPid = 0; // 0: not known (yet)
        QList<Route> routes;  // in the order they were added
        QList<DnsServers> dnsServers;
        bool hostsBlock = false;

        bool isEmpty() const;
        friend bool operator==(const Contents &a, const Contents &b);
    };

    enum class State { Missing, Complete, Damaged };

    // Moves the journal's folder (the development sandbox points it at a private one).
    static constexpr char DirectoryVariable[] = "TARVEX_STATE_DIR";
    static QString defaultDirectory();

    explicit RecoveryJournal(const QString &directory = defaultDirectory());

    void setDirectory(const QString &directory);
    QString filePath() const;
    // The text of the last failure of a write, removal or keepAside.
    QString errorString() const;

    // What this process has recorded since the last remove().
    const Contents &contents() const;

    // Each of these writes the whole journal before it returns true. On false the file
    // and contents() are as before.
    bool setTunnel(const QString &program, qint64 pid);
    bool addRoute(const Route &route);
    bool removeRoute(const Route &route);
    bool addDnsServers(const QString &service, const QStringList &servers);
    bool setHostsBlock();
    // Deletes the file (nothing left to undo) and empties contents().
    bool remove();

    // A journal left by an earlier run. A file that cannot be read at all is Damaged with
    // empty contents (errorString() says why).
    State read(Contents *contents);
    // Renames the file so that it is neither read again nor overwritten; returns the new
    // path, or an empty one when that failed.
    QString keepAside();

    static QByteArray serialize(const Contents &contents);
    static State parse(const QByteArray &data, Contents *contents);

private:
    bool write(const Contents &next);
    bool prepareDirectory();
    bool isOwnFolder(const QFileInfo &info);

    QString directory;
    Contents current;
    QString lastError;
};
