#include "vpnserviceprotocol.h"

#include <QElapsedTimer>
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
        QVERIFY(daemon.waitForStarted(5000));

        QLocalSocket client;
        QElapsedTimer timer;
        timer.start();
        do {
            client.connectToServer(socketPath);
            if (client.waitForConnected(200))
                break;
            QTest::qWait(50);
        } while (timer.elapsed() < 10000 && daemon.state() == QProcess::Running);
        QCOMPARE(client.state(), QLocalSocket::ConnectedState);

        client.write(VpnServiceProtocol::encodeMessage({{"command", "status"}}));
        QVERIFY(client.waitForBytesWritten(3000));
        QJsonObject reply;
        QString error;
        QVERIFY2(VpnServiceProtocol::readMessage(&client, &reply, &error, 10000),
                 qPrintable(error));
        QCOMPARE(reply, QJsonObject({{"ok", true}, {"status", "disconnected"}, {"error", ""}}));

        ::kill(pid_t(daemon.processId()), signalNumber);
        QVERIFY(daemon.waitForFinished(10000));
        const QByteArray output = daemon.readAll();
        QVERIFY2(daemon.exitStatus() == QProcess::NormalExit, output.constData());
        QCOMPARE(daemon.exitCode(), 0);
        QVERIFY2(output.contains("[MacVpnServiceServer] listening"), output.constData());
        // The server was destroyed, and with it the socket file.
        QVERIFY(!QFile::exists(socketPath));
    }

    void exitsWithOneWhenItCannotListen()
    {
        QProcess daemon;
        startDaemon(daemon, dir.filePath(QStringLiteral("missing-folder/daemon.sock")));
        QVERIFY(daemon.waitForFinished(10000));
        const QByteArray output = daemon.readAll();
        QCOMPARE(daemon.exitStatus(), QProcess::NormalExit);
        QCOMPARE(daemon.exitCode(), 1);
        QVERIFY2(output.contains("[MacVpnServiceServer] listen failed"), output.constData());
    }
};

QTEST_GUILESS_MAIN(TestTarvexVpnService)
#include "tst_tarvexvpnservice.moc"
