#pragma once

#include <QString>

// The stand-in's interface on the simulated Mac of the development sandbox: a file
// interfaces/<name> in the state directory (TARVEX_SIM_STATE) that the command stand-ins
// read, so that "ifconfig utunN" and "route ... -interface utunN" find it. The file names
// this process as owner, so the interface also vanishes if the process dies.
class SimulatedInterface
{
public:
    SimulatedInterface() = delete;

    // Claims the first utunN that is free both in the state and in the runtime
    // directory; empty when none is.
    static QString claim(const QString &stateDir, const QString &runtimeDir);
    // Claims exactly this name; false when it is taken.
    static bool claimName(const QString &stateDir, const QString &name);
    static void release(const QString &stateDir, const QString &name);
};
