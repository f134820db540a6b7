#include "upstreamroute.h"

#include "routecommand.h"

namespace {

QString field(const QString &output, QLatin1String label)
{
    for (const QString &line : output.split(QLatin1Char('\n'))) {
        const QString trimmed = line.trimmed();
        // Only the first colon separates the label: an IPv6 gateway keeps its own.
        if (trimmed.startsWith(label) && trimmed.mid(label.size()).startsWith(QLatin1Char(':')))
            return trimmed.mid(label.size() + 1).trimmed();
    }
    return {};
}

} // namespace

UpstreamRoute UpstreamRoute::fromRouteGet(const QString &output)
{
    UpstreamRoute route;
    route.gateway = field(output, QLatin1String("gateway"));
    route.interfaceName = field(output, QLatin1String("interface"));
    if (!route.gateway.isEmpty())
        route.kind = Kind::Gateway;
    else if (!route.interfaceName.isEmpty())
        route.kind = Kind::Interface;
    return route;
}

std::optional<UpstreamRoute> UpstreamRoute::fromRouteGetRun(bool succeeded, const QString &output,
                                                            const QString &error)
{
    if (succeeded)
        return fromRouteGet(output);
    if (error.contains(QLatin1String("not in table")) ||
        output.contains(QLatin1String("not in table")))
        return UpstreamRoute{};
    return std::nullopt;
}

UpstreamRoute UpstreamRoute::blackhole()
{
    return {Kind::Blackhole, QString(), QString()};
}

std::optional<UpstreamRoute> UpstreamRoute::next(const UpstreamRoute &current,
                                                 const UpstreamRoute &found,
                                                 const QString &tunnelInterface)
{
    if (current.kind == Kind::None ||
        (!tunnelInterface.isEmpty() && found.interfaceName == tunnelInterface))
        return std::nullopt;
    const bool usable = found.kind == Kind::Gateway || found.kind == Kind::Interface;
    const UpstreamRoute target = usable ? found : blackhole();
    if (target.kind == current.kind && target.gateway == current.gateway &&
        (target.interfaceName == current.interfaceName || target.interfaceName.isEmpty() ||
         current.interfaceName.isEmpty()))
        return std::nullopt;
    return target;
}

QStringList UpstreamRoute::addArguments(const RecoveryJournal::Route &route) const
{
    switch (kind) {
    case Kind::Gateway:
        return RouteCommand::add(route, gateway);
    case Kind::Interface:
        return RouteCommand::addThroughInterface(route, interfaceName);
    case Kind::Blackhole:
    case Kind::None:
        break;
    }
    // macOS drops what a blackhole route catches; its gateway is only a loopback address.
    const bool inet6 = route.family == QLatin1String("inet6");
    return RouteCommand::add(route, inet6 ? QStringLiteral("::1") : QStringLiteral("127.0.0.1"))
           << QStringLiteral("-blackhole");
}

QString UpstreamRoute::describe() const
{
    switch (kind) {
    case Kind::Gateway:
        return (gateway + QLatin1Char(' ') + interfaceName).trimmed();
    case Kind::Interface:
        return QStringLiteral("interface ") + interfaceName;
    case Kind::Blackhole:
        return QStringLiteral("blackhole");
    case Kind::None:
        break;
    }
    return QStringLiteral("none");
}
