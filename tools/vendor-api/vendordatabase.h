#pragma once

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QList>
#include <QSet>
#include <QSqlDatabase>
#include <QString>
#include <QVariant>

#include <optional>

class QSqlQuery;

// The local vendor API's storage: one SQLite file in the data folder. Secrets that
// grant access (API tokens, reset tokens, payment links) are stored only as hashes.
// Every write is one statement or one transaction, so a killed server leaves a
// consistent file. A failed statement is logged and reported as false or nothing.
class VendorDatabase
{
public:
    struct User
    {
        qint64 id = 0;
        QString name;
        QString email;
        QString passwordHash;
        QDateTime emailVerifiedAt; // invalid until verified
        qint64 balanceKopecks = 0;
    };

    struct Peer
    {
        qint64 id = 0;
        qint64 userId = 0;
        int countryId = 0;
        QString serverId;
        QString name;
        QString protocol;
        QString address;
        QString publicKey;
        QString config;
    };

    // A secret with a life time: a verification code (kept as is, it is short-lived
    // and attempts are counted) or the hash of a reset token.
    struct Secret
    {
        QString value;
        QDateTime expiresAt;
        int failedAttempts = 0;
    };

    VendorDatabase();
    ~VendorDatabase();
    VendorDatabase(const VendorDatabase &) = delete;
    VendorDatabase &operator=(const VendorDatabase &) = delete;

    // Opens (creating when needed) DIR/vendor-api.sqlite.
    bool open(const QString &folder);
    QString errorString() const { return error; }

    // accounts
    std::optional<User> userById(qint64 id);
    std::optional<User> userByEmail(const QString &email);
    std::optional<qint64> addUser(const QString &name, const QString &email,
                                  const QString &passwordHash);
    bool updateProfile(qint64 userId, const QString &name, const QString &email,
                       bool keepVerification);
    bool setPasswordHash(qint64 userId, const QString &passwordHash);
    bool setEmailVerified(qint64 userId);
    bool addToBalance(qint64 userId, qint64 kopecks);
    // The account and everything it owns (tokens, peers, codes, payment links).
    bool deleteUser(qint64 userId);

    // API tokens
    bool addToken(qint64 userId, const QString &tokenHash, const QString &deviceName);
    std::optional<qint64> userForToken(const QString &tokenHash);
    bool revokeToken(const QString &tokenHash);
    // keepHash empty: every token of the user.
    bool revokeTokens(qint64 userId, const QString &keepHash = QString());

    // e-mail verification codes and password-reset tokens, one of each per account
    enum class SecretKind { EmailVerification, PasswordReset };
    bool setSecret(SecretKind kind, qint64 userId, const Secret &secret);
    std::optional<Secret> secret(SecretKind kind, qint64 userId);
    bool countFailedAttempt(SecretKind kind, qint64 userId);
    bool deleteSecret(SecretKind kind, qint64 userId);

    // peers
    QList<Peer> peersOf(qint64 userId);
    std::optional<Peer> peer(qint64 userId, qint64 peerId);
    std::optional<qint64> addPeer(const Peer &peer);
    bool renamePeer(qint64 userId, qint64 peerId, const QString &name);
    bool deletePeer(qint64 userId, qint64 peerId);
    // Every account's peers on one server, as the server itself must know them.
    QList<Peer> peersOnServer(const QString &serverId);
    QSet<QString> usedAddresses(const QString &serverId);
    QHash<QString, int> peerCountByServer();

    // top-up page links
    bool addPaymentLink(qint64 userId, const QString &tokenHash, const QDateTime &expiresAt);
    std::optional<qint64> userForPaymentLink(const QString &tokenHash);

    // the development outbox
    bool addOutboxMessage(const QString &email, const QString &kind, const QString &secret);
    QJsonArray outbox(const QString &email);

private:
    // Prepares, binds and runs; logs and returns false on failure.
    bool run(QSqlQuery &query, const QString &sql, const QVariantList &values = {});
    bool execute(const QString &sql, const QVariantList &values = {});
    std::optional<User> userWhere(const QString &condition, const QVariant &value);
    QList<Peer> peersWhere(const QString &condition, const QVariant &value);

    QString connectionName;
    QString error;
};
