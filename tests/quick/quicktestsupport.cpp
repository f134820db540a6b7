#include "quicktestsupport.h"

#include "testablemacvpnbackend.h"

#include <QDesktopServices>
#include <QFile>
#include <QJsonObject>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {
const char *const capturedSchemes[] = {"http", "https", "mailto"};
}

QuickTestSupport::QuickTestSupport(QObject *parent)
    : QObject(parent)
{
    // Its log lines go to the test's own stderr, where a failure can be read.
    vendorApi.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    for (const char *scheme : capturedSchemes)
        QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "recordOpenedUrl");
}

QuickTestSupport::~QuickTestSupport()
{
    stopVendorApi();
    for (const char *scheme : capturedSchemes)
        QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
}

QString QuickTestSupport::startVendorApi()
{
    if (vendorApi.state() == QProcess::Running)
        return vendorApiRoot;
    vendorApi.start(QStringLiteral(TARVEX_VENDOR_API),
                    {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--data"),
                     dataFolder.path(), QStringLiteral("--servers"),
                     QStringLiteral(TARVEX_VENDOR_API_SERVERS),
                     QStringLiteral("--cheap-password-hashing")});
    while (!vendorApi.canReadLine() && vendorApi.waitForReadyRead(10000)) {
    }
    const QByteArray prefix = "listening on ";
    const QByteArray line = vendorApi.readLine().trimmed();
    if (!dataFolder.isValid() || !line.startsWith(prefix)) {
        qWarning("[QuickTestSupport] tarvex-vendor-api did not start: %s",
                 line.isEmpty() ? qPrintable(vendorApi.errorString()) : line.constData());
        stopVendorApi();
        return QString();
    }
    vendorApiRoot = QString::fromUtf8(line.mid(prefix.size()));
    return vendorApiRoot;
}

void QuickTestSupport::stopVendorApi()
{
    vendorApi.terminate();
    if (!vendorApi.waitForFinished(5000))
        vendorApi.kill();
    vendorApi.waitForFinished(5000);
}

QString QuickTestSupport::startStallingServer(int answerAfterMs, int status, const QString &body)
{
    auto *server = new QTcpServer(this);
    if (!server->listen(QHostAddress::LocalHost)) {
        qWarning("[QuickTestSupport] %s", qPrintable(server->errorString()));
        delete server;
        return QString();
    }
    const QByteArray answer = "HTTP/1.1 " + QByteArray::number(status) +
                              " Answer\r\nContent-Type: application/json\r\nContent-Length: " +
                              QByteArray::number(body.toUtf8().size()) +
                              "\r\nConnection: close\r\n\r\n" + body.toUtf8();
    connect(server, &QTcpServer::newConnection, server, [server, answerAfterMs, answer] {
        while (QTcpSocket *socket = server->nextPendingConnection()) {
            // Kept (and owned by the server) until the client hangs up; a client that
            // gave up meanwhile gets nothing.
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            QTimer::singleShot(answerAfterMs, socket, [socket, answer] {
                if (socket->state() != QAbstractSocket::ConnectedState)
                    return;
                socket->write(answer);
                socket->disconnectFromHost();
            });
        }
    });
    return QStringLiteral("http://127.0.0.1:%1").arg(server->serverPort());
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
