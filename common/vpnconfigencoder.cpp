#include "vpnconfigencoder.h"

#include <QJsonArray>
#include <QJsonDocument>

QString VpnConfigEncoder::encode(const QJsonObject &document)
{
    return encodeBytes(QJsonDocument(document).toJson(QJsonDocument::Compact));
}

QString VpnConfigEncoder::encodeBytes(const QByteArray &json)
{
    const QByteArray base64 =
        qCompress(json).toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    return QStringLiteral("vpn://") + QString::fromLatin1(base64);
}

QJsonObject VpnConfigEncoder::withTextLastConfigs(QJsonObject document)
{
    if (!document.contains(QStringLiteral("containers")))
        return document;
    QJsonArray containers = document.value(QStringLiteral("containers")).toArray();
    for (qsizetype i = 0; i < containers.size(); ++i) {
        QJsonObject container = containers.at(i).toObject();
        for (auto it = container.begin(); it != container.end(); ++it) {
            if (!it.value().isObject())
                continue;
            QJsonObject protocol = it.value().toObject();
            const QJsonValue lastConfig = protocol.value(QStringLiteral("last_config"));
            if (!lastConfig.isObject())
                continue;
            protocol.insert(
                QStringLiteral("last_config"),
                QString::fromUtf8(
                    QJsonDocument(lastConfig.toObject()).toJson(QJsonDocument::Compact)));
            it.value() = protocol;
        }
        containers[i] = container;
    }
    document.insert(QStringLiteral("containers"), containers);
    return document;
}
