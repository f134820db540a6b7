#include "simulatedroutingtable.h"

namespace {

const QString DefaultKey = QStringLiteral("inet -net default");

TestableMacVpnBackend::CommandResult failure(const QString &text)
{
    return {false, QString(), QStringLiteral("route: ") + text + QLatin1Char('\n')};
}

} // namespace

SimulatedRoutingTable::SimulatedRoutingTable(const QString &defaultGateway)
{
    if (!defaultGateway.isEmpty())
        table.insert(DefaultKey, defaultGateway);
}

TestableMacVpnBackend::Responder SimulatedRoutingTable::responder()
{
    return [this](const TestableMacVpnBackend::Command &command) {
        return command.program == QLatin1String("/sbin/route")
                   ? handle(command.arguments)
                   : TestableMacVpnBackend::CommandResult();
    };
}

TestableMacVpnBackend::CommandResult SimulatedRoutingTable::handle(QStringList arguments)
{
    if (arguments.size() < 2 || arguments.takeFirst() != QLatin1String("-n"))
        return failure(QStringLiteral("bad command"));
    const QString verb = arguments.takeFirst();
    if (verb == QLatin1String("get") && arguments == QStringList{QStringLiteral("default")}) {
        if (!table.contains(DefaultKey))
            return failure(QStringLiteral("writing to routing socket: not in table"));
        return {true,
                QStringLiteral("   route to: default\ndestination: default\n"
                               "    gateway: %1\n  interface: en0\n")
                    .arg(table.value(DefaultKey)),
                QString()};
    }

    const bool inet6 = arguments.value(0) == QLatin1String("-inet6");
    if (inet6)
        arguments.removeFirst();
    const QString type = arguments.value(0);
    if (arguments.size() < 2 || (type != QLatin1String("-host") && type != QLatin1String("-net")))
        return failure(QStringLiteral("bad arguments"));
    const QString destination = arguments.at(1);
    const QString key =
        QStringList{inet6 ? QStringLiteral("inet6") : QStringLiteral("inet"), type, destination}
            .join(QLatin1Char(' '));
    const QStringList via = arguments.mid(2);

    if (verb == QLatin1String("add") &&
        (via.size() == 1 || (via.size() == 2 && via.at(0) == QLatin1String("-interface")))) {
        if (failingDestinations.contains(destination))
            return failure(QStringLiteral("writing to routing socket: Network is unreachable"));
        if (table.contains(key))
            return failure(QStringLiteral("writing to routing socket: File exists"));
        table.insert(key, via.join(QLatin1Char(' ')));
        return {};
    }
    if (verb == QLatin1String("delete") && via.isEmpty())
        return table.remove(key)
                   ? TestableMacVpnBackend::CommandResult()
                   : failure(QStringLiteral("writing to routing socket: not in table"));
    return failure(QStringLiteral("bad command"));
}

QStringList SimulatedRoutingTable::routes() const
{
    QStringList result;
    for (auto it = table.cbegin(); it != table.cend(); ++it)
        result.append(it.key() + QStringLiteral(" -> ") + it.value());
    return result;
}
