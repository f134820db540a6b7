#pragma once

#include <QHash>
#include <QJsonObject>
#include <QMutex>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

class QLocalServer;
class QLocalSocket;

// A stand-in for TarvexVpnService that really listens: a QLocalServer on a temporary
// path, announced to the client code through TARVEX_SERVICE_SOCKET. The variable keeps
// naming that path once the daemon is gone, a path where nothing listens rather than the
// system daemon's. It runs on a thread of its
// own so that code blocking the test thread in a request (VpnManager's synchronous
// calls, the backend called directly) still gets its answer. Each command gets the
// answer scripted for it; every request is recorded.
class FakeServiceDaemon
{
public:
    struct Answer
    {
        enum Kind {
            Reply,  // bytes (none: close without a byte), then the connection is closed
            Silent, // read the request, never answer, keep the connection open
        };
        Kind kind = Reply;
        QByteArray bytes;
    };

    // The reply as one compact JSON line.
    static Answer reply(const QJsonObject &reply);
    // {"ok": true, "status": status, "error": error} plus "peer" when given.
    static QJsonObject okReply(const QString &status, const QJsonObject &peer = QJsonObject(),
                               const QString &error = QString());
    // {"ok": false, "status": status, "error": error}.
    static QJsonObject failReply(const QString &status, const QString &error);

    FakeServiceDaemon();
    ~FakeServiceDaemon();

    // Applies from the next request on. An unscripted command gets a failure reply.
    void setAnswer(const QString &command, const Answer &answer);
    void setReply(const QString &command, const QJsonObject &json)
    {
        setAnswer(command, reply(json));
    }
    // connect answers "connected", disconnect and status "disconnected".
    void answerSuccess();
    // Goes away as a stopped service does, its socket file with it.
    void stop();

    // Every request line received, parsed (an empty object when it did not parse).
    QList<QJsonObject> requests() const;
    QStringList commands() const;

private:
    void handle(QLocalSocket *socket, const QByteArray &line);

    QTemporaryDir dir;
    QThread thread;
    QObject *context = nullptr; // lives in thread; the server hangs off it
    QLocalServer *server = nullptr;
    mutable QMutex mutex; // guards the members below, shared with the daemon thread
    QHash<QString, Answer> answers;
    QList<QJsonObject> received;
};

Q_DECLARE_METATYPE(FakeServiceDaemon::Answer)
