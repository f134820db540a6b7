#pragma once

#include "platformvpnbackend.h"
#include "recoveryjournal.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QProcess>
#include <QStringList>
#include <QVariantList>

// The macOS tunnel backend, created only by the daemon. It starts amneziawg-go,
// configures it over UAPI and changes addresses, routes, DNS and /etc/hosts with
// the system's own commands, recording every change so that cleanup() can undo it.
//
// Every external effect goes through a protected virtual (runCommand, lookupHost,
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

    // The split-tunnelling settings of the connection being made. After reading,
    // mode is 1 or 2, or enabled is false and mode is 0.
    struct SplitTunnelSettings
    {
        bool enabled = false;
        qint32 mode = 0;
        QVariantList entries;
    };

    static constexpr int CommandTimeoutMs = 5000;
    // All name lookups of one connect (split entries, the control-plane host) share this
    // much time: names come from the request, and the resolver has no time-out of its own.
    static constexpr int LookupBudgetMs = 10000;

    explicit MacVpnBackend(QObject *parent = nullptr);
    ~MacVpnBackend() override;

    Status status() const override;
    QString lastError() const override;
    void connectVpn(const ParsedVpnConfig &config) override;
    void connectVpn(const ParsedVpnConfig &config, const QVariantMap &peer) override;
    void disconnectVpn() override;

    // Outside macOS the backend only touches the system inside the development
    // sandbox, which marks itself with TARVEX_SANDBOX=1.
    static bool systemChangesAllowed();

    // Undoes whatever an earlier daemon that died recorded in the recovery journal, then
    // removes it; a journal that cannot be read is kept aside under another name. Run
    // once at start, before any client is served.
    void recoverFromJournal();

protected:
    // Status and error bookkeeping.
    void setStatus(Status status);
    void setError(const QString &error);

    // The one place a system program is run.
    virtual bool runCommand(const QString &program, const QStringList &arguments,
                            QString *standardOutput, QString *standardError, int timeoutMs) const;

    // Other seams to the outside world.
    virtual QList<QHostAddress> lookupHost(const QString &host, QString *error) const;
    virtual QString hostsFilePath() const;
    virtual QString runtimeDirectory() const;
    virtual QString applicationDirPath() const;
    virtual bool mayChangeSystem() const;

    // Tunnel process.
    QString findTunnelBinary() const;
    bool startTunnelProcess();
    QString waitForTunnelName(const QString &nameFile);
    void stopTunnelProcess();

    // UAPI configuration channel.
    QString uapiSetConfig(const ParsedVpnConfig &config) const;
    QString uapiCommand(const QString &request);
    int uapiErrno(const QString &reply) const;
    QString hexKey(const QString &base64Key) const;
    // A line feed, carriage return or other control character in a copied value would
    // add lines of its own to the root-configured tunnel's request; such a configuration
    // is refused before anything is sent.
    bool uapiConfigIsSafe(const ParsedVpnConfig &config, QString *error) const;
    // The request text with the key material blanked, for log lines.
    static QString uapiLogText(const QString &request);

    // Interface addressing.
    QString clientIpv4(const ParsedVpnConfig &config) const;
    bool configureInterface(const ParsedVpnConfig &config);

    // Routing.
    bool configureRoutes(const ParsedVpnConfig &config);
    void removeRoutes();

    // Split tunnelling.
    SplitTunnelSettings splitTunnelFromPeer(const QVariantMap &peer) const;
    QStringList splitTunnelRoutes() const;
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
    QString defaultGateway() const;
    QStringList allowedIps(const ParsedVpnConfig &config) const;
    QString endpointHost(const ParsedVpnConfig &config) const;
    int endpointPort(const ParsedVpnConfig &config) const;
    bool isIpv4Route(const QString &route) const;
    bool isIpv6Route(const QString &route) const;
    QString routeFamily(const QString &route) const;
    QString routeType(const QString &route) const;

    // Undoes everything a connection set up.
    void cleanup();

    // Server endpoint.
    bool resolveEndpoint(ParsedVpnConfig *config);
    bool addServerRoute(const QString &server, const QString &gateway, QString *error);
    QString defaultIpv6Gateway() const;

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

    Status currentStatus = Disconnected;
    QString lastErrorText;
    QString runtimeDir;
    QString interfaceName;
    QString serverHost;
    QStringList controlPlaneRoutes;
    QList<RouteEntry> installedRoutes;
    SplitTunnelSettings splitSettings;
    QMap<QString, QStringList> savedDnsServers;
    QProcess tunnelProcess;
    QString tunnelOutput;
    // Set when a connect's lookups begin; lookupHost() gives up when it has passed.
    QDeadlineTimer lookupDeadline{QDeadlineTimer::Forever};
    RecoveryJournal journal;
};
