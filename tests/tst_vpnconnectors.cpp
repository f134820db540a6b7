#include "amneziav1connector.h"
#include "amneziav2connector.h"
#include "fakeservicedaemon.h"
#include "platformvpnbackend.h"
#include "vpnconfigfixture.h"
#include "vpnconnectorfactory.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QMutex>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <memory>

namespace {

// The threads status changes happened on: the worker thread records, the test reads.
struct StatusThreads
{
    QMutex mutex;
    QList<QThread *> threads;
};

// A connector whose backends the test can watch: how many were made, and on which
// thread each status change happened.
class ObservedConnector : public AmneziaV1Connector
{
public:
    QList<QPointer<PlatformVpnBackend>> created;
    // Shared: a backend may outlive its connector and still report.
    std::shared_ptr<StatusThreads> statusThreads = std::make_shared<StatusThreads>();

protected:
    PlatformVpnBackend *createBackend() override
    {
        PlatformVpnBackend *backend = AmneziaV1Connector::createBackend();
        created.append(backend);
        // Direct: runs wherever the backend emits, which must be its worker thread. Tied to
        // the backend, not the connector: a test may delete the connector while its backend
        // still reports from the worker thread.
        QObject::connect(
            backend, &PlatformVpnBackend::statusChanged, backend,
            [record = statusThreads] {
                QMutexLocker lock(&record->mutex);
                record->threads.append(QThread::currentThread());
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
    QJsonArray containers = document.value(QStringLiteral("containers")).toArray();
    QJsonObject first = containers.at(0).toObject();
    QJsonObject awg = first.value(QStringLiteral("awg")).toObject();
    if (!version.isUndefined())
        awg.insert(QStringLiteral("protocol_version"), version);
    first.insert(QStringLiteral("awg"), awg);
    containers[0] = first;
    document.insert(QStringLiteral("containers"), containers);
    return {{"id", 11}, {"protocol", protocol}, {"config", VpnConfigFixture::encode(document)}};
}

} // namespace

class TestVpnConnectors : public QObject
{
    Q_OBJECT

private slots:
    void factoryChoosesByTrimmedProtocol_data()
    {
        QTest::addColumn<QString>("protocol");
        QTest::addColumn<int>("version"); // 0: refused

        QTest::newRow("v1, padded") << " amnezia-v1 " << 1;
        QTest::newRow("v2, tab and newline") << "\tamnezia-v2\n" << 2;
        QTest::newRow("other case") << "Amnezia-v1" << 0;
        QTest::newRow("wireguard") << "wireguard" << 0;
    }

    void factoryChoosesByTrimmedProtocol()
    {
        QFETCH(QString, protocol);
        QFETCH(int, version);

        const QVariantMap peer{{QStringLiteral("protocol"), protocol}};
        QObject owner;
        VpnConnector *connector = VpnConnectorFactory::create(peer, &owner);
        QCOMPARE(VpnConnectorFactory::isSupported(peer), version != 0);
        QCOMPARE(bool(qobject_cast<AmneziaV1Connector *>(connector)), version == 1);
        QCOMPARE(bool(qobject_cast<AmneziaV2Connector *>(connector)), version == 2);
        QVERIFY(!connector || connector->parent() == &owner);
    }

    void acceptance_data()
    {
        QTest::addColumn<int>("version");
        QTest::addColumn<QVariantMap>("peer");
        QTest::addColumn<QString>("error"); // empty: accepted, reaches the daemon

        const QString v1 = QStringLiteral("amnezia-v1");
        const QString v2 = QStringLiteral("amnezia-v2");
        const QString awg2 = QStringLiteral("amnezia-awg2");
        const QString notV1 = QStringLiteral("VPN-конфигурация не является Amnezia v1");
        const QString notV2 = QStringLiteral("VPN-конфигурация не является Amnezia v2");

        QTest::newRow("v1 document") << 1 << peerFor(v1) << "";
        // The factory trims the protocol, the connector does not.
        QTest::newRow("v1 refuses a padded protocol")
            << 1 << peerFor(" " + v1) << "Протокол соединения не поддерживается Amnezia v1";
        QTest::newRow("v1 refuses awg2") << 1 << peerFor(v1, awg2, "2") << notV1;
        QTest::newRow("v2 document, version text 2") << 2 << peerFor(v2, awg2, "2") << "";
        QTest::newRow("v2 refuses version number 2") << 2 << peerFor(v2, awg2, 2) << notV2;
        QTest::newRow("v2 refuses awg container with version 2")
            << 2 << peerFor(v2, "amnezia-awg", "2") << notV2;
        QTest::newRow("v2 refuses a v1 peer")
            << 2 << peerFor(v1, awg2, "2") << "Протокол соединения не поддерживается Amnezia v2";
        QVariantMap unparsable = peerFor(v1);
        unparsable.insert(QStringLiteral("config"), QStringLiteral("   "));
        QTest::newRow("parser's own text") << 1 << unparsable << "Конфигурация соединения пустая";
    }

    void acceptance()
    {
        QFETCH(int, version);
        QFETCH(QVariantMap, peer);
        QFETCH(QString, error);

        FakeServiceDaemon daemon;
        daemon.answerSuccess();
        AmneziaConnector *connector = version == 1
                                          ? static_cast<AmneziaConnector *>(new AmneziaV1Connector)
                                          : new AmneziaV2Connector;
        QSignalSpy connected(connector, &VpnConnector::connected);
        QSignalSpy disconnected(connector, &VpnConnector::disconnected);
        QSignalSpy errors(connector, &VpnConnector::errorOccurred);
        connector->connectPeer(peer);

        if (!error.isEmpty()) {
            QCOMPARE(errors.count(), 1); // before connectPeer returned
            QCOMPARE(errors.at(0).at(0).toString(), error);
            QVERIFY(!connector->findChild<QThread *>());
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
                 version == 1 ? "amnezia-awg" : "amnezia-awg2");
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
        auto *connector = new ObservedConnector;
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

    void backendRunsOnWorkerThreadAndSurvivesFailedDisconnect()
    {
        FakeServiceDaemon daemon;
        daemon.answerSuccess();
        daemon.setReply("disconnect", FakeServiceDaemon::failReply("error", "Маршруты не сняты"));
        ObservedConnector connector;
        QList<QThread *> signalThreads;
        const auto record = [&signalThreads] {
            signalThreads.append(QThread::currentThread());
        };
        connect(&connector, &VpnConnector::connected, this, record);
        connect(&connector, &VpnConnector::disconnected, this, record);
        connect(&connector, &VpnConnector::errorOccurred, this, record);
        const auto signalsArrived = [&signalThreads](int count) {
            return QTest::qWaitFor([&] { return signalThreads.size() == count; }, 5000);
        };

        connector.connectPeer(peerFor("amnezia-v1"));
        QPointer<QThread> worker = connector.findChild<QThread *>();
        QThread *const workerThread = worker; // compared by address once it is gone
        QVERIFY(worker && worker != QThread::currentThread());
        QVERIFY(signalsArrived(1)); // connected

        // A failed disconnect keeps backend and thread: the retry must reach the daemon.
        connector.disconnectVpn();
        QVERIFY(signalsArrived(2));
        QCOMPARE(connector.lastError(), QStringLiteral("Маршруты не сняты"));
        QVERIFY(worker && worker->isRunning());
        daemon.setReply("disconnect", FakeServiceDaemon::okReply("disconnected"));
        connector.disconnectVpn();
        QVERIFY(signalsArrived(3)); // disconnected

        QCOMPARE(daemon.commands(), QStringList({"connect", "disconnect", "disconnect"}));
        QCOMPARE(connector.created.size(), 1);
        {
            StatusThreads &record = *connector.statusThreads;
            QMutexLocker lock(&record.mutex);
            QVERIFY(!record.threads.isEmpty());
            QCOMPARE(record.threads.count(workerThread), record.threads.size());
        }
        QCOMPARE(signalThreads, QList<QThread *>(3, QThread::currentThread()));
        // Released before disconnected() reached us: thread gone, backend deleted with it.
        QVERIFY(!worker);
        QVERIFY(!connector.created.at(0));
    }
};

QTEST_GUILESS_MAIN(TestVpnConnectors)
#include "tst_vpnconnectors.moc"
