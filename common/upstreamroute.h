#pragma once

#include "recoveryjournal.h"

#include <QString>
#include <QStringList>

#include <optional>

// The way out of the Mac that the daemon's routes around the tunnel take (the route to
// the server, the control-plane bypass, the all-except exclusions): the default route's
// gateway, its interface alone, or a blackhole while there is no usable default route.
struct UpstreamRoute
{
    enum class Kind { None, Gateway, Interface, Blackhole };

    Kind kind = Kind::None;
    QString gateway;       // Gateway only
    QString interfaceName; // the default route's interface; may be empty for a Gateway

    // The default route in the output of "route -n get [-inet6] default": a gateway, an
    // interface-only default, or None when the table has no default.
    static UpstreamRoute fromRouteGet(const QString &output);
    // The same from a whole run: None only when the table has no default ("not in table");
    // nothing when the run says nothing (it did not finish, or failed for another reason).
    // Taking such a run for "no default route" would blackhole a working tunnel.
    static std::optional<UpstreamRoute> fromRouteGetRun(bool succeeded, const QString &output,
                                                        const QString &error);
    static UpstreamRoute blackhole();

    // Where routes that take `current` go now that the default route is `found`; nothing
    // when they stay. A default through the tunnel's own interface is no way out, and no
    // news either: it is the tunnel's own route answering where the default route should
    // (were the halves to shadow it), so the routes stay. Routes that never had a way out
    // have none to follow.
    static std::optional<UpstreamRoute>
    next(const UpstreamRoute &current, const UpstreamRoute &found, const QString &tunnelInterface);

    // The arguments of /sbin/route that add this route along this way out.
    QStringList addArguments(const RecoveryJournal::Route &route) const;

    // "192.168.1.1 en0", "interface en1", "blackhole" or "none", for the log.
    QString describe() const;

    friend bool operator==(const UpstreamRoute &a, const UpstreamRoute &b)
    {
        return a.kind == b.kind && a.gateway == b.gateway && a.interfaceName == b.interfaceName;
    }
};
