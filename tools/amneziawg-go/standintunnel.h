#pragma once

#include "uapidevice.h"

#include <QList>

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

class LiveWireGuard;
class QLocalServer;
class QLocalSocket;

// The stand-in tunnel program's running state: the UAPI server on
// <runtime dir>/<name>.sock, the name file, the record files for tests and the
// interface hook. Behaviour knobs come from the environment (see README.md).
class StandInTunnel : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        QString nameFile;
        QString runtimeDir;
        QString requestedName; // "utun" picks the next free number
        QString hook;          // program run as "hook add|remove <name>", or empty
        QString simStateDir;   // the sandbox's simulated Mac (TARVEX_SIM_STATE), or empty
        QString nameMode;      // "", "never" or "empty"
        int nameDelayMs = 0;
        int socketDelayMs = 0;
        bool forcedSetErrno = false;
        int setErrno = 0;
        int replyChunkBytes = 0;
        int replyChunkDelayMs = 50;
        int logLevel = 1;  // 0 silent, 1 error, 2 verbose
        bool live = false; // wireguard-go does the packet work (see livewireguard.h)
    };

    explicit StandInTunnel(const Options &options, QObject *parent = nullptr);
    ~StandInTunnel() override;

    // Chooses the interface, runs the hook's "add" and schedules the socket and the
    // name file. False (with the reason printed) when the program must exit.
    bool start();

    // Closes the socket (removing its file) and runs the hook's "remove".
    void stop();

    QString interfaceName() const { return name; }

private:
    struct Connection
    {
        QByteArray input;
        QByteArray output;
        bool replyPending = false;
    };

    QString chooseName() const;
    QString claimSimulatedName() const;
    bool nameTaken(const QString &candidate) const;
    QByteArray handleLiveSet(const QList<QByteArray> &body, int *errnoValue);
    bool runHook(const QString &action) const;
    void listen();
    void writeNameFile();
    void handleConnection();
    void handleInput(QLocalSocket *socket);
    void handleRequest(QLocalSocket *socket, const QByteArray &request);
    void sendReply(QLocalSocket *socket, const QByteArray &reply);
    void writeNextChunk(QLocalSocket *socket);
    void writeRecord(const QByteArray &request, int errnoValue);
    void log(int level, const QString &text) const;
    QString recordPath(const QString &suffix) const;

    Options options;
    QString name;
    QLocalServer *server = nullptr;
    QHash<QLocalSocket *, Connection> connections;
    UapiDevice device;
    LiveWireGuard *wireguard = nullptr;
    int requestCount = 0;
    int appliedCount = 0;
    bool added = false;
    bool simulated = false;
};
