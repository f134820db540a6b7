#include "vpnserviceprotocol.h"

#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

// The real daemon binary, asked only for its status: a connect would reach for the
// system's network settings.
class TestTarvexVpnService : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

    // The daemon on a socket of its own, never in the sandbox's mode.
    void startDaemon(QProcess &daemon, const QString &socketPath)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TARVEX_SERVICE_SOCKET"), socketPath);
        environment.remove(QStringLiteral("TARVEX_SANDBOX"));
        daemon.setProcessEnvironment(environment);
        daemon.setProcessChannelMode(QProcess::MergedChannels);
        daemon.start(QStringLiteral(TARVEX_SERVICE_BINARY), {});
    }

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }

    void answersStatusAndStopsCleanlyOnSignal_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }

    void answersStatusAndStopsCleanlyOnSignal()
    {
        QFETCH(int, signalNumber);
        const QString socketPath = dir.filePath(QStringLiteral("daemon-%1.sock").arg(signalNumber));
        QProcess daemon;
        startDaemon(daemon, socketPath);

        QLocalSocket client;
        QVERIFY(QTest::qWaitFor(
            [&] {
                client.connectToServer(socketPath);
                return client.waitForConnected(200);
            },
            10000));
        client.write(VpnServiceProtocol::encodeMessage({{"command", "status"}}));
        QVERIFY(client.waitForBytesWritten(3000));
        QJsonObject reply;
        QString error;
        QVERIFY2(VpnServiceProtocol::readMessage(&client, &reply, &error, 10000),
                 qPrintable(error));
        QCOMPARE(reply, QJsonObject({{"ok", true}, {"status", "disconnected"}, {"error", ""}}));

        ::kill(pid_t(daemon.processId()), signalNumber);
        QVERIFY(daemon.waitForFinished(10000));
        QVERIFY2(daemon.exitStatus() == QProcess::NormalExit && daemon.exitCode() == 0,
                 daemon.readAll().constData());
        // The server was destroyed, and with it the socket file.
        QVERIFY(!QFile::exists(socketPath));
    }

    void exitsWithOneWhenItCannotListen()
    {
        QProcess daemon;
        startDaemon(daemon, dir.filePath(QStringLiteral("missing-folder/daemon.sock")));
        QVERIFY(daemon.waitForFinished(10000));
        QCOMPARE(daemon.exitStatus(), QProcess::NormalExit);
        QCOMPARE(daemon.exitCode(), 1);
    }
};

QTEST_GUILESS_MAIN(TestTarvexVpnService)
#include "tst_tarvexvpnservice.moc"
