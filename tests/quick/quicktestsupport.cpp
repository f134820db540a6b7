#include "quicktestsupport.h"

#include <QDesktopServices>
#include <QFile>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

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
    for (const char *scheme : capturedSchemes)
        QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
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
