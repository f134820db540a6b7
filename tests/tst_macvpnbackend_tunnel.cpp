#include "testablemacvpnbackend.h"
#include "vpnconfigfixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>

namespace {

const QString StandIn = QStringLiteral(TARVEX_AMNEZIAWG_STANDIN);
const QString NoName = QStringLiteral("Не удалось создать VPN-интерфейс: не удалось получить имя "
                                      "utun-интерфейса");
const QString NoRights = QStringLiteral(
    "Не удалось создать VPN-интерфейс: amneziawg-go не может создать utun-интерфейс без прав "
    "администратора. Нужен привилегированный daemon/helper как в Amnezia.");

// The stand-in's behaviour knobs live in this process's environment, which the
// backend hands on to the tunnel program; every test leaves it as it found it.
class Knobs
{
public:
    Knobs(std::initializer_list<std::pair<const char *, QByteArray>> values)
    {
        for (const auto &[name, value] : values) {
            names.append(name);
            qputenv(name, value);
        }
    }
    ~Knobs()
    {
        for (const char *name : std::as_const(names))
            qunsetenv(name);
    }

private:
    QList<const char *> names;
};

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool makeExecutableCopy(const QString &target)
{
    QDir().mkpath(QFileInfo(target).absolutePath());
    return QFile::copy(StandIn, target) &&
           QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace

class TestMacVpnBackendTunnel : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString workingDirectory;
    std::unique_ptr<TestableMacVpnBackend> backend;

    QString runtimePath() const { return dir.filePath(QStringLiteral("run/amneziawg")); }

private slots:
    void initTestCase()
    {
        QVERIFY(QFileInfo(StandIn).isExecutable());
        QVERIFY(dir.isValid());
        // The third place the program is looked for; keep it empty and private.
        workingDirectory = QDir::currentPath();
        QVERIFY(QDir().mkpath(dir.filePath("cwd")));
        QVERIFY(QDir::setCurrent(dir.filePath("cwd")));
    }

    void cleanupTestCase() { QDir::setCurrent(workingDirectory); }

    void init()
    {
        QDir(dir.filePath("run")).removeRecursively();
        backend = std::make_unique<TestableMacVpnBackend>();
        backend->applicationDirectory = QFileInfo(StandIn).absolutePath();
        backend->runtimeDirectoryPath = runtimePath();
        // Nothing here may reach a system command but the resolver-cache flush with
        // which the clean-up of a failed backend always ends.
        backend->responder = [](const TestableMacVpnBackend::Command &command) {
            if (command.program != QLatin1String("/usr/bin/dscacheutil") &&
                command.program != QLatin1String("/usr/bin/killall"))
                qFatal("unexpected command %s", qPrintable(command.line()));
            return TestableMacVpnBackend::CommandResult();
        };
    }

    void cleanup()
    {
        backend->stopTunnelProcess();
        backend.reset();
    }

    void findTunnelBinary_data()
    {
        QTest::addColumn<QStringList>("executables"); // relative to the layout root
        QTest::addColumn<QStringList>("plainFiles");
        QTest::addColumn<QString>("expected"); // relative, or empty

        const QString app = QStringLiteral("Contents/MacOS/amneziawg-go");
        const QString resources = QStringLiteral("Contents/Resources/amneziawg-go");
        const QString cwd = QStringLiteral("cwd/amneziawg-go");

        QTest::newRow("application directory first")
            << QStringList{app, resources, cwd} << QStringList() << app;
        QTest::newRow("bundle resources") << QStringList{resources} << QStringList() << resources;
        QTest::newRow("non-executable skipped")
            << QStringList{resources} << QStringList{app} << resources;
        QTest::newRow("working directory last") << QStringList{cwd} << QStringList{app} << cwd;
        QTest::newRow("nothing executable")
            << QStringList() << QStringList{app, resources, cwd} << QString();
        QTest::newRow("nothing there") << QStringList() << QStringList() << QString();
    }

    void findTunnelBinary()
    {
        QFETCH(QStringList, executables);
        QFETCH(QStringList, plainFiles);
        QFETCH(QString, expected);
        QTemporaryDir layout;
        for (const QString &path : executables)
            QVERIFY(makeExecutableCopy(layout.filePath(path)));
        for (const QString &path : plainFiles) {
            QDir().mkpath(QFileInfo(layout.filePath(path)).absolutePath());
            QFile file(layout.filePath(path));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        // A directory of that name is not a program either.
        QDir().mkpath(layout.filePath("Contents/MacOS"));
        if (!QFile::exists(layout.filePath("Contents/MacOS/amneziawg-go")))
            QDir().mkpath(layout.filePath("Contents/MacOS/amneziawg-go"));
        QDir().mkpath(layout.filePath("cwd"));
        QDir::setCurrent(layout.filePath("cwd"));
        backend->applicationDirectory = layout.filePath("Contents/MacOS");

        const QString found = backend->findTunnelBinary();
        QDir::setCurrent(dir.filePath("cwd"));
        if (expected.isEmpty()) {
            QCOMPARE(found, QString());
        } else {
            QVERIFY2(QDir::isAbsolutePath(found), qPrintable(found));
            QCOMPARE(QFileInfo(found).canonicalFilePath(),
                     QFileInfo(layout.filePath(expected)).canonicalFilePath());
        }
    }

    void startLearnsInterface()
    {
        QSignalSpy errors(backend.get(), &MacVpnBackend::errorOccurred);
        QVERIFY(backend->startTunnelProcess());
        QCOMPARE(backend->interfaceName, QStringLiteral("utun0"));
        QCOMPARE(backend->runtimeDir, runtimePath());
        QCOMPARE(backend->tunnelProcess.state(), QProcess::Running);
        QCOMPARE(backend->tunnelProcess.arguments(), QStringList({"-f", "utun"}));
        QCOMPARE(backend->tunnelProcess.processEnvironment().value("WG_TUN_NAME_FILE"),
                 QDir(runtimePath()).filePath("amn0.name"));
        QVERIFY(QFile::exists(QDir(runtimePath()).filePath("utun0.sock")));
        QCOMPARE(errors.count(), 0);
        QCOMPARE(backend->status(), PlatformVpnBackend::Disconnected);

        QElapsedTimer timer;
        timer.start();
        backend->stopTunnelProcess();
        QVERIFY(timer.elapsed() < 2000);
        QCOMPARE(backend->tunnelProcess.state(), QProcess::NotRunning);
        QCOMPARE(backend->tunnelProcess.exitStatus(), QProcess::NormalExit);
        QVERIFY(!QFile::exists(QDir(runtimePath()).filePath("utun0.sock")));
        // The name file outlives the program; the next start deletes it.
        QVERIFY(QFile::exists(QDir(runtimePath()).filePath("amn0.name")));
    }

    // A name file left by an earlier run, pointing at a socket that does answer,
    // must not be taken for the new interface.
    void staleNameFileNeverRead()
    {
        QVERIFY(QDir().mkpath(runtimePath()));
        QFile stale(QDir(runtimePath()).filePath("amn0.name"));
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.write("utun9\n");
        stale.close();
        QLocalServer oldTunnel;
        QVERIFY(oldTunnel.listen(QDir(runtimePath()).filePath("utun9.sock")));

        Knobs knobs{{"TARVEX_AWG_NAME_DELAY_MS", "300"}};
        QVERIFY(backend->startTunnelProcess());
        QCOMPARE(backend->interfaceName, QStringLiteral("utun0"));
    }

    // The name is only trusted once the socket it names accepts a connection.
    void nameBeforeSocketWaitsForSocket()
    {
        Knobs knobs{{"TARVEX_AWG_SOCKET_DELAY_MS", "800"}};
        QElapsedTimer timer;
        timer.start();
        QVERIFY(backend->startTunnelProcess());
        QVERIFY(timer.elapsed() >= 800);
        QCOMPARE(backend->interfaceName, QStringLiteral("utun0"));
    }

    void eventsServedWhileWaiting()
    {
        Knobs knobs{{"TARVEX_AWG_NAME_DELAY_MS", "600"}};
        bool served = false;
        QTimer::singleShot(100, this, [&served] { served = true; });
        QVERIFY(backend->startTunnelProcess());
        QVERIFY(served);
    }

    void programFailsAtOnce_data()
    {
        QTest::addColumn<QByteArray>("stdoutText");
        QTest::addColumn<QByteArray>("stderrText");
        QTest::addColumn<QString>("error");

        QTest::newRow("operation not permitted")
            << QByteArray()
            << QByteArray("ERROR: Failed to create TUN device: operation not permitted")
            << NoRights;
        QTest::newRow("capitalised")
            << QByteArray() << QByteArray("Operation NOT Permitted") << NoRights;
        QTest::newRow("on standard output")
            << QByteArray("open utun: operation not permitted") << QByteArray("exit") << NoRights;
        QTest::newRow("other failure")
            << QByteArray() << QByteArray("  ERROR: no such device  ")
            << QStringLiteral("Не удалось создать VPN-интерфейс: ERROR: no such device");
        QTest::newRow("both channels collected")
            << QByteArray("starting") << QByteArray("fatal: bad config")
            << QStringLiteral("Не удалось создать VPN-интерфейс: starting\nfatal: bad config");
        QTest::newRow("silent exit") << QByteArray() << QByteArray() << NoName;
    }

    void programFailsAtOnce()
    {
        QFETCH(QByteArray, stdoutText);
        QFETCH(QByteArray, stderrText);
        QFETCH(QString, error);
        Knobs knobs{{"TARVEX_AWG_STDOUT", stdoutText}, {"TARVEX_AWG_EXIT_MESSAGE", stderrText}};
        if (stdoutText.isEmpty())
            qunsetenv("TARVEX_AWG_STDOUT");
        QSignalSpy errors(backend.get(), &MacVpnBackend::errorOccurred);

        QElapsedTimer timer;
        timer.start();
        QVERIFY(!backend->startTunnelProcess());
        QVERIFY2(timer.elapsed() < 2000, "a dead program ends the wait at once");
        QCOMPARE(backend->lastError(), error);
        QCOMPARE(backend->status(), PlatformVpnBackend::Error);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(backend->interfaceName, QString());
        if (!stderrText.trimmed().isEmpty())
            QVERIFY(backend->tunnelOutput.contains(QString::fromUtf8(stderrText.trimmed())));
    }

    // The wait polls for five seconds; it must not keep a core busy meanwhile.
    void waitWithoutNameStaysIdle()
    {
        Knobs knobs{{"TARVEX_AWG_NAME", "never"}};
        const double cpuBefore = processCpuSeconds();
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!backend->startTunnelProcess());
        const qint64 elapsed = timer.elapsed();
        const double cpu = processCpuSeconds() - cpuBefore;

        QCOMPARE(backend->lastError(), NoName);
        QVERIFY2(elapsed >= 4900 && elapsed < 6500, qPrintable(QString::number(elapsed)));
        QCOMPARE(backend->tunnelProcess.state(), QProcess::Running); // left to cleanup
        const double share = cpu * 1000.0 / double(elapsed);
        qInfo("CPU during a %lld ms wait without a name: %.3f s (%.2f%% of one core)", elapsed, cpu,
              share * 100.0);
        QVERIFY2(share < 0.25, qPrintable(QString::number(share)));
    }

    void emptyNameIsNoName()
    {
        Knobs knobs{{"TARVEX_AWG_NAME", "empty"}};
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!backend->startTunnelProcess());
        QVERIFY(timer.elapsed() >= 4900);
        QCOMPARE(backend->lastError(), NoName);
        QVERIFY(QFile::exists(QDir(runtimePath()).filePath("utun0.sock")));
    }

    void programNotStartable()
    {
        QTemporaryDir empty;
        backend->applicationDirectory = empty.path();
        QSignalSpy errors(backend.get(), &MacVpnBackend::errorOccurred);
        QVERIFY(!backend->startTunnelProcess());
        QVERIFY(!backend->tunnelProcess.errorString().isEmpty());
        QCOMPARE(backend->lastError(), QStringLiteral("Не удалось запустить amneziawg-go: %1")
                                           .arg(backend->tunnelProcess.errorString()));
        QCOMPARE(backend->tunnelProcess.state(), QProcess::NotRunning);
        QCOMPARE(errors.count(), 1);
    }

    void runtimeDirectoryNotCreatable()
    {
        QFile blocker(dir.filePath("run"));
        QVERIFY(blocker.open(QIODevice::WriteOnly)); // a file where a directory must go
        blocker.close();
        QVERIFY(!backend->startTunnelProcess());
        QCOMPARE(backend->lastError(),
                 QStringLiteral("Не удалось создать runtime-директорию для VPN"));
        QCOMPARE(backend->tunnelProcess.state(), QProcess::NotRunning);
        QFile::remove(dir.filePath("run"));
    }

    void stopKillsProgramIgnoringSigterm()
    {
        Knobs knobs{{"TARVEX_AWG_IGNORE_SIGTERM", "1"}};
        QVERIFY(backend->startTunnelProcess());
        QElapsedTimer timer;
        timer.start();
        backend->stopTunnelProcess();
        const qint64 elapsed = timer.elapsed();
        QVERIFY2(elapsed >= 4900 && elapsed < 7000, qPrintable(QString::number(elapsed)));
        QCOMPARE(backend->tunnelProcess.state(), QProcess::NotRunning);
        QCOMPARE(backend->tunnelProcess.exitStatus(), QProcess::CrashExit);
    }

    void stopWithoutProgramDoesNothing()
    {
        QElapsedTimer timer;
        timer.start();
        backend->stopTunnelProcess();
        QVERIFY(timer.elapsed() < 100);
    }

    // The whole bring-up against the stand-in: what the program records is exactly
    // what the backend sent, and its answer is read back correctly.
    void configurationApplied_data()
    {
        QTest::addColumn<QByteArray>("chunkBytes");
        QTest::addColumn<QByteArray>("forcedErrno");
        QTest::addColumn<int>("errnoValue");

        QTest::newRow("accepted") << QByteArray() << QByteArray() << 0;
        QTest::newRow("reply in pieces") << QByteArray("2") << QByteArray() << 0;
        QTest::newRow("refused") << QByteArray() << QByteArray("-5") << -5;
        QTest::newRow("refused in pieces") << QByteArray("3") << QByteArray("-95") << -95;
    }

    void configurationApplied()
    {
        QFETCH(QByteArray, chunkBytes);
        QFETCH(QByteArray, forcedErrno);
        QFETCH(int, errnoValue);
        Knobs knobs{{"TARVEX_AWG_REPLY_CHUNK_BYTES", chunkBytes.isEmpty() ? "0" : chunkBytes},
                    {"TARVEX_AWG_REPLY_CHUNK_DELAY_MS", "20"},
                    {"TARVEX_AWG_SET_ERRNO", forcedErrno}};
        if (forcedErrno.isEmpty())
            qunsetenv("TARVEX_AWG_SET_ERRNO");
        QVERIFY(backend->startTunnelProcess());

        ParsedVpnConfig config;
        config.lastConfig = VpnConfigFixture::sampleLastConfig();
        QVERIFY(backend->uapiConfigIsSafe(config, nullptr));
        const QString request = backend->uapiSetConfig(config);
        const QString reply = backend->uapiCommand(request);
        QCOMPARE(reply, QStringLiteral("errno=%1").arg(errnoValue));
        QCOMPARE(backend->uapiErrno(reply), errnoValue);

        QFile sent(QDir(runtimePath()).filePath("utun0.request"));
        QVERIFY(sent.open(QIODevice::ReadOnly));
        QCOMPARE(sent.readAll(), (request + QLatin1Char('\n')).toUtf8());

        QFile recordFile(QDir(runtimePath()).filePath("utun0.json"));
        QVERIFY(recordFile.open(QIODevice::ReadOnly));
        const QJsonObject record = QJsonDocument::fromJson(recordFile.readAll()).object();
        QCOMPARE(record.value("last_errno").toInt(), errnoValue);
        QCOMPARE(record.value("applied").toInt(), errnoValue == 0 ? 1 : 0);
        if (errnoValue != 0)
            return;
        const QJsonObject applied = record.value("config").toObject();
        const QJsonObject peer = applied.value("peers").toArray().at(0).toObject();
        QCOMPARE(peer.value("endpoint").toString(), QStringLiteral("198.51.100.10:51820"));
        QCOMPARE(peer.value("persistent_keepalive_interval").toInt(), 25);
        QCOMPARE(peer.value("allowed_ips").toArray(), QJsonArray({"0.0.0.0/0", "::/0"}));
        QCOMPARE(
            peer.value("public_key").toString(),
            QStringLiteral("dc593c7f9cef559087d1b5aad1cdc0a3a46fd4cd3007dc46e509bbb6af0bd868"));
        QCOMPARE(applied.value("obfuscation").toObject().value("h4").toString(),
                 QStringLiteral("1426735201"));
    }
};

QTEST_GUILESS_MAIN(TestMacVpnBackendTunnel)
#include "tst_macvpnbackend_tunnel.moc"
