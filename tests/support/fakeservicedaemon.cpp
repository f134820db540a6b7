#include "fakeservicedaemon.h"

#include <QHash>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMutex>
#include <QMutexLocker>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

class FakeServiceDaemon::Private
{
public:
    void start();
    void stop();
    void accept(QLocalSocket *socket);
    void handle(QLocalSocket *socket, const QByteArray &line);

    QTemporaryDir dir;
    QString path;
    QByteArray previousSocketVariable;
    bool hadSocketVariable = false;

    QThread thread;
    QObject *context = nullptr; // lives in thread; everything socket-related hangs off it
    QLocalServer *server = nullptr;
    bool listening = false;

    mutable QMutex mutex; // guards the members below, shared with the daemon thread
    QHash<QString, Answer> answers;
    QList<QJsonObject> requests;
    QStringList commands;
    QList<QByteArray> rawRequests;
    int connections = 0;
};

void FakeServiceDaemon::Private::start()
{
    server = new QLocalServer(context);
    listening = server->listen(path);
    QObject::connect(server, &QLocalServer::newConnection, context, [this] {
        while (QLocalSocket *socket = server->nextPendingConnection())
            accept(socket);
    });
}

void FakeServiceDaemon::Private::stop()
{
    delete server; // closes every connection and removes the socket file
    server = nullptr;
}

void FakeServiceDaemon::Private::accept(QLocalSocket *socket)
{
    {
        QMutexLocker lock(&mutex);
        ++connections;
    }
    QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
        // One request per connection, as the real daemon does.
        if (socket->property("handled").toBool() || !socket->canReadLine())
            return;
        socket->setProperty("handled", true);
        QByteArray line = socket->readLine();
        line.chop(1);
        handle(socket, line);
    });
}

void FakeServiceDaemon::Private::handle(QLocalSocket *socket, const QByteArray &line)
{
    const QJsonObject request = QJsonDocument::fromJson(line).object();
    const QString command = request.value(QStringLiteral("command")).toString();
    Answer answer = FakeServiceDaemon::reply(QJsonObject{
        {QStringLiteral("ok"), false},
        {QStringLiteral("status"), QStringLiteral("disconnected")},
        {QStringLiteral("error"), QStringLiteral("unscripted command")},
    });
    {
        QMutexLocker lock(&mutex);
        requests.append(request);
        commands.append(command);
        rawRequests.append(line);
        answer = answers.value(command, answer);
    }

    const QByteArray bytes =
        answer.kind == Answer::Raw
            ? answer.raw
            : QJsonDocument(answer.reply).toJson(QJsonDocument::Compact) + '\n';
    switch (answer.kind) {
    case Answer::Reply:
    case Answer::Raw:
        socket->write(bytes);
        socket->disconnectFromServer(); // after the pending bytes are written
        return;
    case Answer::ReplyInPieces: {
        // Three chunks with pauses, so the reader sees several partial reads.
        const qsizetype third = qMax<qsizetype>(1, bytes.size() / 3);
        for (qsizetype at = 0; at < bytes.size(); at += third) {
            socket->write(bytes.mid(at, third));
            socket->waitForBytesWritten(1000);
            QThread::msleep(30);
        }
        socket->disconnectFromServer();
        return;
    }
    case Answer::Silent:
        return;
    case Answer::CloseEarly:
        socket->abort(); // emits disconnected, which releases the socket
        return;
    }
}

FakeServiceDaemon::FakeServiceDaemon()
    : d(std::make_unique<Private>())
{
    d->path = d->dir.filePath(QStringLiteral("service.sock"));
    d->hadSocketVariable = qEnvironmentVariableIsSet("TARVEX_SERVICE_SOCKET");
    d->previousSocketVariable = qgetenv("TARVEX_SERVICE_SOCKET");
    qputenv("TARVEX_SERVICE_SOCKET", d->path.toUtf8());

    d->context = new QObject;
    d->context->moveToThread(&d->thread);
    QObject::connect(&d->thread, &QThread::finished, d->context, &QObject::deleteLater);
    d->thread.start();
    QMetaObject::invokeMethod(
        d->context, [this] { d->start(); }, Qt::BlockingQueuedConnection);
}

FakeServiceDaemon::~FakeServiceDaemon()
{
    QMetaObject::invokeMethod(
        d->context, [this] { d->stop(); }, Qt::BlockingQueuedConnection);
    d->thread.quit();
    d->thread.wait();
    if (d->hadSocketVariable)
        qputenv("TARVEX_SERVICE_SOCKET", d->previousSocketVariable);
    else
        qunsetenv("TARVEX_SERVICE_SOCKET");
}

FakeServiceDaemon::Answer FakeServiceDaemon::reply(const QJsonObject &reply)
{
    return Answer{Answer::Reply, reply, QByteArray()};
}

FakeServiceDaemon::Answer FakeServiceDaemon::replyInPieces(const QJsonObject &reply)
{
    return Answer{Answer::ReplyInPieces, reply, QByteArray()};
}

FakeServiceDaemon::Answer FakeServiceDaemon::raw(const QByteArray &bytes)
{
    return Answer{Answer::Raw, QJsonObject(), bytes};
}

FakeServiceDaemon::Answer FakeServiceDaemon::silent()
{
    return Answer{Answer::Silent, QJsonObject(), QByteArray()};
}

FakeServiceDaemon::Answer FakeServiceDaemon::closeEarly()
{
    return Answer{Answer::CloseEarly, QJsonObject(), QByteArray()};
}

QJsonObject FakeServiceDaemon::okReply(const QString &status, const QJsonObject &peer)
{
    QJsonObject reply{
        {QStringLiteral("ok"), true},
        {QStringLiteral("status"), status},
        {QStringLiteral("error"), QString()},
    };
    if (!peer.isEmpty())
        reply.insert(QStringLiteral("peer"), peer);
    return reply;
}

QJsonObject FakeServiceDaemon::failReply(const QString &status, const QString &error)
{
    return QJsonObject{
        {QStringLiteral("ok"), false},
        {QStringLiteral("status"), status},
        {QStringLiteral("error"), error},
    };
}

bool FakeServiceDaemon::isListening() const
{
    return d->listening;
}

QString FakeServiceDaemon::socketPath() const
{
    return d->path;
}

void FakeServiceDaemon::setAnswer(const QString &command, const Answer &answer)
{
    QMutexLocker lock(&d->mutex);
    d->answers.insert(command, answer);
}

QList<QJsonObject> FakeServiceDaemon::requests() const
{
    QMutexLocker lock(&d->mutex);
    return d->requests;
}

QStringList FakeServiceDaemon::commands() const
{
    QMutexLocker lock(&d->mutex);
    return d->commands;
}

QList<QByteArray> FakeServiceDaemon::rawRequests() const
{
    QMutexLocker lock(&d->mutex);
    return d->rawRequests;
}

int FakeServiceDaemon::connectionCount() const
{
    QMutexLocker lock(&d->mutex);
    return d->connections;
}

void FakeServiceDaemon::clearRequests()
{
    QMutexLocker lock(&d->mutex);
    d->requests.clear();
    d->commands.clear();
    d->rawRequests.clear();
}

bool FakeServiceDaemon::waitForRequests(int count, int timeoutMs) const
{
    return QTest::qWaitFor([this, count] { return requests().size() >= count; }, timeoutMs);
}
