#pragma once

#include "simstate.h"

#include <QString>
#include <QStringList>

// Live mode of the stand-ins (TARVEX_SIM_LIVE=1, inside the sandbox only): every change
// the simulated Mac accepts is also made with ip(8) in the sandbox's network namespace,
// so that the kernel routes packets the way macOS would. Interfaces of the simulated Mac
// that have no Linux link (the system utuns) stay simulated only.
class LiveNetwork
{
public:
    LiveNetwork() = delete;

    // TARVEX_SIM_LIVE=1.
    static bool isRequested();
    // Live mode changes a real network: only where the sandbox runner says it is inside.
    static bool isAllowed();

    // The Linux link of a simulated interface: "lo" for lo0, the same name when the
    // namespace has such a link, empty when it has none.
    static QString linkName(const QString &macName);

    // Gives the Linux link the addresses, MTU and state of the changed interface. False
    // with ifconfig's message (ioctl and reason) when ip(8) refuses.
    static bool applyInterface(const SimState::Interface &before, const SimState::Interface &after,
                               QString *message);

    // Adds or deletes the route in the kernel. False with the kernel's reason ("File
    // exists", "not in table", "Network is unreachable", ...).
    static bool addRoute(const SimState::Route &route, QString *reason);
    static bool deleteRoute(const SimState::Route &route, QString *reason);

private:
    static bool runIp(const QStringList &arguments, QString *reason);
    static QStringList routeArguments(const SimState::Route &route, const QString &link);
};
