#pragma once

#include "macvpnbackend.h"

#include <QMap>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

// MacVpnBackend with every outside effect replaced: commands are recorded and answered
// by a scripted responder, host lookups come from a table, and the hosts file and
// runtime directory point wherever the test says. The protected steps are public here.
class TestableMacVpnBackend : public MacVpnBackend
{
    Q_OBJECT

public:
    struct Command
    {
        QString program;
        QStringList arguments;
        QString line() const { return (QStringList{program} + arguments).join(QLatin1Char(' ')); }
    };

    struct CommandResult
    {
        bool ok = true;
        QString standardOutput;
        QString standardError;
    };

    using Responder = std::function<CommandResult(const Command &)>;

    explicit TestableMacVpnBackend(QObject *parent = nullptr);
    // Runs cleanup while this class's overrides still apply: the base destructor
    // would reach the real runCommand.
    ~TestableMacVpnBackend() override;

    // The lines of the recorded commands ("program arg arg ..."), in order.
    QStringList commandLines() const;

    QList<Command> commands;
    Responder responder;
    QMap<QString, QList<QHostAddress>> hosts; // missing host: lookup error
    int lookups = 0;
    QString hostsFile;
    QString runtimeDirectoryPath;
    QString applicationDirectory;
    bool allowSystemChanges = true; // false: the platform's own interlock decides
    QTemporaryDir journalDirectory; // the recovery journal's folder

    using MacVpnBackend::allowedIps;
    using MacVpnBackend::cleanup;
    using MacVpnBackend::clientIpv4;
    using MacVpnBackend::configureDns;
    using MacVpnBackend::configureInterface;
    using MacVpnBackend::configureRoutes;
    using MacVpnBackend::controlPlaneHost;
    using MacVpnBackend::defaultGateway;
    using MacVpnBackend::endpointHost;
    using MacVpnBackend::endpointPort;
    using MacVpnBackend::findTunnelBinary;
    using MacVpnBackend::flushDnsCache;
    using MacVpnBackend::hexKey;
    using MacVpnBackend::installControlPlaneBypass;
    using MacVpnBackend::isIpv4Route;
    using MacVpnBackend::isIpv6Route;
    using MacVpnBackend::pinControlPlaneHosts;
    using MacVpnBackend::removeControlPlaneBypass;
    using MacVpnBackend::removeRoutes;
    using MacVpnBackend::resolvedSplitTunnelRoutes;
    using MacVpnBackend::restoreDns;
    using MacVpnBackend::routeFamily;
    using MacVpnBackend::routeType;
    using MacVpnBackend::setError;
    using MacVpnBackend::setStatus;
    using MacVpnBackend::splitTunnelFromPeer;
    using MacVpnBackend::splitTunnelRoutes;
    using MacVpnBackend::startTunnelProcess;
    using MacVpnBackend::stopTunnelProcess;
    using MacVpnBackend::uapiCommand;
    using MacVpnBackend::uapiConfigIsSafe;
    using MacVpnBackend::uapiErrno;
    using MacVpnBackend::uapiLogText;
    using MacVpnBackend::uapiSetConfig;
    using MacVpnBackend::unpinControlPlaneHosts;
    using MacVpnBackend::waitForTunnelName;

    using MacVpnBackend::controlPlaneRoutes;
    using MacVpnBackend::installedRoutes;
    using MacVpnBackend::interfaceName;
    using MacVpnBackend::journal;
    using MacVpnBackend::runtimeDir;
    using MacVpnBackend::savedDnsServers;
    using MacVpnBackend::serverHost;
    using MacVpnBackend::splitSettings;
    using MacVpnBackend::tunnelOutput;
    using MacVpnBackend::tunnelProcess;

protected:
    bool runCommand(const QString &program, const QStringList &arguments, QString *standardOutput,
                    QString *standardError, int timeoutMs) const override;
    QList<QHostAddress> lookupHost(const QString &host, QString *error) const override;
    QString hostsFilePath() const override;
    QString runtimeDirectory() const override;
    QString applicationDirPath() const override;
    bool mayChangeSystem() const override;
};
