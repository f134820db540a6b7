#include "simulatedmac.h"
#include "testablemacvpnbackend.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

using ProgramRun = TestableMacVpnBackend::ProgramRun;
Q_DECLARE_METATYPE(ProgramRun::Outcome)

// The backend's real way of running a program: no shell, a time-out for starting and for
// finishing, both outputs, and never a macOS system program outside macOS and the sandbox,
// however it is spelt.
class TestMacVpnBackendCommand : public QObject
{
    Q_OBJECT

private:
    SimulatedMac mac;
    TestableMacVpnBackend runner{mac};

private slots:
    // The interlock holds even when the suite runs from a sandbox shell.
    void initTestCase() { qunsetenv("TARVEX_SANDBOX"); }

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
        row("arguments arrive unsplit and unexpanded", "/bin/sh",
            "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done", 5000, ProgramRun::Finished, 0,
            "[USB 10/100 LAN]\n[]\n[$HOME]\n[*]\n", "^$");
        row("exit 1 keeps both outputs untrimmed", "/bin/sh",
            "printf '  out line \\n\\n'; printf ' bad thing\\n' >&2; exit 1", 5000,
            ProgramRun::Finished, 1, "  out line \n\n", "^ bad thing\n$");
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
        const ProgramRun run = runner.runForReal(
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

QTEST_GUILESS_MAIN(TestMacVpnBackendCommand)
#include "tst_macvpnbackend_command.moc"
