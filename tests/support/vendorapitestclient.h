#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QUrl>

// Blocking requests to a local vendor API from a Qt Test. The event loop runs while
// it waits, so the server may live in the same thread.
class VendorApiTestClient
{
public:
    struct Reply
    {
        int status = 0;
        QByteArray body;
        QJsonObject json;

        // The first message of a field under "errors".
        QString fieldError(const QString &field) const;
        QJsonObject data() const { return json.value(QStringLiteral("data")).toObject(); }
    };

    static const QString Password;

    explicit VendorApiTestClient(const QUrl &root);

    // path from the server's root ("/dev/outbox"); headers as name, value pairs.
    Reply send(const QByteArray &method, const QString &path, const QByteArray &body = {},
               const QList<std::pair<QByteArray, QByteArray>> &headers = {});
    // path below /api/v1, the body as JSON, the token as Bearer when given.
    Reply api(const QByteArray &method, const QString &path, const QJsonObject &body = {},
              const QString &token = {});

    // A new account with Password; its token, empty when registration failed.
    QString registerAccount(const QString &email);
    QString signIn(const QString &email, const QString &password = Password);
    // The outbox messages of one address, oldest first.
    QJsonArray outbox(const QString &email);

private:
    QUrl root;
    QNetworkAccessManager manager;
};
