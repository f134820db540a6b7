#pragma once

#include "vpnconnector.h"

#include "parsedvpnconfig.h"

class PlatformVpnBackend;
class QThread;

// The connector of the Amnezia protocol family; AmneziaV1Connector and AmneziaV2Connector
// are this class with their own protocol name, texts and acceptance test. The backend runs
// on a worker thread of the connector's own, because each of its calls blocks until the
// daemon answers (up to a minute for a connect) and the interface must stay responsive.
class AmneziaConnector : public VpnConnector
{
    Q_OBJECT

public:
    // What tells the members of the family apart; the texts are translated in the context
    // of className.
    struct Variant
    {
        const char *protocol;            // "amnezia-v1"
        const char *className;           // "AmneziaV1Connector": log prefix and tr() context
        const char *unsupportedProtocol; // the peer is not of this protocol
        const char *wrongConfiguration;  // its configuration is not of this kind
        bool (*accepts)(const ParsedVpnConfig &config);
    };

    AmneziaConnector(const Variant &variant, QObject *parent);
    // Stops the worker thread; one still in the middle of a request is left to finish on
    // its own rather than waited for.
    ~AmneziaConnector() override;

    QString protocol() const override;
    bool canHandle(const QVariantMap &peer) const override;
    // Whether a parsed configuration is of this connector's kind.
    bool acceptsConfiguration(const ParsedVpnConfig &config) const;
    void connectPeer(const QVariantMap &peer) override;
    void disconnectVpn() override;
    QString lastError() const override;

protected:
    // The backend for one attempt, created without a parent because it is moved to
    // the worker thread. Tests override this to observe or withhold the backend.
    virtual PlatformVpnBackend *createBackend();

    void setBackend(PlatformVpnBackend *backend, QThread *thread);
    void clearBackend();

private:
    void fail(const QString &error, const char *what = nullptr);
    QString translated(const char *text) const;

    const Variant variant;
    const QByteArray logPrefix;
    QString lastErrorText;
    PlatformVpnBackend *backend = nullptr;
    QThread *thread = nullptr;
};
