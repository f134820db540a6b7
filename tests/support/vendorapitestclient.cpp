#include "vendorapitestclient.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QUrlQuery>

const QString VendorApiTestClient::Password = QStringLiteral("correct horse battery");

QString VendorApiTestClient::Reply::fieldError(const QString &field) const
{
    return json.value(QStringLiteral("errors"))
        .toObject()
        .value(field)
        .toArray()
        .first()
        .toString();
}

VendorApiTestClient::VendorApiTestClient(const QUrl &root)
    : root(root)
{}

VendorApiTestClient::Reply
VendorApiTestClient::send(const QByteArray &method, const QString &path, const QByteArray &body,
                          const QList<std::pair<QByteArray, QByteArray>> &headers)
{
    QUrl url = root;
    const qsizetype question = path.indexOf(u'?');
    url.setPath(path.left(question));
    if (question >= 0)
        url.setQuery(path.mid(question + 1));
    QNetworkRequest request(url);
    request.setTransferTimeout(15000);
    for (const auto &[name, value] : headers)
        request.setRawHeader(name, value);
    QNetworkReply *networkReply = manager.sendCustomRequest(request, method, body);
    QEventLoop loop;
    QObject::connect(networkReply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    Reply reply;
    reply.status = networkReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    reply.body = networkReply->readAll();
    reply.json = QJsonDocument::fromJson(reply.body).object();
    networkReply->deleteLater();
    return reply;
}

VendorApiTestClient::Reply VendorApiTestClient::api(const QByteArray &method, const QString &path,
                                                    const QJsonObject &body, const QString &token)
{
    QList<std::pair<QByteArray, QByteArray>> headers{{"Content-Type", "application/json"}};
    if (!token.isEmpty())
        headers.append({"Authorization", "Bearer " + token.toUtf8()});
    return send(method, QStringLiteral("/api/v1") + path,
                body.isEmpty() ? QByteArray() : QJsonDocument(body).toJson(), headers);
}

QString VendorApiTestClient::registerAccount(const QString &email)
{
    const Reply reply = api("POST", QStringLiteral("/auth/register"),
                            {{"name", "Тест"},
                             {"email", email},
                             {"password", Password},
                             {"password_confirmation", Password},
                             {"agree_with_personal_agreement", true},
                             {"device_name", "vpn-client"}});
    return reply.data().value(QStringLiteral("token")).toString();
}

QString VendorApiTestClient::signIn(const QString &email, const QString &password)
{
    return api("POST", QStringLiteral("/auth/login"), {{"email", email}, {"password", password}})
        .data()
        .value(QStringLiteral("token"))
        .toString();
}

QJsonArray VendorApiTestClient::outbox(const QString &email)
{
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("email"), email);
    return send("GET", QStringLiteral("/dev/outbox?") + query.toString(QUrl::FullyEncoded))
        .json.value(QStringLiteral("data"))
        .toArray();
}
