#include "cliententry.h"
#include "vpnmanager.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QtQml/qqmlextensionplugin.h>

#ifdef Q_OS_MACOS
#include "macdaemonservice.h"
#endif

Q_IMPORT_QML_PLUGIN(App_ApiPlugin)
Q_IMPORT_QML_PLUGIN(App_StoresPlugin)

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    ClientEntry::setApplicationIdentity();
#ifdef Q_OS_MACOS
    // Before anything asks the daemon: registered at the first start, replaced after an
    // update.
    MacDaemonService::ensureCurrent();
#endif

    // Declared before the engine so that the engine, and every binding to the
    // manager, is gone before the manager is.
    VpnManager manager;
    QQmlApplicationEngine engine;
    ClientEntry::prepareEngine(engine, &manager);
    ClientEntry::loadWindow(engine);
    return app.exec();
}
