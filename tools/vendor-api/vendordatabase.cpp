#include "vendordatabase.h"

#include "tarvexlogging.h"

#include <QDir>
#include <QJsonObject>
#include <QSqlError>
#include <QSqlQuery>

namespace {

const char *const Schema[] = {
    "PRAGMA foreign_keys = ON",
    "CREATE TABLE IF NOT EXISTS users ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT NOT NULL, email TEXT NOT NULL UNIQUE,"
    " password_hash TEXT NOT NULL, email_verified_at TEXT, balance_kopecks INTEGER NOT NULL"
    " DEFAULT 0, created_at TEXT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS tokens ("
    " hash TEXT PRIMARY KEY, user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,"
    " device_name TEXT NOT NULL, created_at TEXT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS secrets ("
    " user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE, kind INTEGER NOT NULL,"
    " value TEXT NOT NULL, expires_at TEXT NOT NULL, failed_attempts INTEGER NOT NULL DEFAULT 0,"
    " PRIMARY KEY (user_id, kind))",
    // AUTOINCREMENT: a deleted peer's id never comes back, not even for another account.
    "CREATE TABLE IF NOT EXISTS peers ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,"
    " country_id INTEGER NOT NULL, server_id TEXT NOT NULL, name TEXT NOT NULL,"
    " protocol TEXT NOT NULL, address TEXT NOT NULL, public_key TEXT NOT NULL,"
    " config TEXT NOT NULL, created_at TEXT NOT NULL, UNIQUE (server_id, address))",
    "CREATE TABLE IF NOT EXISTS payment_links ("
    " hash TEXT PRIMARY KEY, user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,"
    " expires_at TEXT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS outbox ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT, email TEXT NOT NULL, kind TEXT NOT NULL,"
    " secret TEXT NOT NULL, created_at TEXT NOT NULL)",
};

QString now()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
}

QDateTime timeFrom(const QVariant &value)
{
    return value.isNull() ? QDateTime()
                          : QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
}

VendorDatabase::Peer peerFrom(const QSqlQuery &query)
{
    return VendorDatabase::Peer{
        query.value(0).toLongLong(), query.value(1).toLongLong(), query.value(2).toInt(),
        query.value(3).toString(),   query.value(4).toString(),   query.value(5).toString(),
        query.value(6).toString(),   query.value(7).toString(),   query.value(8).toString()};
}

const QString PeerColumns = QStringLiteral(
    "SELECT id, user_id, country_id, server_id, name, protocol, address, public_key, config "
    "FROM peers ");

} // namespace

VendorDatabase::VendorDatabase()
{
    static int instances = 0;
    connectionName = QStringLiteral("tarvex-vendor-api-%1").arg(++instances);
}

VendorDatabase::~VendorDatabase()
{
    {
        QSqlDatabase database = QSqlDatabase::database(connectionName, false);
        if (database.isValid())
            database.close();
    }
    QSqlDatabase::removeDatabase(connectionName);
}

bool VendorDatabase::open(const QString &folder)
{
    if (!QDir().mkpath(folder)) {
        error = QStringLiteral("cannot create the data folder %1").arg(folder);
        return false;
    }
    QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
    database.setDatabaseName(QDir(folder).filePath(QStringLiteral("vendor-api.sqlite")));
    if (!database.open()) {
        error = database.lastError().text();
        return false;
    }
    for (const char *statement : Schema) {
        if (!execute(QString::fromLatin1(statement)))
            return false;
    }
    return true;
}

bool VendorDatabase::run(QSqlQuery &query, const QString &sql, const QVariantList &values)
{
    query.prepare(sql);
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (query.exec())
        return true;
    error = query.lastError().text();
    qCWarning(lcTarvexVendorApi) << "[VendorDatabase] statement failed:" << error;
    return false;
}

bool VendorDatabase::execute(const QString &sql, const QVariantList &values)
{
    QSqlQuery query(QSqlDatabase::database(connectionName));
    return run(query, sql, values);
}

std::optional<VendorDatabase::User> VendorDatabase::userWhere(const QString &condition,
                                                              const QVariant &value)
{
    QSqlQuery query(QSqlDatabase::database(connectionName));
    if (!run(query,
             QStringLiteral("SELECT id, name, email, password_hash, email_verified_at, "
                            "balance_kopecks FROM users WHERE ") +
                 condition,
             {value}) ||
        !query.next())
        return std::nullopt;
    return User{query.value(0).toLongLong(), query.value(1).toString(),
                query.value(2).toString(),   query.value(3).toString(),
                timeFrom(query.value(4)),    query.value(5).toLongLong()};
}

std::optional<VendorDatabase::User> VendorDatabase::userById(qint64 id)
{
    return userWhere(QStringLiteral("id = ?"), id);
}

std::optional<VendorDatabase::User> VendorDatabase::userByEmail(const QString &email)
{
    return userWhere(QStringLiteral("email = ?"), email);
}

std::optional<qint64> VendorDatabase::addUser(const QString &name, const QString &email,
                                              const QString &passwordHash)
{
    QSqlQuery query(QSqlDatabase::database(connectionName));
    if (!run(query,
             QStringLiteral("INSERT INTO users (name, email, password_hash, created_at) "
                            "VALUES (?, ?, ?, ?)"),
             {name, email, passwordHash, now()}))
        return std::nullopt;
    return query.lastInsertId().toLongLong();
}

bool VendorDatabase::updateProfile(qint64 userId, const QString &name, const QString &email,
                                   bool keepVerification)
{
    return execute(keepVerification
                       ? QStringLiteral("UPDATE users SET name = ?, email = ? WHERE id = ?")
                       : QStringLiteral("UPDATE users SET name = ?, email = ?, "
                                        "email_verified_at = NULL WHERE id = ?"),
                   {name, email, userId});
}

bool VendorDatabase::setPasswordHash(qint64 userId, const QString &passwordHash)
{
    return execute(QStringLiteral("UPDATE users SET password_hash = ? WHERE id = ?"),
                   {passwordHash, userId});
}

bool VendorDatabase::setEmailVerified(qint64 userId)
{
    return execute(QStringLiteral("UPDATE users SET email_verified_at = ? WHERE id = ?"),
                   {now(), userId});
}

bool VendorDatabase::addToBalance(qint64 userId, qint64 kopecks)
{
    return execute(
        QStringLiteral("UPDATE users SET balance_kopecks = balance_kopecks + ? WHERE id = ?"),
        {kopecks, userId});
}

bool VendorDatabase::deleteUser(qint64 userId)
{
    // The foreign keys cascade to everything the account owns.
    return execute(QStringLiteral("DELETE FROM users WHERE id = ?"), {userId});
}

bool VendorDatabase::addToken(qint64 userId, const QString &tokenHash, const QString &deviceName)
{
    return execute(QStringLiteral("INSERT INTO tokens (hash, user_id, device_name, created_at) "
                                  "VALUES (?, ?, ?, ?)"),
                   {tokenHash, userId, deviceName, now()});
}

std::optional<qint64> VendorDatabase::userForToken(const QString &tokenHash)
{
    QSqlQuery query(QSqlDatabase::database(connectionName));
    if (!run(query, QStringLiteral("SELECT user_id FROM tokens WHERE hash = ?"), {tokenHash}) ||
        !query.next())
        return std::nullopt;
    return query.value(0).toLongLong();
}

bool VendorDatabase::revokeToken(const QString &tokenHash)
{
    return execute(QStringLiteral("DELETE FROM tokens WHERE hash = ?"), {tokenHash});
}

bool VendorDatabase::revokeTokens(qint64 userId, const QString &keepHash)
{
    if (keepHash.isEmpty())
        return execute(QStringLiteral("DELETE FROM tokens WHERE user_id = ?"), {userId});
    return execute(QStringLiteral("DELETE FROM tokens WHERE user_id = ? AND hash != ?"),
                   {userId, keepHash});
}

bool VendorDatabase::setSecret(SecretKind kind, qint64 userId, const Secret &secret)
{
    return execute(QStringLiteral("INSERT OR REPLACE INTO secrets "
                                  "(user_id, kind, value, expires_at, failed_attempts) "
                                  "VALUES (?, ?, ?, ?, 0)"),
                   {userId, static_cast<int>(kind), secret.value,
                    secret.expiresAt.toUTC().toString(Qt::ISODateWithMs)});
}

std::optional<VendorDatabase::Secret> VendorDatabase::secret(SecretKind kind, qint64 userId)
{
    QSqlQuery query(QSqlDatabase::database(connectionName));
    if (!run(query,
             QStringLiteral("SELECT value, expires_at, failed_attempts FROM secrets "
                            "WHERE user_id = ? AND kind = ?"),
             {userId, static_cast<int>(kind)}) ||
        !query.next())
        return std::nullopt;
    return Secret{query.value(0).toString(), timeFrom(query.value(1)), query.value(2).toInt()};
}

bool VendorDatabase::countFailedAttempt(SecretKind kind, qint64 userId)
{
    return execute(QStringLiteral("UPDATE secrets SET failed_attempts = failed_attempts + 1 "
                                  "WHERE user_id = ? AND kind = ?"),
                   {userId, static_cast<int>(kind)});
}

bool VendorDatabase::deleteSecret(SecretKind kind, qint64 userId)
{
    return execute(QStringLiteral("DELETE FROM secrets WHERE user_id = ? AND kind = ?"),
                   {userId, static_cast<int>(kind)});
}

QList<VendorDatabase::Peer> VendorDatabase::peersOf(qint64 userId)
{
    return peersWhere(QStringLiteral("user_id = ?"), userId);
}

QList<VendorDatabase::Peer> VendorDatabase::peersOnServer(const QString &serverId)
{
    return peersWhere(QStringLiteral("server_id = ?"), serverId);
}

QList<VendorDatabase::Peer> VendorDatabase::peersWhere(const QString &condition,
                                                       const QVariant &value)
{
    QList<Peer> peers;
    QSqlQuery query(QSqlDatabase::database(connectionName));
    if (run(query, PeerColumns + QStringLiteral("WHERE %1 ORDER BY id").arg(condition), {value})) {
        while (query.next())
            peers.append(peerFrom(query));
    }
    return peers;
}

std::optional<VendorDatabase::Peer> VendorDatabase::peer(qint64 userId, qint64 peerId)
{
    QSqlQuery query(QSqlDatabase::database(connectionName));
    if (!run(query, PeerColumns + QStringLiteral("WHERE user_id = ? AND id = ?"),
             {userId, peerId}) ||
        !query.next())
        return std::nullopt;
    return peerFrom(query);
}

std::optional<qint64> VendorDatabase::addPeer(const Peer &peer)
{
    QSqlQuery query(QSqlDatabase::database(connectionName));
    if (!run(query,
             QStringLiteral("INSERT INTO peers (user_id, country_id, server_id, name, protocol, "
                            "address, public_key, config, created_at) "
                            "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"),
             {peer.userId, peer.countryId, peer.serverId, peer.name, peer.protocol, peer.address,
              peer.publicKey, peer.config, now()}))
        return std::nullopt;
    return query.lastInsertId().toLongLong();
}

bool VendorDatabase::renamePeer(qint64 userId, qint64 peerId, const QString &name)
{
    return execute(QStringLiteral("UPDATE peers SET name = ? WHERE user_id = ? AND id = ?"),
                   {name, userId, peerId});
}

bool VendorDatabase::deletePeer(qint64 userId, qint64 peerId)
{
    return execute(QStringLiteral("DELETE FROM peers WHERE user_id = ? AND id = ?"),
                   {userId, peerId});
}

QSet<QString> VendorDatabase::usedAddresses(const QString &serverId)
{
    QSet<QString> addresses;
    QSqlQuery query(QSqlDatabase::database(connectionName));
    if (run(query, QStringLiteral("SELECT address FROM peers WHERE server_id = ?"), {serverId})) {
        while (query.next())
            addresses.insert(query.value(0).toString());
    }
    return addresses;
}

QHash<QString, int> VendorDatabase::peerCountByServer()
{
    QHash<QString, int> counts;
    QSqlQuery query(QSqlDatabase::database(connectionName));
    if (run(query, QStringLiteral("SELECT server_id, COUNT(*) FROM peers GROUP BY server_id"))) {
        while (query.next())
            counts.insert(query.value(0).toString(), query.value(1).toInt());
    }
    return counts;
}

bool VendorDatabase::addPaymentLink(qint64 userId, const QString &tokenHash,
                                    const QDateTime &expiresAt)
{
    return execute(
        QStringLiteral("INSERT INTO payment_links (hash, user_id, expires_at) VALUES (?, ?, ?)"),
        {tokenHash, userId, expiresAt.toUTC().toString(Qt::ISODateWithMs)});
}

std::optional<qint64> VendorDatabase::userForPaymentLink(const QString &tokenHash)
{
    QSqlQuery query(QSqlDatabase::database(connectionName));
    if (!run(query, QStringLiteral("SELECT user_id, expires_at FROM payment_links WHERE hash = ?"),
             {tokenHash}) ||
        !query.next() || timeFrom(query.value(1)) < QDateTime::currentDateTimeUtc())
        return std::nullopt;
    return query.value(0).toLongLong();
}

bool VendorDatabase::addOutboxMessage(const QString &email, const QString &kind,
                                      const QString &secret)
{
    return execute(QStringLiteral("INSERT INTO outbox (email, kind, secret, created_at) "
                                  "VALUES (?, ?, ?, ?)"),
                   {email, kind, secret, now()});
}

QJsonArray VendorDatabase::outbox(const QString &email)
{
    QJsonArray messages;
    QSqlQuery query(QSqlDatabase::database(connectionName));
    const QString select =
        QStringLiteral("SELECT id, email, kind, secret, created_at FROM outbox ");
    const bool ok =
        email.isEmpty()
            ? run(query, select + QStringLiteral("ORDER BY id"))
            : run(query, select + QStringLiteral("WHERE email = ? ORDER BY id"), {email});
    while (ok && query.next()) {
        const QString kind = query.value(2).toString();
        messages.append(QJsonObject{
            {QStringLiteral("id"), query.value(0).toLongLong()},
            {QStringLiteral("email"), query.value(1).toString()},
            {QStringLiteral("kind"), kind},
            {kind == QLatin1String("password-reset") ? QStringLiteral("token")
                                                     : QStringLiteral("code"),
             query.value(3).toString()},
            {QStringLiteral("created_at"), query.value(4).toString()},
        });
    }
    return messages;
}
