// The one Qt Quick Test runner: every static QML module of the client is linked in, and
// each suite is a folder of tst_*.qml files given with -input (tarvex_add_quick_test).

#include "cliententry.h"
#include "quicktestsupport.h"
#include "vpnmanager.h"

#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QtQml/qqmlextensionplugin.h>
#include <QtQuickTest>

Q_IMPORT_QML_PLUGIN(App_ApiPlugin)
Q_IMPORT_QML_PLUGIN(App_StoresPlugin)

class QuickTestSetup : public QObject
{
    Q_OBJECT

public slots:
    void applicationAvailable()
    {
        // Settings land where the client's do, under the test's own XDG_CONFIG_HOME.
        ClientEntry::setApplicationIdentity();
    }

    void qmlEngineAvailable(QQmlEngine *engine)
    {
        // Static modules live in the resources; 6.4 does not look there by itself.
        engine->addImportPath(QStringLiteral("qrc:/"));
        engine->rootContext()->setContextProperty(QStringLiteral("TestSupport"),
                                                  new QuickTestSupport(engine));
        // The name the client publishes its manager under. The whole product's run
        // (e2e_product) gets the client's own, which talks to the daemon; every suite a
        // stand-in that the test scripts.
        QObject *manager = nullptr;
        if (qEnvironmentVariableIsSet("TARVEX_QUICK_REAL_VPN_MANAGER")) {
            manager = new VpnManager(engine);
        } else {
            QQmlComponent standIn(engine,
                                  QUrl::fromLocalFile(QStringLiteral(TARVEX_SCRIPTED_VPN_MANAGER)));
            manager = standIn.create();
            if (!manager)
                qFatal("%s", qPrintable(standIn.errorString()));
            manager->setParent(engine);
        }
        engine->rootContext()->setContextProperty(QStringLiteral("VpnManager"), manager);
    }
};

QUICK_TEST_MAIN_WITH_SETUP(tarvex_quick_tests, QuickTestSetup)

#include "quicktestmain.moc"
