#include "macvpnbackend.h"

#include "tarvexlogging.h"

MacVpnBackend::MacVpnBackend(QObject *parent)
    : PlatformVpnBackend(parent)
{}

MacVpnBackend::~MacVpnBackend()
{
    cleanup();
}

PlatformVpnBackend::Status MacVpnBackend::status() const
{
    return currentStatus;
}

QString MacVpnBackend::lastError() const
{
    return lastErrorText;
}

bool MacVpnBackend::systemChangesAllowed()
{
#ifdef Q_OS_MACOS
    return true;
#else
    return qEnvironmentVariable("TARVEX_SANDBOX") == QLatin1String("1");
#endif
}

void MacVpnBackend::setStatus(Status status)
{
    if (status == currentStatus)
        return;
    currentStatus = status;
    qCInfo(lcTarvexBackend) << "[MacVpnBackend] status changed" << status;
    emit statusChanged(status);
}

void MacVpnBackend::setError(const QString &error)
{
    lastErrorText = error;
    if (lastErrorText.isEmpty())
        return;
    qCWarning(lcTarvexBackend) << "[MacVpnBackend] error:" << lastErrorText;
    setStatus(Error);
    emit errorOccurred(lastErrorText);
}

// --- Connect and disconnect sequences (placeholder until the sequences land) ---

void MacVpnBackend::connectVpn(const ParsedVpnConfig &config)
{
    connectVpn(config, QVariantMap());
}

void MacVpnBackend::connectVpn(const ParsedVpnConfig &config, const QVariantMap &peer)
{
    Q_UNUSED(config)
    Q_UNUSED(peer)
    setError(QString());
    setStatus(Connecting);
    setError(tr("Не найден amneziawg-go рядом с приложением"));
}

void MacVpnBackend::disconnectVpn()
{
    setError(QString());
    if (currentStatus != Disconnected) {
        setStatus(Disconnecting);
        cleanup();
        setStatus(Disconnected);
    }
    emit disconnected();
}

void MacVpnBackend::cleanup() {}
