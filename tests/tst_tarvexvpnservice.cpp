#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

// The real daemon binary, never asked to connect: that would reach for the system's network
// settings. That it answers, and SIGTERM, are the sandbox's scenarios (e2e_lifecycle).
class TestTarvexVpnService : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

private slots:
    void exitsCleanly_data()
    {
        QTest::addColumn<QString>("socketName");
        QTest::addColumn<int>("signalNumber"); // 0: none sent
        QTest::addColumn<int>("exitCode");
        QTest::newRow("SIGINT") << "int.sock" << int(SIGINT) << 0;
        QTest::newRow("cannot listen") << "missing-folder/daemon.sock" << 0 << 1;
    }

    void exitsCleanly()
    {
        QFETCH(QString, socketName);
        QFETCH(int, signalNumber);
        QFETCH(int, exitCode);
        const QString socketPath = dir.filePath(socketName);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TARVEX_SERVICE_SOCKET"), socketPath);
        environment.remove(QStringLiteral("TARVEX_SANDBOX"));
        QProcess daemon;
        daemon.setProcessEnvironment(environment);
        daemon.setProcessChannelMode(QProcess::MergedChannels);
        daemon.start(QStringLiteral(TARVEX_SERVICE_BINARY), {});

        // The signal handlers are in place before the socket is made.
        if (signalNumber) {
            QVERIFY(QTest::qWaitFor([&] { return QFile::exists(socketPath); }, 10000));
            ::kill(pid_t(daemon.processId()), signalNumber);
        }
        QVERIFY(daemon.waitForFinished(10000));
        QVERIFY2(daemon.exitStatus() == QProcess::NormalExit && daemon.exitCode() == exitCode,
                 daemon.readAll().constData());
        // The server was destroyed, and with it the socket file.
        QVERIFY(!QFile::exists(socketPath));
    }
};

QTEST_GUILESS_MAIN(TestTarvexVpnService)
#include "tst_tarvexvpnservice.moc"
