#include "cliententry.h"

#include "tarvexconfig.h"
#include "vpnmanager.h"

#include <QCoreApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QUrl>

void ClientEntry::setApplicationIdentity()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Tarvex"));
    QCoreApplication::setOrganizationDomain(QString::fromLatin1(Tarvex::VendorDomain));
    QCoreApplication::setApplicationName(QStringLiteral("Tarvex"));
}

void ClientEntry::prepareEngine(QQmlApplicationEngine &engine, VpnManager *manager)
{
    // Static QML modules live in the resources; 6.4 does not look there by itself.
    engine.addImportPath(QStringLiteral("qrc:/"));
    engine.rootContext()->setContextProperty(QStringLiteral("VpnManager"), manager);
    // Queued: the failure is reported inside load(), before the event loop runs, and
    // an exit() requested then would be lost.
    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreationFailed, &engine,
        [] { QCoreApplication::exit(-1); }, Qt::QueuedConnection);
}

void ClientEntry::loadWindow(QQmlApplicationEngine &engine)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    engine.loadFromModule(QStringLiteral("vpn-client"), QStringLiteral("Main"));
#else
    engine.load(QUrl(QStringLiteral("qrc:/vpn-client/Main.qml")));
#endif
}
