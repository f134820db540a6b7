#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

// A stand-in for TarvexVpnService that really listens: a QLocalServer on a temporary
// path, announced to the client code through TARVEX_SERVICE_SOCKET for the daemon's
// lifetime. It runs on a thread of its own so that code blocking the test thread in
// a request (VpnManager's synchronous calls, the backend called directly) still gets
// its answer. Each command gets the answer scripted for it; every request is recorded.
class FakeServiceDaemon
{
public:
    struct Answer
    {
        enum Kind {
            Reply,         // one reply line, then the connection is closed
            ReplyInPieces, // the same line, written in several delayed chunks
            Raw,           // these bytes as they are, then close
            Silent,        // read the request, never answer, keep the connection open
            CloseEarly,    // read the request and close without a byte
        };
        Kind kind = Reply;
        QJsonObject reply;
        QByteArray raw;
    };

    static Answer reply(const QJsonObject &reply);
    static Answer replyInPieces(const QJsonObject &reply);
    static Answer raw(const QByteArray &bytes);
    static Answer silent();
    static Answer closeEarly();

    // {"ok": true, "status": status, "error": ""} plus "peer" when given.
    static QJsonObject okReply(const QString &status, const QJsonObject &peer = QJsonObject());
    // {"ok": false, "status": status, "error": error}.
    static QJsonObject failReply(const QString &status, const QString &error);

    FakeServiceDaemon();
    ~FakeServiceDaemon();
    FakeServiceDaemon(const FakeServiceDaemon &) = delete;
    FakeServiceDaemon &operator=(const FakeServiceDaemon &) = delete;

    bool isListening() const;
    QString socketPath() const;

    // Applies from the next request on. A command without a script (or a line that is
    // not a JSON object) gets {"ok": false, "error": "unscripted command"}.
    void setAnswer(const QString &command, const Answer &answer);

    // Every request line received, parsed (an empty object when it did not parse).
    QList<QJsonObject> requests() const;
    QStringList commands() const;
    QList<QByteArray> rawRequests() const;
    int connectionCount() const;
    void clearRequests();

    // Spins the calling thread's event loop until count requests have arrived.
    bool waitForRequests(int count, int timeoutMs = 5000) const;

private:
    class Private;
    std::unique_ptr<Private> d;
};
