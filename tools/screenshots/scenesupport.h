#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

// What a scene cannot do by itself, published to it as "SceneSupport".
class SceneSupport : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // A stand-in of the vendor API for the scene's lifetime; its base URL, ".../api/v1".
    // replies: path under /api/v1 ("/peers") -> { status (200), body (anything JSON
    // can carry), delayMs (0; negative: never answered) }.
    Q_INVOKABLE QString vendorApi(const QVariantMap &replies);
};
