#include "platformvpnbackend.h"

#include "tarvexlogging.h"

PlatformVpnBackend::PlatformVpnBackend(QObject *parent)
    : PlatformVpnBackend("[PlatformVpnBackend]", lcTarvexBackend, parent)
{}

PlatformVpnBackend::PlatformVpnBackend(const char *logPrefix, LoggingCategory category,
                                       QObject *parent)
    : QObject(parent)
    , logPrefix(logPrefix)
    , category(category)
{
    // Backends run on worker threads in the client; statusChanged must survive
    // a queued connection.
    qRegisterMetaType<PlatformVpnBackend::Status>();
}

PlatformVpnBackend::Status PlatformVpnBackend::status() const
{
    return currentStatus;
}

QString PlatformVpnBackend::lastError() const
{
    return lastErrorText;
}

void PlatformVpnBackend::connectVpn(const ParsedVpnConfig &config, const QVariantMap &peer)
{
    Q_UNUSED(peer)
    connectVpn(config);
}

bool PlatformVpnBackend::refreshStatus(QVariantMap *peerOut)
{
    if (peerOut)
        peerOut->clear();
    return true;
}

void PlatformVpnBackend::setStatus(Status status)
{
    if (status == currentStatus)
        return;
    currentStatus = status;
    qCInfo(category) << logPrefix << "status changed" << status;
    emit statusChanged(status);
}

void PlatformVpnBackend::setError(const QString &error)
{
    lastErrorText = error;
    if (lastErrorText.isEmpty())
        return;
    qCWarning(category) << logPrefix << "error:" << lastErrorText;
    setStatus(Error);
    emit errorOccurred(lastErrorText);
}

void PlatformVpnBackend::setLastErrorText(const QString &error)
{
    lastErrorText = error;
}
