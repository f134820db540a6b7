// Development endpoints outside /api/v1: what a person trying the client, or a test,
// needs to see and do that a real vendor would do by e-mail or in a payment system.

#include "vendorapiserver.h"

#include "vendorcrypto.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QUrlQuery>

namespace {

constexpr qint64 MaxTopUpKopecks = 100000 * 100;

QString money(qint64 kopecks)
{
    return QString::number(static_cast<double>(kopecks) / 100.0, 'f', 2) + QStringLiteral(" ₽");
}

// "500", "12,50", "0.99": kopecks, or -1 when it is not an amount with at most two decimals.
qint64 kopecksFrom(QString text)
{
    text = text.trimmed().replace(u',', u'.');
    static const QRegularExpression pattern(QStringLiteral("^\\d{1,9}(\\.\\d{1,2})?$"));
    if (!pattern.match(text).hasMatch())
        return -1;
    return qRound64(text.toDouble() * 100.0);
}

} // namespace

VendorApiServer::Reply VendorApiServer::dispatchDevelopment(const QHttpServerRequest &httpRequest,
                                                            const QString &path)
{
    if (httpRequest.body().size() > settings.maxBodyBytes)
        return failure(413, tr("Слишком большой запрос"));
    if (path == QLatin1String("/dev/requests"))
        return requestLogReply(httpRequest);
    if (path == QLatin1String("/dev/outbox"))
        return outboxReply(httpRequest);
    if (path == QLatin1String("/dev/peers"))
        return serverPeersReply(httpRequest);
    if (path == QLatin1String("/dev/reply"))
        return chosenReply(httpRequest);
    if (path.startsWith(QLatin1String("/topup/")))
        return topUpPage(httpRequest, path.mid(7));
    return failure(404, tr("Не найдено"));
}

void VendorApiServer::recordRequest(const QHttpServerRequest &httpRequest, const Request &request)
{
    QJsonObject headers;
    for (auto it = request.headers.cbegin(); it != request.headers.cend(); ++it)
        headers.insert(QString::fromLatin1(it.key()), QString::fromUtf8(it.value()));
    QJsonObject entry{
        {QStringLiteral("method"), methodName(httpRequest.method())},
        {QStringLiteral("path"), httpRequest.url().path()},
        {QStringLiteral("query"), httpRequest.url().query()},
        {QStringLiteral("headers"), headers},
        {QStringLiteral("body_size"), request.rawBody.size()},
    };
    if (request.rawBody.size() <= settings.maxBodyBytes)
        entry.insert(QStringLiteral("body"), QString::fromUtf8(request.rawBody));
    requestLog.append(entry);
    while (requestLog.size() > settings.requestLogSize)
        requestLog.removeFirst();
}

VendorApiServer::Reply VendorApiServer::requestLogReply(const QHttpServerRequest &httpRequest)
{
    if (httpRequest.method() == QHttpServerRequest::Method::Delete) {
        requestLog.clear();
        return success(tr("Журнал запросов очищен"));
    }
    bool limited = false;
    const int limit = httpRequest.query().queryItemValue(QStringLiteral("limit")).toInt(&limited);
    QJsonArray entries;
    const qsizetype first = limited ? qMax<qsizetype>(0, requestLog.size() - qMax(0, limit)) : 0;
    for (qsizetype i = first; i < requestLog.size(); ++i)
        entries.append(requestLog.at(i));
    return success(QString(), entries);
}

VendorApiServer::Reply VendorApiServer::outboxReply(const QHttpServerRequest &httpRequest)
{
    const QString email =
        httpRequest.query().queryItemValue(QStringLiteral("email"), QUrl::FullyDecoded);
    return success(QString(), database.outbox(email.trimmed().toLower()));
}

// What a real vendor's provisioning tells each of its servers: the peers it must accept.
// The development stack hands this to the sandbox's live WireGuard server.
VendorApiServer::Reply VendorApiServer::serverPeersReply(const QHttpServerRequest &httpRequest)
{
    const QString serverId =
        httpRequest.query().queryItemValue(QStringLiteral("server"), QUrl::FullyDecoded);
    if (serverId.isEmpty())
        return failure(400, tr("Укажите server"));
    QJsonArray peers;
    for (const VendorDatabase::Peer &peer : database.peersOnServer(serverId)) {
        peers.append(QJsonObject{{QStringLiteral("id"), peer.id},
                                 {QStringLiteral("public_key"), peer.publicKey},
                                 {QStringLiteral("address"), peer.address}});
    }
    return success(QString(), peers);
}

VendorApiServer::Reply VendorApiServer::chosenReply(const QHttpServerRequest &httpRequest)
{
    const QUrlQuery query = httpRequest.query();
    bool ok = false;
    const int status = query.queryItemValue(QStringLiteral("status")).toInt(&ok);
    if (!ok || status < 200 || status > 599)
        return failure(400, tr("Укажите status от 200 до 599"));
    const QString type = query.queryItemValue(QStringLiteral("type"), QUrl::FullyDecoded);
    return Reply{status, query.queryItemValue(QStringLiteral("body"), QUrl::FullyDecoded).toUtf8(),
                 type.isEmpty() ? QByteArray("application/json") : type.toUtf8()};
}

VendorApiServer::Reply VendorApiServer::topUpPage(const QHttpServerRequest &httpRequest,
                                                  const QString &token)
{
    const std::optional<qint64> userId =
        database.userForPaymentLink(VendorCrypto::tokenHash(token));
    std::optional<VendorDatabase::User> user = userId ? database.userById(*userId) : std::nullopt;
    if (!user)
        return page(404, tr("Ссылка недействительна"),
                    tr("Ссылка на оплату недействительна или устарела. Получите новую в "
                       "приложении."));

    int status = 200;
    QString notice;
    if (httpRequest.method() == QHttpServerRequest::Method::Post) {
        const QUrlQuery form(QString::fromUtf8(httpRequest.body()).replace(u'+', u' '));
        const qint64 kopecks =
            kopecksFrom(form.queryItemValue(QStringLiteral("amount"), QUrl::FullyDecoded));
        if (kopecks < 100 || kopecks > MaxTopUpKopecks) {
            status = 422;
            notice = tr("Введите сумму от 1 до 100 000 ₽");
        } else if (!database.addToBalance(user->id, kopecks) ||
                   !(user = database.userById(user->id))) {
            return page(500, tr("Ошибка"), tr("Внутренняя ошибка сервера"));
        } else {
            notice = tr("Баланс пополнен на %1").arg(money(kopecks));
        }
    }
    const QString content =
        (notice.isEmpty() ? QString() : QStringLiteral("<p class=notice>%1</p>").arg(notice)) +
        QStringLiteral("<p>%1<br>%2: <b>%3</b></p>"
                       "<form method=post><label>%4 <input name=amount value=500 "
                       "inputmode=decimal autofocus></label> <button>%5</button></form>"
                       "<p class=hint>%6</p>")
            .arg(user->email.toHtmlEscaped(), tr("Баланс"), money(user->balanceKopecks),
                 tr("Сумма, ₽"), tr("Пополнить"),
                 tr("Это страница локального сервера разработки: деньги не списываются."));
    return page(status, tr("Пополнение баланса"), content);
}

VendorApiServer::Reply VendorApiServer::page(int status, const QString &title,
                                             const QString &content)
{
    const QString html =
        QStringLiteral("<!DOCTYPE html><html lang=ru><head><meta charset=utf-8>"
                       "<meta name=viewport content=\"width=device-width\"><title>%1</title>"
                       "<style>body{font:16px sans-serif;max-width:32em;margin:3em auto;"
                       "padding:0 1em}.notice{font-weight:bold}.hint{color:#666;"
                       "font-size:13px}</style></head><body><h1>%1</h1>%2</body></html>")
            .arg(title, content);
    return Reply{status, html.toUtf8(), "text/html; charset=utf-8"};
}
