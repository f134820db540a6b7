#include "platformvpnbackend.h"

#include <QTest>
#include <QThread>

namespace {

class IdleBackend : public PlatformVpnBackend
{
public:
    Status status() const override { return Disconnected; }
    QString lastError() const override { return {}; }
    void connectVpn(const ParsedVpnConfig &) override {}
    void disconnectVpn() override {}
};

} // namespace

class TestPlatformVpnBackend : public QObject
{
    Q_OBJECT

private slots:
    void statusChangedCrossesThreadsQueued()
    {
        IdleBackend backend;
        QThread worker;
        QObject receiver;
        receiver.moveToThread(&worker);
        QList<QThread *> threads;
        QList<PlatformVpnBackend::Status> received;
        connect(
            &backend, &PlatformVpnBackend::statusChanged, &receiver,
            [&](PlatformVpnBackend::Status status) {
                threads << QThread::currentThread();
                received << status;
            },
            Qt::QueuedConnection);
        worker.start();
        emit backend.statusChanged(PlatformVpnBackend::Connecting);
        emit backend.statusChanged(PlatformVpnBackend::Error);
        // Queued after the statuses, so the worker stops once it has received both.
        QMetaObject::invokeMethod(
            &receiver, [&] { worker.quit(); }, Qt::QueuedConnection);
        QVERIFY(worker.wait(5000));
        QCOMPARE(received, QList({PlatformVpnBackend::Connecting, PlatformVpnBackend::Error}));
        QCOMPARE(threads, QList<QThread *>({&worker, &worker}));
    }
};

QTEST_GUILESS_MAIN(TestPlatformVpnBackend)
#include "tst_platformvpnbackend.moc"
