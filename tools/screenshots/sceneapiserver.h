#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QTcpServer>

class QTcpSocket;

// The vendor API as a scene scripts it: on 127.0.0.1, every request for a known path is
// answered with that path's status and JSON body, after its delay or never (a request
// still loading); any other path gets 404, which the interface reports as a failure.
class SceneApiServer : public QTcpServer
{
    Q_OBJECT

public:
    struct Reply
    {
        int status = 200;
        QByteArray body;
        // < 0: never answered
        int delayMs = 0;
    };

    // replies by path, such as "/api/v1/peers"
    explicit SceneApiServer(const QHash<QString, Reply> &replies, QObject *parent = nullptr);

private:
    void accept();
    void readRequest(QTcpSocket *socket);

    QHash<QString, Reply> replies;
};
