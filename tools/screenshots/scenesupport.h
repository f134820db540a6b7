#pragma once

#include <QObject>
#include <QString>

// What a scene cannot do by itself, published to it as "SceneSupport": stand in for the
// vendor API with a server on 127.0.0.1 that gives every request the same reply.
class SceneSupport : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // The server's root URL; it answers with status and the JSON text body after
    // answerAfterMs, or never when that is negative (a request still loading).
    Q_INVOKABLE QString replyingServer(int status, const QString &body, int answerAfterMs = 0);
};
