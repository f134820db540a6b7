#pragma once

#include "vendorapiprocess.h"

#include <QNetworkAccessManager>
#include <QObject>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <QVariantList>
#include <QVariantMap>

#include <memory>

class FakeServiceDaemon;
class StallingHttpServer;

// What Qt Quick tests cannot do themselves, published to them as "TestSupport": run
// tarvex-vendor-api on a free port with a temporary data folder, read its outbox and
// the requests it received, make servers that stall or ports that refuse, run a fake
// daemon for the client's VpnManager, and clear and read the client's settings. Every
// call blocks until it is done; URLs are returned without a trailing slash.
//
// While it exists, links the interface opens (Qt.openUrlExternally, which goes through
// QDesktopServices::openUrl) are recorded here instead of starting a browser.
class QuickTestSupport : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QStringList openedUrls READ openedUrls NOTIFY openedUrlsChanged)

public:
    explicit QuickTestSupport(QObject *parent = nullptr);
    ~QuickTestSupport() override;

    // The vendor API's root URL ("http://127.0.0.1:PORT"), empty (and a warning) when
    // it did not start. Started once; later calls return the running one.
    Q_INVOKABLE QString startVendorApi();
    Q_INVOKABLE void stopVendorApi();
    // The same data folder again; the port may change.
    Q_INVOKABLE QString restartVendorApi();

    // The last limit requests under /api/v1 (all when limit < 0), oldest first, as the
    // server received them: method, path, query, headers (names in lower case), body.
    Q_INVOKABLE QVariantList requestLog(int limit = -1);
    Q_INVOKABLE void clearRequestLog();
    // The e-mail messages to one address, oldest first ("kind", "code" or "token").
    Q_INVOKABLE QVariantList outbox(const QString &email);

    // A server that accepts and never answers (answerAfterMs < 0), or answers every
    // request with status and the JSON text body after answerAfterMs; its root URL.
    Q_INVOKABLE QString
    startStallingServer(int answerAfterMs = -1, int status = 200,
                        const QString &body = QStringLiteral(R"({"success":true,"data":"late"})"));
    // Connections accepted by all stalling servers so far.
    Q_INVOKABLE int stalledConnections() const;
    // A port on 127.0.0.1 where nothing listens; its root URL.
    Q_INVOKABLE QString closedPortUrl() const;

    // FakeServiceDaemon answering connect, disconnect and status with success, on a
    // socket of its own that TARVEX_SERVICE_SOCKET names from now on. Started once.
    Q_INVOKABLE void startServiceDaemon();
    // The requests it received, oldest first, parsed.
    Q_INVOKABLE QVariantList serviceDaemonRequests() const;

    // Removes these groups from the client's user settings.
    Q_INVOKABLE void clearSettings(const QStringList &groups);
    // The client's settings file as it is on disk, after writing what is pending.
    Q_INVOKABLE QString settingsFileText() const;

    // What the daemon makes of a peer's "splitTunnel" map: the peer crosses the wire as
    // JSON and the real backend reads it, resolving names from hosts (name: [addresses])
    // rather than the system. { enabled, mode, entries, routes }.
    Q_INVOKABLE QVariantMap splitTunnelAsDaemonReads(const QVariantMap &peer,
                                                     const QVariantMap &hosts) const;

    QStringList openedUrls() const { return m_openedUrls; }
    Q_INVOKABLE void clearOpenedUrls();

public slots:
    // The URL handler for every scheme the interface opens.
    void recordOpenedUrl(const QUrl &url);

signals:
    void openedUrlsChanged();

private:
    QByteArray fetch(const QByteArray &method, const QString &path);

    QTemporaryDir dataFolder;
    VendorApiProcess vendorApi;
    QNetworkAccessManager network;
    QList<StallingHttpServer *> stallingServers;
    std::unique_ptr<FakeServiceDaemon> serviceDaemon;
    QStringList m_openedUrls;
};
