#pragma once

#include "macvpnbackend.h"
#include "simulatedmac.h"

#include <QMap>

#include <functional>
#include <memory>

// MacVpnBackend on a SimulatedMac: the five macOS commands run in-process on its state
// (other programs, such as ps and kill, for real), the hosts file and runtime folder are
// its own, the tunnel program is the stand-in, and host names resolve from a table.
class TestableMacVpnBackend : public MacVpnBackend
{
    Q_OBJECT

public:
    // Time-outs a test can wait out: a tenth of the real ones.
    static Timeouts shortTimeouts();

    explicit TestableMacVpnBackend(SimulatedMac &mac);
    // On a Mac of its own.
    TestableMacVpnBackend();
    // Disconnects while this class's seams still apply: the base destructor would reach
    // the real ones.
    ~TestableMacVpnBackend() override;

    QMap<QString, QList<QHostAddress>> hosts; // a missing host fails to resolve
    QString applicationDirectory;             // where amneziawg-go is looked for first
    bool allowSystemChanges = true;           // false: the platform's own interlock decides
    // Called before each simulated command runs.
    std::function<void(const QString &program, const QStringList &arguments)> beforeCommand;

    using MacVpnBackend::ProgramRun;
    // The real way of running a program, for its own test.
    ProgramRun runForReal(const QString &program, const QStringList &arguments, int timeoutMs) const
    {
        return MacVpnBackend::runProgram(program, arguments, timeoutMs);
    }

    // What the daemon makes of a peer's split settings, for the QML suites.
    SplitTunnelSettings splitSettings;
    static SplitTunnelSettings splitTunnelFromPeer(const QVariantMap &peer)
    {
        return SplitTunnelSettings::fromPeer(peer);
    }
    QStringList splitTunnelRoutes() const
    {
        return MacVpnBackend::splitTunnelRoutes(splitSettings);
    }

protected:
    ProgramRun runProgram(const QString &program, const QStringList &arguments,
                          int timeoutMs) const override;
    QList<QHostAddress> lookupHost(const QString &host, QString *error) const override;
    QString hostsFilePath() const override { return mac.hostsFile(); }
    QString runtimeDirectory() const override { return mac.path(QStringLiteral("run/amneziawg")); }
    QString applicationDirPath() const override { return applicationDirectory; }
    bool mayChangeSystem() const override
    {
        return allowSystemChanges || MacVpnBackend::mayChangeSystem();
    }

private:
    std::unique_ptr<SimulatedMac> ownMac;
    SimulatedMac &mac;
};
