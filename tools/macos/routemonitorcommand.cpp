#include "simstate.h"
#include "simstatelock.h"
#include "standincommands.h"

#include <QFileInfo>
#include <QMap>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <poll.h>
#include <thread>
#include <unistd.h>

// route(8)'s "monitor" on the simulated Mac. The kernel reports each change on the routing
// socket as it happens; here the state is compared with the last look a few times a
// second, which is as soon as a test can tell the difference.

namespace {

constexpr auto PollInterval = std::chrono::milliseconds(150);
constexpr int ExitBroken = 70;

// Each route by its key (family and destination), each address by interface and text.
struct Snapshot
{
    QMap<QString, SimState::Route> routes;
    QMap<QString, QPair<QString, SimState::InterfaceAddress>> addresses;
};

QString routeKey(const SimState::Route &route)
{
    return SimAddress::familyName(route.family()) + QLatin1Char(' ') + route.destinationText();
}

bool sameRoute(const SimState::Route &a, const SimState::Route &b)
{
    return a.gateway == b.gateway && a.interfaceName == b.interfaceName &&
           a.blackhole == b.blackhole;
}

bool takeSnapshot(const QString &directory, Snapshot *snapshot)
{
    SimStateLock lock(directory);
    SimState state(directory);
    QString error;
    if (!lock.isLocked() || !state.load(&error))
        return false;
    snapshot->routes.clear();
    snapshot->addresses.clear();
    for (const SimState::Route &route : std::as_const(state.routes))
        snapshot->routes.insert(routeKey(route), route);
    for (const SimState::Interface &interface : std::as_const(state.interfaces)) {
        for (const SimState::InterfaceAddress &entry : interface.addresses)
            snapshot->addresses.insert(interface.name + QLatin1Char(' ') + entry.address.toString(),
                                       {interface.name, entry});
    }
    return true;
}

// Straight to standard output, message by message: the program's usual output is
// collected and written when the command ends, which this one never does.
void printMessage(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

// "got message of size N on <ctime>", as route(8) heads every message.
QString header(int size)
{
    const std::time_t now = std::time(nullptr);
    char date[64] = {};
    std::strftime(date, sizeof date, "%a %b %e %H:%M:%S %Y", std::localtime(&now));
    return QStringLiteral("got message of size %1 on %2\n").arg(size).arg(QLatin1String(date));
}

int messageSize(int addresses, SimAddress::Family family)
{
    return 92 + addresses * (family == SimAddress::Inet6 ? 28 : 16);
}

void printRouteMessage(const char *type, const char *what, const SimState::Route &route)
{
    QStringList flags = {QStringLiteral("UP")};
    QStringList kinds = {QStringLiteral("DST")};
    QStringList addresses = {route.isDefault() ? QStringLiteral("default")
                                               : route.destination.toString()};
    if (route.gateway.isValid()) {
        flags << QStringLiteral("GATEWAY");
        kinds << QStringLiteral("GATEWAY");
        addresses << route.gateway.toString();
    } else {
        kinds << QStringLiteral("GATEWAY");
        addresses << route.interfaceName;
    }
    if (route.host)
        flags << QStringLiteral("HOST");
    flags << QStringLiteral("DONE") << QStringLiteral("STATIC");
    if (route.blackhole)
        flags << QStringLiteral("BLACKHOLE");
    if (!route.host) {
        kinds << QStringLiteral("NETMASK");
        addresses << SimAddress::netmask(route.family(), route.prefixLength).toString();
    }
    const int size = messageSize(int(addresses.size()), route.family());
    printMessage(header(size) +
                 QStringLiteral("%1: %2: len %3, pid: 0, seq 0, errno 0, flags:<%4>\n"
                                "locks:  inits: \n"
                                "sockaddrs: <%5>\n"
                                " %6\n\n")
                     .arg(QLatin1String(type), QLatin1String(what))
                     .arg(size)
                     .arg(flags.join(QLatin1Char(',')), kinds.join(QLatin1Char(',')),
                          addresses.join(QLatin1Char(' '))));
}

void printAddressMessage(const char *type, const char *what, const QString &interfaceName,
                         const SimState::InterfaceAddress &entry)
{
    const SimAddress::Family family = entry.address.family();
    const QString mask = SimAddress::netmask(family, entry.prefixLength).toString();
    const int size = messageSize(3, family);
    printMessage(header(size) + QStringLiteral("%1: %2: len %3, metric 0, flags:<UP>\n"
                                               "sockaddrs: <NETMASK,IFP,IFA>\n"
                                               " %4 %5 %6\n\n")
                                    .arg(QLatin1String(type), QLatin1String(what))
                                    .arg(size)
                                    .arg(mask, interfaceName, entry.address.toString()));
}

void printChanges(const Snapshot &before, const Snapshot &after)
{
    for (auto it = before.routes.cbegin(); it != before.routes.cend(); ++it) {
        if (!after.routes.contains(it.key()))
            printRouteMessage("RTM_DELETE", "Delete Route", it.value());
    }
    for (auto it = after.routes.cbegin(); it != after.routes.cend(); ++it) {
        const auto old = before.routes.constFind(it.key());
        if (old == before.routes.cend())
            printRouteMessage("RTM_ADD", "Add Route", it.value());
        else if (!sameRoute(*old, it.value()))
            printRouteMessage("RTM_CHANGE", "Change Metrics or flags", it.value());
    }
    for (auto it = before.addresses.cbegin(); it != before.addresses.cend(); ++it) {
        if (!after.addresses.contains(it.key()))
            printAddressMessage("RTM_DELADDR", "address being removed from iface", it.value().first,
                                it.value().second);
    }
    for (auto it = after.addresses.cbegin(); it != after.addresses.cend(); ++it) {
        if (!before.addresses.contains(it.key()))
            printAddressMessage("RTM_NEWADDR", "address being added to iface", it.value().first,
                                it.value().second);
    }
}

// The reader of standard output has gone (a daemon killed outright). macOS's route(8)
// learns it at its next message; leaving at once spares tests a stray process.
bool readerGone()
{
    pollfd output = {STDOUT_FILENO, 0, 0};
    return ::poll(&output, 1, 0) > 0 && (output.revents & (POLLERR | POLLHUP)) != 0;
}

} // namespace

bool isRouteMonitor(const QStringList &arguments)
{
    for (const QString &argument : arguments) {
        if (!argument.startsWith(QLatin1Char('-')))
            return argument == QLatin1String("monitor");
    }
    return false;
}

int runRouteMonitor(const QString &stateDirectory)
{
    Snapshot last;
    if (!takeSnapshot(stateDirectory, &last)) {
        printErr(
            QStringLiteral("route: cannot read the simulated state in %1\n").arg(stateDirectory));
        return ExitBroken;
    }
    // Ends when its reader goes away: the next message then raises SIGPIPE, as on macOS.
    for (;;) {
        std::this_thread::sleep_for(PollInterval);
        if (!QFileInfo::exists(stateDirectory) || readerGone())
            return ExitBroken;
        Snapshot now;
        if (!takeSnapshot(stateDirectory, &now))
            continue;
        printChanges(last, now);
        last = now;
    }
}
