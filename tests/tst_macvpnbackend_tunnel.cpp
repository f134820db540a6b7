#include "testablemacvpnbackend.h"
#include "vpnconfigfixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <ctime>

namespace {

const QString StandIn = QStringLiteral(TARVEX_AMNEZIAWG_STANDIN);
const QString NoName = QStringLiteral("Не удалось создать VPN-интерфейс: не удалось получить имя "
                                      "utun-интерфейса");
const QString NoRights = QStringLiteral(
    "Не удалось создать VPN-интерфейс: amneziawg-go не может создать utun-интерфейс без прав "
    "администратора. Нужен привилегированный daemon/helper как в Amnezia.");

} // namespace

class TestMacVpnBackendTunnel : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    std::unique_ptr<TestableMacVpnBackend> backend;

    QString runtimePath(const QString &file = QString()) const
    {
        return QDir(dir.filePath(QStringLiteral("run/amneziawg"))).filePath(file);
    }

    void expectStartFailure(const QString &error)
    {
        QSignalSpy errors(backend.get(), &MacVpnBackend::errorOccurred);
        QVERIFY(!backend->startTunnelProcess());
        QCOMPARE(backend->lastError(), error);
        QCOMPARE(backend->status(), PlatformVpnBackend::Error);
        QCOMPARE(errors.count(), 1);
    }

private slots:
    void init()
    {
        QDir(dir.filePath("run")).removeRecursively();
        backend = std::make_unique<TestableMacVpnBackend>();
        backend->applicationDirectory = QFileInfo(StandIn).absolutePath();
        backend->runtimeDirectoryPath = runtimePath();
    }

    void cleanup()
    {
        backend->stopTunnelProcess();
        backend.reset();
        // The stand-in's knobs are set in this process's environment, which the backend
        // hands on to the tunnel program.
        const QStringList variables = QProcessEnvironment::systemEnvironment().keys();
        for (const QString &name : variables) {
            if (name.startsWith(QLatin1String("TARVEX_AWG_")))
                qunsetenv(qPrintable(name));
        }
    }

    void findTunnelBinary_data()
    {
        // Per candidate (application directory, bundle resources, working directory):
        // x an executable, f a plain file, - a directory of that name.
        QTest::addColumn<QString>("kinds");
        QTest::addColumn<int>("expected"); // the candidate found, -1 for none

        QTest::newRow("application directory first") << "xxx" << 0;
        QTest::newRow("non-executable skipped, resources before working directory") << "fxx" << 1;
        QTest::newRow("working directory last") << "f-x" << 2;
        QTest::newRow("nothing executable") << "-ff" << -1;
    }

    void findTunnelBinary()
    {
        QFETCH(QString, kinds);
        QFETCH(int, expected);
        QTemporaryDir layout;
        const QStringList candidates{layout.filePath("Contents/MacOS/amneziawg-go"),
                                     layout.filePath("Contents/Resources/amneziawg-go"),
                                     layout.filePath("cwd/amneziawg-go")};
        for (int i = 0; i < candidates.size(); ++i) {
            QVERIFY(QDir().mkpath(kinds[i] == '-' ? candidates[i]
                                                  : QFileInfo(candidates[i]).absolutePath()));
            QFile file(candidates[i]);
            if (kinds[i] != '-')
                QVERIFY(file.open(QIODevice::WriteOnly) &&
                        file.setPermissions(kinds[i] == 'x' ? QFile::ReadOwner | QFile::ExeOwner
                                                            : QFile::ReadOwner));
        }
        const QString workingDirectory = QDir::currentPath();
        QDir::setCurrent(layout.filePath("cwd"));
        backend->applicationDirectory = layout.filePath("Contents/MacOS");
        const QString found = backend->findTunnelBinary();
        // With nothing to run, the start fails with the process's own reason.
        const bool startFailed = expected < 0 && !backend->startTunnelProcess();
        QDir::setCurrent(workingDirectory);

        QCOMPARE(QFileInfo(found).canonicalFilePath(),
                 expected < 0 ? QString() : QFileInfo(candidates[expected]).canonicalFilePath());
        QCOMPARE(startFailed, expected < 0);
        if (startFailed)
            QCOMPARE(backend->lastError(), QStringLiteral("Не удалось запустить amneziawg-go: %1")
                                               .arg(backend->tunnelProcess.errorString()));
    }

    // A name file left by an earlier run, pointing at a socket that still answers, must not
    // be taken for the new interface (the program picks the next free name); the new name
    // is trusted only once its socket accepts a connection; and the daemon's own events
    // are served meanwhile.
    void nameWaitIgnoresStaleNameAndWaitsForSocket()
    {
        QVERIFY(QDir().mkpath(runtimePath()));
        QFile stale(runtimePath("amn0.name"));
        QVERIFY(stale.open(QIODevice::WriteOnly) && stale.write("utun0\n") == 6);
        stale.close();
        QLocalServer oldTunnel;
        QVERIFY(oldTunnel.listen(runtimePath("utun0.sock")));
        qputenv("TARVEX_AWG_NAME_DELAY_MS", "300");
        qputenv("TARVEX_AWG_SOCKET_DELAY_MS", "800");
        bool served = false;
        QTimer::singleShot(100, this, [&served] { served = true; });

        QElapsedTimer timer;
        timer.start();
        QVERIFY(backend->startTunnelProcess());
        QVERIFY(timer.elapsed() >= 800);
        QCOMPARE(backend->interfaceName, QStringLiteral("utun1"));
        QVERIFY(served);
    }

    void programFailsAtOnce_data()
    {
        QTest::addColumn<QByteArray>("stdoutText");
        QTest::addColumn<QByteArray>("stderrText");
        QTest::addColumn<QString>("error");

        const auto row = [](const char *name, const char *out, const char *err,
                            const QString &error) {
            QTest::newRow(name) << QByteArray(out) << QByteArray(err) << error;
        };
        row("operation not permitted", "",
            "ERROR: Failed to create TUN device: operation not permitted", NoRights);
        row("any case, on standard output", "open utun: Operation NOT Permitted", "exit", NoRights);
        row("both channels, trimmed", "starting", "  fatal: bad config  ",
            QStringLiteral("Не удалось создать VPN-интерфейс: starting\nfatal: bad config"));
        row("silent exit", "", " ", NoName);
    }

    void programFailsAtOnce()
    {
        QFETCH(QByteArray, stdoutText);
        QFETCH(QByteArray, stderrText);
        QFETCH(QString, error);
        if (!stdoutText.isEmpty())
            qputenv("TARVEX_AWG_STDOUT", stdoutText);
        qputenv("TARVEX_AWG_EXIT_MESSAGE", stderrText);
        QElapsedTimer timer;
        timer.start();
        expectStartFailure(error);
        QVERIFY2(timer.elapsed() < 2000, "a dead program ends the wait at once");
    }

    // A hung program: it only ever writes an empty name and ignores SIGTERM. The wait
    // gives up after five seconds without keeping a core busy meanwhile; the stop that
    // follows a failed connect kills it after five more.
    void hungProgramTimesOutAndIsKilled()
    {
        qputenv("TARVEX_AWG_NAME", "empty");
        qputenv("TARVEX_AWG_IGNORE_SIGTERM", "1");
        const std::clock_t cpuBefore = std::clock(); // the whole process's CPU time
        QElapsedTimer timer;
        timer.start();
        expectStartFailure(NoName);
        qint64 elapsed = timer.elapsed();
        const double share = double(std::clock() - cpuBefore) / CLOCKS_PER_SEC * 1000.0 / elapsed;
        qInfo("CPU during a %lld ms wait without a name: %.2f%% of one core", elapsed,
              share * 100.0);
        QVERIFY2(elapsed >= 4900 && elapsed < 6500, qPrintable(QString::number(elapsed)));
        QVERIFY2(share < 0.25, qPrintable(QString::number(share)));
        QVERIFY(QFile::exists(runtimePath("utun0.sock"))); // up, but never named

        timer.restart();
        backend->stopTunnelProcess();
        elapsed = timer.elapsed();
        QVERIFY2(elapsed >= 4900 && elapsed < 7000, qPrintable(QString::number(elapsed)));
        QCOMPARE(backend->tunnelProcess.exitStatus(), QProcess::CrashExit);
    }

    void runtimeDirectoryNotCreatable()
    {
        QFile blocker(dir.filePath("run"));
        QVERIFY(blocker.open(QIODevice::WriteOnly)); // a file where a directory must go
        expectStartFailure(QStringLiteral("Не удалось создать runtime-директорию для VPN"));
        QCOMPARE(backend->tunnelProcess.state(), QProcess::NotRunning);
        QVERIFY(blocker.remove());
    }

    // The whole bring-up against the stand-in, then a clean stop: what the program records
    // is exactly what the backend sent, and its answer, even in pieces, is read back.
    void bringUpAndStop_data()
    {
        QTest::addColumn<int>("errnoValue");
        QTest::newRow("accepted") << 0;
        QTest::newRow("refused") << -95;
    }

    void bringUpAndStop()
    {
        QFETCH(int, errnoValue);
        qputenv("TARVEX_AWG_REPLY_CHUNK_BYTES", "2");
        if (errnoValue != 0)
            qputenv("TARVEX_AWG_SET_ERRNO", QByteArray::number(errnoValue));
        QVERIFY(backend->startTunnelProcess());
        QCOMPARE(backend->interfaceName, QStringLiteral("utun0"));
        QCOMPARE(backend->tunnelProcess.arguments(), QStringList({"-f", "utun"}));
        QCOMPARE(backend->tunnelProcess.processEnvironment().value("WG_TUN_NAME_FILE"),
                 runtimePath("amn0.name"));

        ParsedVpnConfig config;
        config.lastConfig = VpnConfigFixture::sampleLastConfig();
        const QString request = backend->uapiSetConfig(config);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(backend->uapiCommand(request), QStringLiteral("errno=%1").arg(errnoValue));
        // Two bytes every 50 ms: the reply really came in pieces.
        QVERIFY2(timer.elapsed() >= 150, qPrintable(QString::number(timer.elapsed())));

        QFile sent(runtimePath("utun0.request"));
        QVERIFY(sent.open(QIODevice::ReadOnly));
        QCOMPARE(sent.readAll(), (request + QLatin1Char('\n')).toUtf8());

        timer.restart();
        backend->stopTunnelProcess();
        backend->stopTunnelProcess(); // nothing left to stop: returns at once
        QVERIFY(timer.elapsed() < 2000);
        QCOMPARE(backend->tunnelProcess.exitStatus(), QProcess::NormalExit);
        QVERIFY(!QFile::exists(runtimePath("utun0.sock")));
    }
};

QTEST_GUILESS_MAIN(TestMacVpnBackendTunnel)
#include "tst_macvpnbackend_tunnel.moc"
