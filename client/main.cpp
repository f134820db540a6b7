#include "tarvexconfig.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(vpn_clientPlugin)

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Tarvex"));
    QCoreApplication::setOrganizationDomain(QString::fromLatin1(Tarvex::VendorDomain));
    QCoreApplication::setApplicationName(QStringLiteral("Tarvex"));

    QQmlApplicationEngine engine;
    // Static QML modules live in the resources; 6.4 does not look there by itself.
    engine.addImportPath(QStringLiteral("qrc:/"));
    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreationFailed, &app,
        [] { QCoreApplication::exit(-1); }, Qt::QueuedConnection);
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    engine.loadFromModule(QStringLiteral("vpn-client"), QStringLiteral("Main"));
#else
    engine.load(QUrl(QStringLiteral("qrc:/vpn-client/Main.qml")));
#endif
    return app.exec();
}
