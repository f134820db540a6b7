#include "livenetwork.h"
#include "simstate.h"
#include "standincommands.h"

#include <algorithm>
#include <netdb.h>
#include <sys/socket.h>

// The BSD route(8) of macOS: add, delete and get, with its messages and exit codes.

namespace {

constexpr int ExitUsage = 64;  // EX_USAGE
constexpr int ExitNoHost = 68; // EX_NOHOST

struct Request
{
    QString command;
    bool quiet = false;
    SimAddress::Family family = SimAddress::Inet;
    bool hostFlag = false;
    bool netFlag = false;
    bool viaInterface = false;
    bool blackhole = false;
    QString netmask;
    int prefixLength = -1;
    QStringList positional;
};

struct Destination
{
    SimAddress address; // masked
    int prefixLength = 0;
    bool host = false;
    bool isDefault = false;
    QString shown; // as route prints it back: the argument without its "/prefix"
};

int usage(const QString &complaint = QString())
{
    if (!complaint.isEmpty())
        printErr(QStringLiteral("route: %1\n").arg(complaint));
    printErr(QStringLiteral("usage: route [-dnqtv] command [[modifiers] args]\n"));
    return ExitUsage;
}

int badAddress(const QString &text)
{
    printErr(QStringLiteral("route: bad address: %1\n").arg(text));
    return ExitNoHost;
}

// route(8) falls back to the resolver for anything that is not numeric; inside the
// sandbox that is /etc/hosts only.
SimAddress resolve(const QString &text, SimAddress::Family family)
{
    const SimAddress numeric = SimAddress::parse(text, family);
    if (numeric.isValid() || text.isEmpty())
        return numeric;
    addrinfo hints = {};
    hints.ai_family = family == SimAddress::Inet6 ? AF_INET6 : AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *result = nullptr;
    if (getaddrinfo(text.toUtf8().constData(), nullptr, &hints, &result) != 0 || !result)
        return SimAddress();
    char host[NI_MAXHOST] = {};
    const int rc = getnameinfo(result->ai_addr, result->ai_addrlen, host, sizeof host, nullptr, 0,
                               NI_NUMERICHOST);
    freeaddrinfo(result);
    return rc == 0 ? SimAddress::parse(QString::fromLatin1(host), family) : SimAddress();
}

// Classful guess of BSD's inet_makenetandmask for "-net a.b.c.d" without a mask,
// widened while host bits would be lost.
int classfulPrefix(const SimAddress &address)
{
    if (address == SimAddress::netmask(SimAddress::Inet, 0))
        return 0;
    const int firstOctet = address.toString().section(QLatin1Char('.'), 0, 0).toInt();
    int prefix = firstOctet < 128 ? 8 : firstOctet < 192 ? 16 : 24;
    while (prefix < 32 && address.masked(prefix) != address)
        prefix += 8;
    return prefix;
}

bool parseRequest(const QStringList &arguments, Request *request, int *exitCode)
{
    int i = 0;
    for (; i < arguments.size() && arguments[i].startsWith(QLatin1Char('-')); ++i) {
        const QString flags = arguments[i].mid(1);
        const bool known = std::all_of(flags.begin(), flags.end(),
                                       [](QChar c) { return QStringLiteral("dnqtv").contains(c); });
        if (flags.isEmpty() || !known) {
            *exitCode = usage(QStringLiteral("illegal option -- %1").arg(arguments[i].mid(1)));
            return false;
        }
        request->quiet = request->quiet || flags.contains(QLatin1Char('q'));
    }
    if (i == arguments.size()) {
        *exitCode = usage();
        return false;
    }
    request->command = arguments[i++];
    if (request->command != QLatin1String("add") && request->command != QLatin1String("delete") &&
        request->command != QLatin1String("get")) {
        *exitCode = usage(QStringLiteral("%1: command not simulated").arg(request->command));
        return false;
    }

    for (; i < arguments.size(); ++i) {
        const QString word = arguments[i];
        if (!word.startsWith(QLatin1Char('-'))) {
            request->positional.append(word);
            continue;
        }
        const bool takesValue = word == QLatin1String("-netmask") ||
                                word == QLatin1String("-prefixlen") ||
                                word == QLatin1String("-ifscope");
        if (takesValue && i + 1 == arguments.size()) {
            *exitCode = usage(QStringLiteral("%1: missing value").arg(word));
            return false;
        }
        if (word == QLatin1String("-inet"))
            request->family = SimAddress::Inet;
        else if (word == QLatin1String("-inet6"))
            request->family = SimAddress::Inet6;
        else if (word == QLatin1String("-host"))
            request->hostFlag = true;
        else if (word == QLatin1String("-net"))
            request->netFlag = true;
        else if (word == QLatin1String("-interface") || word == QLatin1String("-iface"))
            request->viaInterface = true;
        else if (word == QLatin1String("-blackhole"))
            request->blackhole = true;
        else if (word == QLatin1String("-netmask"))
            request->netmask = arguments[++i];
        else if (word == QLatin1String("-prefixlen")) {
            bool ok = false;
            request->prefixLength = arguments[++i].toInt(&ok);
            if (!ok || request->prefixLength < 0) {
                *exitCode = badAddress(arguments[i]);
                return false;
            }
        } else if (word == QLatin1String("-ifscope"))
            ++i;
        else if (word != QLatin1String("-static") && word != QLatin1String("-cloning")) {
            *exitCode = usage(QStringLiteral("botched keyword: %1").arg(word));
            return false;
        }
    }
    const int maximum = request->command == QLatin1String("get") ? 1 : 2;
    if (request->positional.isEmpty() || request->positional.size() > maximum) {
        *exitCode = usage();
        return false;
    }
    return true;
}

bool parseDestination(const Request &request, Destination *destination, int *exitCode)
{
    const QString text = request.positional.first();
    const SimAddress::Family family = request.family;
    const int fullLength = SimAddress::bitLength(family);
    destination->shown = text.section(QLatin1Char('/'), 0, 0);

    if (text == QLatin1String("default")) {
        destination->isDefault = true;
        destination->address = SimAddress::netmask(family, 0);
        return true;
    }

    SimAddress address;
    int prefix = -1;
    if (text.contains(QLatin1Char('/'))) {
        bool ok = false;
        prefix = text.section(QLatin1Char('/'), 1).toInt(&ok);
        address = SimAddress::parse(destination->shown, family);
        if (request.hostFlag || !ok || prefix < 0 || prefix > fullLength || !address.isValid()) {
            *exitCode = badAddress(text);
            return false;
        }
    } else {
        address = resolve(text, family);
        if (!address.isValid()) {
            *exitCode = badAddress(text);
            return false;
        }
    }

    if (!request.netmask.isEmpty()) {
        prefix = SimAddress::parse(request.netmask, family).prefixLengthOfMask();
        if (prefix < 0) {
            *exitCode = badAddress(request.netmask);
            return false;
        }
    } else if (request.prefixLength >= 0) {
        prefix = qMin(request.prefixLength, fullLength);
    }

    const bool network = prefix >= 0 || request.netFlag;
    if (!network || request.hostFlag) {
        destination->host = true;
        destination->prefixLength = fullLength;
    } else if (prefix >= 0) {
        destination->prefixLength = prefix;
    } else {
        destination->prefixLength = family == SimAddress::Inet ? classfulPrefix(address) : 64;
    }
    destination->address = address.masked(destination->prefixLength);
    destination->isDefault = !destination->host && destination->prefixLength == 0;
    return true;
}

QString actionLine(const Request &request, const Destination &destination)
{
    return QStringLiteral("%1 %2 %3")
        .arg(request.command, destination.host ? QLatin1String("host") : QLatin1String("net"),
             destination.shown);
}

// The routing socket's refusal: a warning on standard error and the result line on
// standard output, exit 1.
int socketError(const Request &request, const QString &line, const QString &reason)
{
    printErr(QStringLiteral("route: writing to routing socket: %1\n").arg(reason));
    if (!request.quiet)
        printOut(QStringLiteral("%1: %2\n").arg(line, reason));
    return 1;
}

int addRoute(SimState &state, const Request &request, const Destination &destination)
{
    if (request.positional.size() < 2)
        return usage();
    const QString gatewayText = request.positional.at(1);
    const QString line =
        actionLine(request, destination) + QStringLiteral(": gateway %1").arg(gatewayText);

    SimState::Route route;
    route.destination = destination.address;
    route.prefixLength = destination.prefixLength;
    route.host = destination.host;
    route.blackhole = request.blackhole;

    if (request.viaInterface) {
        // "-interface" takes an interface name, or an address that one of them holds.
        const SimAddress address = SimAddress::parse(gatewayText, request.family);
        if (address.isValid())
            route.interfaceName = state.interfaceReaching(address);
        else if (state.findInterface(gatewayText))
            route.interfaceName = gatewayText;
        if (route.interfaceName.isEmpty())
            return badAddress(gatewayText);
    } else {
        route.gateway = resolve(gatewayText, request.family);
        if (!route.gateway.isValid())
            return badAddress(gatewayText);
        route.interfaceName = state.interfaceReaching(route.gateway);
        if (route.interfaceName.isEmpty())
            return socketError(request, line, QStringLiteral("Network is unreachable"));
    }

    if (state.findRoute(route.destination, route.prefixLength) >= 0)
        return socketError(request, line, QStringLiteral("File exists"));

    QString reason;
    if (LiveNetwork::isRequested() && !LiveNetwork::addRoute(route, &reason))
        return socketError(request, line, reason);
    state.routes.append(route);
    if (!request.quiet)
        printOut(line + QLatin1Char('\n'));
    return 0;
}

int deleteRoute(SimState &state, const Request &request, const Destination &destination)
{
    QString line = actionLine(request, destination);
    if (request.positional.size() > 1)
        line += QStringLiteral(": gateway %1").arg(request.positional.at(1));
    const int index = state.findRoute(destination.address, destination.prefixLength);
    if (index < 0)
        return socketError(request, line, QStringLiteral("not in table"));
    QString reason;
    if (LiveNetwork::isRequested() && !LiveNetwork::deleteRoute(state.routes.at(index), &reason))
        return socketError(request, line, reason);
    state.routes.removeAt(index);
    if (!request.quiet)
        printOut(line + QLatin1Char('\n'));
    return 0;
}

QString maskText(const SimState::Route &route)
{
    if (route.isDefault())
        return QStringLiteral("default");
    return SimAddress::netmask(route.family(), route.prefixLength).toString();
}

int getRoute(SimState &state, const Destination &destination)
{
    SimState::Route route;
    bool found = false;
    if (destination.isDefault || (!destination.host && destination.prefixLength > 0)) {
        const int index = state.findRoute(destination.address, destination.prefixLength);
        found = index >= 0;
        if (found)
            route = state.routes.at(index);
    } else {
        found = state.lookup(destination.address, &route);
    }
    // BSD route(8) ends "get" with exit(0) whether or not the kernel found a route.
    if (!found) {
        printErr(QStringLiteral("route: writing to routing socket: not in table\n"));
        return 0;
    }

    const bool isStatic = state.findRoute(route.destination, route.prefixLength) >= 0;
    QStringList flags = {QStringLiteral("UP")};
    if (route.gateway.isValid())
        flags << QStringLiteral("GATEWAY");
    if (route.host)
        flags << QStringLiteral("HOST");
    flags << QStringLiteral("DONE");
    if (isStatic)
        flags << QStringLiteral("STATIC") << QStringLiteral("PRCLONING");
    else
        flags << QStringLiteral("CLONING");
    if (route.gateway.isValid() && route.isDefault())
        flags << QStringLiteral("GLOBAL");
    if (route.blackhole)
        flags << QStringLiteral("BLACKHOLE");

    const SimState::Interface *interface = state.findInterface(route.interfaceName);
    QString text;
    text += QStringLiteral("   route to: %1\n")
                .arg(destination.isDefault ? QStringLiteral("default")
                                           : destination.address.toString());
    text += QStringLiteral("destination: %1\n")
                .arg(route.isDefault() ? QStringLiteral("default") : route.destination.toString());
    if (!route.host)
        text += QStringLiteral("       mask: %1\n").arg(maskText(route));
    if (route.gateway.isValid())
        text += QStringLiteral("    gateway: %1\n").arg(route.gateway.toString());
    text += QStringLiteral("  interface: %1\n").arg(route.interfaceName);
    text += QStringLiteral("      flags: <%1>\n").arg(flags.join(QLatin1Char(',')));
    text += QStringLiteral(" recvpipe  sendpipe  ssthresh  rtt,msec    rttvar  hopcount      mtu"
                           "     expire\n");
    // Each metric is "%8u" plus its lock marker and a blank, as route(8) prints them.
    const QList<int> metrics = {0, 0, 0, 0, 0, 0, interface ? interface->mtu : 1500, 0};
    for (int i = 0; i < metrics.size(); ++i)
        text += QStringLiteral("%1").arg(metrics[i], 8) + (i + 1 < metrics.size() ? "  " : " \n");
    printOut(text);
    return 0;
}

} // namespace

int runRoute(SimState &state, const QStringList &arguments)
{
    Request request;
    int exitCode = 0;
    if (!parseRequest(arguments, &request, &exitCode))
        return exitCode;
    Destination destination;
    if (!parseDestination(request, &destination, &exitCode))
        return exitCode;

    if (request.command == QLatin1String("add"))
        return addRoute(state, request, destination);
    if (request.command == QLatin1String("delete"))
        return deleteRoute(state, request, destination);
    return getRoute(state, destination);
}
