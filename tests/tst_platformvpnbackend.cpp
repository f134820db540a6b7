#include "platformvpnbackend.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>

namespace {

// The smallest honest backend: remembers what it was asked to do.
class RecordingBackend : public PlatformVpnBackend
{
    Q_OBJECT

public:
    using PlatformVpnBackend::PlatformVpnBackend;

    Status status() const override { return Disconnected; }
    QString lastError() const override { return {}; }
    void connectVpn(const ParsedVpnConfig &config) override
    {
        ++oneArgumentConnects;
        lastHost = config.hostName;
    }
    void disconnectVpn() override {}

    void announce(Status status) { emit statusChanged(status); }

    int oneArgumentConnects = 0;
    QString lastHost;
};

class StatusReceiver : public QObject
{
    Q_OBJECT

public:
    QList<PlatformVpnBackend::Status> received;
    QList<QThread *> threads;

public slots:
    void onStatus(PlatformVpnBackend::Status status)
    {
        received.append(status);
        threads.append(QThread::currentThread());
    }
};

} // namespace

class TestPlatformVpnBackend : public QObject
{
    Q_OBJECT

private slots:
    void statusValuesAreFixed()
    {
        // The wire strings and the daemon's success test depend on these numbers.
        QCOMPARE(int(PlatformVpnBackend::Disconnected), 0);
        QCOMPARE(int(PlatformVpnBackend::Connecting), 1);
        QCOMPARE(int(PlatformVpnBackend::Connected), 2);
        QCOMPARE(int(PlatformVpnBackend::Disconnecting), 3);
        QCOMPARE(int(PlatformVpnBackend::Error), 4);
    }

    void statusChangedCrossesThreadsQueued()
    {
        RecordingBackend backend;
        QThread worker;
        StatusReceiver receiver;
        receiver.moveToThread(&worker);
        connect(&backend, &PlatformVpnBackend::statusChanged, &receiver, &StatusReceiver::onStatus,
                Qt::QueuedConnection);
        worker.start();

        backend.announce(PlatformVpnBackend::Connecting);
        backend.announce(PlatformVpnBackend::Error);

        QTRY_COMPARE(receiver.received.size(), 2);
        worker.quit();
        QVERIFY(worker.wait(5000));

        QCOMPARE(receiver.received.at(0), PlatformVpnBackend::Connecting);
        QCOMPARE(receiver.received.at(1), PlatformVpnBackend::Error);
        QCOMPARE(receiver.threads.at(0), &worker);
    }

    void baseRefreshStatusEmptiesPeerAndSucceeds()
    {
        RecordingBackend backend;
        QVERIFY(backend.refreshStatus(nullptr));

        QVariantMap peer{{QStringLiteral("id"), 7}, {QStringLiteral("name"), QStringLiteral("x")}};
        QVERIFY(backend.refreshStatus(&peer));
        QVERIFY(peer.isEmpty());
    }

    void baseTwoArgumentConnectIgnoresPeer()
    {
        RecordingBackend backend;
        ParsedVpnConfig config;
        config.hostName = QStringLiteral("vpn.example.net");
        PlatformVpnBackend &base = backend;
        base.connectVpn(config, QVariantMap{{QStringLiteral("splitTunnel"), QVariantMap()}});
        QCOMPARE(backend.oneArgumentConnects, 1);
        QCOMPARE(backend.lastHost, QStringLiteral("vpn.example.net"));
    }
};

QTEST_GUILESS_MAIN(TestPlatformVpnBackend)
#include "tst_platformvpnbackend.moc"
