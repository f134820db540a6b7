#include "stallinghttpserver.h"

#include <QTcpSocket>
#include <QTimer>

StallingHttpServer::StallingHttpServer(int answerAfterMs, int status, const QByteArray &body,
                                       QObject *parent)
    : QTcpServer(parent)
    , answerAfterMs(answerAfterMs)
    , status(status)
    , body(body)
{
    connect(this, &QTcpServer::newConnection, this, &StallingHttpServer::accept);
}

void StallingHttpServer::accept()
{
    while (QTcpSocket *socket = nextPendingConnection()) {
        ++connections;
        // Kept open (and owned by the server) until the client gives up.
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        if (answerAfterMs < 0)
            continue;
        const QPointer<QTcpSocket> guarded(socket);
        QTimer::singleShot(answerAfterMs, this, [this, guarded] {
            if (!guarded || guarded->state() != QAbstractSocket::ConnectedState)
                return;
            guarded->write("HTTP/1.1 " + QByteArray::number(status) +
                           " Answer\r\nContent-Type: application/json\r\nContent-Length: " +
                           QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" +
                           body);
            guarded->disconnectFromHost();
        });
    }
}
