#pragma once

#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

// What Qt Quick tests cannot do themselves, published to them as "TestSupport": run
// tarvex-vendor-api on a free port with a temporary data folder, make servers that
// answer late, and clear and read the client's settings. Every call blocks until it is
// done; URLs are returned without a trailing slash.
//
// While it exists, links the interface opens (Qt.openUrlExternally, which goes through
// QDesktopServices::openUrl) are recorded here instead of starting a browser.
class QuickTestSupport : public QObject
{
    Q_OBJECT
    // Read by the tests when they check, never bound.
    Q_PROPERTY(QStringList openedUrls READ openedUrls)

public:
    explicit QuickTestSupport(QObject *parent = nullptr);
    ~QuickTestSupport() override;

    // The vendor API's root URL ("http://127.0.0.1:PORT"), empty (and a warning) when
    // it did not start. Started once; later calls return the running one.
    Q_INVOKABLE QString startVendorApi();
    // SIGTERM, SIGKILL after 5 s; its data stays for the next start.
    Q_INVOKABLE void stopVendorApi();

    // A server on 127.0.0.1 that answers every request with status and the JSON text
    // body only after answerAfterMs: what a time-out, and a reply arriving after it or
    // after later ones, look like. Its root URL.
    Q_INVOKABLE QString startStallingServer(int answerAfterMs, int status, const QString &body);

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
    Q_INVOKABLE void clearOpenedUrls() { m_openedUrls.clear(); }

public slots:
    // The URL handler for every scheme the interface opens.
    void recordOpenedUrl(const QUrl &url) { m_openedUrls.append(url.toString()); }

private:
    QTemporaryDir dataFolder;
    QProcess vendorApi;
    QString vendorApiRoot;
    QStringList m_openedUrls;
};
