#pragma once

#include "signinthrottle.h"
#include "vendordatabase.h"
#include "vendorservercatalog.h"

#include <QAbstractHttpServer>
#include <QHttpServerRequest>
#include <QJsonObject>
#include <QUrl>

class QHttpServerResponder;
class QTcpServer;

// The local stand-in for the vendor's REST API: every endpoint the client uses under
// /api/v1, with the response envelope ("success", "message", "data", "errors"), real
// accounts, tokens and peers in SQLite, plus development endpoints outside /api/v1
// (the outbox, a log of the requests received, replies with a chosen status, and the
// top-up page). Listens on 127.0.0.1 only. Built on QAbstractHttpServer, whose
// request hook exists in every Qt version from 6.4 on, so routing is done here.
class VendorApiServer : public QAbstractHttpServer
{
    Q_OBJECT

public:
    struct Settings
    {
        QString dataFolder;
        QString serversFile;
        // The smallest argon2id cost: for test servers only.
        bool cheapPasswordHashing = false;
        qint64 firstDevicePerDayKopecks = 500;
        qint64 nextDevicePerDayKopecks = 300;
        int maxFailedSignIns = 5;
        qint64 signInLockoutMs = 60 * 1000;
        qint64 maxBodyBytes = 64 * 1024;
        int requestLogSize = 200;
    };

    explicit VendorApiServer(const Settings &settings, QObject *parent = nullptr);
    ~VendorApiServer() override;

    // Loads the servers fixture, opens the storage and listens on 127.0.0.1:port
    // (0: any free port). False with errorString() set on any failure.
    bool start(quint16 port);
    QString errorString() const { return error; }
    // http://127.0.0.1:PORT, once started.
    QUrl rootUrl() const;

protected:
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    bool handleRequest(const QHttpServerRequest &request, QHttpServerResponder &responder) override;
#else
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
#endif
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    void missingHandler(const QHttpServerRequest &request,
                        QHttpServerResponder &responder) override;
#elif QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    void missingHandler(const QHttpServerRequest &request,
                        QHttpServerResponder &&responder) override;
#else
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;
#endif

private:
    struct Request
    {
        QString method;                        // after X-HTTP-Method-Override
        QString path;                          // below /api/v1
        QHash<QByteArray, QByteArray> headers; // names in lower case
        QByteArray rawBody;
        QJsonObject body;
        QStringList pathArguments;
        QString tokenHash;
        VendorDatabase::User user;
    };

    struct Reply
    {
        int status = 200;
        QByteArray body;
        QByteArray contentType = "application/json";
    };

    using Handler = Reply (VendorApiServer::*)(Request &);
    struct Route
    {
        QString method;
        QString pattern; // "/peers/{}": {} matches one path segment
        bool needsToken;
        Handler handler;
    };

    void respond(const QHttpServerRequest &request, QHttpServerResponder &responder);
    Reply dispatch(const QHttpServerRequest &httpRequest);
    Reply dispatchApi(Request &request);
    Reply dispatchDevelopment(const QHttpServerRequest &httpRequest, const QString &path);
    bool authenticate(Request &request);
    static bool matches(const QString &pattern, const QString &path, QStringList &arguments);
    static QString methodName(QHttpServerRequest::Method method);

    // envelope
    static Reply success(const QString &message, const QJsonValue &data = QJsonValue::Undefined,
                         int status = 200);
    static Reply failure(int status, const QString &message, const QJsonObject &errors = {});
    static Reply invalid(const QJsonObject &errors);
    static void addError(QJsonObject &errors, const QString &field, const QString &message);
    Reply storageFailure();

    // accounts (vendorapiserver_auth.cpp)
    Reply registerAccount(Request &request);
    Reply signIn(Request &request);
    Reply signOut(Request &request);
    Reply forgotPassword(Request &request);
    Reply resetPassword(Request &request);
    Reply resendVerificationCode(Request &request);
    Reply verifyEmail(Request &request);
    Reply session(const VendorDatabase::User &user, const QString &deviceName,
                  const QString &message, int status);
    bool sendVerificationCode(const VendorDatabase::User &user);
    void deliver(const QString &email, const QString &kind, const QString &secret);
    void checkPassword(const QJsonObject &body, QJsonObject &errors);
    // ownerId: the account that may already have the e-mail (0: none).
    void checkNameAndEmail(const QJsonObject &body, qint64 ownerId, QJsonObject &errors,
                           QString &name, QString &email);
    // Nothing when the password is the account's; else the reply: 422 with the text
    // under field, or 429 while the account's e-mail is locked.
    std::optional<Reply> checkCurrentPassword(const VendorDatabase::User &user,
                                              const QString &password, const QString &field,
                                              const QString &wrongText);
    static QString emailFrom(const QJsonObject &body);
    static bool isEmail(const QString &email);

    // profile and balance (vendorapiserver_profile.cpp)
    Reply showProfile(Request &request);
    Reply updateProfile(Request &request);
    Reply updatePassword(Request &request);
    Reply deleteProfile(Request &request);
    Reply paymentLink(Request &request);
    QJsonObject userRecord(const VendorDatabase::User &user);

    // peers and countries (vendorapiserver_peers.cpp)
    Reply listPeers(Request &request);
    Reply createPeer(Request &request);
    Reply renamePeer(Request &request);
    Reply deletePeer(Request &request);
    Reply listCountries(Request &request);
    static QJsonObject peerRecord(const VendorDatabase::Peer &peer);
    static QString peerName(const QJsonObject &body, QJsonObject &errors);

    // development endpoints (vendorapiserver_dev.cpp)
    void recordRequest(const QHttpServerRequest &httpRequest, const Request &request);
    Reply requestLogReply(const QHttpServerRequest &httpRequest);
    Reply outboxReply(const QHttpServerRequest &httpRequest);
    Reply serverPeersReply(const QHttpServerRequest &httpRequest);
    static Reply chosenReply(const QHttpServerRequest &httpRequest);
    Reply topUpPage(const QHttpServerRequest &httpRequest, const QString &token);
    static Reply page(int status, const QString &title, const QString &content);

    Settings settings;
    QList<Route> routes;
    VendorServerCatalog catalog;
    VendorDatabase database;
    SignInThrottle throttle;
    QList<QJsonObject> requestLog;
    QTcpServer *tcpServer = nullptr;
    QString error;
    QString unknownAccountHash; // verified against when the e-mail is unknown
};
