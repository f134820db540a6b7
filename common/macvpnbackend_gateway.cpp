#include "macvpnbackend.h"

#include "routecommand.h"
#include "tarvexlogging.h"

// The server route, the control-plane bypass and the all-except exclusions leave through
// the default route that was in force at connect. When the Mac moves to another network
// that way is gone and the tunnel's own packets would fall into its half routes; these
// routes therefore follow the default route, or go to a blackhole while there is none.
// The daemon's own changes come back as routing messages too: a second look finds the
// routes already where the default route is and does nothing.
void MacVpnBackend::followDefaultRoute(const QString &reason)
{
    if (status() != Connected)
        return;
    QStringList moves;
    for (const bool inet6 : {false, true}) {
        const QList<RouteEntry> routes = upstreamRoutes(inet6);
        if (routes.isEmpty())
            continue;
        UpstreamRoute &current = inet6 ? upstream6 : upstream4;
        const std::optional<UpstreamRoute> found = readDefaultRoute(inet6);
        if (!found) {
            qCWarning(lcTarvexBackend) << "[MacVpnBackend] default route unknown (" << reason
                                       << "): routes stay on" << current.describe();
            continue;
        }
        const std::optional<UpstreamRoute> way =
            UpstreamRoute::next(current, *found, interfaceName);
        if (!way)
            continue;
        int moved = 0;
        for (const RouteEntry &route : routes) {
            if (moveRoute(route, *way))
                ++moved;
            else
                forgetRoute(route);
        }
        moves.append(QStringLiteral("%1 %2 -> %3: %4 of %5 routes moved")
                         .arg(inet6 ? QLatin1String("inet6") : QLatin1String("inet"),
                              current.describe(), way->describe())
                         .arg(moved)
                         .arg(routes.size()));
        current = *way;
    }
    if (moves.isEmpty())
        qCDebug(lcTarvexBackend) << "[MacVpnBackend] default route unchanged" << reason;
    else
        qCInfo(lcTarvexBackend).noquote() << "[MacVpnBackend] default route changed (" + reason +
                                                 "): " + moves.join(QStringLiteral("; "));
}

QList<MacVpnBackend::RouteEntry> MacVpnBackend::upstreamRoutes(bool inet6) const
{
    QList<RouteEntry> routes;
    if (!serverHost.isEmpty() && isIpv6Route(serverHost) == inet6)
        routes.append(routeTo(serverHost));
    if (inet6)
        return routes;
    for (const QString &address : controlPlaneRoutes)
        routes.append(RouteEntry{QStringLiteral("inet"), address, QStringLiteral("-host")});
    return routes + exclusionRoutes;
}

// Deleted first ("not in table" when the kernel dropped it with its interface), then
// added along the new way. The journal keeps naming it, so a crash still deletes it.
bool MacVpnBackend::moveRoute(const RouteEntry &route, const UpstreamRoute &way)
{
    deleteRoute(route);
    if (!journal.contents().routes.contains(route) && !journal.addRoute(route)) {
        qCWarning(lcTarvexBackend)
            << "[MacVpnBackend] recovery journal not written" << journal.errorString();
        return false;
    }
    QString error;
    if (runCommand(RouteCommand::Program, way.addArguments(route), nullptr, &error))
        return true;
    qCWarning(lcTarvexBackend) << "[MacVpnBackend] route not moved" << route.destination
                               << error.trimmed();
    if (!journal.removeRoute(route))
        qCWarning(lcTarvexBackend)
            << "[MacVpnBackend] recovery journal not written" << journal.errorString();
    return false;
}

// A route that could not be added again is no longer ours: whatever stands there now
// (someone else's route of the same destination) is left alone from here on.
void MacVpnBackend::forgetRoute(const RouteEntry &route)
{
    if (!serverHost.isEmpty() && routeTo(serverHost) == route)
        serverHost.clear();
    controlPlaneRoutes.removeAll(route.destination);
    exclusionRoutes.removeAll(route);
    installedRoutes.removeAll(route);
}
