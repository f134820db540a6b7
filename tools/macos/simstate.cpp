#include "simstate.h"

#include "simtext.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <algorithm>

namespace {

const char RoutesFile[] = "routes";
const char ServicesFile[] = "services";
const char InterfacesDir[] = "interfaces";

// A utun lives as long as the descriptor of the program that created it. A zombie has
// closed its descriptors already, so it counts as gone although kill(pid, 0) succeeds.
bool processAlive(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray content = stat.readAll();
    const int nameEnd = content.lastIndexOf(')');
    if (nameEnd < 0 || nameEnd + 2 >= content.size())
        return false;
    const char state = content.at(nameEnd + 2);
    return state != 'Z' && state != 'X';
}

bool readFile(const QString &path, QByteArray *content)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *content = file.readAll();
    return true;
}

bool writeFileAtomically(const QString &path, const QByteArray &content, QString *error)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(content) == content.size() && file.commit())
        return true;
    *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    return false;
}

// Lines without comments and blank lines, each with its 1-based number.
QList<QPair<int, QString>> contentLines(const QByteArray &content)
{
    QList<QPair<int, QString>> lines;
    const QStringList all = QString::fromUtf8(content).split(QLatin1Char('\n'));
    for (int i = 0; i < all.size(); ++i) {
        const QString line = all.at(i);
        if (line.trimmed().isEmpty() || line.trimmed().startsWith(QLatin1Char('#')))
            continue;
        lines.append({i + 1, line});
    }
    return lines;
}

QStringList words(const QString &line)
{
    return line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

QString addressLine(const SimState::InterfaceAddress &entry)
{
    if (entry.address.family() == SimAddress::Inet6)
        return QStringLiteral("inet6 %1 prefixlen %2")
            .arg(entry.address.toString())
            .arg(entry.prefixLength);
    QString line = QStringLiteral("inet ") + entry.address.toString();
    if (entry.destination.isValid())
        line += QStringLiteral(" dest ") + entry.destination.toString();
    line += QStringLiteral(" netmask ") +
            SimAddress::netmask(SimAddress::Inet, entry.prefixLength).toString();
    if (entry.broadcast.isValid())
        line += QStringLiteral(" broadcast ") + entry.broadcast.toString();
    return line;
}

QString routeLine(const SimState::Route &route)
{
    QString line =
        SimAddress::familyName(route.family()) + QLatin1Char(' ') + route.destinationText();
    if (route.gateway.isValid())
        line += QStringLiteral(" gateway %1 %2").arg(route.gateway.toString(), route.interfaceName);
    else
        line += QStringLiteral(" interface ") + route.interfaceName;
    if (route.blackhole)
        line += QStringLiteral(" blackhole");
    return line;
}

bool routeLess(const SimState::Route &left, const SimState::Route &right)
{
    if (left.destination.family() != right.destination.family())
        return left.destination.family() < right.destination.family();
    if (left.destination != right.destination)
        return left.destination < right.destination;
    return left.prefixLength < right.prefixLength;
}

SimState::InterfaceAddress inetAddress(const char *address, int prefixLength,
                                       const char *broadcast = nullptr)
{
    SimState::InterfaceAddress entry;
    entry.address = SimAddress::parse(QLatin1String(address), SimAddress::Inet);
    entry.prefixLength = prefixLength;
    if (broadcast)
        entry.broadcast = SimAddress::parse(QLatin1String(broadcast), SimAddress::Inet);
    return entry;
}

SimState::InterfaceAddress inet6Address(const char *address, int prefixLength)
{
    SimState::InterfaceAddress entry;
    entry.address = SimAddress::parse(QLatin1String(address), SimAddress::Inet6);
    entry.prefixLength = prefixLength;
    return entry;
}

} // namespace

SimState::Interface::Kind SimState::Interface::kind() const
{
    if (name.startsWith(QLatin1String("lo")))
        return Loopback;
    for (const char *prefix : {"utun", "gif", "stf", "ipsec", "ppp"}) {
        if (name.startsWith(QLatin1String(prefix)))
            return PointToPoint;
    }
    return Broadcast;
}

uint SimState::Interface::flags() const
{
    uint value = 0x8000; // MULTICAST
    if (up)
        value |= 0x1 | 0x40; // UP, RUNNING
    switch (kind()) {
    case Loopback:
        value |= 0x8;
        break;
    case PointToPoint:
        value |= 0x10;
        break;
    case Broadcast:
        value |= 0x2 | 0x20 | 0x800; // BROADCAST, SMART, SIMPLEX
        break;
    }
    return value;
}

QString SimState::Interface::flagNames() const
{
    static const QList<QPair<uint, const char *>> names = {
        {0x1, "UP"},     {0x2, "BROADCAST"}, {0x8, "LOOPBACK"},  {0x10, "POINTOPOINT"},
        {0x20, "SMART"}, {0x40, "RUNNING"},  {0x800, "SIMPLEX"}, {0x8000, "MULTICAST"},
    };
    QStringList set;
    for (const auto &name : names) {
        if (flags() & name.first)
            set.append(QLatin1String(name.second));
    }
    return set.join(QLatin1Char(','));
}

QString SimState::Route::destinationText() const
{
    if (isDefault())
        return QStringLiteral("default");
    if (host)
        return destination.toString();
    return QStringLiteral("%1/%2").arg(destination.toString()).arg(prefixLength);
}

SimState::SimState(const QString &directory)
    : stateDirectory(directory)
{}

bool SimState::load(QString *error)
{
    const QDir dir(stateDirectory);
    if (!dir.exists(QLatin1String(RoutesFile)) || !dir.exists(QLatin1String(ServicesFile)) ||
        !dir.exists(QLatin1String(InterfacesDir))) {
        *error = QStringLiteral("%1 holds no simulated state (run: tarvex-macos seed)")
                     .arg(stateDirectory);
        return false;
    }

    interfaces.clear();
    loadedInterfaceFiles.clear();
    const QDir interfaceDir(dir.filePath(QLatin1String(InterfacesDir)));
    for (const QString &name : interfaceDir.entryList(QDir::Files)) {
        if (name.startsWith(QLatin1Char('.')))
            continue;
        QByteArray content;
        if (!readFile(interfaceDir.filePath(name), &content))
            continue; // removed by its owner just now
        loadedInterfaceFiles.insert(name, content);
        Interface interface;
        if (!parseInterface(name, content, &interface, error))
            return false;
        if (interface.ownerPid > 0 && !processAlive(interface.ownerPid))
            continue;
        interfaces.insert(name, interface);
    }

    if (!readFile(dir.filePath(QLatin1String(RoutesFile)), &loadedRoutes) ||
        !readFile(dir.filePath(QLatin1String(ServicesFile)), &loadedServices)) {
        *error = QStringLiteral("cannot read the state in %1").arg(stateDirectory);
        return false;
    }
    if (!parseRoutes(loadedRoutes, error) || !parseServices(loadedServices, error))
        return false;

    // The kernel drops the routes of an interface that goes away.
    routes.erase(std::remove_if(routes.begin(), routes.end(),
                                [this](const Route &route) {
                                    return !interfaces.contains(route.interfaceName);
                                }),
                 routes.end());
    return true;
}

bool SimState::save(QString *error)
{
    const QDir dir(stateDirectory);
    if (!dir.exists(QLatin1String(InterfacesDir)) && !dir.mkpath(QLatin1String(InterfacesDir))) {
        *error = QStringLiteral("cannot create %1").arg(dir.filePath(QLatin1String(InterfacesDir)));
        return false;
    }
    const QDir interfaceDir(dir.filePath(QLatin1String(InterfacesDir)));

    for (auto it = loadedInterfaceFiles.cbegin(); it != loadedInterfaceFiles.cend(); ++it) {
        if (!interfaces.contains(it.key()))
            QFile::remove(interfaceDir.filePath(it.key()));
    }
    for (const Interface &interface : std::as_const(interfaces)) {
        const QByteArray content = serializeInterface(interface);
        const auto loaded = loadedInterfaceFiles.constFind(interface.name);
        if (loaded != loadedInterfaceFiles.cend() && *loaded == content)
            continue;
        if (!writeFileAtomically(interfaceDir.filePath(interface.name), content, error))
            return false;
    }

    const QByteArray routeContent = serializeRoutes();
    if (routeContent != loadedRoutes &&
        !writeFileAtomically(dir.filePath(QLatin1String(RoutesFile)), routeContent, error))
        return false;
    const QByteArray serviceContent = serializeServices();
    if (serviceContent != loadedServices &&
        !writeFileAtomically(dir.filePath(QLatin1String(ServicesFile)), serviceContent, error))
        return false;

    loadedInterfaceFiles.clear();
    for (const Interface &interface : std::as_const(interfaces))
        loadedInterfaceFiles.insert(interface.name, serializeInterface(interface));
    loadedRoutes = routeContent;
    loadedServices = serviceContent;
    return true;
}

QString SimState::dump() const
{
    QString text;
    for (const QString &name : interfaceNames()) {
        const Interface &interface = interfaces[name];
        text += QStringLiteral("interface %1 mtu %2 %3\n")
                    .arg(name)
                    .arg(interface.mtu)
                    .arg(interface.up ? QLatin1String("up") : QLatin1String("down"));
        if (!interface.ether.isEmpty())
            text += QStringLiteral("  ether %1\n").arg(interface.ether);
        for (const InterfaceAddress &entry : interface.addresses)
            text += QStringLiteral("  ") + addressLine(entry) + QLatin1Char('\n');
    }
    QList<Route> sorted = routes;
    std::sort(sorted.begin(), sorted.end(), routeLess);
    for (const Route &route : std::as_const(sorted))
        text += QStringLiteral("route ") + routeLine(route) + QLatin1Char('\n');
    for (const Service &service : services) {
        text += QStringLiteral("service %1 %2 dns %3\n")
                    .arg(shellQuote(service.name),
                         service.enabled ? QLatin1String("enabled") : QLatin1String("disabled"),
                         service.dnsServers.isEmpty() ? QStringLiteral("-")
                                                      : service.dnsServers.join(QLatin1Char(' ')));
    }
    return text;
}

void SimState::resetToDefault()
{
    interfaces.clear();
    routes.clear();
    services.clear();

    Interface loopback;
    loopback.name = QStringLiteral("lo0");
    loopback.mtu = 16384;
    loopback.up = true;
    loopback.addresses = {inetAddress("127.0.0.1", 8), inet6Address("::1", 128),
                          inet6Address("fe80::1%lo0", 64)};
    interfaces.insert(loopback.name, loopback);

    Interface ethernet;
    ethernet.name = QStringLiteral("en0");
    ethernet.mtu = 1500;
    ethernet.up = true;
    ethernet.ether = QStringLiteral("a4:83:e7:5c:10:01");
    ethernet.addresses = {inet6Address("fe80::aede:48ff:fe00:1122%en0", 64),
                          inetAddress("192.168.1.23", 24, "192.168.1.255")};
    interfaces.insert(ethernet.name, ethernet);

    // Real Macs already hold a few utun interfaces (iCloud Private Relay, Back to My Mac),
    // so the tunnel never gets utun0.
    const QList<QPair<const char *, const char *>> systemTunnels = {
        {"utun0", "fe80::ce81:b1c:bd2c:69e%utun0"},
        {"utun1", "fe80::9d8a:7b0c:4de1:1a6%utun1"},
    };
    for (const auto &tunnel : systemTunnels) {
        Interface utun;
        utun.name = QLatin1String(tunnel.first);
        utun.mtu = 1380;
        utun.up = true;
        utun.addresses = {inet6Address(tunnel.second, 64)};
        interfaces.insert(utun.name, utun);
    }

    Route inetDefault;
    inetDefault.destination = SimAddress::parse(QStringLiteral("0.0.0.0"), SimAddress::Inet);
    inetDefault.gateway = SimAddress::parse(QStringLiteral("192.168.1.1"), SimAddress::Inet);
    inetDefault.interfaceName = QStringLiteral("en0");
    Route inet6Default;
    inet6Default.destination = SimAddress::parse(QStringLiteral("::"), SimAddress::Inet6);
    inet6Default.gateway = SimAddress::parse(QStringLiteral("fe80::1%en0"), SimAddress::Inet6);
    inet6Default.interfaceName = QStringLiteral("en0");
    routes = {inetDefault, inet6Default};

    services = {
        {QStringLiteral("Wi-Fi"), true, {QStringLiteral("192.168.1.1")}},
        {QStringLiteral("Ethernet"),
         true,
         {QStringLiteral("9.9.9.9"), QStringLiteral("149.112.112.112")}},
        {QStringLiteral("Thunderbolt Bridge"), false, {}},
    };
}

SimState::Interface *SimState::findInterface(const QString &name)
{
    const auto it = interfaces.find(name);
    return it == interfaces.end() ? nullptr : &it.value();
}

SimState::Service *SimState::findService(const QString &name)
{
    for (Service &service : services) {
        if (service.name == name)
            return &service;
    }
    return nullptr;
}

QStringList SimState::interfaceNames() const
{
    QStringList names = interfaces.keys();
    // Loopback first, as macOS numbers it first.
    std::sort(names.begin(), names.end(), [this](const QString &left, const QString &right) {
        const bool leftLoop = interfaces[left].kind() == Interface::Loopback;
        const bool rightLoop = interfaces[right].kind() == Interface::Loopback;
        if (leftLoop != rightLoop)
            return leftLoop;
        return naturalLess(left, right);
    });
    return names;
}

int SimState::findRoute(const SimAddress &destination, int prefixLength) const
{
    const SimAddress key = destination.masked(prefixLength);
    for (int i = 0; i < routes.size(); ++i) {
        if (routes[i].prefixLength == prefixLength && routes[i].destination == key)
            return i;
    }
    return -1;
}

bool SimState::lookup(const SimAddress &address, Route *match) const
{
    int best = -1;
    const QList<Route> candidates = routes + connectedRoutes();
    for (int i = 0; i < candidates.size(); ++i) {
        const Route &route = candidates[i];
        if (!address.isWithin(route.destination, route.prefixLength))
            continue;
        if (best < 0 || route.prefixLength > candidates[best].prefixLength)
            best = i;
    }
    if (best < 0)
        return false;
    *match = candidates[best];
    return true;
}

QString SimState::interfaceReaching(const SimAddress &gateway) const
{
    if (!gateway.scope().isEmpty()) {
        const auto it = interfaces.constFind(gateway.scope());
        return it != interfaces.cend() && it->up ? it->name : QString();
    }
    const SimAddress bare = gateway.masked(SimAddress::bitLength(gateway.family()));
    for (const Interface &interface : interfaces) {
        if (!interface.up)
            continue;
        for (const InterfaceAddress &entry : interface.addresses) {
            if (entry.address.family() != gateway.family())
                continue;
            const SimAddress local = entry.address.masked(SimAddress::bitLength(gateway.family()));
            if (local == bare || (entry.destination.isValid() && entry.destination == bare))
                return interface.name;
            if (interface.kind() != Interface::PointToPoint &&
                bare.isWithin(entry.address, entry.prefixLength))
                return interface.name;
        }
    }
    const Route *covering = nullptr;
    for (const Route &route : routes) {
        if (route.gateway.isValid() || !bare.isWithin(route.destination, route.prefixLength))
            continue;
        if (!covering || route.prefixLength > covering->prefixLength)
            covering = &route;
    }
    return covering ? covering->interfaceName : QString();
}

QByteArray SimState::serializeInterface(const Interface &interface) const
{
    QString text;
    if (interface.ownerPid > 0)
        text += QStringLiteral("pid %1\n").arg(interface.ownerPid);
    text += QStringLiteral("mtu %1\n").arg(interface.mtu);
    if (interface.up)
        text += QStringLiteral("up\n");
    if (!interface.ether.isEmpty())
        text += QStringLiteral("ether %1\n").arg(interface.ether);
    for (const InterfaceAddress &entry : interface.addresses)
        text += addressLine(entry) + QLatin1Char('\n');
    return text.toUtf8();
}

QByteArray SimState::serializeRoutes() const
{
    QString text;
    for (const Route &route : routes)
        text += routeLine(route) + QLatin1Char('\n');
    return text.toUtf8();
}

QByteArray SimState::serializeServices() const
{
    QString text;
    for (const Service &service : services) {
        text += service.name + QLatin1Char('\t') +
                (service.enabled ? QLatin1String("enabled") : QLatin1String("disabled")) +
                QLatin1Char('\t') + service.dnsServers.join(QLatin1Char(' ')) + QLatin1Char('\n');
    }
    return text.toUtf8();
}

bool SimState::parseInterface(const QString &name, const QByteArray &content, Interface *interface,
                              QString *error) const
{
    interface->name = name;
    for (const auto &[number, line] : contentLines(content)) {
        const QStringList parts = words(line);
        const QString key = parts.value(0);
        bool ok = true;
        if (key == QLatin1String("pid") && parts.size() == 2) {
            interface->ownerPid = parts[1].toLongLong(&ok);
        } else if (key == QLatin1String("mtu") && parts.size() == 2) {
            interface->mtu = parts[1].toInt(&ok);
        } else if (key == QLatin1String("up") && parts.size() == 1) {
            interface->up = true;
        } else if (key == QLatin1String("down") && parts.size() == 1) {
            interface->up = false;
        } else if (key == QLatin1String("ether") && parts.size() == 2) {
            interface->ether = parts[1];
        } else if ((key == QLatin1String("inet") || key == QLatin1String("inet6")) &&
                   parts.size() >= 2) {
            const SimAddress::Family family = SimAddress::familyFromName(key);
            InterfaceAddress entry;
            entry.address = SimAddress::parse(parts[1], family);
            entry.prefixLength = SimAddress::bitLength(family);
            ok = entry.address.isValid() && parts.size() % 2 == 0;
            for (int i = 2; ok && i + 1 < parts.size(); i += 2) {
                const QString option = parts[i];
                const QString value = parts[i + 1];
                if (family == SimAddress::Inet6 && option == QLatin1String("prefixlen")) {
                    entry.prefixLength = value.toInt(&ok);
                    ok = ok && entry.prefixLength >= 0 && entry.prefixLength <= 128;
                } else if (family == SimAddress::Inet && option == QLatin1String("netmask")) {
                    entry.prefixLength = SimAddress::parse(value, family).prefixLengthOfMask();
                    ok = entry.prefixLength >= 0;
                } else if (family == SimAddress::Inet && option == QLatin1String("dest")) {
                    entry.destination = SimAddress::parse(value, family);
                    ok = entry.destination.isValid();
                } else if (family == SimAddress::Inet && option == QLatin1String("broadcast")) {
                    entry.broadcast = SimAddress::parse(value, family);
                    ok = entry.broadcast.isValid();
                } else {
                    ok = false;
                }
            }
            interface->addresses.append(entry);
        } else {
            ok = false;
        }
        if (!ok) {
            *error = QStringLiteral("%1/%2/%3:%4: cannot read \"%5\"")
                         .arg(stateDirectory, QLatin1String(InterfacesDir), name)
                         .arg(number)
                         .arg(line);
            return false;
        }
    }
    return true;
}

bool SimState::parseRoutes(const QByteArray &content, QString *error)
{
    routes.clear();
    for (const auto &[number, line] : contentLines(content)) {
        QStringList parts = words(line);
        const SimAddress::Family family = SimAddress::familyFromName(parts.value(0));
        Route route;
        bool ok = family != SimAddress::NoFamily && parts.size() >= 4;
        if (ok) {
            const QString destination = parts[1];
            if (destination == QLatin1String("default")) {
                route.destination = SimAddress::netmask(family, 0);
            } else if (destination.contains(QLatin1Char('/'))) {
                route.prefixLength = destination.section(QLatin1Char('/'), 1).toInt(&ok);
                route.destination =
                    SimAddress::parse(destination.section(QLatin1Char('/'), 0, 0), family)
                        .masked(route.prefixLength);
                ok = ok && route.prefixLength >= 0 &&
                     route.prefixLength <= SimAddress::bitLength(family);
            } else {
                route.host = true;
                route.prefixLength = SimAddress::bitLength(family);
                route.destination =
                    SimAddress::parse(destination, family).masked(route.prefixLength);
            }
            ok = ok && route.destination.isValid();
        }
        if (ok && parts.size() > 4 && parts.last() == QLatin1String("blackhole")) {
            route.blackhole = true;
            parts.removeLast();
        }
        if (ok && parts[2] == QLatin1String("gateway") && parts.size() == 5) {
            route.gateway = SimAddress::parse(parts[3], family);
            route.interfaceName = parts[4];
            ok = route.gateway.isValid();
        } else if (ok && parts[2] == QLatin1String("interface") && parts.size() == 4) {
            route.interfaceName = parts[3];
        } else {
            ok = false;
        }
        if (!ok) {
            *error = QStringLiteral("%1/%2:%3: cannot read \"%4\"")
                         .arg(stateDirectory, QLatin1String(RoutesFile))
                         .arg(number)
                         .arg(line);
            return false;
        }
        routes.append(route);
    }
    return true;
}

bool SimState::parseServices(const QByteArray &content, QString *error)
{
    services.clear();
    for (const auto &[number, line] : contentLines(content)) {
        const QStringList fields = line.split(QLatin1Char('\t'));
        const QString state = fields.value(1);
        if (fields.size() < 2 || fields.size() > 3 || fields[0].isEmpty() ||
            (state != QLatin1String("enabled") && state != QLatin1String("disabled"))) {
            *error = QStringLiteral("%1/%2:%3: cannot read \"%4\"")
                         .arg(stateDirectory, QLatin1String(ServicesFile))
                         .arg(number)
                         .arg(line);
            return false;
        }
        services.append({fields[0], state == QLatin1String("enabled"), words(fields.value(2))});
    }
    return true;
}

QList<SimState::Route> SimState::connectedRoutes() const
{
    QList<Route> connected;
    for (const Interface &interface : interfaces) {
        if (!interface.up)
            continue;
        for (const InterfaceAddress &entry : interface.addresses) {
            Route route;
            route.interfaceName = interface.name;
            if (entry.destination.isValid()) {
                route.prefixLength = SimAddress::bitLength(entry.destination.family());
                route.destination = entry.destination;
                route.host = true;
            } else {
                route.prefixLength = entry.prefixLength;
                route.destination = entry.address.masked(entry.prefixLength);
                route.host = entry.prefixLength == SimAddress::bitLength(entry.address.family());
            }
            connected.append(route);
        }
    }
    return connected;
}
