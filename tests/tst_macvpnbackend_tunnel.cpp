#include "recoveryjournal.h"
#include "simulatedmac.h"
#include "testablemacvpnbackend.h"
#include "vpnconfigfixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <ctime>

using ProgramRun = TestableMacVpnBackend::ProgramRun;
Q_DECLARE_METATYPE(ProgramRun::Outcome)

namespace {

const QString NoName = QStringLiteral("Не удалось создать VPN-интерфейс: не удалось получить имя "
                                      "utun-интерфейса");
const QString NoRights = QStringLiteral(
    "Не удалось создать VPN-интерфейс: amneziawg-go не может создать utun-интерфейс без прав "
    "администратора. Нужен привилегированный daemon/helper как в Amnezia.");

} // namespace

// The tunnel program's part of a connect, against the stand-in: how it is found and
// started, how long it is waited for, and what goes over its UAPI socket; and the
// backend's real way of running a program.
class TestMacVpnBackendTunnel : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<SimulatedMac> mac;
    std::unique_ptr<TestableMacVpnBackend> backend;

    QString runtimePath(const QString &file = QString()) const
    {
        return QDir(mac->path(QStringLiteral("run/amneziawg"))).filePath(file);
    }

private slots:
    // The interlock holds even when the suite runs from a sandbox shell.
    void initTestCase() { qunsetenv("TARVEX_SANDBOX"); }

    void init()
    {
        mac = std::make_unique<SimulatedMac>();
        backend = std::make_unique<TestableMacVpnBackend>(*mac);
        backend->setTimeouts(TestableMacVpnBackend::shortTimeouts());
    }

    void cleanup()
    {
        backend.reset();
        mac.reset();
        // The stand-in's knobs are set in this process's environment, which the backend
        // hands on to the tunnel program.
        for (const QString &name : QProcessEnvironment::systemEnvironment().keys())
            if (name.startsWith("TARVEX_AWG_"))
                qunsetenv(qPrintable(name));
    }

    // Per candidate (application directory, bundle resources, working directory): x the
    // tunnel program, f a file without execute permission, - a directory of that name. The
    // one started is the one the recovery journal names.
    void programIsFoundInOrder_data()
    {
        QTest::addColumn<QString>("kinds");
        QTest::addColumn<int>("expected");

        QTest::newRow("application directory first") << "xxx" << 0;
        QTest::newRow("non-executable skipped, resources before working directory") << "fxx" << 1;
        QTest::newRow("working directory last") << "f-x" << 2;
    }

    void programIsFoundInOrder()
    {
        QFETCH(QString, kinds);
        QFETCH(int, expected);
        const QStringList candidates{mac->path("Contents/MacOS/amneziawg-go"),
                                     mac->path("Contents/Resources/amneziawg-go"),
                                     mac->path("cwd/amneziawg-go")};
        for (int i = 0; i < candidates.size(); ++i) {
            QVERIFY(QDir().mkpath(kinds[i] == '-' ? candidates[i]
                                                  : QFileInfo(candidates[i]).absolutePath()));
            if (kinds[i] == 'x')
                QVERIFY(QFile::link(TARVEX_AMNEZIAWG_STANDIN, candidates[i]));
            else if (kinds[i] == 'f')
                QVERIFY(QFile(candidates[i]).open(QIODevice::WriteOnly));
        }
        const QString workingDirectory = QDir::currentPath();
        QDir::setCurrent(mac->path("cwd"));
        backend->applicationDirectory = mac->path("Contents/MacOS");
        backend->connectVpn(VpnConfigFixture::sampleConfig());
        QDir::setCurrent(workingDirectory);

        RecoveryJournal::Contents recorded;
        QCOMPARE(RecoveryJournal().read(&recorded), RecoveryJournal::State::Complete);
        QCOMPARE(QDir::cleanPath(recorded.tunnelProgram), candidates[expected]);
    }

    // A program that never names its interface. One that ends (the tunnel program's own
    // "operation not permitted" on its error output is e2e_failures') ends the wait at once;
    // a hung one, that only ever writes an empty name and ignores SIGTERM, is given up at the
    // time-out without keeping a core busy meanwhile, and killed after the clean-up's own.
    void programGivesNoName_data()
    {
        QTest::addColumn<QStringList>("knobs"); // the stand-in's, TARVEX_AWG_<knob>
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("hung");

        QTest::newRow("any case, on standard output")
            << QStringList{"STDOUT=open utun: Operation NOT Permitted", "EXIT_MESSAGE=exit"}
            << NoRights << false;
        QTest::newRow("both channels, trimmed")
            << QStringList{"STDOUT=starting", "EXIT_MESSAGE=  fatal: bad config  "}
            << "Не удалось создать VPN-интерфейс: starting\nfatal: bad config" << false;
        QTest::newRow("silent exit") << QStringList{"EXIT_MESSAGE= "} << NoName << false;
        QTest::newRow("hung") << QStringList{"NAME=empty", "IGNORE_SIGTERM=1"} << NoName << true;
    }

    void programGivesNoName()
    {
        QFETCH(QStringList, knobs);
        QFETCH(QString, error);
        QFETCH(bool, hung);
        for (const QString &knob : knobs)
            qputenv(qPrintable("TARVEX_AWG_" + knob.section('=', 0, 0)),
                    knob.section('=', 1).toUtf8());
        backend->setTimeouts({5000, 5000, hung ? 1000 : 5000, 5000, 500});
        const std::clock_t cpuBefore = std::clock(); // the whole process's CPU time
        QElapsedTimer timer;
        timer.start();
        backend->connectVpn(VpnConfigFixture::sampleConfig());
        const qint64 elapsed = timer.elapsed();
        const double share = double(std::clock() - cpuBefore) / CLOCKS_PER_SEC * 1000.0 / elapsed;
        QCOMPARE(backend->lastError(), error);
        // Hung: the name wait, then SIGTERM's and SIGKILL's.
        QVERIFY2(hung ? elapsed >= 1400 && elapsed < 3500 : elapsed < 2000,
                 qPrintable(QString::number(elapsed)));
        QVERIFY2(!hung || share < 0.25, qPrintable(QString::number(share)));
        QVERIFY(!mac->dump().contains("utun2"));
    }

    // A name file left by an earlier run, pointing at a socket that still answers, must not
    // be taken for the new interface; the new name is trusted only once its socket accepts
    // a connection; and the daemon's own events are served meanwhile. What the program
    // records is exactly the request the backend sent, ended by one blank line, and its
    // answer is read back even when it comes in pieces. (A refusal is the connect sequence's
    // test.)
    void slowProgramIsWaitedFor()
    {
        QVERIFY(QDir().mkpath(runtimePath()));
        QFile stale(runtimePath("amn0.name"));
        QVERIFY(stale.open(QIODevice::WriteOnly) && stale.write("utun0\n") == 6);
        stale.close();
        QLocalServer oldTunnel;
        QVERIFY(oldTunnel.listen(runtimePath("utun0.sock")));
        qputenv("TARVEX_AWG_NAME_DELAY_MS", "300");
        qputenv("TARVEX_AWG_SOCKET_DELAY_MS", "400");
        qputenv("TARVEX_AWG_REPLY_CHUNK_BYTES", "2");
        qputenv("TARVEX_AWG_REPLY_CHUNK_DELAY_MS", "20");
        backend->setTimeouts({});
        bool served = false;
        QTimer::singleShot(100, this, [&served] { served = true; });

        backend->connectVpn(VpnConfigFixture::sampleConfig());
        QCOMPARE(backend->status(), PlatformVpnBackend::Connected);
        QVERIFY(mac->dump().contains("interface utun2 mtu 1376 up"));
        QVERIFY(served);
        QFile record(runtimePath("utun2.request"));
        QVERIFY(record.open(QIODevice::ReadOnly));
        const QByteArray request = record.readAll();
        QVERIFY2(request.startsWith("set=1\nprivate_key=60dabc98f63d4eeb89d15d86749e9fdd") &&
                     request.endsWith("allowed_ip=::/0\n\n") && !request.endsWith("\n\n\n"),
                 request.constData());
    }

    // No shell, a time-out for starting and for finishing, both outputs, and never a macOS
    // system program outside macOS and the sandbox, however it is spelt.
    void outcomes_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QByteArray>("script"); // for /bin/sh
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<ProgramRun::Outcome>("outcome");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("errors"); // a pattern, of the error output or the reason

        const auto row = [](const char *name, const QString &program, const QByteArray &script,
                            int timeoutMs, ProgramRun::Outcome outcome, int exitCode,
                            const QString &output, const QString &errors) {
            QTest::newRow(name) << program << script << timeoutMs << outcome << exitCode << output
                                << errors;
        };
        // Every script gets the same arguments; none may be split or expanded on the way.
        row("arguments unsplit and unexpanded, outputs untrimmed", "/bin/sh",
            "for a in \"$@\"; do printf ' [%s]\\n' \"$a\"; done; printf ' bad\\n\\n' >&2; exit 1",
            5000, ProgramRun::Finished, 1, " [USB 10/100 LAN]\n []\n [$HOME]\n [*]\n",
            "^ bad\n\n$");
        row("missing program", "/nonexistent/program", {}, 5000, ProgramRun::NotStarted, 0, "",
            ".+");
        // exec, so that the kill reaches the sleeping program itself and no orphan is left;
        // the reason is the time-out's own, not the crash that the kill causes.
        row("time-out", "/bin/sh", "echo started; exec sleep 30", 300, ProgramRun::TimedOut, 0, "",
            "(?i)timed out");
#ifndef Q_OS_MACOS // where the backend may always change the system
        QStringList refused{"/sbin/ifconfig", "/sbin/route", "/usr/bin/killall"};
        if (QFile::exists("/sbin/route"))
            refused << "/sbin/../sbin/route"; // another spelling of the same file
        for (const QString &program : refused)
            row(qPrintable(program), program, {}, 5000, ProgramRun::Refused, 0, "",
                "^Системные команды разрешены только на macOS или в песочнице "
                "\\(TARVEX_SANDBOX=1\\): " +
                    program + '$');
#endif
    }

    void outcomes()
    {
        QFETCH(QString, program);
        QFETCH(QByteArray, script);
        QFETCH(int, timeoutMs);
        QFETCH(ProgramRun::Outcome, outcome);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QFETCH(QString, errors);

        QElapsedTimer timer;
        timer.start();
        const ProgramRun run = backend->runForReal(
            program, {"-c", script, "sh", "USB 10/100 LAN", "", "$HOME", "*"}, timeoutMs);
        // at most the time-out plus the kill wait, with room for a slow start
        QVERIFY2(timer.elapsed() < timeoutMs + 2000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(run.outcome, outcome);
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(run.standardOutput, output);
        const QString reason =
            outcome == ProgramRun::Finished ? run.standardError : run.errorString;
        QVERIFY2(QRegularExpression(errors).match(reason).hasMatch(), qPrintable(reason));
    }
};

QTEST_GUILESS_MAIN(TestMacVpnBackendTunnel)
#include "tst_macvpnbackend_tunnel.moc"
