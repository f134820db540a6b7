#include "quicktestsupport.h"

#include "fakeservicedaemon.h"
#include "stallinghttpserver.h"
#include "testablemacvpnbackend.h"

#include <QDesktopServices>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QSettings>
#include <QTcpServer>
#include <QUrlQuery>

namespace {
const char *const capturedSchemes[] = {"http", "https", "mailto"};
}

QuickTestSupport::QuickTestSupport(QObject *parent)
    : QObject(parent)
    , vendorApi(QStringLiteral(TARVEX_VENDOR_API), QStringLiteral(TARVEX_VENDOR_API_SERVERS))
{
    for (const char *scheme : capturedSchemes)
        QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "recordOpenedUrl");
}

QuickTestSupport::~QuickTestSupport()
{
    // Gone before the engine's VpnManager could ask it anything more.
    serviceDaemon.reset();
    for (const char *scheme : capturedSchemes)
        QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
}

void QuickTestSupport::clearOpenedUrls()
{
    m_openedUrls.clear();
    emit openedUrlsChanged();
}

void QuickTestSupport::recordOpenedUrl(const QUrl &url)
{
    m_openedUrls.append(url.toString());
    emit openedUrlsChanged();
}

QString QuickTestSupport::startVendorApi()
{
    if (vendorApi.isRunning())
        return vendorApi.rootUrl().toString();
    if (!dataFolder.isValid() || !vendorApi.start(dataFolder.path())) {
        qWarning("[QuickTestSupport] %s", qPrintable(vendorApi.errorString()));
        return QString();
    }
    return vendorApi.rootUrl().toString();
}

void QuickTestSupport::stopVendorApi()
{
    vendorApi.stop();
}

QString QuickTestSupport::restartVendorApi()
{
    vendorApi.stop();
    return startVendorApi();
}

QVariantList QuickTestSupport::requestLog(int limit)
{
    const QString query = limit < 0 ? QString() : QStringLiteral("?limit=%1").arg(limit);
    return QJsonDocument::fromJson(fetch("GET", QStringLiteral("/dev/requests") + query))
        .object()
        .value(QStringLiteral("data"))
        .toArray()
        .toVariantList();
}

void QuickTestSupport::clearRequestLog()
{
    fetch("DELETE", QStringLiteral("/dev/requests"));
}

QVariantList QuickTestSupport::outbox(const QString &email)
{
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("email"), email);
    return QJsonDocument::fromJson(
               fetch("GET", QStringLiteral("/dev/outbox?") + query.toString(QUrl::FullyEncoded)))
        .object()
        .value(QStringLiteral("data"))
        .toArray()
        .toVariantList();
}

QString QuickTestSupport::startStallingServer(int answerAfterMs, int status, const QString &body)
{
    auto *server = new StallingHttpServer(answerAfterMs, status, body.toUtf8(), this);
    if (!server->listen(QHostAddress::LocalHost)) {
        qWarning("[QuickTestSupport] %s", qPrintable(server->errorString()));
        delete server;
        return QString();
    }
    stallingServers.append(server);
    return QStringLiteral("http://127.0.0.1:%1").arg(server->serverPort());
}

int QuickTestSupport::stalledConnections() const
{
    int count = 0;
    for (const StallingHttpServer *server : stallingServers)
        count += server->connectionCount();
    return count;
}

QString QuickTestSupport::closedPortUrl() const
{
    // Free a moment ago; nothing else on this machine races tests for ports.
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost))
        return QString();
    const quint16 port = probe.serverPort();
    probe.close();
    return QStringLiteral("http://127.0.0.1:%1").arg(port);
}

void QuickTestSupport::startServiceDaemon()
{
    if (serviceDaemon)
        return;
    serviceDaemon = std::make_unique<FakeServiceDaemon>();
    serviceDaemon->answerSuccess();
}

QVariantList QuickTestSupport::serviceDaemonRequests() const
{
    QVariantList requests;
    if (serviceDaemon) {
        for (const QJsonObject &request : serviceDaemon->requests())
            requests.append(request.toVariantMap());
    }
    return requests;
}

void QuickTestSupport::clearSettings(const QStringList &groups)
{
    QSettings settings;
    for (const QString &group : groups)
        settings.remove(group);
}

QString QuickTestSupport::settingsFileText() const
{
    QSettings settings;
    settings.sync();
    QFile file(settings.fileName());
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

QByteArray QuickTestSupport::fetch(const QByteArray &method, const QString &path)
{
    if (!vendorApi.isRunning()) {
        qWarning("[QuickTestSupport] tarvex-vendor-api is not running");
        return QByteArray();
    }
    QNetworkRequest request(QUrl(vendorApi.rootUrl().toString() + path));
    request.setTransferTimeout(10000);
    QNetworkReply *reply = network.sendCustomRequest(request, method);
    QEventLoop loop;
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const QByteArray body = reply->readAll();
    reply->deleteLater();
    return body;
}

QVariantMap QuickTestSupport::splitTunnelAsDaemonReads(const QVariantMap &peer,
                                                       const QVariantMap &hosts) const
{
    TestableMacVpnBackend backend;
    for (auto host = hosts.cbegin(); host != hosts.cend(); ++host) {
        QList<QHostAddress> addresses;
        for (const QString &address : host.value().toStringList())
            addresses.append(QHostAddress(address));
        backend.hosts.insert(host.key(), addresses);
    }
    // As MacVpnServiceClientBackend sends it and MacVpnServiceServer hands it on.
    const QVariantMap received = QJsonObject::fromVariantMap(peer).toVariantMap();
    backend.splitSettings = backend.splitTunnelFromPeer(received);
    return {{QStringLiteral("enabled"), backend.splitSettings.enabled},
            {QStringLiteral("mode"), backend.splitSettings.mode},
            {QStringLiteral("entries"), backend.splitSettings.entries},
            {QStringLiteral("routes"), backend.splitTunnelRoutes()}};
}
