#include "macvpnbackend.h"

#include "tarvexlogging.h"

#include <QJsonArray>

namespace {

// "address" or "address/prefix" with the prefix inside 0..maxPrefix; the part after a
// second "/" is ignored, as the address checks have always done.
bool isRoute(const QString &route, QAbstractSocket::NetworkLayerProtocol family, int maxPrefix)
{
    const QString text = route.trimmed();
    if (text.isEmpty())
        return false;
    const int slash = text.indexOf(QLatin1Char('/'));
    if (slash >= 0) {
        bool ok = false;
        const int prefix = text.section(QLatin1Char('/'), 1, 1).toInt(&ok, 10);
        if (!ok || prefix < 0 || prefix > maxPrefix)
            return false;
    }
    QHostAddress address;
    if (!address.setAddress(slash >= 0 ? text.left(slash) : text))
        return false;
    return address.protocol() == family;
}

// The "gateway:" line of "route -n get"; empty when there is none.
QString gatewayLine(const QString &output)
{
    const QStringList lines = output.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const QString trimmed = line.trimmed();
        // Only the first colon separates the label: an IPv6 gateway keeps its own.
        if (trimmed.startsWith(QLatin1String("gateway:")))
            return trimmed.mid(trimmed.indexOf(QLatin1Char(':')) + 1).trimmed();
    }
    return {};
}

} // namespace

QString MacVpnBackend::defaultGateway() const
{
    QString output;
    if (!runCommand(QStringLiteral("/sbin/route"),
                    {QStringLiteral("-n"), QStringLiteral("get"), QStringLiteral("default")},
                    &output, nullptr, CommandTimeoutMs))
        return {};
    return gatewayLine(output);
}

QString MacVpnBackend::defaultIpv6Gateway() const
{
    QString output;
    if (!runCommand(QStringLiteral("/sbin/route"),
                    {QStringLiteral("-n"), QStringLiteral("get"), QStringLiteral("-inet6"),
                     QStringLiteral("default")},
                    &output, nullptr, CommandTimeoutMs))
        return {};
    return gatewayLine(output);
}

QStringList MacVpnBackend::allowedIps(const ParsedVpnConfig &config) const
{
    QStringList result;
    const QJsonArray array = config.lastConfig.value(QStringLiteral("allowed_ips")).toArray();
    for (const QJsonValue &value : array) {
        const QString entry = value.toString().trimmed();
        if (!entry.isEmpty())
            result.append(entry);
    }
    if (result.isEmpty())
        result = QStringList{QStringLiteral("0.0.0.0/0"), QStringLiteral("::/0")};
    qCInfo(lcTarvexBackend) << "[MacVpnBackend] allowedIps" << result;
    return result;
}

QString MacVpnBackend::endpointHost(const ParsedVpnConfig &config) const
{
    if (!config.hostName.isEmpty())
        return config.hostName;
    return config.lastConfig.value(QStringLiteral("hostName")).toString();
}

int MacVpnBackend::endpointPort(const ParsedVpnConfig &config) const
{
    const QJsonValue port = config.lastConfig.value(QStringLiteral("port"));
    if (port.isDouble())
        return port.toInt();
    bool ok = false;
    const int parsed = port.toVariant().toString().toInt(&ok, 10);
    return ok ? parsed : 0;
}

bool MacVpnBackend::isIpv4Route(const QString &route) const
{
    return isRoute(route, QAbstractSocket::IPv4Protocol, 32);
}

bool MacVpnBackend::isIpv6Route(const QString &route) const
{
    return isRoute(route, QAbstractSocket::IPv6Protocol, 128);
}

QString MacVpnBackend::routeFamily(const QString &route) const
{
    return isIpv6Route(route) ? QStringLiteral("inet6") : QStringLiteral("inet");
}

QString MacVpnBackend::routeType(const QString &route) const
{
    return route.isEmpty() || !route.contains(QLatin1Char('/')) ? QStringLiteral("-host")
                                                                : QStringLiteral("-net");
}
