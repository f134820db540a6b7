#include "macvpnbackend.h"

#include "routecommand.h"
#include "tarvexlogging.h"

// The tunnel program takes only a literal address as its endpoint, and the route that
// keeps the tunnel's own packets on the physical network must name the same one. A host
// name is therefore resolved once, before anything is set up, while the system's own DNS
// is still in force; an IPv4 answer is preferred, as the old default gateway is IPv4.
bool MacVpnBackend::resolveEndpoint(ParsedVpnConfig *config)
{
    QString host = endpointHost(*config);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    if (host.isEmpty() || isIpv4Route(host) || isIpv6Route(host)) {
        config->hostName = host;
        return true;
    }

    QString error;
    const QList<QHostAddress> addresses = lookupHost(host, &error);
    QHostAddress chosen;
    for (const QHostAddress &address : addresses) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol) {
            chosen = address;
            break;
        }
        if (chosen.isNull() && address.protocol() == QAbstractSocket::IPv6Protocol)
            chosen = address;
    }
    if (chosen.isNull()) {
        qCWarning(lcTarvexBackend) << "[MacVpnBackend] endpoint not resolved" << host << error;
        setError(tr("Не удалось определить адрес сервера VPN %1: %2")
                     .arg(host, error.isEmpty() ? tr("адресов нет") : error));
        return false;
    }
    config->hostName = chosen.toString();
    qCInfo(lcTarvexBackend) << "[MacVpnBackend] endpoint resolved" << host << "->"
                            << config->hostName;
    return true;
}

// The tunnel's own packets must keep using the physical network: a host route to the
// server through the gateway of its family that was in force before the tunnel.
// serverHost is set only once the route exists, so that a route that was already there
// (a static one, another program's) is never deleted as if it were ours.
bool MacVpnBackend::addServerRoute(const QString &server, const QString &gateway, QString *error)
{
    const bool ipv6 = isIpv6Route(server);
    const QString via = ipv6 ? defaultIpv6Gateway() : gateway;
    if (server.isEmpty() || via.isEmpty())
        return true;
    const RouteEntry route = routeTo(server);
    if (!addRecordedRoute(route, RouteCommand::add(route, via), error))
        return false;
    serverHost = server;
    return true;
}
