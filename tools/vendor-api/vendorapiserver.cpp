#include "vendorapiserver.h"

#include "tarvexlogging.h"
#include "vendorcrypto.h"

#include <QHttpServerResponder>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>

namespace {

const QString ApiPrefix = QStringLiteral("/api/v1");

QHash<QByteArray, QByteArray> headersOf(const QHttpServerRequest &request)
{
    QHash<QByteArray, QByteArray> headers;
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    const auto pairs = request.headers().toListOfPairs();
#else
    const auto pairs = request.headers();
#endif
    for (const auto &pair : pairs)
        headers.insert(pair.first.toLower(), pair.second);
    return headers;
}

} // namespace

QString VendorApiServer::methodName(QHttpServerRequest::Method method)
{
    switch (method) {
    case QHttpServerRequest::Method::Get:
        return QStringLiteral("GET");
    case QHttpServerRequest::Method::Post:
        return QStringLiteral("POST");
    case QHttpServerRequest::Method::Patch:
        return QStringLiteral("PATCH");
    case QHttpServerRequest::Method::Put:
        return QStringLiteral("PUT");
    case QHttpServerRequest::Method::Delete:
        return QStringLiteral("DELETE");
    case QHttpServerRequest::Method::Head:
        return QStringLiteral("HEAD");
    case QHttpServerRequest::Method::Options:
        return QStringLiteral("OPTIONS");
    default:
        return QStringLiteral("OTHER");
    }
}

VendorApiServer::VendorApiServer(const Settings &settings, QObject *parent)
    : QAbstractHttpServer(parent)
    , settings(settings)
    , throttle(settings.maxFailedSignIns, settings.signInLockoutMs)
{
    const QString get = QStringLiteral("GET");
    const QString post = QStringLiteral("POST");
    const QString patch = QStringLiteral("PATCH");
    const QString del = QStringLiteral("DELETE");
    routes = {
        {post, QStringLiteral("/auth/register"), false, &VendorApiServer::registerAccount},
        {post, QStringLiteral("/auth/login"), false, &VendorApiServer::signIn},
        {post, QStringLiteral("/auth/forgot-password"), false, &VendorApiServer::forgotPassword},
        {post, QStringLiteral("/auth/reset-password"), false, &VendorApiServer::resetPassword},
        {post, QStringLiteral("/auth/logout"), true, &VendorApiServer::signOut},
        {post, QStringLiteral("/auth/email/resend"), true,
         &VendorApiServer::resendVerificationCode},
        {post, QStringLiteral("/auth/email/verify"), true, &VendorApiServer::verifyEmail},
        {get, QStringLiteral("/profile"), true, &VendorApiServer::showProfile},
        {patch, QStringLiteral("/profile"), true, &VendorApiServer::updateProfile},
        {del, QStringLiteral("/profile"), true, &VendorApiServer::deleteProfile},
        {patch, QStringLiteral("/profile/password"), true, &VendorApiServer::updatePassword},
        {get, QStringLiteral("/peers"), true, &VendorApiServer::listPeers},
        {post, QStringLiteral("/peers"), true, &VendorApiServer::createPeer},
        {patch, QStringLiteral("/peers/{}"), true, &VendorApiServer::renamePeer},
        {del, QStringLiteral("/peers/{}"), true, &VendorApiServer::deletePeer},
        {get, QStringLiteral("/countries"), true, &VendorApiServer::listCountries},
        {get, QStringLiteral("/payment/link"), true, &VendorApiServer::paymentLink},
    };
}

VendorApiServer::~VendorApiServer() = default;

bool VendorApiServer::start(quint16 port)
{
    if (!VendorCrypto::initialize()) {
        error = QStringLiteral("libsodium could not be initialised");
        return false;
    }
    if (!catalog.load(settings.serversFile)) {
        error = catalog.errorString();
        return false;
    }
    if (!database.open(settings.dataFolder)) {
        error = database.errorString();
        return false;
    }
    tcpServer = new QTcpServer(this);
    if (!tcpServer->listen(QHostAddress::LocalHost, port)) {
        error = QStringLiteral("cannot listen on 127.0.0.1:%1: %2")
                    .arg(port)
                    .arg(tcpServer->errorString());
        return false;
    }
    bind(tcpServer);
    return true;
}

QUrl VendorApiServer::rootUrl() const
{
    return tcpServer ? QUrl(QStringLiteral("http://127.0.0.1:%1").arg(tcpServer->serverPort()))
                     : QUrl();
}

#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
bool VendorApiServer::handleRequest(const QHttpServerRequest &request,
                                    QHttpServerResponder &responder)
{
    respond(request, responder);
    return true;
}
#else
bool VendorApiServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    QHttpServerResponder responder = makeResponder(request, socket);
    respond(request, responder);
    return true;
}
#endif

// Never called: handleRequest takes every request.
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
void VendorApiServer::missingHandler(const QHttpServerRequest &, QHttpServerResponder &responder)
{
    responder.write(QHttpServerResponder::StatusCode::NotFound);
}
#elif QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
void VendorApiServer::missingHandler(const QHttpServerRequest &, QHttpServerResponder &&responder)
{
    responder.write(QHttpServerResponder::StatusCode::NotFound);
}
#else
void VendorApiServer::missingHandler(const QHttpServerRequest &request, QTcpSocket *socket)
{
    makeResponder(request, socket).write(QHttpServerResponder::StatusCode::NotFound);
}
#endif

void VendorApiServer::respond(const QHttpServerRequest &request, QHttpServerResponder &responder)
{
    const Reply reply = dispatch(request);
    // A top-up link is as good as a password for the balance: its token stays out.
    QString path = request.url().path();
    if (path.startsWith(QLatin1String("/topup/")))
        path = QStringLiteral("/topup/...");
    qCInfo(lcTarvexVendorApi).noquote()
        << "[VendorApiServer]" << methodName(request.method()) << path << reply.status;
    const auto status = static_cast<QHttpServerResponder::StatusCode>(reply.status);
    if (reply.status == 204)
        responder.write(status);
    else
        responder.write(reply.body, reply.contentType, status);
}

VendorApiServer::Reply VendorApiServer::dispatch(const QHttpServerRequest &httpRequest)
{
    const QString path = httpRequest.url().path();
    if (path != ApiPrefix && !path.startsWith(ApiPrefix + u'/'))
        return dispatchDevelopment(httpRequest, path);

    Request request;
    request.method = methodName(httpRequest.method());
    request.path = path.mid(ApiPrefix.size());
    request.headers = headersOf(httpRequest);
    request.rawBody = httpRequest.body();
    // The form in which clients that can only POST ask for another method.
    const QString override =
        QString::fromLatin1(request.headers.value("x-http-method-override")).trimmed().toUpper();
    if (request.method == QLatin1String("POST") &&
        (override == QLatin1String("DELETE") || override == QLatin1String("PATCH")))
        request.method = override;
    recordRequest(httpRequest, request);
    return dispatchApi(request);
}

VendorApiServer::Reply VendorApiServer::dispatchApi(Request &request)
{
    if (request.rawBody.size() > settings.maxBodyBytes)
        return failure(413, tr("Слишком большой запрос"));

    const Route *route = nullptr;
    bool pathKnown = false;
    for (const Route &candidate : std::as_const(routes)) {
        QStringList arguments;
        if (!matches(candidate.pattern, request.path, arguments))
            continue;
        pathKnown = true;
        if (candidate.method == request.method) {
            route = &candidate;
            request.pathArguments = arguments;
            break;
        }
    }
    if (!route)
        return pathKnown ? failure(405, tr("Метод не поддерживается"))
                         : failure(404, tr("Не найдено"));

    if (route->needsToken && !authenticate(request))
        return failure(401, tr("Необходимо войти заново"));
    if (request.method != QLatin1String("GET") && !request.rawBody.trimmed().isEmpty()) {
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(request.rawBody, &parseError);
        if (parseError.error != QJsonParseError::NoError || !document.isObject())
            return failure(400, tr("Тело запроса не является JSON-объектом"));
        request.body = document.object();
    }
    return (this->*route->handler)(request);
}

bool VendorApiServer::authenticate(Request &request)
{
    const QString authorization = QString::fromUtf8(request.headers.value("authorization"));
    const QString scheme = QStringLiteral("bearer ");
    if (!authorization.startsWith(scheme, Qt::CaseInsensitive))
        return false;
    const QString token = authorization.mid(scheme.size()).trimmed();
    if (token.isEmpty())
        return false;
    request.tokenHash = VendorCrypto::tokenHash(token);
    const std::optional<qint64> userId = database.userForToken(request.tokenHash);
    const std::optional<VendorDatabase::User> user =
        userId ? database.userById(*userId) : std::nullopt;
    if (!user)
        return false;
    request.user = *user;
    return true;
}

bool VendorApiServer::matches(const QString &pattern, const QString &path, QStringList &arguments)
{
    const QStringList expected = pattern.split(u'/');
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(u'/'))
        trimmed.chop(1);
    const QStringList actual = trimmed.split(u'/');
    if (expected.size() != actual.size())
        return false;
    for (qsizetype i = 0; i < expected.size(); ++i) {
        if (expected.at(i) == QLatin1String("{}") && !actual.at(i).isEmpty())
            arguments.append(actual.at(i));
        else if (expected.at(i) != actual.at(i))
            return false;
    }
    return true;
}

VendorApiServer::Reply VendorApiServer::success(const QString &message, const QJsonValue &data,
                                                int status)
{
    QJsonObject envelope{{QStringLiteral("success"), true}};
    if (!message.isEmpty())
        envelope.insert(QStringLiteral("message"), message);
    if (!data.isUndefined())
        envelope.insert(QStringLiteral("data"), data);
    return Reply{status, QJsonDocument(envelope).toJson(QJsonDocument::Compact)};
}

VendorApiServer::Reply VendorApiServer::failure(int status, const QString &message,
                                                const QJsonObject &errors)
{
    QJsonObject envelope{{QStringLiteral("success"), false}, {QStringLiteral("message"), message}};
    if (!errors.isEmpty())
        envelope.insert(QStringLiteral("errors"), errors);
    return Reply{status, QJsonDocument(envelope).toJson(QJsonDocument::Compact)};
}

VendorApiServer::Reply VendorApiServer::invalid(const QJsonObject &errors)
{
    return failure(422, tr("Проверьте введенные данные"), errors);
}

void VendorApiServer::addError(QJsonObject &errors, const QString &field, const QString &message)
{
    QJsonArray messages = errors.value(field).toArray();
    messages.append(message);
    errors.insert(field, messages);
}

VendorApiServer::Reply VendorApiServer::storageFailure()
{
    return failure(500, tr("Внутренняя ошибка сервера"));
}
