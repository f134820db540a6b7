#include "configvaluevalidator.h"

#include <QHostAddress>
#include <QJsonValue>
#include <QRegularExpression>

namespace {

QString invalidField(const QString &field, const QString &expectation)
{
    return ConfigValueValidator::tr("Недопустимая конфигурация VPN: поле %1 %2")
        .arg(field, expectation);
}

} // namespace

bool ConfigValueValidator::isInterfaceName(const QString &name)
{
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("utun[0-9]+")));
    return name.size() <= MaxInterfaceNameLength && pattern.match(name).hasMatch();
}

bool ConfigValueValidator::isIpv4Address(const QString &text)
{
    static const QRegularExpression dottedQuad(
        QRegularExpression::anchoredPattern(QStringLiteral("[0-9]{1,3}(\\.[0-9]{1,3}){3}")));
    if (!dottedQuad.match(text).hasMatch())
        return false;
    // The round trip rejects values above 255 and leading zeros, which some parsers
    // read as octal.
    const QHostAddress address(text);
    return address.protocol() == QAbstractSocket::IPv4Protocol && address.toString() == text;
}

bool ConfigValueValidator::isIpAddress(const QString &text)
{
    if (isIpv4Address(text))
        return true;
    static const QRegularExpression ipv6Characters(
        QRegularExpression::anchoredPattern(QStringLiteral("[0-9A-Fa-f:.]+")));
    if (!text.contains(QLatin1Char(':')) || !ipv6Characters.match(text).hasMatch())
        return false;
    return QHostAddress(text).protocol() == QAbstractSocket::IPv6Protocol;
}

bool ConfigValueValidator::isMtu(const QString &text)
{
    static const QRegularExpression digits(
        QRegularExpression::anchoredPattern(QStringLiteral("[0-9]{1,5}")));
    if (!digits.match(text).hasMatch())
        return false;
    const int mtu = text.toInt();
    return mtu >= MinMtu && mtu <= MaxMtu;
}

bool ConfigValueValidator::isOptionLike(const QString &text)
{
    return text.startsWith(QLatin1Char('-'));
}

QString ConfigValueValidator::check(const ParsedVpnConfig &config, const QString &clientAddress,
                                    const QString &endpointHost, int splitEntries)
{
    if (splitEntries > MaxSplitEntries)
        return tr("Слишком много записей раздельного туннелирования: %1, допустимо не больше %2")
            .arg(splitEntries)
            .arg(MaxSplitEntries);

    // The server's address goes to route as the host of its bypass route.
    if (isOptionLike(endpointHost))
        return invalidField(QStringLiteral("hostName"), tr("не может начинаться с «-»"));

    // Blank servers are skipped, as they always were; anything else goes to networksetup.
    const std::pair<const char *, QString> dnsServers[] = {{"dns1", config.dns1},
                                                           {"dns2", config.dns2}};
    for (const auto &[field, value] : dnsServers) {
        if (!value.trimmed().isEmpty() && !isIpAddress(value))
            return invalidField(QLatin1String(field), tr("должно быть IPv4- или IPv6-адресом"));
    }

    // A missing address keeps its own message from the interface step.
    if (!clientAddress.isEmpty() && !isIpv4Address(clientAddress))
        return invalidField(QStringLiteral("client_ip"), tr("должно быть IPv4-адресом"));

    const QJsonValue mtu = config.lastConfig.value(QStringLiteral("mtu"));
    if (mtu.isString() && !isMtu(mtu.toString()))
        return invalidField(QStringLiteral("mtu"),
                            tr("должно быть числом от %1 до %2").arg(MinMtu).arg(MaxMtu));
    return {};
}

QString ConfigValueValidator::checkSplitRoutes(int routes)
{
    if (routes <= MaxSplitRoutes)
        return {};
    return tr("Слишком много адресов раздельного туннелирования: %1, допустимо не больше %2")
        .arg(routes)
        .arg(MaxSplitRoutes);
}
