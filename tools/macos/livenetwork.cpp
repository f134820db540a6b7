#include "livenetwork.h"

#include <QProcess>
#include <QStandardPaths>

#include <net/if.h>

namespace {

constexpr int IpTimeoutMs = 5000;

bool sameAddress(const SimState::InterfaceAddress &a, const SimState::InterfaceAddress &b)
{
    return a.address == b.address && a.address.scope() == b.address.scope() &&
           a.prefixLength == b.prefixLength && a.destination == b.destination &&
           a.broadcast == b.broadcast;
}

bool contains(const QList<SimState::InterfaceAddress> &list,
              const SimState::InterfaceAddress &entry)
{
    for (const SimState::InterfaceAddress &candidate : list) {
        if (sameAddress(candidate, entry))
            return true;
    }
    return false;
}

// Linux takes the scope of a link-local address from "dev", never from the text.
QString bare(const SimAddress &address)
{
    return address.masked(SimAddress::bitLength(address.family())).toString();
}

QString familyOption(SimAddress::Family family)
{
    return family == SimAddress::Inet6 ? QStringLiteral("-6") : QStringLiteral("-4");
}

QStringList addressArguments(const QString &action, const SimState::InterfaceAddress &entry,
                             const QString &link)
{
    QStringList arguments{familyOption(entry.address.family()), QStringLiteral("address"), action};
    const QString prefix = QStringLiteral("/%1").arg(entry.prefixLength);
    const bool peer = entry.destination.isValid() && entry.destination != entry.address;
    if (peer) {
        // A point-to-point address: the mask belongs to the peer, as with ifconfig's
        // destination address.
        arguments << bare(entry.address) << QStringLiteral("peer")
                  << bare(entry.destination) + prefix;
    } else {
        arguments << bare(entry.address) + prefix;
    }
    if (entry.broadcast.isValid() && action == QLatin1String("add"))
        arguments << QStringLiteral("broadcast") << bare(entry.broadcast);
    arguments << QStringLiteral("dev") << link;
    // macOS has no duplicate address detection wait before an address is usable.
    if (entry.address.family() == SimAddress::Inet6 && action == QLatin1String("add"))
        arguments << QStringLiteral("nodad");
    return arguments;
}

} // namespace

bool LiveNetwork::isRequested()
{
    return qEnvironmentVariable("TARVEX_SIM_LIVE") == QLatin1String("1");
}

bool LiveNetwork::isAllowed()
{
    return qEnvironmentVariable("TARVEX_SANDBOX") == QLatin1String("1");
}

QString LiveNetwork::linkName(const QString &macName)
{
    if (macName == QLatin1String("lo0"))
        return QStringLiteral("lo");
    if (macName.isEmpty() || ::if_nametoindex(macName.toLocal8Bit().constData()) == 0)
        return {};
    return macName;
}

bool LiveNetwork::applyInterface(const SimState::Interface &before,
                                 const SimState::Interface &after, QString *message)
{
    const QString link = linkName(after.name);
    if (link.isEmpty())
        return true;
    QString reason;
    for (const SimState::InterfaceAddress &entry : before.addresses) {
        if (!contains(after.addresses, entry) &&
            !runIp(addressArguments(QStringLiteral("del"), entry, link), &reason)) {
            *message = QStringLiteral("ifconfig: ioctl (SIOCDIFADDR): %1\n").arg(reason);
            return false;
        }
    }
    // BSD brings an interface up when it is given an address, Linux never does; the
    // simulated interface already says which state it is in, whatever changed it.
    QStringList linkChange;
    if (after.mtu != before.mtu)
        linkChange << QStringLiteral("mtu") << QString::number(after.mtu);
    if (after.up != before.up)
        linkChange << (after.up ? QStringLiteral("up") : QStringLiteral("down"));
    if (!linkChange.isEmpty() && !runIp(QStringList{QStringLiteral("link"), QStringLiteral("set"),
                                                    QStringLiteral("dev"), link} +
                                            linkChange,
                                        &reason)) {
        *message = QStringLiteral("ifconfig: ioctl (%1): %2\n")
                       .arg(after.mtu != before.mtu ? QStringLiteral("set mtu")
                                                    : QStringLiteral("SIOCSIFFLAGS"),
                            reason);
        return false;
    }
    for (const SimState::InterfaceAddress &entry : after.addresses) {
        if (!contains(before.addresses, entry) &&
            !runIp(addressArguments(QStringLiteral("add"), entry, link), &reason)) {
            *message = QStringLiteral("ifconfig: ioctl (SIOCAIFADDR): %1\n").arg(reason);
            return false;
        }
    }
    return true;
}

QStringList LiveNetwork::routeArguments(const SimState::Route &route, const QString &link)
{
    QStringList arguments{
        route.isDefault()
            ? QStringLiteral("default")
            : QStringLiteral("%1/%2").arg(bare(route.destination)).arg(route.prefixLength)};
    // The kernel's own blackhole type drops the packets, as macOS does with RTF_BLACKHOLE.
    if (route.blackhole)
        return QStringList{QStringLiteral("blackhole")} + arguments;
    if (route.gateway.isValid())
        arguments << QStringLiteral("via") << bare(route.gateway);
    arguments << QStringLiteral("dev") << link;
    return arguments;
}

bool LiveNetwork::addRoute(const SimState::Route &route, QString *reason)
{
    const QString link = linkName(route.interfaceName);
    if (link.isEmpty())
        return true;
    return runIp(
        QStringList{familyOption(route.family()), QStringLiteral("route"), QStringLiteral("add")} +
            routeArguments(route, link),
        reason);
}

bool LiveNetwork::deleteRoute(const SimState::Route &route, QString *reason)
{
    const QString link = linkName(route.interfaceName);
    if (link.isEmpty())
        return true;
    const bool deleted = runIp(
        QStringList{familyOption(route.family()), QStringLiteral("route"), QStringLiteral("del")} +
            routeArguments(route, link),
        reason);
    // The kernel's "No such process" is the routing socket's "not in table".
    if (!deleted && reason->contains(QLatin1String("No such process")))
        *reason = QStringLiteral("not in table");
    return deleted;
}

bool LiveNetwork::runIp(const QStringList &arguments, QString *reason)
{
    static const QString program = QStandardPaths::findExecutable(
        QStringLiteral("ip"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"),
                               QStringLiteral("/usr/bin"), QStringLiteral("/bin")});
    if (program.isEmpty()) {
        *reason = QStringLiteral("ip (iproute2) is missing");
        return false;
    }
    QProcess ip;
    ip.start(program, arguments);
    if (!ip.waitForFinished(IpTimeoutMs)) {
        ip.kill();
        ip.waitForFinished();
        *reason = QStringLiteral("ip did not finish: %1").arg(ip.errorString());
        return false;
    }
    if (ip.exitStatus() == QProcess::NormalExit && ip.exitCode() == 0)
        return true;
    // "RTNETLINK answers: File exists", "Error: Nexthop has invalid gateway.": the reason
    // alone, as the BSD messages carry it.
    QString text = QString::fromLocal8Bit(ip.readAllStandardError()).trimmed();
    text = text.section(QLatin1Char('\n'), 0, 0);
    for (const char *prefix : {"RTNETLINK answers: ", "Error: "}) {
        if (text.startsWith(QLatin1String(prefix)))
            text = text.mid(int(qstrlen(prefix)));
    }
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    // Newer ip(8) reports the kernel's extended messages; BSD prints the errno text.
    if (text.contains(QLatin1String("invalid gateway")))
        text = QStringLiteral("Network is unreachable");
    else if (text.contains(QLatin1String("already assigned")))
        text = QStringLiteral("File exists");
    else if (text.contains(QLatin1String("Cannot assign requested address")))
        text = QStringLiteral("Can't assign requested address");
    *reason = text.isEmpty() ? QStringLiteral("ip %1 failed").arg(arguments.join(QLatin1Char(' ')))
                             : text;
    return false;
}
