#include "macvpnbackend.h"

#include "configvaluevalidator.h"
#include "secretmasker.h"
#include "tarvexlogging.h"
#include "uapirequest.h"

MacVpnBackend::MacVpnBackend(QObject *parent)
    : PlatformVpnBackend("[MacVpnBackend]", lcTarvexBackend, parent)
{
    connect(&tunnelProcess, &QProcess::started, this, &MacVpnBackend::recordTunnelPid);
    connect(&tunnelProcess, &QProcess::finished, this, &MacVpnBackend::handleTunnelFinished);
}

MacVpnBackend::~MacVpnBackend()
{
    // Every way into Disconnected runs cleanup() first, so a backend that is
    // Disconnected has nothing left to undo; skipping it spares an idle daemon's
    // shutdown the resolver-cache flush.
    if (status() != Disconnected)
        cleanup();
}

void MacVpnBackend::setTimeouts(const Timeouts &newTimeouts)
{
    timeouts = newTimeouts;
}

bool MacVpnBackend::systemChangesAllowed()
{
#ifdef Q_OS_MACOS
    return true;
#else
    return qEnvironmentVariable("TARVEX_SANDBOX") == QLatin1String("1");
#endif
}

void MacVpnBackend::connectVpn(const ParsedVpnConfig &config)
{
    connectVpn(config, QVariantMap());
}

void MacVpnBackend::connectVpn(const ParsedVpnConfig &requested, const QVariantMap &peer)
{
    qCInfo(lcTarvexBackend).nospace()
        << "[MacVpnBackend] connectVpn start container=" << requested.container
        << " protocol=" << requested.protocolName << " host=" << endpointHost(requested);

    splitSettings = SplitTunnelSettings::fromPeer(peer);
    setError(QString());
    setStatus(Connecting);

    if (!mayChangeSystem()) {
        qCWarning(lcTarvexBackend) << "[MacVpnBackend] refusing to change the system outside "
                                      "macOS without TARVEX_SANDBOX=1";
        setError(tr("Изменение сетевых настроек разрешено только на macOS или в песочнице "
                    "разработки (TARVEX_SANDBOX=1)"));
        return;
    }

    // Whatever an earlier connection left behind is undone before anything new is set up,
    // so DNS is read back from the services' own settings and routes are never doubled.
    cleanup();

    // Checked before anything starts: a control character in a value copied into the
    // UAPI request would add lines of its own to the tunnel's configuration.
    QString unsafe;
    if (!uapiConfigIsSafe(requested, &unsafe)) {
        setError(unsafe);
        return;
    }
    // Equally before anything starts: these values become arguments of root's commands,
    // and every split entry costs a lookup and a route.
    const int splitEntries = splitSettings.enabled ? int(splitSettings.entries.size()) : 0;
    const QString invalid = ConfigValueValidator::check(requested, clientIpv4(requested),
                                                        endpointHost(requested), splitEntries);
    if (!invalid.isEmpty()) {
        qCWarning(lcTarvexBackend) << "[MacVpnBackend] config refused" << invalid;
        setError(invalid);
        return;
    }

    // The server's name has a lookup budget of its own; the routes' names get theirs below.
    lookupDeadline.setRemainingTime(LookupBudgetMs);
    ParsedVpnConfig config = requested;
    if (!resolveEndpoint(&config))
        return;

    const QString tunnelBinary = findTunnelBinary();
    if (tunnelBinary.isEmpty()) {
        qCWarning(lcTarvexBackend) << "[MacVpnBackend] amneziawg-go not found";
        setError(tr("Не найден amneziawg-go рядом с приложением"));
        return;
    }
    qCInfo(lcTarvexBackend) << "[MacVpnBackend] amneziawg-go found" << tunnelBinary;

    if (!recordTunnel(tunnelBinary))
        return;
    if (!startTunnelProcess()) {
        qCWarning(lcTarvexBackend) << "[MacVpnBackend] startTunnelProcess failed" << lastError();
        cleanup();
        return;
    }
    if (!recordTunnel(tunnelBinary)) {
        cleanup();
        return;
    }

    const QString request = uapiSetConfig(config);
    qCInfo(lcTarvexBackend).noquote() << "[MacVpnBackend] uapi set config command =\n"
                                      << SecretMasker::mask(request);
    const QString reply = uapiCommand(request);
    qCInfo(lcTarvexBackend).noquote() << "[MacVpnBackend] uapi reply =\n" << reply;
    const int error = UapiRequest::replyErrno(reply);
    qCInfo(lcTarvexBackend) << "[MacVpnBackend] uapi reply errno" << error;
    if (error != 0) {
        cleanup();
        setError(tr("Не удалось применить WireGuard/AWG-конфигурацию"));
        return;
    }

    if (!configureInterface(config)) {
        qCWarning(lcTarvexBackend) << "[MacVpnBackend] configureInterface failed" << lastError();
        cleanup();
        return;
    }

    lookupDeadline.setRemainingTime(LookupBudgetMs);
    if (!configureRoutes(config)) {
        qCWarning(lcTarvexBackend) << "[MacVpnBackend] configureRoutes failed" << lastError();
        cleanup();
        return;
    }

    if (splitSettings.is(SplitTunnelSettings::OnlySelected))
        qCInfo(lcTarvexBackend) << "[MacVpnBackend] skip global DNS for only-selected split tunnel";
    else
        configureDns(config);

    flushDnsCache();

    qCInfo(lcTarvexBackend) << "[MacVpnBackend] connected";
    setStatus(Connected);
    emit connected();
}

void MacVpnBackend::disconnectVpn()
{
    qCInfo(lcTarvexBackend) << "[MacVpnBackend] disconnectVpn status=" << status();
    setError(QString());
    if (status() != Disconnected) {
        setStatus(Disconnecting);
        cleanup();
        setStatus(Disconnected);
    }
    emit disconnected();
}

void MacVpnBackend::cleanup()
{
    qCInfo(lcTarvexBackend) << "[MacVpnBackend] cleanup";
    // DNS and routes go while the tunnel still runs; only then is the program stopped.
    restoreDns();
    removeRoutes();
    stopTunnelProcess();
    flushDnsCache();
    interfaceName.clear();
    serverHost.clear();
    // Only now is there nothing left that a daemon started after a crash would have to undo.
    removeRecoveryJournal();
}
