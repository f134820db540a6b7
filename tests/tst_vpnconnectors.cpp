#include "amneziav1connector.h"
#include "amneziav2connector.h"
#include "fakeservicedaemon.h"
#include "platformvpnbackend.h"
#include "vpnconfigfixture.h"
#include "vpnconnectorfactory.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

namespace {

// A connector whose backends the test can watch: which thread each status change
// happens on, and how many backends were made. withholdBackend plays a platform
// without a backend.
template<class Connector> class ObservedConnector : public Connector
{
public:
    using Connector::Connector;

    QList<QThread *> statusThreads() const
    {
        QMutexLocker lock(&mutex);
        return threads;
    }
    QList<PlatformVpnBackend::Status> statuses() const
    {
        QMutexLocker lock(&mutex);
        return seen;
    }

    bool withholdBackend = false;
    QList<QPointer<PlatformVpnBackend>> created;

protected:
    PlatformVpnBackend *createBackend() override
    {
        if (withholdBackend)
            return nullptr;
        PlatformVpnBackend *backend = Connector::createBackend();
        created.append(backend);
        // Direct: runs wherever the backend emits, which must be its worker thread.
        QObject::connect(
            backend, &PlatformVpnBackend::statusChanged, backend,
            [this](PlatformVpnBackend::Status status) {
                QMutexLocker lock(&mutex);
                threads.append(QThread::currentThread());
                seen.append(status);
            },
            Qt::DirectConnection);
        return backend;
    }

private:
    mutable QMutex mutex;
    QList<QThread *> threads;
    QList<PlatformVpnBackend::Status> seen;
};

QJsonObject v1Document()
{
    return VpnConfigFixture::awgDocument(VpnConfigFixture::sampleLastConfig());
}

// A second-generation document; version Undefined leaves "protocol_version" out.
QJsonObject v2Document(const QJsonValue &version,
                       const QString &container = QStringLiteral("amnezia-awg2"))
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
    return document;
}

// Plain WireGuard: the container's settings stand under "wireguard".
QJsonObject wireguardDocument()
{
    const QJsonObject wireguard{
        {QStringLiteral("last_config"),
         QString::fromUtf8(
             QJsonDocument(VpnConfigFixture::sampleLastConfig()).toJson(QJsonDocument::Compact))},
    };
    return QJsonObject{
        {QStringLiteral("containers"),
         QJsonArray{QJsonObject{{QStringLiteral("container"), QStringLiteral("amnezia-wireguard")},
                                {QStringLiteral("wireguard"), wireguard}}}},
        {QStringLiteral("defaultContainer"), QStringLiteral("amnezia-wireguard")},
        {QStringLiteral("hostName"), QStringLiteral("198.51.100.10")},
    };
}

QVariantMap peerFor(const QString &protocol, const QJsonObject &document)
{
    return QVariantMap{
        {QStringLiteral("id"), 11},
        {QStringLiteral("name"), QStringLiteral("Vilnius")},
        {QStringLiteral("protocol"), protocol},
        {QStringLiteral("config"), VpnConfigFixture::encode(document)},
    };
}

void scriptHappyDaemon(FakeServiceDaemon &daemon)
{
    daemon.setAnswer(QStringLiteral("connect"),
                     FakeServiceDaemon::reply(FakeServiceDaemon::okReply("connected")));
    daemon.setAnswer(QStringLiteral("disconnect"),
                     FakeServiceDaemon::reply(FakeServiceDaemon::okReply("disconnected")));
}

AmneziaConnector *makeConnector(const QString &kind, QObject *parent)
{
    if (kind == QLatin1String("v1"))
        return new AmneziaV1Connector(parent);
    return new AmneziaV2Connector(parent);
}

} // namespace

class TestVpnConnectors : public QObject
{
    Q_OBJECT

private slots:
    void factoryChoosesByTrimmedProtocol_data()
    {
        QTest::addColumn<QVariant>("protocol");
        QTest::addColumn<QString>("connectorClass");

        QTest::newRow("v1") << QVariant("amnezia-v1") << "AmneziaV1Connector";
        QTest::newRow("v2") << QVariant("amnezia-v2") << "AmneziaV2Connector";
        QTest::newRow("v1, padded") << QVariant(" amnezia-v1 ") << "AmneziaV1Connector";
        QTest::newRow("v2, tab and newline") << QVariant("\tamnezia-v2\n") << "AmneziaV2Connector";
        QTest::newRow("other case") << QVariant("Amnezia-v1") << "";
        QTest::newRow("unknown version") << QVariant("amnezia-v3") << "";
        QTest::newRow("wireguard") << QVariant("wireguard") << "";
        QTest::newRow("empty") << QVariant("") << "";
        QTest::newRow("missing") << QVariant() << "";
    }

    void factoryChoosesByTrimmedProtocol()
    {
        QFETCH(QVariant, protocol);
        QFETCH(QString, connectorClass);

        QVariantMap peer{{QStringLiteral("name"), QStringLiteral("x")}};
        if (protocol.isValid())
            peer.insert(QStringLiteral("protocol"), protocol);

        QObject owner;
        if (connectorClass.isEmpty())
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression("^\\[VpnConnectorFactory\\] unsupported"));
        VpnConnector *connector = VpnConnectorFactory::create(peer, &owner);

        QCOMPARE(VpnConnectorFactory::isSupported(peer), !connectorClass.isEmpty());
        if (connectorClass.isEmpty()) {
            QVERIFY(!connector);
            return;
        }
        QVERIFY(connector);
        QCOMPARE(QString::fromLatin1(connector->metaObject()->className()), connectorClass);
        QCOMPARE(connector->parent(), &owner);
        QCOMPARE(connector->protocol(), VpnConnectorFactory::protocolFromPeer(peer));
    }

    void paddedProtocolReachesConnectorButFails()
    {
        FakeServiceDaemon daemon;
        scriptHappyDaemon(daemon);
        const QVariantMap peer = peerFor(QStringLiteral(" amnezia-v1"), v1Document());

        QObject owner;
        VpnConnector *connector = VpnConnectorFactory::create(peer, &owner);
        QVERIFY(qobject_cast<AmneziaV1Connector *>(connector));
        QVERIFY(!connector->canHandle(peer));

        QSignalSpy errors(connector, &VpnConnector::errorOccurred);
        connector->connectPeer(peer);
        QCOMPARE(errors.count(), 1); // before connectPeer returned
        QCOMPARE(connector->lastError(),
                 QStringLiteral("Протокол соединения не поддерживается Amnezia v1"));
        QVERIFY(daemon.requests().isEmpty());
    }

    void acceptance_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QVariantMap>("peer");
        QTest::addColumn<QString>("error"); // empty: accepted, reaches the daemon

        const QString v1 = QStringLiteral("amnezia-v1");
        const QString v2 = QStringLiteral("amnezia-v2");
        const QString notV1 = QStringLiteral("VPN-конфигурация не является Amnezia v1");
        const QString notV2 = QStringLiteral("VPN-конфигурация не является Amnezia v2");

        QTest::newRow("v1 document") << "v1" << peerFor(v1, v1Document()) << "";
        QTest::newRow("v1 refuses awg2 container") << "v1" << peerFor(v1, v2Document("2")) << notV1;
        QTest::newRow("v1 refuses wireguard") << "v1" << peerFor(v1, wireguardDocument()) << notV1;
        QTest::newRow("v2 document, version text 2") << "v2" << peerFor(v2, v2Document("2")) << "";
        QTest::newRow("v2 refuses version number 2") << "v2" << peerFor(v2, v2Document(2)) << notV2;
        QTest::newRow("v2 refuses missing version")
            << "v2" << peerFor(v2, v2Document(QJsonValue::Undefined)) << notV2;
        QTest::newRow("v2 refuses version 3") << "v2" << peerFor(v2, v2Document("3")) << notV2;
        QTest::newRow("v2 refuses awg container even with version 2")
            << "v2" << peerFor(v2, v2Document("2", QStringLiteral("amnezia-awg"))) << notV2;
        QTest::newRow("v2 refuses wireguard") << "v2" << peerFor(v2, wireguardDocument()) << notV2;
        QTest::newRow("v2 refuses a v1 peer")
            << "v2" << peerFor(v1, v2Document("2"))
            << QStringLiteral("Протокол соединения не поддерживается Amnezia v2");

        QVariantMap unparsable = peerFor(v1, v1Document());
        unparsable.insert(QStringLiteral("config"), QStringLiteral("   "));
        QTest::newRow("parser's own text")
            << "v1" << unparsable << QStringLiteral("Конфигурация соединения пустая");
    }

    void acceptance()
    {
        QFETCH(QString, kind);
        QFETCH(QVariantMap, peer);
        QFETCH(QString, error);

        FakeServiceDaemon daemon;
        scriptHappyDaemon(daemon);
        QObject owner;
        AmneziaConnector *connector = makeConnector(kind, &owner);
        QSignalSpy connected(connector, &VpnConnector::connected);
        QSignalSpy errors(connector, &VpnConnector::errorOccurred);

        connector->connectPeer(peer);

        if (!error.isEmpty()) {
            QCOMPARE(errors.count(), 1);
            QCOMPARE(errors.at(0).at(0).toString(), error);
            QCOMPARE(connector->lastError(), error);
            QVERIFY(!connector->findChild<QThread *>());
            QTest::qWait(50);
            QVERIFY(daemon.requests().isEmpty());
            return;
        }
        QVERIFY(connected.wait(5000));
        QCOMPARE(errors.count(), 0);
        QCOMPARE(daemon.commands(), QStringList{"connect"});
        const QJsonObject request = daemon.requests().at(0);
        QCOMPARE(request.value("config").toObject().value("container").toString(),
                 kind == QLatin1String("v1") ? "amnezia-awg" : "amnezia-awg2");
        QCOMPARE(request.value("peer").toObject(), QJsonObject::fromVariantMap(peer));
    }

    void disconnectWithoutBackendAnswersAtOnce()
    {
        QObject owner;
        AmneziaV1Connector fresh(&owner);
        QSignalSpy freshDisconnected(&fresh, &VpnConnector::disconnected);
        fresh.disconnectVpn();
        QCOMPARE(freshDisconnected.count(), 1);

        AmneziaV2Connector refused(&owner);
        QSignalSpy refusedDisconnected(&refused, &VpnConnector::disconnected);
        refused.connectPeer(peerFor(QStringLiteral("amnezia-v2"), v1Document()));
        refused.disconnectVpn();
        QCOMPARE(refusedDisconnected.count(), 1);
    }

    void noPlatformBackend()
    {
        ObservedConnector<AmneziaV1Connector> connector;
        connector.withholdBackend = true;
        QSignalSpy errors(&connector, &VpnConnector::errorOccurred);
        connector.connectPeer(peerFor(QStringLiteral("amnezia-v1"), v1Document()));
        QCOMPARE(errors.count(), 1);
        QCOMPARE(connector.lastError(), QStringLiteral("VPN-платформа пока не поддерживается"));
        QVERIFY(!connector.findChild<QThread *>());
    }

    void backendRunsOnWorkerThread()
    {
        FakeServiceDaemon daemon;
        scriptHappyDaemon(daemon);
        ObservedConnector<AmneziaV1Connector> connector;
        QList<QThread *> signalThreads;
        const auto record = [&signalThreads] {
            signalThreads.append(QThread::currentThread());
        };
        connect(&connector, &VpnConnector::connected, this, record);
        connect(&connector, &VpnConnector::disconnected, this, record);
        QSignalSpy connected(&connector, &VpnConnector::connected);
        QSignalSpy disconnected(&connector, &VpnConnector::disconnected);

        connector.connectPeer(peerFor(QStringLiteral("amnezia-v1"), v1Document()));
        QPointer<QThread> worker = connector.findChild<QThread *>();
        QVERIFY(worker);
        QVERIFY(connected.wait(5000));

        QCOMPARE(connector.created.size(), 1);
        QCOMPARE(connector.statuses(),
                 QList<PlatformVpnBackend::Status>(
                     {PlatformVpnBackend::Connecting, PlatformVpnBackend::Connected}));
        for (QThread *thread : connector.statusThreads())
            QCOMPARE(thread, worker.data());
        QVERIFY(worker != QThread::currentThread());

        connector.disconnectVpn();
        QVERIFY(disconnected.wait(5000));
        QCOMPARE(signalThreads,
                 QList<QThread *>({QThread::currentThread(), QThread::currentThread()}));
        QCOMPARE(daemon.commands(), QStringList({"connect", "disconnect"}));
        // Released before disconnected() reached us: thread gone, backend deleted with it.
        QVERIFY(!worker);
        QVERIFY(!connector.created.at(0));
    }

    void failedDisconnectKeepsBackendForRetry()
    {
        FakeServiceDaemon daemon;
        scriptHappyDaemon(daemon);
        daemon.setAnswer(
            QStringLiteral("disconnect"),
            FakeServiceDaemon::reply(FakeServiceDaemon::failReply("error", "Маршруты не сняты")));
        ObservedConnector<AmneziaV2Connector> connector;
        QSignalSpy connected(&connector, &VpnConnector::connected);
        QSignalSpy disconnected(&connector, &VpnConnector::disconnected);
        QSignalSpy errors(&connector, &VpnConnector::errorOccurred);

        connector.connectPeer(peerFor(QStringLiteral("amnezia-v2"), v2Document("2")));
        QVERIFY(connected.wait(5000));
        QPointer<QThread> worker = connector.findChild<QThread *>();

        connector.disconnectVpn();
        QVERIFY(errors.wait(5000));
        QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("Маршруты не сняты"));
        QCOMPARE(connector.lastError(), QStringLiteral("Маршруты не сняты"));
        QVERIFY(worker && worker->isRunning());
        QVERIFY(connector.created.at(0));
        QCOMPARE(disconnected.count(), 0);

        daemon.setAnswer(QStringLiteral("disconnect"),
                         FakeServiceDaemon::reply(FakeServiceDaemon::okReply("disconnected")));
        connector.disconnectVpn();
        QVERIFY(disconnected.wait(5000));
        QCOMPARE(daemon.commands(), QStringList({"connect", "disconnect", "disconnect"}));
        // Both disconnects went through the one backend made for this attempt.
        QCOMPARE(connector.created.size(), 1);
        QCOMPARE(connector.statuses().count(PlatformVpnBackend::Disconnecting), 2);
        QVERIFY(!worker);
    }

    void destructionStopsWorker()
    {
        FakeServiceDaemon daemon;
        scriptHappyDaemon(daemon);
        auto *connector = new ObservedConnector<AmneziaV1Connector>;
        QSignalSpy connected(connector, &VpnConnector::connected);
        connector->connectPeer(peerFor(QStringLiteral("amnezia-v1"), v1Document()));
        QVERIFY(connected.wait(5000));
        QPointer<QThread> worker = connector->findChild<QThread *>();
        QPointer<PlatformVpnBackend> backend = connector->created.at(0);

        delete connector;
        QVERIFY(!worker);
        QVERIFY(!backend);
        // Deleting a connector is not a disconnect: the tunnel stays with the daemon.
        QCOMPARE(daemon.commands(), QStringList{"connect"});
    }
};

QTEST_GUILESS_MAIN(TestVpnConnectors)
#include "tst_vpnconnectors.moc"
