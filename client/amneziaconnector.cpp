#include "amneziaconnector.h"

#include "platformvpnbackend.h"
#include "platformvpnbackendfactory.h"
#include "tarvexlogging.h"
#include "vpnconfigparser.h"

#include <QCoreApplication>
#include <QThread>

namespace {
// How long the interface may block for a worker thread to stop: long enough for one that
// is idle in its event loop, far shorter than a request that waits for the daemon.
constexpr int WorkerStopWaitMs = 1000;
} // namespace

AmneziaConnector::AmneziaConnector(const Variant &variant, QObject *parent)
    : VpnConnector(parent)
    , variant(variant)
    , logPrefix('[' + QByteArray(variant.className) + ']')
{}

AmneziaConnector::~AmneziaConnector()
{
    clearBackend();
}

QString AmneziaConnector::protocol() const
{
    return QLatin1String(variant.protocol);
}

bool AmneziaConnector::canHandle(const QVariantMap &peer) const
{
    // Exact on purpose: the factory trims, the connector does not.
    return peer.value(QStringLiteral("protocol")).toString() == protocol();
}

bool AmneziaConnector::acceptsConfiguration(const ParsedVpnConfig &config) const
{
    return variant.accepts(config);
}

QString AmneziaConnector::lastError() const
{
    return lastErrorText;
}

void AmneziaConnector::connectPeer(const QVariantMap &peer)
{
    if (!canHandle(peer)) {
        fail(translated(variant.unsupportedProtocol));
        return;
    }

    const VpnConfigParseResult parsed = VpnConfigParser::parsePeerConfig(peer);
    if (!parsed.ok) {
        fail(parsed.error, "config parse error:");
        return;
    }
    if (!acceptsConfiguration(parsed.config)) {
        fail(translated(variant.wrongConfiguration));
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
        qCWarning(lcTarvexClient) << logPrefix.constData() << "backend error:" << error;
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
        oldThread->quit();
        if (oldThread->wait(WorkerStopWaitMs)) {
            delete oldThread;
            return;
        }
        // A request is still running (a connect may wait a minute for the daemon); the
        // interface must not freeze for it. The thread goes on alone and is deleted once
        // it has finished, the backend with it.
        qCWarning(lcTarvexClient) << "[AmneziaConnector] worker still busy; released unfinished";
        oldThread->setParent(nullptr);
        connect(oldThread, &QThread::finished, oldThread, &QObject::deleteLater);
        if (oldThread->isFinished())
            oldThread->deleteLater();
    } else {
        oldBackend->deleteLater();
    }
}

void AmneziaConnector::fail(const QString &error, const char *what)
{
    lastErrorText = error;
    if (what)
        qCWarning(lcTarvexClient) << logPrefix.constData() << what << lastErrorText;
    else
        qCWarning(lcTarvexClient) << logPrefix.constData() << lastErrorText;
    emit errorOccurred(lastErrorText);
}

QString AmneziaConnector::translated(const char *text) const
{
    return QCoreApplication::translate(variant.className, text);
}
