#include "macvpnbackend.h"
#include "macvpnserviceserver.h"
#include "tarvexconfig.h"
#include "terminationsignalwatcher.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Tarvex"));
    QCoreApplication::setOrganizationDomain(QString::fromLatin1(Tarvex::VendorDomain));
    QCoreApplication::setApplicationName(QStringLiteral("TarvexVpnService"));

    TerminationSignalWatcher signalWatcher;

    // Whatever a daemon that died while connected left behind is undone before any client
    // is served.
    auto backend = std::make_unique<MacVpnBackend>();
    backend->recoverFromJournal();
    MacVpnServiceServer server(std::move(backend));

    // Quitting the loop (rather than dying) lets the server and its backend be destroyed,
    // and the backend's destructor undoes whatever the tunnel changed.
    QObject::connect(&signalWatcher, &TerminationSignalWatcher::terminationRequested, &server,
                     &MacVpnServiceServer::stop);
    if (!server.start())
        return 1;
    return app.exec();
}
