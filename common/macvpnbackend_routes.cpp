#include "macvpnbackend.h"

#include "configvaluevalidator.h"
#include "routecommand.h"
#include "tarvexlogging.h"

namespace {

// The IPv4 entries of the allowed IPs. Only entries that begin with a digit are
// candidates, and an IPv6 network such as 2001:db8::/32 begins with one too: it is
// not routed here, or "route add -net" would fail the whole connection on it.
QStringList ipv4AllowedIps(const QStringList &allowed)
{
    QStringList result;
    for (const QString &entry : allowed) {
        const QChar first = entry.isEmpty() ? QChar() : entry.at(0);
        if (first >= QLatin1Char('0') && first <= QLatin1Char('9') &&
            !entry.contains(QLatin1Char(':')))
            result.append(entry);
    }
    return result;
}

} // namespace

bool MacVpnBackend::configureRoutes(const ParsedVpnConfig &config)
{
    const QString server = endpointHost(config);
    // Read before any tunnel route exists: afterwards the halves would shadow it.
    const QString gateway = defaultGateway();
    const bool onlySelected = splitSettings.is(SplitTunnelSettings::OnlySelected);
    const bool allExcept = splitSettings.is(SplitTunnelSettings::AllExcept);
    const QStringList splitRoutes =
        onlySelected || allExcept ? splitTunnelRoutes(splitSettings) : QStringList();
    const QString tooManyRoutes = ConfigValueValidator::checkSplitRoutes(int(splitRoutes.size()));
    if (!tooManyRoutes.isEmpty()) {
        setError(tooManyRoutes);
        return false;
    }

    const QStringList allowed = allowedIps(config);
    qCInfo(lcTarvexBackend) << "[MacVpnBackend] configureRoutes"
                            << "endpoint=" << server << "gateway=" << gateway
                            << "allowedIps=" << allowed << "splitEnabled=" << !splitRoutes.isEmpty()
                            << "splitMode=" << qint32(splitSettings.mode)
                            << "splitRoutes=" << splitRoutes;

    QString error;
    if (!addServerRoute(server, gateway, &error)) {
        setError(tr("Не удалось добавить маршрут до сервера: %1").arg(error.trimmed()));
        return false;
    }
    installControlPlaneBypass(gateway);

    if (onlySelected)
        return addSplitRoutes(splitRoutes);
    return addAllowedIpRoutes(allowed) &&
           (!allExcept || gateway.isEmpty() || addExclusions(splitRoutes, gateway));
}

// Only the selected destinations go into the tunnel, of either family.
bool MacVpnBackend::addSplitRoutes(const QStringList &destinations)
{
    QString error;
    for (const QString &destination : destinations) {
        const RouteEntry route = routeTo(destination);
        if (!addRecordedRoute(route, RouteCommand::addThroughInterface(route, interfaceName),
                              &error)) {
            setError(tr("Не удалось добавить маршрут раздельного туннелирования: %1")
                         .arg(error.trimmed()));
            return false;
        }
        installedRoutes.append(route);
    }
    return true;
}

bool MacVpnBackend::addAllowedIpRoutes(const QStringList &allowed)
{
    // Two halves instead of a new default route: the old default route and gateway
    // stay usable for the server, the control plane and the exclusions, and those
    // more specific routes win over the halves.
    const QStringList ipv4Routes =
        allowed.contains(QStringLiteral("0.0.0.0/0"))
            ? QStringList{QStringLiteral("0.0.0.0/1"), QStringLiteral("128.0.0.0/1")}
            : ipv4AllowedIps(allowed);
    QString error;
    for (const QString &destination : ipv4Routes) {
        const RouteEntry route{QStringLiteral("inet"), destination, QStringLiteral("-net")};
        if (!addRecordedRoute(route, RouteCommand::addThroughInterface(route, interfaceName),
                              &error)) {
            setError(tr("Не удалось добавить IPv4 маршрут: %1").arg(error.trimmed()));
            return false;
        }
        installedRoutes.append(route);
    }

    if (!allowed.contains(QStringLiteral("::/0")))
        return true;
    // A machine without IPv6 refuses these; the tunnel still works for IPv4. A refused
    // half is not recorded: the route of that name (another tunnel's) is not ours.
    for (const QString &destination : {QStringLiteral("::/1"), QStringLiteral("8000::/1")}) {
        const RouteEntry route{QStringLiteral("inet6"), destination, QStringLiteral("-net")};
        if (addRecordedRoute(route, RouteCommand::addThroughInterface(route, interfaceName),
                             nullptr))
            installedRoutes.append(route);
    }
    return true;
}

// The excluded destinations keep the way out that they had before the tunnel.
bool MacVpnBackend::addExclusions(const QStringList &destinations, const QString &gateway)
{
    QString error;
    for (const QString &destination : destinations) {
        const RouteEntry route = routeTo(destination);
        if (!addRecordedRoute(route, RouteCommand::add(route, gateway), &error)) {
            setError(tr("Не удалось добавить исключение раздельного туннелирования: %1")
                         .arg(error.trimmed()));
            return false;
        }
        installedRoutes.append(route);
    }
    return true;
}

void MacVpnBackend::removeRoutes()
{
    removeControlPlaneBypass();

    // Reverse order: exclusions and halves go before the routes they were added after,
    // and the server route goes last so the tunnel's packets keep their path until then.
    for (auto it = installedRoutes.crbegin(); it != installedRoutes.crend(); ++it)
        deleteRoute(*it);
    installedRoutes.clear();

    if (!serverHost.isEmpty())
        deleteRoute(routeTo(serverHost));
}
