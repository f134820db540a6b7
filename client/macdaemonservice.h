#pragma once

// The daemon as a launchd service of the application bundle (SMAppService, macOS 13+):
// registered at the client's first start, and replaced when an update left an older
// daemon running. A daemon that the installer package set up in /Library/LaunchDaemons
// is left to the package's scripts, and one on a development socket
// (TARVEX_SERVICE_SOCKET) to whoever started it.
class MacDaemonService
{
public:
    MacDaemonService() = delete;

    // Blocks while launchd stops an older daemon (at most a minute and a half).
    static void ensureCurrent();
};
