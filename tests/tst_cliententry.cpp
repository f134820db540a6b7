#include "cliententry.h"
#include "vpnmanager.h"

#include <QQmlApplicationEngine>
#include <QTest>

// Whether the client's binary starts, and ends with -1 when its root QML fails, is
// checked on the real program by client_starts.sh.
class TestClientEntry : public QObject
{
    Q_OBJECT

private slots:
    void managerIsPublishedToQml()
    {
        VpnManager manager;
        QQmlApplicationEngine engine;
        ClientEntry::prepareEngine(engine, &manager);
        engine.loadData("import QtQuick\n"
                        "Item { property QtObject manager: VpnManager\n"
                        "       property int state: VpnManager.state }\n");

        QCOMPARE(engine.rootObjects().size(), 1);
        QObject *root = engine.rootObjects().first();
        QCOMPARE(root->property("manager").value<QObject *>(), &manager);
        QCOMPARE(root->property("state").toInt(), int(VpnManager::Disconnected));
    }
};

QTEST_MAIN(TestClientEntry)
#include "tst_cliententry.moc"
