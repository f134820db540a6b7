#include "simstate.h"
#include "standincommands.h"

#include <csignal>

// dscacheutil(1) and killall(1), which the daemon runs to make macOS drop cached DNS
// answers. Neither changes the simulated state; the invocation log records them.

int runDscacheutil(SimState &, const QStringList &arguments)
{
    if (arguments == QStringList{QStringLiteral("-flushcache")})
        return 0;
    printErr(QStringLiteral("Usage: dscacheutil -flushcache\n"));
    return 1;
}

int runKillall(SimState &, const QStringList &arguments)
{
    // The daemons a Mac always runs; launchd restarts any of them at once.
    static const QStringList running = {
        QStringLiteral("mDNSResponder"),
        QStringLiteral("mDNSResponderHelper"),
        QStringLiteral("configd"),
        QStringLiteral("discoveryd"),
    };
    static const QStringList signalNames = {
        QStringLiteral("HUP"),  QStringLiteral("INT"),  QStringLiteral("QUIT"),
        QStringLiteral("KILL"), QStringLiteral("TERM"), QStringLiteral("USR1"),
        QStringLiteral("USR2"), QStringLiteral("STOP"), QStringLiteral("CONT"),
    };

    QStringList names;
    for (const QString &argument : arguments) {
        if (!argument.startsWith(QLatin1Char('-')) || !names.isEmpty()) {
            names.append(argument);
            continue;
        }
        QString signal = argument.mid(1).toUpper();
        if (signal.startsWith(QLatin1String("SIG")))
            signal = signal.mid(3);
        bool numeric = false;
        const int number = signal.toInt(&numeric);
        if (!(numeric ? number > 0 && number < NSIG : signalNames.contains(signal))) {
            printErr(QStringLiteral("killall: unknown signal %1; valid signals:\n%2\n")
                         .arg(argument.mid(1), signalNames.join(QLatin1Char(' '))));
            return 1;
        }
    }
    if (names.isEmpty()) {
        printErr(QStringLiteral("usage: killall [-delmsvz] [-help] [-SIGNAL] [procname ...]\n"));
        return 1;
    }
    for (const QString &name : std::as_const(names)) {
        if (!running.contains(name)) {
            printErr(QStringLiteral("No matching processes belonging to you were found\n"));
            return 1;
        }
    }
    return 0;
}
