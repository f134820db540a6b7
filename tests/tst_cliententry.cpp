#include "cliententry.h"
#include "tarvexconfig.h"
#include "vpnmanager.h"

#include <QCoreApplication>
#include <QFile>
#include <QQmlApplicationEngine>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

namespace {

QUrl writeQml(const QTemporaryDir &dir, const QString &name, const QByteArray &text)
{
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly))
        return QUrl();
    file.write(text);
    return QUrl::fromLocalFile(file.fileName());
}

// Runs the event loop as main does; a loop nobody ends returns the guard's code.
int runEventLoop(int guardCode, int guardMs)
{
    QTimer::singleShot(guardMs, qApp, [guardCode] { QCoreApplication::exit(guardCode); });
    return QCoreApplication::exec();
}

} // namespace

class TestClientEntry : public QObject
{
    Q_OBJECT

private slots:
    void identityPlacesSettings()
    {
        ClientEntry::setApplicationIdentity();
        QCOMPARE(QCoreApplication::organizationName(), QStringLiteral("Tarvex"));
        QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Tarvex"));
        QCOMPARE(QCoreApplication::organizationDomain(), QString::fromLatin1(Tarvex::VendorDomain));
    }

    void managerIsPublishedToQml()
    {
        QTemporaryDir dir;
        const QUrl url = writeQml(dir, QStringLiteral("Root.qml"), R"(
import QtQuick
Item {
    property QtObject manager: VpnManager
    property int state: VpnManager.state
    property bool busy: VpnManager.busy
}
)");
        VpnManager manager;
        QQmlApplicationEngine engine;
        ClientEntry::prepareEngine(engine, &manager);
        engine.load(url);

        QCOMPARE(engine.rootObjects().size(), 1);
        QObject *root = engine.rootObjects().first();
        QCOMPARE(root->property("manager").value<QObject *>(), &manager);
        QCOMPARE(root->property("state").toInt(), int(VpnManager::Disconnected));
        QCOMPARE(root->property("busy").toBool(), false);
        // A root that loads leaves the event loop alone.
        QCOMPARE(runEventLoop(7, 200), 7);
    }

    void rootFailureEndsWithMinusOne()
    {
        QTemporaryDir dir;
        const QUrl url = writeQml(dir, QStringLiteral("Broken.qml"),
                                  "import QtQuick\nItem { property int x: }\n");
        VpnManager manager;
        QQmlApplicationEngine engine;
        ClientEntry::prepareEngine(engine, &manager);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("failed to load component"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Broken\\.qml"));
        engine.load(url);

        QVERIFY(engine.rootObjects().isEmpty());
        QCOMPARE(runEventLoop(1, 5000), -1);
    }
};

QTEST_MAIN(TestClientEntry)
#include "tst_cliententry.moc"
