// The profile, its password and deletion, the balance fields and the payment link.

#include "vendorapiserver.h"

#include "vendorcrypto.h"

#include <QDate>

namespace {

constexpr int PaymentLinkLifeMinutes = 60;

double rubles(qint64 kopecks)
{
    return static_cast<double>(kopecks) / 100.0;
}

} // namespace

QJsonObject VendorApiServer::userRecord(const VendorDatabase::User &user)
{
    // The tariff: the first device costs one price per day, every further device
    // another; the balance lasts as many whole days as the daily write-off fits in it.
    const qsizetype peers = database.peersOf(user.id).size();
    const qint64 dayWriteOff = peers == 0 ? 0
                                          : settings.firstDevicePerDayKopecks +
                                                (peers - 1) * settings.nextDevicePerDayKopecks;
    QString expiresAt = QStringLiteral("-");
    if (dayWriteOff > 0) {
        const qint64 days = qMax<qint64>(0, user.balanceKopecks / dayWriteOff);
        expiresAt = QDate::currentDate().addDays(days).toString(QStringLiteral("dd.MM.yyyy"));
    }
    return QJsonObject{
        {QStringLiteral("id"), user.id},
        {QStringLiteral("name"), user.name},
        {QStringLiteral("email"), user.email},
        {QStringLiteral("email_verified_at"),
         user.emailVerifiedAt.isValid()
             ? QJsonValue(user.emailVerifiedAt.toUTC().toString(Qt::ISODate))
             : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("balance"), rubles(user.balanceKopecks)},
        {QStringLiteral("balanceExpiresAt"), expiresAt},
        {QStringLiteral("dayWriteOff"), rubles(dayWriteOff)},
        {QStringLiteral("isFirstDevice"), peers == 0},
        {QStringLiteral("pricePerDayForFirstDevice"), rubles(settings.firstDevicePerDayKopecks)},
        {QStringLiteral("pricePerDayForNextDevices"), rubles(settings.nextDevicePerDayKopecks)},
    };
}

VendorApiServer::Reply VendorApiServer::showProfile(Request &request)
{
    return success(QString(), userRecord(request.user));
}

VendorApiServer::Reply VendorApiServer::updateProfile(Request &request)
{
    QJsonObject errors;
    QString name;
    QString email;
    checkNameAndEmail(request.body, request.user.id, errors, name, email);
    if (!errors.isEmpty())
        return invalid(errors);

    // A new address has to be confirmed again.
    const bool emailChanged = email != request.user.email;
    if (!database.updateProfile(request.user.id, name, email, !emailChanged))
        return storageFailure();
    const std::optional<VendorDatabase::User> user = database.userById(request.user.id);
    if (!user || (emailChanged && !sendVerificationCode(*user)))
        return storageFailure();
    return success(tr("Профиль обновлен"), userRecord(*user));
}

VendorApiServer::Reply VendorApiServer::updatePassword(Request &request)
{
    QJsonObject errors;
    const QString current = request.body.value(QStringLiteral("current_password")).toString();
    if (current.isEmpty())
        addError(errors, QStringLiteral("current_password"), tr("Введите текущий пароль"));
    checkPassword(request.body, errors);
    if (!errors.isEmpty())
        return invalid(errors);
    if (const auto refusal =
            checkCurrentPassword(request.user, current, QStringLiteral("current_password"),
                                 tr("Неверный текущий пароль")))
        return *refusal;
    const QString hash = VendorCrypto::hashPassword(
        request.body.value(QStringLiteral("password")).toString(), settings.cheapPasswordHashing);
    // Every other session ends; this one stays signed in.
    if (hash.isEmpty() || !database.setPasswordHash(request.user.id, hash) ||
        !database.revokeTokens(request.user.id, request.tokenHash))
        return storageFailure();
    return success(tr("Пароль обновлен"));
}

VendorApiServer::Reply VendorApiServer::deleteProfile(Request &request)
{
    QJsonObject errors;
    const QString password = request.body.value(QStringLiteral("password")).toString();
    if (password.isEmpty()) {
        addError(errors, QStringLiteral("password"), tr("Введите текущий пароль"));
        return invalid(errors);
    }
    if (const auto refusal = checkCurrentPassword(
            request.user, password, QStringLiteral("password"), tr("Неверный пароль")))
        return *refusal;
    if (!database.deleteUser(request.user.id))
        return storageFailure();
    return success(tr("Профиль удален"));
}

VendorApiServer::Reply VendorApiServer::paymentLink(Request &request)
{
    // The browser has no API token: the page is reached through a link of its own.
    const QString token = VendorCrypto::randomToken();
    if (!database.addPaymentLink(
            request.user.id, VendorCrypto::tokenHash(token),
            QDateTime::currentDateTimeUtc().addSecs(PaymentLinkLifeMinutes * 60)))
        return storageFailure();
    const QString url = rootUrl().toString() + QStringLiteral("/topup/") + token;
    return success(QString(), QJsonObject{{QStringLiteral("url"), url}});
}
