#pragma once

#include <QList>
#include <QPointer>
#include <QTcpServer>

class QTcpSocket;

// A server on 127.0.0.1 that accepts connections and never answers, or answers each
// one only after a delay: what a time-out, and a reply arriving after it, look like
// (or a reply overtaken by later ones).
class StallingHttpServer : public QTcpServer
{
    Q_OBJECT

public:
    // answerAfterMs < 0: never answer. Otherwise the answer is status with the JSON body.
    StallingHttpServer(int answerAfterMs, int status, const QByteArray &body,
                       QObject *parent = nullptr);

    int connectionCount() const { return connections; }

private:
    void accept();

    int answerAfterMs;
    int status;
    QByteArray body;
    int connections = 0;
};
