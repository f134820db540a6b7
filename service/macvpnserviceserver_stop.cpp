#include "macvpnserviceserver.h"

#include "tarvexlogging.h"

#include <QCoreApplication>

void MacVpnServiceServer::stop()
{
    // A connect lets the event loop run while it waits for the tunnel; quitting then would
    // let it finish and answer "connected" just before the exit takes the tunnel down.
    if (connectInProgress) {
        qCInfo(lcTarvexService) << "[MacVpnServiceServer] stop requested during a connect";
        stopRequested = true;
        return;
    }
    QCoreApplication::quit();
}

QJsonObject MacVpnServiceServer::undoConnectForStop()
{
    backend->disconnectVpn();
    activePeer = QJsonObject();
    // Queued: the reply is written first.
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                              Qt::QueuedConnection);
    qCWarning(lcTarvexService) << "[MacVpnServiceServer] connect undone: the service is stopping";
    return statusResponse(false, tr("Подключение отменено: служба VPN останавливается"));
}
