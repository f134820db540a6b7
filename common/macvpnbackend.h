#pragma once

#include "defaultroutewatcher.h"
#include "platformvpnbackend.h"
#include "recoveryjournal.h"
#include "splittunnelsettings.h"
#include "upstreamroute.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QProcess>
#include <QStringList>

// The macOS tunnel backend, created only by the daemon. It starts amneziawg-go,
// configures it over UAPI and changes addresses, routes, DNS and /etc/hosts with
// the system's own commands, recording every change so that cleanup() can undo it.
//
// Every external effect goes through a protected virtual (runProgram, lookupHost,
// hostsFilePath, runtimeDirectory, applicationDirPath) so tests can replace it. Before
// each change to the system, what undoes it is written to a recovery journal, which a
// daemon started after a crash replays (recoverFromJournal).
class MacVpnBackend : public PlatformVpnBackend
{
    Q_OBJECT

public:
    // One route this backend installed, exactly as passed to /sbin/route: what the
    // recovery journal records of it.
    using RouteEntry = RecoveryJournal::Route;
    using SplitTunnelSettings = ::SplitTunnelSettings;

    // Every wait of the backend. A command gets its time to start and again to finish;
    // the tunnel program gets its own to start, to name its interface and to stop (then
    // as long again after SIGKILL); each step of the UAPI exchange has its own.
    struct Timeouts
    {
        int commandMs = 5000;
        int tunnelStartMs = 5000;
        int interfaceNameMs = 4999;
        int uapiMs = 5000;
        int tunnelStopMs = 5000;
    };

    // All name lookups of one connect (split entries, the control-plane host) share this
    // much time: names come from the request, and the resolver has no time-out of its own.
    static constexpr int LookupBudgetMs = 10000;

    explicit MacVpnBackend(QObject *parent = nullptr);
    ~MacVpnBackend() override;

    void connectVpn(const ParsedVpnConfig &config) override;
    void connectVpn(const ParsedVpnConfig &config, const QVariantMap &peer) override;
    void disconnectVpn() override;

    void setTimeouts(const Timeouts &timeouts);

    // Outside macOS the backend only touches the system inside the development
    // sandbox, which marks itself with TARVEX_SANDBOX=1.
    static bool systemChangesAllowed();

    // Undoes whatever an earlier daemon that died recorded in the recovery journal, then
    // removes it; a journal that cannot be read is kept aside under another name. Run
    // once at start, before any client is served.
    void recoverFromJournal();

protected:
    // How one run of a program ended, and what it printed.
    struct ProgramRun
    {
        // Refused: a system program outside macOS and the sandbox, never started.
        enum Outcome { Finished, NotStarted, TimedOut, Refused };
        Outcome outcome = NotStarted;
        QProcess::ExitStatus exitStatus = QProcess::NormalExit;
        int exitCode = 0;
        QString standardOutput;
        QString standardError;
        QString errorString; // why it did not finish
    };

    // The seams to the outside world. runProgram starts the program and waits for it;
    // runCommand, the one way the backend runs a system command, logs and judges the run.
    virtual ProgramRun runProgram(const QString &program, const QStringList &arguments,
                                  int timeoutMs) const;
    virtual QList<QHostAddress> lookupHost(const QString &host, QString *error) const;
    virtual QString hostsFilePath() const;
    virtual QString runtimeDirectory() const;
    virtual QString applicationDirPath() const;
    virtual bool mayChangeSystem() const;

    // The route destinations of the split entries, resolved as a connect resolves them.
    QStringList splitTunnelRoutes(const SplitTunnelSettings &settings) const;

private:
    bool runCommand(const QString &program, const QStringList &arguments, QString *standardOutput,
                    QString *standardError) const;

    // Tunnel process.
    QString findTunnelBinary() const;
    bool startTunnelProcess();
    QString waitForTunnelName(const QString &nameFile);
    void stopTunnelProcess();

    // UAPI configuration channel.
    QString uapiSetConfig(const ParsedVpnConfig &config) const;
    QString uapiCommand(const QString &request);
    bool uapiConfigIsSafe(const ParsedVpnConfig &config, QString *error) const;

    // Interface addressing.
    bool configureInterface(const ParsedVpnConfig &config);

    // Routing.
    bool configureRoutes(const ParsedVpnConfig &config);
    bool addSplitRoutes(const QStringList &destinations);
    bool addAllowedIpRoutes(const QStringList &allowed);
    bool addExclusions(const QStringList &destinations, const QString &gateway);
    void removeRoutes();

    // Split tunnelling.
    QStringList resolvedSplitTunnelRoutes(const QVariantMap &entry) const;

    // DNS.
    bool configureDns(const ParsedVpnConfig &config);
    void restoreDns();
    void flushDnsCache() const;

    // Control-plane bypass and hosts pinning.
    QString controlPlaneHost() const;
    void installControlPlaneBypass(const QString &gateway);
    void removeControlPlaneBypass();
    void pinControlPlaneHosts(const QStringList &addresses);
    void unpinControlPlaneHosts();

    // Configuration accessors and address checks.
    UpstreamRoute defaultRoute(bool inet6) const;
    std::optional<UpstreamRoute> readDefaultRoute(bool inet6) const;
    static QStringList allowedIps(const ParsedVpnConfig &config);
    static QString endpointHost(const ParsedVpnConfig &config);
    static int endpointPort(const ParsedVpnConfig &config);
    static QString clientIpv4(const ParsedVpnConfig &config);
    static bool isIpv4Route(const QString &route);
    static bool isIpv6Route(const QString &route);
    static RouteEntry routeTo(const QString &destination);

    // Following the default route while connected: the routes that leave by it move along.
    void followDefaultRoute(const QString &reason);
    QList<RouteEntry> upstreamRoutes(bool inet6) const;
    bool moveRoute(const RouteEntry &route, const UpstreamRoute &way);
    void forgetRoute(const RouteEntry &route);

    // Undoes everything a connection set up.
    void cleanup();

    // Server endpoint.
    bool resolveEndpoint(ParsedVpnConfig *config);
    bool addServerRoute(const QString &server, const QString &gateway, QString *error);

    // Recovery journal and the watch on the tunnel program.
    bool recordTunnel(const QString &program);
    void recordTunnelPid();
    bool addRecordedRoute(const RouteEntry &route, const QStringList &arguments, QString *error);
    void deleteRoute(const RouteEntry &route);
    bool recordDnsServers(const QString &service, const QStringList &servers);
    bool recordHostsBlock();
    void removeRecoveryJournal();
    void replayRecoveryJournal(const RecoveryJournal::Contents &left, bool damaged);
    void stopLeftoverTunnel(qint64 pid, const QString &program);
    bool leftoverTunnelRunning(qint64 pid, const QString &program) const;
    void handleTunnelFinished(int exitCode, QProcess::ExitStatus exitStatus);

    Timeouts timeouts;
    QString runtimeDir;
    QString interfaceName;
    QString serverHost;
    QStringList controlPlaneRoutes;
    QList<RouteEntry> installedRoutes;
    QList<RouteEntry> exclusionRoutes; // also in installedRoutes
    // The ways out that the server route, the bypass and the exclusions take now.
    UpstreamRoute upstream4;
    UpstreamRoute upstream6;
    DefaultRouteWatcher routeWatcher;
    SplitTunnelSettings splitSettings;
    QMap<QString, QStringList> savedDnsServers;
    QProcess tunnelProcess;
    QString tunnelOutput;
    // Set when a connect's lookups begin; lookupHost() gives up when it has passed.
    QDeadlineTimer lookupDeadline{QDeadlineTimer::Forever};
    RecoveryJournal journal;
};
