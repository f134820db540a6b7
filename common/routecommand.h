#pragma once

#include "recoveryjournal.h"

#include <QString>
#include <QStringList>

// The argument lists of /sbin/route as the backend runs it: numeric output (-n), the
// family flag only for IPv6, and a route named by its type and destination exactly as it
// was added, so that a delete removes what an add made.
class RouteCommand
{
public:
    RouteCommand() = delete;

    using Route = RecoveryJournal::Route;

    static const QString Program;

    // The route through a gateway, or through an interface.
    static QStringList add(const Route &route, const QString &gateway);
    static QStringList addThroughInterface(const Route &route, const QString &interfaceName);
    static QStringList remove(const Route &route);
    // "route -n get [-inet6] default", and the gateway its output names (empty: none).
    static QStringList getDefault(bool inet6);
    static QString gatewayOf(const QString &output);
};
