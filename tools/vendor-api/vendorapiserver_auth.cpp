// Registration, sign-in and out, password recovery and e-mail verification.

#include "vendorapiserver.h"

#include "tarvexlogging.h"
#include "vendorcrypto.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

namespace {

constexpr int MinPasswordLength = 12;
constexpr int MaxPasswordLength = 256;
constexpr int MaxNameLength = 255;
constexpr int MaxCodeAttempts = 5;
constexpr int CodeLifeMinutes = 30;
constexpr int ResetLifeMinutes = 60;

using SecretKind = VendorDatabase::SecretKind;

} // namespace

QString VendorApiServer::emailFrom(const QJsonObject &body)
{
    return body.value(QStringLiteral("email")).toString().trimmed().toLower();
}

bool VendorApiServer::isEmail(const QString &email)
{
    static const QRegularExpression pattern(QStringLiteral("^[^@\\s]+@[^@\\s]+\\.[^@\\s]+$"));
    return email.size() <= MaxNameLength && pattern.match(email).hasMatch();
}

void VendorApiServer::checkPassword(const QJsonObject &body, QJsonObject &errors)
{
    const QString password = body.value(QStringLiteral("password")).toString();
    // Characters, not UTF-16 units: an emoji is one character to the person typing it.
    const qsizetype length = password.toUcs4().size();
    if (password.isEmpty())
        addError(errors, QStringLiteral("password"), tr("Введите пароль"));
    else if (length < MinPasswordLength)
        addError(errors, QStringLiteral("password"),
                 tr("Пароль должен содержать не менее 12 символов"));
    else if (length > MaxPasswordLength)
        addError(errors, QStringLiteral("password"), tr("Пароль слишком длинный"));
    if (!password.isEmpty() &&
        body.value(QStringLiteral("password_confirmation")).toString() != password)
        addError(errors, QStringLiteral("password_confirmation"), tr("Пароли не совпадают"));
}

void VendorApiServer::checkNameAndEmail(const QJsonObject &body, qint64 ownerId,
                                        QJsonObject &errors, QString &name, QString &email)
{
    name = body.value(QStringLiteral("name")).toString().trimmed();
    email = emailFrom(body);
    if (name.isEmpty())
        addError(errors, QStringLiteral("name"), tr("Введите имя"));
    else if (name.size() > MaxNameLength)
        addError(errors, QStringLiteral("name"), tr("Имя слишком длинное"));
    if (email.isEmpty()) {
        addError(errors, QStringLiteral("email"), tr("Введите email"));
    } else if (!isEmail(email)) {
        addError(errors, QStringLiteral("email"), tr("Введите корректный email"));
    } else if (const auto owner = database.userByEmail(email); owner && owner->id != ownerId) {
        addError(errors, QStringLiteral("email"), tr("Этот email уже зарегистрирован"));
    }
}

std::optional<VendorApiServer::Reply>
VendorApiServer::checkCurrentPassword(const VendorDatabase::User &user, const QString &password,
                                      const QString &field, const QString &wrongText)
{
    // A stolen token must not become a way to guess the password.
    if (throttle.isLocked(user.email))
        return failure(429, tr("Слишком много попыток входа. Попробуйте позже"));
    if (VendorCrypto::verifyPassword(user.passwordHash, password))
        return std::nullopt;
    throttle.recordFailure(user.email);
    QJsonObject errors;
    addError(errors, field, wrongText);
    return invalid(errors);
}

VendorApiServer::Reply VendorApiServer::registerAccount(Request &request)
{
    QJsonObject errors;
    QString name;
    QString email;
    checkNameAndEmail(request.body, 0, errors, name, email);
    checkPassword(request.body, errors);
    if (request.body.value(QStringLiteral("agree_with_personal_agreement")) != QJsonValue(true))
        addError(errors, QStringLiteral("agree_with_personal_agreement"),
                 tr("Необходимо принять оферту и соглашение"));
    if (!errors.isEmpty())
        return invalid(errors);

    const QString hash = VendorCrypto::hashPassword(
        request.body.value(QStringLiteral("password")).toString(), settings.cheapPasswordHashing);
    const std::optional<qint64> id =
        hash.isEmpty() ? std::nullopt : database.addUser(name, email, hash);
    const std::optional<VendorDatabase::User> user = id ? database.userById(*id) : std::nullopt;
    if (!user || !sendVerificationCode(*user))
        return storageFailure();
    return session(*user, request.body.value(QStringLiteral("device_name")).toString(),
                   tr("Аккаунт создан. Код подтверждения отправлен на email"), 201);
}

VendorApiServer::Reply VendorApiServer::signIn(Request &request)
{
    QJsonObject errors;
    const QString email = emailFrom(request.body);
    const QString password = request.body.value(QStringLiteral("password")).toString();
    if (email.isEmpty())
        addError(errors, QStringLiteral("email"), tr("Введите email"));
    if (password.isEmpty())
        addError(errors, QStringLiteral("password"), tr("Введите пароль"));
    if (!errors.isEmpty())
        return invalid(errors);
    if (throttle.isLocked(email))
        return failure(429, tr("Слишком много попыток входа. Попробуйте позже"));

    const std::optional<VendorDatabase::User> user = database.userByEmail(email);
    bool passwordMatches = false;
    if (user) {
        passwordMatches = VendorCrypto::verifyPassword(user->passwordHash, password);
    } else {
        // The same slow check for an unknown address, so that the answer's timing does
        // not tell which e-mail addresses have accounts.
        if (unknownAccountHash.isEmpty())
            unknownAccountHash = VendorCrypto::hashPassword(VendorCrypto::randomToken(),
                                                            settings.cheapPasswordHashing);
        VendorCrypto::verifyPassword(unknownAccountHash, password);
    }
    if (!passwordMatches) {
        throttle.recordFailure(email);
        addError(errors, QStringLiteral("email"), tr("Неверный email или пароль"));
        return invalid(errors);
    }
    throttle.recordSuccess(email);
    return session(*user, request.body.value(QStringLiteral("device_name")).toString(),
                   tr("Авторизация успешна"), 200);
}

VendorApiServer::Reply VendorApiServer::session(const VendorDatabase::User &user,
                                                const QString &deviceName, const QString &message,
                                                int status)
{
    const QString token = VendorCrypto::randomToken();
    const QString device =
        deviceName.trimmed().isEmpty() ? QStringLiteral("unknown") : deviceName.trimmed().left(100);
    if (!database.addToken(user.id, VendorCrypto::tokenHash(token), device))
        return storageFailure();
    return success(message,
                   QJsonObject{{QStringLiteral("token"), token},
                               {QStringLiteral("token_type"), QStringLiteral("Bearer")},
                               {QStringLiteral("user"), userRecord(user)}},
                   status);
}

VendorApiServer::Reply VendorApiServer::signOut(Request &request)
{
    if (!database.revokeToken(request.tokenHash))
        return storageFailure();
    return success(tr("Вы вышли из аккаунта"));
}

VendorApiServer::Reply VendorApiServer::forgotPassword(Request &request)
{
    const QString email = emailFrom(request.body);
    if (!isEmail(email)) {
        QJsonObject errors;
        addError(errors, QStringLiteral("email"),
                 email.isEmpty() ? tr("Введите email") : tr("Введите корректный email"));
        return invalid(errors);
    }
    // The same answer whether or not the address has an account.
    if (const std::optional<VendorDatabase::User> user = database.userByEmail(email)) {
        const QString token = VendorCrypto::randomToken();
        const VendorDatabase::Secret secret{
            VendorCrypto::tokenHash(token),
            QDateTime::currentDateTimeUtc().addSecs(ResetLifeMinutes * 60)};
        if (!database.setSecret(SecretKind::PasswordReset, user->id, secret))
            return storageFailure();
        deliver(email, QStringLiteral("password-reset"), token);
    }
    return success(tr("Ссылка для сброса пароля отправлена"));
}

VendorApiServer::Reply VendorApiServer::resetPassword(Request &request)
{
    QJsonObject errors;
    const QString email = emailFrom(request.body);
    const QString token = request.body.value(QStringLiteral("token")).toString().trimmed();
    if (email.isEmpty())
        addError(errors, QStringLiteral("email"), tr("Введите email"));
    if (token.isEmpty())
        addError(errors, QStringLiteral("token"), tr("Введите токен сброса"));
    checkPassword(request.body, errors);
    if (!errors.isEmpty())
        return invalid(errors);

    const std::optional<VendorDatabase::User> user = database.userByEmail(email);
    const std::optional<VendorDatabase::Secret> secret =
        user ? database.secret(SecretKind::PasswordReset, user->id) : std::nullopt;
    if (!secret || secret->expiresAt < QDateTime::currentDateTimeUtc() ||
        secret->value != VendorCrypto::tokenHash(token)) {
        addError(errors, QStringLiteral("token"),
                 tr("Ссылка для сброса пароля недействительна или устарела"));
        return invalid(errors);
    }
    const QString hash = VendorCrypto::hashPassword(
        request.body.value(QStringLiteral("password")).toString(), settings.cheapPasswordHashing);
    // Whoever knew the old password is signed out everywhere.
    if (hash.isEmpty() || !database.setPasswordHash(user->id, hash) ||
        !database.deleteSecret(SecretKind::PasswordReset, user->id) ||
        !database.revokeTokens(user->id))
        return storageFailure();
    throttle.recordSuccess(email);
    return success(tr("Пароль обновлен"));
}

VendorApiServer::Reply VendorApiServer::resendVerificationCode(Request &request)
{
    if (request.user.emailVerifiedAt.isValid())
        return success(tr("Email уже подтвержден"));
    if (!sendVerificationCode(request.user))
        return storageFailure();
    return success(tr("Код подтверждения отправлен"));
}

VendorApiServer::Reply VendorApiServer::verifyEmail(Request &request)
{
    QJsonObject errors;
    const QString code = request.body.value(QStringLiteral("code")).toString().trimmed();
    if (code.isEmpty()) {
        addError(errors, QStringLiteral("code"), tr("Введите код подтверждения"));
        return invalid(errors);
    }
    if (request.user.emailVerifiedAt.isValid())
        return success(tr("Email уже подтвержден"));

    const std::optional<VendorDatabase::Secret> secret =
        database.secret(SecretKind::EmailVerification, request.user.id);
    if (!secret || secret->expiresAt < QDateTime::currentDateTimeUtc() ||
        secret->failedAttempts >= MaxCodeAttempts) {
        addError(errors, QStringLiteral("code"),
                 tr("Код подтверждения устарел. Запросите новый код"));
        return invalid(errors);
    }
    if (secret->value != code) {
        database.countFailedAttempt(SecretKind::EmailVerification, request.user.id);
        addError(errors, QStringLiteral("code"), tr("Неверный код подтверждения"));
        return invalid(errors);
    }
    if (!database.setEmailVerified(request.user.id) ||
        !database.deleteSecret(SecretKind::EmailVerification, request.user.id))
        return storageFailure();
    return success(tr("Email подтвержден"));
}

bool VendorApiServer::sendVerificationCode(const VendorDatabase::User &user)
{
    const QString code = VendorCrypto::verificationCode();
    const VendorDatabase::Secret secret{
        code, QDateTime::currentDateTimeUtc().addSecs(CodeLifeMinutes * 60)};
    if (!database.setSecret(SecretKind::EmailVerification, user.id, secret))
        return false;
    deliver(user.email, QStringLiteral("email-verification"), code);
    return true;
}

void VendorApiServer::deliver(const QString &email, const QString &kind, const QString &secret)
{
    // Nothing is mailed: the outbox is where a person or a test picks the message up.
    database.addOutboxMessage(email, kind, secret);
    QFile file(QDir(settings.dataFolder).filePath(QStringLiteral("outbox.log")));
    if (file.open(QIODevice::Append | QIODevice::Text)) {
        file.write(
            QStringLiteral("%1 %2 %3 %4\n")
                .arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODate), email, kind, secret)
                .toUtf8());
    }
    qCInfo(lcTarvexVendorApi).noquote()
        << "[VendorApiServer] outbox:" << kind << "for" << email << ":" << secret;
}
