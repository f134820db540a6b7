#include "stallinghttpserver.h"

#include <QTcpSocket>
#include <QTimer>

StallingHttpServer::StallingHttpServer(int answerAfterMs, QObject *parent)
    : QTcpServer(parent)
    , answerAfterMs(answerAfterMs)
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
        QTimer::singleShot(answerAfterMs, this, [guarded] {
            if (!guarded || guarded->state() != QAbstractSocket::ConnectedState)
                return;
            const QByteArray body = R"({"success":true,"data":"late"})";
            guarded->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                           "Content-Length: " +
                           QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" +
                           body);
            guarded->disconnectFromHost();
        });
    }
}
