#include "amneziav1connector.h"
#include "amneziav2connector.h"
#include "fakeservicedaemon.h"
#include "platformvpnbackend.h"
#include "vpnconfigfixture.h"
#include "vpnconnectorfactory.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>

namespace {

// A connector that counts its backend's status changes made on the interface's thread,
// where the blocking talk with the daemon would freeze the window. Shared: a backend may
// outlive its connector and still report.
class ObservedConnector : public AmneziaV1Connector
{
public:
    QPointer<PlatformVpnBackend> backend;
    struct Counts
    {
        std::atomic<int> all{0}, onMainThread{0};
    };
    std::shared_ptr<Counts> counts = std::make_shared<Counts>();

protected:
    PlatformVpnBackend *createBackend() override
    {
        backend = AmneziaV1Connector::createBackend();
        QObject::connect(
            backend, &PlatformVpnBackend::statusChanged, backend,
            [counts = counts] {
                ++counts->all;
                counts->onMainThread += QThread::currentThread() == qApp->thread();
            },
            Qt::DirectConnection);
        return backend;
    }
};

// A peer with an AmneziaWG document under the given container name, its settings'
// "protocol_version" set unless version is Undefined.
QVariantMap peerFor(const QString &protocol, const QString &container = "amnezia-awg",
                    const QJsonValue &version = QJsonValue::Undefined)
{
    QJsonObject document =
        VpnConfigFixture::awgDocument(VpnConfigFixture::sampleLastConfig(), container);
    QJsonArray containers = document.value("containers").toArray();
    QJsonObject first = containers.at(0).toObject();
    QJsonObject awg = first.value("awg").toObject();
    if (!version.isUndefined())
        awg.insert("protocol_version", version);
    first.insert("awg", awg);
    containers[0] = first;
    document.insert("containers", containers);
    return {{"id", 11}, {"protocol", protocol}, {"config", VpnConfigFixture::encode(document)}};
}

} // namespace

class TestVpnConnectors : public QObject
{
    Q_OBJECT

private slots:
    // The factory picks the connector by the trimmed protocol, case and all; the connector
    // itself does not trim.
    void acceptance_data()
    {
        QTest::addColumn<QVariantMap>("peer");
        // Empty: accepted, reaches the daemon. (The parser's own text passed on is
        // tst_vpnmanager's unusablePeersFailWithinTheCall.)
        QTest::addColumn<QString>("error");

        const QString v1 = "amnezia-v1", v2 = "amnezia-v2", awg2 = "amnezia-awg2";
        const QString notV1 = "VPN-конфигурация не является Amnezia v1";
        const QString notV2 = "VPN-конфигурация не является Amnezia v2";
        const auto row = [](const char *name, const QVariantMap &peer, const QString &error) {
            QTest::newRow(name) << peer << error;
        };
        row("v1 document", peerFor(v1), "");
        row("v1, padded", peerFor(" " + v1 + " "),
            "Протокол соединения не поддерживается Amnezia v1");
        row("v2, tab and newline", peerFor("\t" + v2 + "\n", awg2, "2"),
            "Протокол соединения не поддерживается Amnezia v2");
        row("other case", peerFor("Amnezia-v1"), "no connector");
        row("v1 refuses awg2", peerFor(v1, awg2, "2"), notV1);
        row("v2 document, version text 2", peerFor(v2, awg2, "2"), "");
        row("v2 refuses version number 2", peerFor(v2, awg2, 2), notV2);
        row("v2 refuses awg container with version 2", peerFor(v2, "amnezia-awg", "2"), notV2);
    }

    void acceptance()
    {
        QFETCH(QVariantMap, peer);
        QFETCH(QString, error);

        FakeServiceDaemon daemon;
        daemon.answerSuccess();
        QObject owner;
        VpnConnector *connector = VpnConnectorFactory::create(peer, &owner);
        QCOMPARE(VpnConnectorFactory::isSupported(peer), error != "no connector");
        if (!connector) {
            QCOMPARE(error, "no connector");
            return;
        }
        const bool v1 = qobject_cast<AmneziaV1Connector *>(connector);
        QSignalSpy connected(connector, &VpnConnector::connected);
        QSignalSpy disconnected(connector, &VpnConnector::disconnected);
        QSignalSpy errors(connector, &VpnConnector::errorOccurred);
        connector->connectPeer(peer);

        if (!error.isEmpty()) {
            QCOMPARE(errors.count(), 1); // before connectPeer returned
            QCOMPARE(errors.at(0).at(0).toString(), error);
            // Nothing started, so there is nothing to wait for.
            connector->disconnectVpn();
            QCOMPARE(disconnected.count(), 1);
            delete connector;
            QVERIFY(daemon.requests().isEmpty());
            return;
        }
        QVERIFY(connected.wait(5000));
        const QJsonObject request = daemon.requests().value(0);
        QCOMPARE(request.value("config").toObject().value("container").toString(),
                 v1 ? "amnezia-awg" : "amnezia-awg2");
        QCOMPARE(request.value("peer").toObject(), QJsonObject::fromVariantMap(peer));

        // Deleting a connector stops its worker but is no disconnect: the tunnel stays up.
        QPointer<QThread> worker = connector->findChild<QThread *>();
        QVERIFY(worker);
        delete connector;
        QVERIFY(!worker);
        QCOMPARE(daemon.commands(), QStringList{"connect"});
    }

    // Dropping a connector whose connect still waits for the daemon must not freeze the
    // interface; the request ends as soon as the daemon goes away, and the thread with it.
    void droppingABusyConnectorDoesNotBlock()
    {
        FakeServiceDaemon daemon;
        daemon.setAnswer("connect", {FakeServiceDaemon::Answer::Silent, {}});
        auto *connector = new AmneziaV1Connector;
        connector->connectPeer(peerFor("amnezia-v1"));
        QTRY_COMPARE(daemon.commands(), QStringList{"connect"});
        QPointer<QThread> worker = connector->findChild<QThread *>();

        QElapsedTimer timer;
        timer.start();
        delete connector;
        QVERIFY2(timer.elapsed() < 1500, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(worker && worker->isRunning());

        daemon.stop();
        QTRY_VERIFY_WITH_TIMEOUT(!worker, 3000);
    }

    // The backend works on the worker thread only, and goes with it once disconnected. (A
    // failed disconnect keeping both for the retry is tst_vpnmanager's
    // connectWhileBusyOrConnected.)
    void backendLivesOnTheWorkerThread()
    {
        FakeServiceDaemon daemon;
        daemon.answerSuccess();
        ObservedConnector connector;
        QSignalSpy connected(&connector, &VpnConnector::connected);
        QSignalSpy disconnected(&connector, &VpnConnector::disconnected);
        connector.connectPeer(peerFor("amnezia-v1"));
        QPointer<QThread> worker = connector.findChild<QThread *>();
        QVERIFY(worker && worker != QThread::currentThread());
        QVERIFY(connected.wait(5000));
        connector.disconnectVpn();
        QVERIFY(disconnected.wait(5000));

        QCOMPARE(daemon.commands(), QStringList({"connect", "disconnect"}));
        QVERIFY(connector.counts->all > 0);
        QCOMPARE(connector.counts->onMainThread.load(), 0);
        // Released before disconnected() reached us: thread gone, backend deleted with it.
        QVERIFY(!worker);
        QVERIFY(!connector.backend);
    }
};

QTEST_GUILESS_MAIN(TestVpnConnectors)
#include "tst_vpnconnectors.moc"
