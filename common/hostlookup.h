#pragma once

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QList>
#include <QString>

// A name lookup that gives up at a deadline. The system resolver has no time-out a caller
// can set, and a connect's names come from the request: a slow or silent name server must
// not hold the daemon for longer than the connect can afford.
class HostLookup
{
public:
    HostLookup() = delete;

    // The addresses of host in the resolver's order, or none with the reason in error.
    // Blocks the calling thread until the answer or the deadline, whichever comes first;
    // a deadline that has passed fails at once without asking the resolver.
    static QList<QHostAddress> resolve(const QString &host, const QDeadlineTimer &deadline,
                                       QString *error);
};
