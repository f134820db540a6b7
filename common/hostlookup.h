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

    // The addresses of host, or none with the reason in error. The calling thread's events
    // are processed while it waits, as during the tunnel program's start. A deadline that
    // has passed fails at once without asking the resolver.
    static QList<QHostAddress> resolve(const QString &host, const QDeadlineTimer &deadline,
                                       QString *error);
};
