#pragma once

#include "vpnconnector.h"

#include "parsedvpnconfig.h"

class PlatformVpnBackend;
class QThread;

// What AmneziaV1Connector and AmneziaV2Connector share: everything but their
// protocol name, texts and acceptance test. The backend runs on a worker thread of
// the connector's own, because each of its calls blocks until the daemon answers
// (up to a minute for a connect) and the interface must stay responsive meanwhile.
class AmneziaConnector : public VpnConnector
{
    Q_OBJECT

public:
    explicit AmneziaConnector(QObject *parent = nullptr);
    // Stops the worker thread; one still in the middle of a request is left to finish on
    // its own rather than waited for.
    ~AmneziaConnector() override;

    bool canHandle(const QVariantMap &peer) const override;
    void connectPeer(const QVariantMap &peer) override;
    void disconnectVpn() override;
    QString lastError() const override;

protected:
    // "[AmneziaV1Connector]" or "[AmneziaV2Connector]", the prefix of every log line.
    virtual const char *logPrefix() const = 0;
    virtual QString unsupportedProtocolText() const = 0;
    virtual QString wrongConfigurationText() const = 0;
    virtual bool acceptsConfiguration(const ParsedVpnConfig &config) const = 0;

    // The backend for one attempt, created without a parent because it is moved to
    // the worker thread. Tests override this to observe or withhold the backend.
    virtual PlatformVpnBackend *createBackend();

    void setBackend(PlatformVpnBackend *backend, QThread *thread);
    void clearBackend();

private:
    void fail(const QString &error, const char *what = nullptr);

    QString lastErrorText;
    PlatformVpnBackend *backend = nullptr;
    QThread *thread = nullptr;
};
