#include "scenesupport.h"

#include "stallinghttpserver.h"

#include <QHostAddress>

QString SceneSupport::replyingServer(int status, const QString &body, int answerAfterMs)
{
    auto *server = new StallingHttpServer(answerAfterMs, status, body.toUtf8(), this);
    if (!server->listen(QHostAddress::LocalHost)) {
        qWarning("[SceneSupport] cannot listen: %s", qPrintable(server->errorString()));
        return QString();
    }
    return QStringLiteral("http://127.0.0.1:%1").arg(server->serverPort());
}
