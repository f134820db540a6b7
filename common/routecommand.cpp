#include "routecommand.h"

namespace {

QStringList head(const char *verb, const RouteCommand::Route &route)
{
    QStringList arguments{QStringLiteral("-n"), QLatin1String(verb)};
    if (route.family == QLatin1String("inet6"))
        arguments.append(QStringLiteral("-inet6"));
    // A route recorded without a type was always a network route.
    arguments << (route.type.isEmpty() ? QStringLiteral("-net") : route.type) << route.destination;
    return arguments;
}

} // namespace

const QString RouteCommand::Program = QStringLiteral("/sbin/route");

QStringList RouteCommand::add(const Route &route, const QString &gateway)
{
    return head("add", route) << gateway;
}

QStringList RouteCommand::addThroughInterface(const Route &route, const QString &interfaceName)
{
    return head("add", route) << QStringLiteral("-interface") << interfaceName;
}

QStringList RouteCommand::remove(const Route &route)
{
    return head("delete", route);
}

QStringList RouteCommand::getDefault(bool inet6)
{
    QStringList arguments{QStringLiteral("-n"), QStringLiteral("get")};
    if (inet6)
        arguments.append(QStringLiteral("-inet6"));
    return arguments << QStringLiteral("default");
}

QString RouteCommand::gatewayOf(const QString &output)
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
