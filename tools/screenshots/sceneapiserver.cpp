#include "sceneapiserver.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

SceneApiServer::SceneApiServer(const QHash<QString, Reply> &replies, QObject *parent)
    : QTcpServer(parent)
    , replies(replies)
{
    connect(this, &QTcpServer::newConnection, this, &SceneApiServer::accept);
}

void SceneApiServer::accept()
{
    while (QTcpSocket *socket = nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
    }
}

// Only the request line matters; the connection closes after the reply, so whatever
// body follows is never read.
void SceneApiServer::readRequest(QTcpSocket *socket)
{
    if (!socket->canReadLine() || socket->property("answered").toBool())
        return;
    socket->setProperty("answered", true);
    const QList<QByteArray> requestLine = socket->readLine().trimmed().split(' ');
    const QString path = QUrl(QString::fromLatin1(requestLine.value(1))).path();
    const Reply reply = replies.value(
        path, Reply{404, R"({"success":false,"message":"Нет ответа для этого пути"})", 0});
    if (reply.delayMs < 0)
        return;
    const QPointer<QTcpSocket> guarded(socket);
    QTimer::singleShot(reply.delayMs, this, [guarded, reply] {
        if (!guarded || guarded->state() != QAbstractSocket::ConnectedState)
            return;
        guarded->write("HTTP/1.1 " + QByteArray::number(reply.status) +
                       " Scene\r\nContent-Type: application/json\r\nContent-Length: " +
                       QByteArray::number(reply.body.size()) + "\r\nConnection: close\r\n\r\n" +
                       reply.body);
        guarded->disconnectFromHost();
    });
}
