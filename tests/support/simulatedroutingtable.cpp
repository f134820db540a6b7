#include "simulatedroutingtable.h"

namespace {

TestableMacVpnBackend::CommandResult failure(const QString &text)
{
    return TestableMacVpnBackend::CommandResult{false, QString(), text + QLatin1Char('\n')};
}

} // namespace

SimulatedRoutingTable::SimulatedRoutingTable(const QString &defaultGateway)
{
    if (!defaultGateway.isEmpty())
        table.insert(QStringLiteral("inet -net default"), defaultGateway);
}

TestableMacVpnBackend::CommandResult
SimulatedRoutingTable::handle(const TestableMacVpnBackend::Command &command)
{
    if (command.program != QLatin1String("/sbin/route"))
        return {};

    QStringList arguments = command.arguments;
    if (arguments.size() < 2 || arguments.takeFirst() != QLatin1String("-n"))
        return failure(QStringLiteral("usage: route [-n] command [[modifiers] args]"));
    const QString verb = arguments.takeFirst();

    if (verb == QLatin1String("get") && arguments == QStringList{QStringLiteral("default")}) {
        const QString gateway = table.value(QStringLiteral("inet -net default"));
        if (gateway.isEmpty())
            return failure(QStringLiteral("route: writing to routing socket: not in table"));
        return {true,
                QStringLiteral("   route to: default\ndestination: default\n       mask: default\n"
                               "    gateway: %1\n  interface: en0\n")
                    .arg(gateway),
                QString()};
    }

    QString family = QStringLiteral("inet");
    if (!arguments.isEmpty() && arguments.constFirst() == QLatin1String("-inet6")) {
        family = QStringLiteral("inet6");
        arguments.removeFirst();
    }
    if (arguments.size() < 2 ||
        (arguments.at(0) != QLatin1String("-host") && arguments.at(0) != QLatin1String("-net")))
        return failure(QStringLiteral("route: bad arguments"));
    const QString type = arguments.takeFirst();
    const QString destination = arguments.takeFirst();
    const QString key = family + QLatin1Char(' ') + type + QLatin1Char(' ') + destination;

    if (verb == QLatin1String("add")) {
        const bool viaInterface =
            arguments.size() == 2 && arguments.constFirst() == QLatin1String("-interface");
        if (arguments.size() != 1 && !viaInterface)
            return failure(QStringLiteral("route: bad gateway"));
        if (failingDestinations.contains(destination))
            return failure(
                QStringLiteral("route: writing to routing socket: Network is unreachable"));
        if (table.contains(key))
            return failure(QStringLiteral("route: writing to routing socket: File exists"));
        table.insert(key, arguments.join(QLatin1Char(' ')));
        return {};
    }
    if (verb == QLatin1String("delete") && arguments.isEmpty()) {
        if (table.remove(key) == 0)
            return failure(QStringLiteral("route: writing to routing socket: not in table"));
        return {};
    }
    return failure(QStringLiteral("route: bad command"));
}

TestableMacVpnBackend::Responder SimulatedRoutingTable::responder()
{
    return [this](const TestableMacVpnBackend::Command &command) {
        return handle(command);
    };
}

QStringList SimulatedRoutingTable::routes() const
{
    QStringList result;
    for (auto it = table.cbegin(); it != table.cend(); ++it)
        result.append(it.key() + QStringLiteral(" -> ") + it.value());
    return result;
}
