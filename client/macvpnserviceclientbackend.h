#pragma once

#include "platformvpnbackend.h"

#include <QJsonObject>

// The client's tunnel backend: every operation becomes one request to the root
// daemon over its local socket, on a connection opened for that request alone.
// Each call blocks the calling thread until the daemon has answered, so connectors
// run it on a worker thread; VpnManager's short status and disconnect calls run it
// on the GUI thread.
class MacVpnServiceClientBackend : public PlatformVpnBackend
{
    Q_OBJECT

public:
    explicit MacVpnServiceClientBackend(QObject *parent = nullptr);
    ~MacVpnServiceClientBackend() override;

    void connectVpn(const ParsedVpnConfig &config) override;
    void connectVpn(const ParsedVpnConfig &config, const QVariantMap &peer) override;
    void disconnectVpn() override;
    bool refreshStatus(QVariantMap *peerOut) override;

    bool sendRequest(const QJsonObject &request, QJsonObject *response, QString *errorString) const;

protected:
    // How long to wait for the daemon's reply. A connect can take the daemon tens of
    // seconds (tunnel start, routes, DNS), hence a minute; tests override this to
    // exercise a silent daemon without waiting that long.
    virtual int replyTimeoutMs() const;
    // Whether a connect request, which carries the keys, may go to a daemon running as
    // uid: root's, or this user's own (a development daemon). Whoever else listens on the
    // path took it over while the real daemon was away.
    virtual bool trustsServiceUser(uint uid) const;

private:
    // The reply's "error" when it is a non-empty string, else the operation's own text,
    // so that a failure never reaches the user without a reason.
    static QString replyError(const QJsonObject &reply, const QString &fallback);
};
