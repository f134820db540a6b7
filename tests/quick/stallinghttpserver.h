#pragma once

#include <QList>
#include <QPointer>
#include <QTcpServer>

class QTcpSocket;

// A server on 127.0.0.1 that accepts connections and never answers, or answers each
// one only after a delay: what a time-out, and a reply arriving after it, look like.
class StallingHttpServer : public QTcpServer
{
    Q_OBJECT

public:
    // answerAfterMs < 0: never answer.
    explicit StallingHttpServer(int answerAfterMs, QObject *parent = nullptr);

    int connectionCount() const { return connections; }

private:
    void accept();

    int answerAfterMs;
    int connections = 0;
};
