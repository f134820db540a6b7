#include "vpnmanager.h"

#include "platformvpnbackend.h"
#include "platformvpnbackendfactory.h"
#include "tarvexlogging.h"
#include "vpnconnector.h"
#include "vpnconnectorfactory.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

namespace {
const QString ActivePeerKey = QStringLiteral("Vpn/ActivePeer");

VpnManager::State stateFromStatus(PlatformVpnBackend::Status status)
{
    switch (status) {
    case PlatformVpnBackend::Connecting:
        return VpnManager::Connecting;
    case PlatformVpnBackend::Connected:
        return VpnManager::Connected;
    case PlatformVpnBackend::Disconnecting:
        return VpnManager::Disconnecting;
    case PlatformVpnBackend::Error:
        return VpnManager::Error;
    case PlatformVpnBackend::Disconnected:
        break;
    }
    return VpnManager::Disconnected;
}
} // namespace

VpnManager::VpnManager(QObject *parent)
    : QObject(parent)
{}

VpnManager::~VpnManager() = default;

VpnManager::State VpnManager::state() const
{
    return currentState;
}

QVariantMap VpnManager::currentPeer() const
{
    return current;
}

QString VpnManager::error() const
{
    return errorText;
}

bool VpnManager::isConnected() const
{
    return currentState == Connected;
}

bool VpnManager::isBusy() const
{
    return currentState == Connecting || currentState == Disconnecting;
}

void VpnManager::connectPeer(const QVariantMap &peer)
{
    setError(QString());

    if (peer.isEmpty()) {
        qCWarning(lcTarvexClient) << "[VpnManager] ignored: empty peer";
        setError(tr("Соединение не выбрано"));
        setState(Error);
        return;
    }

    switch (currentState) {
    case Connected:
        // One tunnel at a time: the new peer starts once the old tunnel is down.
        pending = peer;
        disconnectVpn();
        return;
    case Disconnecting:
        pending = peer;
        return;
    case Connecting:
        qCWarning(lcTarvexClient) << "[VpnManager] ignored: busy";
        setError(tr("VPN уже выполняет действие"));
        setState(Error);
        return;
    case Disconnected:
    case Error:
        beginConnectPeer(peer);
        return;
    }
}

void VpnManager::disconnectVpn()
{
    setError(QString());

    if (currentState == Disconnected) {
        // Nothing runs, but a stale stored peer must not be offered again.
        resetToDisconnected();
        return;
    }

    setState(Disconnecting);
    if (connector) {
        connector->disconnectVpn();
        return;
    }

    // No connector: the tunnel was found by syncStatus after a restart.
    if (!disconnectServiceTunnel())
        return;
    resetToDisconnected();
    connectPendingPeer();
}

void VpnManager::syncStatus()
{
    if (isBusy())
        return;

    PlatformVpnBackend *backend = PlatformVpnBackendFactory::create(this);
    if (!backend) {
        qCWarning(lcTarvexClient)
            << "[VpnManager] syncStatus ignored: platform backend unavailable";
        return;
    }

    QVariantMap daemonPeer;
    if (!backend->refreshStatus(&daemonPeer)) {
        // An unreachable daemon proves nothing about the tunnel: show what we had.
        qCWarning(lcTarvexClient) << "[VpnManager] syncStatus failed" << backend->lastError();
        backend->deleteLater();
        return;
    }
    const State reported = stateFromStatus(backend->status());
    const QString reason = backend->lastError();
    backend->deleteLater();

    switch (reported) {
    case Disconnected:
        resetToDisconnected();
        return;
    case Error:
        if (!reason.isEmpty())
            setError(reason);
        setState(Error);
        return;
    case Connected: {
        setError(QString());
        // The daemon forgets its peer when it restarts; the stored one still names the
        // tunnel the user chose.
        const QVariantMap peer = daemonPeer.isEmpty() ? loadPersistedActivePeer() : daemonPeer;
        if (!peer.isEmpty()) {
            setCurrentPeer(peer);
            savePersistedActivePeer(peer);
        }
        setState(Connected);
        return;
    }
    case Connecting:
    case Disconnecting:
        setState(reported);
        return;
    }
}

void VpnManager::clearError()
{
    setError(QString());
}

void VpnManager::beginConnectPeer(const QVariantMap &peer)
{
    VpnConnector *created = VpnConnectorFactory::create(peer, this);
    if (!created) {
        qCWarning(lcTarvexClient) << "[VpnManager] unsupported protocol"
                                  << peer.value(QStringLiteral("protocol"));
        setError(tr("Протокол соединения не поддерживается"));
        setState(Error);
        return;
    }

    clearConnector();
    setConnector(created);
    setCurrentPeer(peer);
    setState(Connecting);
    // A connector that refuses the peer reports before returning, so the state may
    // already be Error when this call is done.
    created->connectPeer(peer);
}

void VpnManager::setConnector(VpnConnector *newConnector)
{
    if (newConnector == connector)
        return;
    clearConnector();
    connector = newConnector;
    if (!connector)
        return;
    connect(connector, &VpnConnector::connected, this, &VpnManager::onConnectorConnected);
    connect(connector, &VpnConnector::disconnected, this, &VpnManager::onConnectorDisconnected);
    connect(connector, &VpnConnector::errorOccurred, this, &VpnManager::onConnectorError);
}

void VpnManager::clearConnector()
{
    if (!connector)
        return;
    VpnConnector *old = connector;
    connector = nullptr;
    disconnect(old, nullptr, this, nullptr);
    // Deferred: this often runs inside one of the connector's own signals.
    old->deleteLater();
}

void VpnManager::setCurrentPeer(const QVariantMap &peer)
{
    if (peer == current)
        return;
    current = peer;
    emit currentPeerChanged();
}

void VpnManager::setState(State state)
{
    if (state == currentState)
        return;
    currentState = state;
    emit stateChanged();
}

void VpnManager::setError(const QString &error)
{
    if (error == errorText)
        return;
    errorText = error;
    if (!errorText.isEmpty())
        qCWarning(lcTarvexClient) << "[VpnManager] error changed:" << errorText;
    emit errorChanged();
}

void VpnManager::connectPendingPeer()
{
    if (pending.isEmpty())
        return;
    const QVariantMap peer = pending;
    pending.clear();
    connectPeer(peer);
}

bool VpnManager::disconnectServiceTunnel()
{
    PlatformVpnBackend *backend = PlatformVpnBackendFactory::create(this);
    if (!backend) {
        setError(tr("VPN-платформа пока не поддерживается"));
        setState(Error);
        return false;
    }

    backend->disconnectVpn();
    const PlatformVpnBackend::Status status = backend->status();
    const QString reason = backend->lastError();
    backend->deleteLater();

    if (status == PlatformVpnBackend::Disconnected)
        return true;
    setError(reason.isEmpty() ? tr("Не удалось отключить VPN") : reason);
    setState(Error);
    return false;
}

void VpnManager::resetToDisconnected()
{
    setError(QString());
    clearConnector();
    setCurrentPeer(QVariantMap());
    clearPersistedActivePeer();
    setState(Disconnected);
}

void VpnManager::onConnectorConnected()
{
    setError(QString());
    if (!current.isEmpty())
        savePersistedActivePeer(current);
    setState(Connected);
}

void VpnManager::onConnectorDisconnected()
{
    resetToDisconnected();
    connectPendingPeer();
}

void VpnManager::onConnectorError(const QString &error)
{
    qCWarning(lcTarvexClient) << "[VpnManager] connector error:" << error;
    // A failed disconnect must not silently switch to another peer.
    pending.clear();
    setError(error);
    setState(Error);
}

QVariantMap VpnManager::loadPersistedActivePeer() const
{
    const QString stored = QSettings().value(ActivePeerKey).toString();
    if (stored.isEmpty())
        return {};
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(stored.toUtf8(), &parseError);
    // Anything else in the key is leftover or foreign data: ignore it silently.
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return {};
    return document.object().toVariantMap();
}

void VpnManager::savePersistedActivePeer(const QVariantMap &peer) const
{
    QSettings settings;
    if (peer.isEmpty()) {
        settings.remove(ActivePeerKey);
        return;
    }
    settings.setValue(
        ActivePeerKey,
        QString::fromUtf8(
            QJsonDocument(QJsonObject::fromVariantMap(peer)).toJson(QJsonDocument::Compact)));
}

void VpnManager::clearPersistedActivePeer() const
{
    savePersistedActivePeer(QVariantMap());
}
