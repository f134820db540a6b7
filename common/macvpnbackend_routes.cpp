#include "macvpnbackend.h"

#include "configvaluevalidator.h"
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
    const bool splitActive =
        splitSettings.enabled && (splitSettings.mode == 1 || splitSettings.mode == 2);
    const QStringList splitRoutes = splitActive ? splitTunnelRoutes() : QStringList();
    const QString tooManyRoutes = ConfigValueValidator::checkSplitRoutes(int(splitRoutes.size()));
    if (!tooManyRoutes.isEmpty()) {
        setError(tooManyRoutes);
        return false;
    }

    const QStringList loggedAllowedIps = allowedIps(config);
    qCInfo(lcTarvexBackend) << "[MacVpnBackend] configureRoutes"
                            << "endpoint=" << server << "gateway=" << gateway
                            << "allowedIps=" << loggedAllowedIps
                            << "splitEnabled=" << !splitRoutes.isEmpty()
                            << "splitMode=" << splitSettings.mode << "splitRoutes=" << splitRoutes;

    QString error;
    if (!addServerRoute(server, gateway, &error)) {
        setError(tr("Не удалось добавить маршрут до сервера: %1").arg(error.trimmed()));
        return false;
    }

    installControlPlaneBypass(gateway);

    if (splitActive && splitSettings.mode == 1) {
        for (const QString &destination : splitRoutes) {
            const QString family = routeFamily(destination);
            const QString type = routeType(destination);
            QStringList arguments{QStringLiteral("-n"), QStringLiteral("add")};
            if (family == QLatin1String("inet6"))
                arguments.append(QStringLiteral("-inet6"));
            arguments << type << destination << QStringLiteral("-interface") << interfaceName;
            const RouteEntry entry{family, destination, type};
            if (!addRecordedRoute(entry, arguments, &error)) {
                setError(tr("Не удалось добавить маршрут раздельного туннелирования: %1")
                             .arg(error.trimmed()));
                return false;
            }
            installedRoutes.append(entry);
        }
        return true;
    }

    const QStringList allowed = allowedIps(config);
    const bool has4 = allowed.contains(QStringLiteral("0.0.0.0/0"));
    const bool has6 = allowed.contains(QStringLiteral("::/0"));

    // Two halves instead of a new default route: the old default route and gateway
    // stay usable for the server, the control plane and the exclusions, and those
    // more specific routes win over the halves.
    const QStringList ipv4Routes =
        has4 ? QStringList{QStringLiteral("0.0.0.0/1"), QStringLiteral("128.0.0.0/1")}
             : ipv4AllowedIps(allowed);
    for (const QString &route : ipv4Routes) {
        const RouteEntry entry{QStringLiteral("inet"), route, QStringLiteral("-net")};
        if (!addRecordedRoute(entry,
                              {QStringLiteral("-n"), QStringLiteral("add"), QStringLiteral("-net"),
                               route, QStringLiteral("-interface"), interfaceName},
                              &error)) {
            setError(tr("Не удалось добавить IPv4 маршрут: %1").arg(error.trimmed()));
            return false;
        }
        installedRoutes.append(entry);
    }

    if (has6) {
        // A machine without IPv6 refuses these; the tunnel still works for IPv4. A refused
        // half is not recorded: the route of that name (another tunnel's) is not ours.
        for (const QString &route : {QStringLiteral("::/1"), QStringLiteral("8000::/1")}) {
            const RouteEntry entry{QStringLiteral("inet6"), route, QStringLiteral("-net")};
            if (addRecordedRoute(entry,
                                 {QStringLiteral("-n"), QStringLiteral("add"),
                                  QStringLiteral("-inet6"), QStringLiteral("-net"), route,
                                  QStringLiteral("-interface"), interfaceName},
                                 nullptr))
                installedRoutes.append(entry);
        }
    }

    if (splitRoutes.isEmpty() || splitSettings.mode != 2 || gateway.isEmpty())
        return true;

    for (const QString &destination : splitRoutes) {
        const RouteEntry entry{QStringLiteral("inet"), destination, routeType(destination)};
        if (!addRecordedRoute(
                entry,
                {QStringLiteral("-n"), QStringLiteral("add"), entry.type, destination, gateway},
                &error)) {
            setError(tr("Не удалось добавить исключение раздельного туннелирования: %1")
                         .arg(error.trimmed()));
            return false;
        }
        installedRoutes.append(entry);
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
        deleteRoute(RouteEntry{routeFamily(serverHost), serverHost, QStringLiteral("-host")});
}
