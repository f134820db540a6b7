#pragma once

#include <QString>
#include <QStringList>

class SimState;

// The stand-in commands. Each works on a loaded state, prints what the macOS command
// prints and returns its exit code; the caller saves the state afterwards. A failing
// command leaves the state as it found it.
int runIfconfig(SimState &state, const QStringList &arguments);
int runRoute(SimState &state, const QStringList &arguments);
int runNetworkSetup(SimState &state, const QStringList &arguments);
int runDscacheutil(SimState &state, const QStringList &arguments);
int runKillall(SimState &state, const QStringList &arguments);

// "route [-n] monitor": prints a routing message for every change of the routing table
// and of the interfaces' addresses until it is killed or its reader goes away. It polls
// the state without holding its lock between polls.
bool isRouteMonitor(const QStringList &arguments);
int runRouteMonitor(const QString &stateDirectory);

// The control tool (seed, dump, interfaces); it takes the state lock itself.
int runControl(const QStringList &arguments);

// Standard output and standard error, UTF-8, unbuffered enough for a short-lived program.
void printOut(const QString &text);
void printErr(const QString &text);
