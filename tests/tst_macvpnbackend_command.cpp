#include "macvpnbackend.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

namespace {

// The real runner, reachable from the test.
class CommandRunner : public MacVpnBackend
{
public:
    using MacVpnBackend::runCommand;
};

const QString Untouched = QStringLiteral("untouched");

} // namespace

class TestMacVpnBackendCommand : public QObject
{
    Q_OBJECT

private:
    CommandRunner runner;

private slots:
    void outcomes_data()
    {
        QTest::addColumn<QByteArray>("script"); // for /bin/sh; empty: no such program
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("errors"); // a pattern

        const auto row = [](const char *name, const QByteArray &script, int timeoutMs, bool ok,
                            const QString &output, const QString &errors) {
            QTest::newRow(name) << script << timeoutMs << ok << output << errors;
        };
        // Every script gets the same arguments; none may be split or expanded on the way.
        row("arguments arrive unsplit and unexpanded",
            "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done", 5000, true,
            "[USB 10/100 LAN]\n[]\n[$HOME]\n[*]\n", "^$");
        row("stderr with exit 0", "echo 'Сеть'; echo 'route: предупреждение' >&2", 5000, true,
            "Сеть\n", "^route: предупреждение\n$");
        row("exit 1 keeps the output untrimmed",
            "printf '  out line \\n\\n'; printf ' bad thing\\n' >&2; exit 1", 5000, false,
            "  out line \n\n", "^ bad thing\n$");
        row("missing program", {}, 5000, false, Untouched, ".+");
        // exec, so that the kill reaches the sleeping program itself and no orphan is left;
        // the error is the time-out's own, not the crash that the kill causes.
        row("time-out", "echo started; exec sleep 30", 300, false, Untouched, "(?i)timed out");
    }

    void outcomes()
    {
        QFETCH(QByteArray, script);
        QFETCH(int, timeoutMs);
        QFETCH(bool, ok);
        QFETCH(QString, output);
        QFETCH(QString, errors);

        const QString program = script.isEmpty() ? "/nonexistent/program" : "/bin/sh";
        const QStringList arguments{"-c", script, "sh", "USB 10/100 LAN", "", "$HOME", "*"};
        QString standardOutput = Untouched;
        QString standardError;
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(runner.runCommand(program, arguments, &standardOutput, &standardError, timeoutMs),
                 ok);
        // at most the time-out plus the kill wait, with room for a slow start
        QVERIFY2(timer.elapsed() < timeoutMs + 1000 + 1000,
                 qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(standardOutput, output);
        QVERIFY2(QRegularExpression(errors).match(standardError).hasMatch(),
                 qPrintable(standardError));
        QCOMPARE(runner.runCommand(program, arguments, nullptr, nullptr, timeoutMs), ok);
    }

    void systemProgramsRefusedOutsideTheSandbox()
    {
#ifdef Q_OS_MACOS
        QSKIP("macOS always allows the backend to change the system");
#endif
        // The interlock in force even when the suite runs from a sandbox shell.
        qunsetenv("TARVEX_SANDBOX");
        QStringList programs{"/sbin/ifconfig", "/sbin/route", "/usr/bin/killall"};
        if (QFile::exists("/sbin/route"))
            programs << "/sbin/../sbin/route"; // another spelling of the same file
        for (const QString &program : programs) {
            QString standardOutput = Untouched;
            QString standardError;
            QVERIFY(!runner.runCommand(program, {}, &standardOutput, &standardError, 5000));
            QCOMPARE(standardOutput, Untouched);
            QCOMPARE(standardError, "Системные команды разрешены только на macOS или в песочнице "
                                    "(TARVEX_SANDBOX=1): " +
                                        program);
        }
    }
};

QTEST_GUILESS_MAIN(TestMacVpnBackendCommand)
#include "tst_macvpnbackend_command.moc"
