#pragma once

#include "testablemacvpnbackend.h"

#include <QMap>
#include <QSet>
#include <QStringList>

// A routing table that answers "/sbin/route" the way macOS does in the cases the
// backend meets: adding a route that exists and deleting one that does not both fail,
// and "get default" prints the default gateway. A route is known by its family, type
// and destination text, so a delete has to name a route exactly as it was added.
// Commands for other programs succeed without output.
class SimulatedRoutingTable
{
public:
    explicit SimulatedRoutingTable(const QString &defaultGateway = QString());

    // A responder for TestableMacVpnBackend; the table must outlive the backend's use of it.
    TestableMacVpnBackend::Responder responder();

    // "family type destination -> via" for every route, sorted.
    QStringList routes() const;

    // Adds of these destinations fail as an unreachable gateway would make them.
    QSet<QString> failingDestinations;

private:
    TestableMacVpnBackend::CommandResult handle(QStringList arguments);

    QMap<QString, QString> table; // "family type destination" -> gateway or "-interface ifname"
};
