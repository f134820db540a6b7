#pragma once

#include "platformvpnbackend.h"

#include <functional>

// The daemon's backend as the server sees it, without touching the system: a connect
// succeeds or fails as the fuzzer decides and, like the real one waiting for its tunnel,
// may let the event loop run meanwhile. It refuses to be entered twice, which the server
// must never let happen.
class FuzzBackend : public PlatformVpnBackend
{
public:
    Status status() const override;
    QString lastError() const override;
    void connectVpn(const ParsedVpnConfig &config) override;
    void connectVpn(const ParsedVpnConfig &config, const QVariantMap &peer) override;
    void disconnectVpn() override;

    bool nextConnectSucceeds = true;
    QString failure = QStringLiteral("Не удалось подключиться");
    // Runs inside a connect, where the real backend waits for its tunnel's name.
    std::function<void()> whileConnecting;

private:
    Status currentStatus = Disconnected;
    bool busy = false;
};
