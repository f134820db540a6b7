#include "simstate.h"
#include "standincommands.h"

// networksetup(8): the listing of network services and their DNS servers.

namespace {

// networksetup reports bad parameters with this line and exit code 4.
constexpr int ExitInvalid = 4;

int invalidParameters(const QString &reason = QString())
{
    if (!reason.isEmpty())
        printErr(reason + QLatin1Char('\n'));
    printErr(QStringLiteral("** Error: The parameters were not valid.\n"));
    return ExitInvalid;
}

SimState::Service *findServiceOrComplain(SimState &state, const QString &name)
{
    SimState::Service *service = state.findService(name);
    if (!service)
        invalidParameters(QStringLiteral("%1 is not a recognized network service.").arg(name));
    return service;
}

int listAllNetworkServices(SimState &state)
{
    QString text = QStringLiteral("An asterisk (*) denotes that a network service is disabled.\n");
    for (const SimState::Service &service : std::as_const(state.services))
        text +=
            (service.enabled ? QString() : QStringLiteral("*")) + service.name + QLatin1Char('\n');
    printOut(text);
    return 0;
}

int getDnsServers(SimState &state, const QStringList &arguments)
{
    if (arguments.size() != 1)
        return invalidParameters();
    const SimState::Service *service = findServiceOrComplain(state, arguments.first());
    if (!service)
        return ExitInvalid;
    if (service->dnsServers.isEmpty())
        printOut(QStringLiteral("There aren't any DNS Servers set on %1.\n").arg(service->name));
    else
        printOut(service->dnsServers.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    return 0;
}

int setDnsServers(SimState &state, const QStringList &arguments)
{
    if (arguments.size() < 2)
        return invalidParameters();
    SimState::Service *service = findServiceOrComplain(state, arguments.first());
    if (!service)
        return ExitInvalid;
    const QStringList servers = arguments.mid(1);
    if (servers.size() == 1 &&
        servers.first().compare(QLatin1String("Empty"), Qt::CaseInsensitive) == 0) {
        service->dnsServers.clear();
        return 0;
    }
    for (const QString &server : servers) {
        const SimAddress address = SimAddress::parse(server);
        if (!address.isValid() || !address.scope().isEmpty())
            return invalidParameters(QStringLiteral("%1 is not a valid IP address.").arg(server));
    }
    service->dnsServers = servers;
    return 0;
}

} // namespace

int runNetworkSetup(SimState &state, const QStringList &arguments)
{
    const QString command = arguments.value(0).toLower();
    if (command == QLatin1String("-listallnetworkservices") && arguments.size() == 1)
        return listAllNetworkServices(state);
    if (command == QLatin1String("-getdnsservers"))
        return getDnsServers(state, arguments.mid(1));
    if (command == QLatin1String("-setdnsservers"))
        return setDnsServers(state, arguments.mid(1));
    if (command.isEmpty()) {
        printErr(QStringLiteral("Usage: networksetup -listallnetworkservices | -getdnsservers "
                                "<service> | -setdnsservers <service> <server...|Empty>\n"));
        return 1;
    }
    printErr(QStringLiteral("** Error: %1 is not simulated.\n").arg(arguments.first()));
    return 1;
}
