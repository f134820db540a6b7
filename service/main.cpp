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

    // Quitting the loop (rather than dying) lets the server and its backend be destroyed,
    // and the backend's destructor undoes whatever the tunnel changed.
    TerminationSignalWatcher signalWatcher;
    MacVpnServiceServer server;
    QObject::connect(&signalWatcher, &TerminationSignalWatcher::terminationRequested, &server,
                     &MacVpnServiceServer::stop);
    if (!server.start())
        return 1;
    return app.exec();
}
