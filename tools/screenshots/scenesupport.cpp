#include "scenesupport.h"

#include "sceneapiserver.h"

#include <QHostAddress>
#include <QJsonDocument>

QString SceneSupport::vendorApi(const QVariantMap &replies)
{
    QHash<QString, SceneApiServer::Reply> byPath;
    for (auto it = replies.cbegin(); it != replies.cend(); ++it) {
        const QVariantMap reply = it.value().toMap();
        byPath.insert(QStringLiteral("/api/v1") + it.key(),
                      {reply.value(QStringLiteral("status"), 200).toInt(),
                       QJsonDocument::fromVariant(reply.value(QStringLiteral("body")))
                           .toJson(QJsonDocument::Compact),
                       reply.value(QStringLiteral("delayMs"), 0).toInt()});
    }
    auto *server = new SceneApiServer(byPath, this);
    if (!server->listen(QHostAddress::LocalHost)) {
        qWarning("[SceneSupport] cannot listen: %s", qPrintable(server->errorString()));
        return QString();
    }
    return QStringLiteral("http://127.0.0.1:%1/api/v1").arg(server->serverPort());
}
