#include "amneziaconnector.h"

#include "platformvpnbackend.h"
#include "platformvpnbackendfactory.h"
#include "tarvexlogging.h"
#include "vpnconfigparser.h"

#include <QThread>

AmneziaConnector::AmneziaConnector(QObject *parent)
    : VpnConnector(parent)
{}

AmneziaConnector::~AmneziaConnector()
{
    clearBackend();
}

bool AmneziaConnector::canHandle(const QVariantMap &peer) const
{
    // Exact on purpose: the factory trims, the connector does not.
    return peer.value(QStringLiteral("protocol")).toString() == protocol();
}

QString AmneziaConnector::lastError() const
{
    return lastErrorText;
}

void AmneziaConnector::connectPeer(const QVariantMap &peer)
{
    if (!canHandle(peer)) {
        fail(unsupportedProtocolText());
        return;
    }

    const VpnConfigParseResult parsed = VpnConfigParser::parsePeerConfig(peer);
    if (!parsed.ok) {
        fail(parsed.error, "config parse error:");
        return;
    }
    if (!acceptsConfiguration(parsed.config)) {
        fail(wrongConfigurationText());
        return;
    }

    PlatformVpnBackend *newBackend = createBackend();
    if (!newBackend) {
        fail(tr("VPN-платформа пока не поддерживается"));
        return;
    }

    setBackend(newBackend, new QThread(this));
    lastErrorText.clear();

    // The request runs as the thread's first act, in the thread, on copies taken now.
    const ParsedVpnConfig config = parsed.config;
    connect(thread, &QThread::started, newBackend,
            [newBackend, config, peer] { newBackend->connectVpn(config, peer); });
    thread->start();
}

void AmneziaConnector::disconnectVpn()
{
    if (!backend) {
        emit disconnected();
        return;
    }
    PlatformVpnBackend *target = backend;
    QMetaObject::invokeMethod(
        target, [target] { target->disconnectVpn(); }, Qt::QueuedConnection);
}

PlatformVpnBackend *AmneziaConnector::createBackend()
{
    return PlatformVpnBackendFactory::create(nullptr);
}

void AmneziaConnector::setBackend(PlatformVpnBackend *newBackend, QThread *newThread)
{
    if (newBackend == backend)
        return;
    clearBackend();

    backend = newBackend;
    thread = newThread;
    if (thread) {
        backend->moveToThread(thread);
        // Deleted in its own thread, as the thread winds down.
        connect(thread, &QThread::finished, backend, &QObject::deleteLater);
    }

    connect(backend, &PlatformVpnBackend::connected, this, [this] {
        lastErrorText.clear();
        emit connected();
    });
    connect(backend, &PlatformVpnBackend::disconnected, this, [this] {
        clearBackend();
        emit disconnected();
    });
    connect(backend, &PlatformVpnBackend::errorOccurred, this, [this](const QString &error) {
        // Backend and thread stay: a later disconnect must still reach the daemon.
        qCWarning(lcTarvexClient) << logPrefix() << "backend error:" << error;
        lastErrorText = error;
        emit errorOccurred(lastErrorText);
    });
}

void AmneziaConnector::clearBackend()
{
    if (!backend)
        return;
    PlatformVpnBackend *oldBackend = backend;
    QThread *oldThread = thread;
    backend = nullptr;
    thread = nullptr;

    disconnect(oldBackend, nullptr, this, nullptr);
    if (oldThread) {
        // No time limit: a request in progress ends by itself within the backend's
        // own waits, and the backend must not outlive the thread it runs on.
        oldThread->quit();
        oldThread->wait();
        delete oldThread;
    } else {
        oldBackend->deleteLater();
    }
}

void AmneziaConnector::fail(const QString &error, const char *what)
{
    lastErrorText = error;
    if (what)
        qCWarning(lcTarvexClient) << logPrefix() << what << lastErrorText;
    else
        qCWarning(lcTarvexClient) << logPrefix() << lastErrorText;
    emit errorOccurred(lastErrorText);
}
