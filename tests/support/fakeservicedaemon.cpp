#include "fakeservicedaemon.h"

#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>

#include <utility>

FakeServiceDaemon::FakeServiceDaemon()
{
    const QString path = dir.filePath(QStringLiteral("service.sock"));
    qputenv("TARVEX_SERVICE_SOCKET", path.toUtf8());
    context = new QObject;
    context->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, context, &QObject::deleteLater);
    thread.start();
    QMetaObject::invokeMethod(
        context,
        [this, path] {
            server = new QLocalServer(context);
            if (!server->listen(path))
                qWarning() << "FakeServiceDaemon cannot listen:" << server->errorString();
            QObject::connect(server, &QLocalServer::newConnection, context, [this] {
                while (QLocalSocket *socket = server->nextPendingConnection()) {
                    QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
                        // The client sends one request per connection, as the daemon wants.
                        if (socket->canReadLine())
                            handle(socket, socket->readLine().trimmed());
                    });
                }
            });
        },
        Qt::BlockingQueuedConnection);
}

FakeServiceDaemon::~FakeServiceDaemon()
{
    stop();
    thread.quit();
    thread.wait();
}

void FakeServiceDaemon::stop()
{
    // Deleting the server closes every connection and removes the socket file.
    QMetaObject::invokeMethod(
        context, [this] { delete std::exchange(server, nullptr); }, Qt::BlockingQueuedConnection);
}

void FakeServiceDaemon::handle(QLocalSocket *socket, const QByteArray &line)
{
    const QJsonObject request = QJsonDocument::fromJson(line).object();
    Answer answer = reply(failReply(QStringLiteral("disconnected"), "unscripted command"));
    {
        QMutexLocker lock(&mutex);
        received.append(request);
        answer = answers.value(request.value(QStringLiteral("command")).toString(), answer);
    }
    if (answer.kind == Answer::Silent)
        return;
    socket->write(answer.bytes);
    socket->disconnectFromServer(); // after the pending bytes are written
}

FakeServiceDaemon::Answer FakeServiceDaemon::reply(const QJsonObject &reply)
{
    return Answer{Answer::Reply, QJsonDocument(reply).toJson(QJsonDocument::Compact) + '\n'};
}

QJsonObject FakeServiceDaemon::okReply(const QString &status, const QJsonObject &peer,
                                       const QString &error)
{
    QJsonObject reply{{"ok", true}, {"status", status}, {"error", error}};
    if (!peer.isEmpty())
        reply.insert(QStringLiteral("peer"), peer);
    return reply;
}

QJsonObject FakeServiceDaemon::failReply(const QString &status, const QString &error)
{
    return QJsonObject{{"ok", false}, {"status", status}, {"error", error}};
}

void FakeServiceDaemon::setAnswer(const QString &command, const Answer &answer)
{
    QMutexLocker lock(&mutex);
    answers.insert(command, answer);
}

void FakeServiceDaemon::answerSuccess()
{
    setReply(QStringLiteral("connect"), okReply(QStringLiteral("connected")));
    setReply(QStringLiteral("disconnect"), okReply(QStringLiteral("disconnected")));
    setReply(QStringLiteral("status"), okReply(QStringLiteral("disconnected")));
}

QList<QJsonObject> FakeServiceDaemon::requests() const
{
    QMutexLocker lock(&mutex);
    return received;
}

QStringList FakeServiceDaemon::commands() const
{
    QStringList commands;
    for (const QJsonObject &request : requests())
        commands.append(request.value(QStringLiteral("command")).toString());
    return commands;
}
