#pragma once

#include <QString>

class MacVpnServiceClientBackend;

// Whether the daemon answering on the socket is the one this client came with. After the
// application bundle is replaced, launchd keeps the older daemon running until it is told
// otherwise; the client recognises it by its answer to "version" (a daemon from before
// that request answers "unknown command").
class DaemonVersionCheck
{
public:
    enum class Verdict { NotRunning, Current, Outdated };

    DaemonVersionCheck() = delete;

    static Verdict check(const MacVpnServiceClientBackend &backend, const QString &clientVersion);
};
