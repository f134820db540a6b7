#include "macvpnbackend.h"

#include "routecommand.h"
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

} // namespace

UpstreamRoute MacVpnBackend::defaultRoute(bool inet6) const
{
    return readDefaultRoute(inet6).value_or(UpstreamRoute{});
}

std::optional<UpstreamRoute> MacVpnBackend::readDefaultRoute(bool inet6) const
{
    QString output;
    QString error;
    const bool succeeded =
        runCommand(RouteCommand::Program, RouteCommand::getDefault(inet6), &output, &error);
    return UpstreamRoute::fromRouteGetRun(succeeded, output, error);
}

QStringList MacVpnBackend::allowedIps(const ParsedVpnConfig &config)
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

QString MacVpnBackend::endpointHost(const ParsedVpnConfig &config)
{
    if (!config.hostName.isEmpty())
        return config.hostName;
    return config.lastConfig.value(QStringLiteral("hostName")).toString();
}

int MacVpnBackend::endpointPort(const ParsedVpnConfig &config)
{
    const QJsonValue port = config.lastConfig.value(QStringLiteral("port"));
    if (port.isDouble())
        return port.toInt();
    bool ok = false;
    const int parsed = port.toVariant().toString().toInt(&ok, 10);
    return ok ? parsed : 0;
}

QString MacVpnBackend::clientIpv4(const ParsedVpnConfig &config)
{
    const QString clientIp = config.lastConfig.value(QStringLiteral("client_ip")).toString();
    return clientIp.section(QLatin1Char('/'), 0, 0);
}

bool MacVpnBackend::isIpv4Route(const QString &route)
{
    return isRoute(route, QAbstractSocket::IPv4Protocol, 32);
}

bool MacVpnBackend::isIpv6Route(const QString &route)
{
    return isRoute(route, QAbstractSocket::IPv6Protocol, 128);
}

// A bare address is a host route, anything with a prefix a network route.
MacVpnBackend::RouteEntry MacVpnBackend::routeTo(const QString &destination)
{
    return {
        isIpv6Route(destination) ? QStringLiteral("inet6") : QStringLiteral("inet"), destination,
        destination.contains(QLatin1Char('/')) ? QStringLiteral("-net") : QStringLiteral("-host")};
}
