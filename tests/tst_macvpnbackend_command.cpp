#include "macvpnbackend.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
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
    QTemporaryDir dir;

    // A small /bin/sh program in the test's directory.
    QString script(const QString &name, const QByteArray &body)
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return {};
        file.write("#!/bin/sh\n" + body + '\n');
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        // The refusal test needs the interlock in force, and nothing here may reach the
        // host's network tools even when the suite runs from a sandbox shell.
        qunsetenv("TARVEX_SANDBOX");
    }

    void outcomes_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("errors");

        QTest::newRow("silent success") << QByteArray("exit 0") << true << ""
                                        << "";
        QTest::newRow("stderr with exit 0") << QByteArray("echo 'route: warning' >&2") << true << ""
                                            << "route: warning\n";
        QTest::newRow("exit 1 keeps untrimmed output")
            << QByteArray("printf '  out line \\n\\n'; printf ' bad thing\\n' >&2; exit 1") << false
            << "  out line \n\n"
            << " bad thing\n";
        QTest::newRow("exit 2 without output") << QByteArray("exit 2") << false << ""
                                               << "";
        QTest::newRow("crash") << QByteArray("echo before; kill -SEGV $$") << false << "before\n"
                               << "";
        QTest::newRow("utf-8 output")
            << QByteArray("printf 'Сеть\\n'; printf 'ошибка' >&2") << true << "Сеть\n"
            << "ошибка";
    }

    void outcomes()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, ok);
        QFETCH(QString, output);
        QFETCH(QString, errors);

        const QString program = script(QStringLiteral("outcome.sh"), body);
        QString standardOutput = Untouched;
        QString standardError = Untouched;
        CommandRunner runner;
        QCOMPARE(runner.runCommand(program, {}, &standardOutput, &standardError, 5000), ok);
        QCOMPARE(standardOutput, output);
        QCOMPARE(standardError, errors);
    }

    void nullOutParameters_data()
    {
        QTest::addColumn<bool>("wantOutput");
        QTest::addColumn<bool>("wantErrors");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("ok");

        const QByteArray succeeding("echo out; echo err >&2");
        const QByteArray failing("echo out; echo err >&2; exit 1");
        for (bool wantOutput : {false, true}) {
            for (bool wantErrors : {false, true}) {
                const QByteArray name = QByteArray(wantOutput ? "stdout" : "no stdout") + ", " +
                                        (wantErrors ? "stderr" : "no stderr");
                QTest::newRow(name + ", success") << wantOutput << wantErrors << succeeding << true;
                QTest::newRow(name + ", failure") << wantOutput << wantErrors << failing << false;
            }
        }
    }

    void nullOutParameters()
    {
        QFETCH(bool, wantOutput);
        QFETCH(bool, wantErrors);
        QFETCH(QByteArray, body);
        QFETCH(bool, ok);

        const QString program = script(QStringLiteral("nulls.sh"), body);
        QString standardOutput;
        QString standardError;
        CommandRunner runner;
        QCOMPARE(runner.runCommand(program, {}, wantOutput ? &standardOutput : nullptr,
                                   wantErrors ? &standardError : nullptr, 5000),
                 ok);
        QCOMPARE(standardOutput, wantOutput ? QStringLiteral("out\n") : QString());
        QCOMPARE(standardError, wantErrors ? QStringLiteral("err\n") : QString());
    }

    void argumentsArriveUnsplitAndUnexpanded()
    {
        const QString program =
            script(QStringLiteral("args.sh"), "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done");
        const QStringList arguments{QStringLiteral("-setdnsservers"),
                                    QStringLiteral("USB 10/100 LAN"),
                                    QString(),
                                    QStringLiteral("$HOME"),
                                    QStringLiteral("a'b\"c"),
                                    QStringLiteral("*")};
        QString output;
        CommandRunner runner;
        QVERIFY(runner.runCommand(program, arguments, &output, nullptr, 5000));
        QCOMPARE(output, QStringLiteral("[-setdnsservers]\n[USB 10/100 LAN]\n[]\n[$HOME]\n"
                                        "[a'b\"c]\n[*]\n"));
    }

    void startFailures_data()
    {
        QTest::addColumn<QString>("program");

        QTest::newRow("missing program") << dir.filePath(QStringLiteral("no-such-program"));
        QTest::newRow("not executable") << QStringLiteral("not-executable");
    }

    void startFailures()
    {
        QFETCH(QString, program);
        if (program == QLatin1String("not-executable")) {
            program = script(program, "exit 0");
            QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner);
        }

        QString standardOutput = Untouched;
        QString standardError = Untouched;
        CommandRunner runner;
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral(
                                 "^\\[MacVpnBackend\\] command start failed \".*\" \".+\"$")));
        QVERIFY(!runner.runCommand(program, {}, &standardOutput, &standardError, 5000));
        QCOMPARE(standardOutput, Untouched);
        QVERIFY(!standardError.isEmpty());
        QVERIFY(standardError != Untouched);
    }

    void timeoutKillsTheProgram()
    {
        // exec, so that the kill reaches the sleeping program itself and no orphan is left.
        const QString program = script(QStringLiteral("sleeper.sh"), "echo started; exec sleep 30");
        QString standardOutput = Untouched;
        QString standardError = Untouched;
        CommandRunner runner;
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral(
                                 "^\\[MacVpnBackend\\] command timeout \".*sleeper.sh\" \".+\"$")));
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!runner.runCommand(program, {}, &standardOutput, &standardError, 300));
        const qint64 elapsed = timer.elapsed();
        QVERIFY2(elapsed >= 300, qPrintable(QString::number(elapsed)));
        // time-out plus the kill wait, with room for a slow start
        QVERIFY2(elapsed < 300 + 1000 + 1000, qPrintable(QString::number(elapsed)));
        QCOMPARE(standardOutput, Untouched);
        // the time-out itself, not the crash that the kill causes
        QVERIFY2(standardError.contains(QLatin1String("timed out"), Qt::CaseInsensitive),
                 qPrintable(standardError));
    }

    void logLinesOfAFailingCommand()
    {
        const QString program =
            script(QStringLiteral("logged.sh"), "echo ' result '; echo ' no route ' >&2; exit 3");
        const QByteArray quoted = '"' + program.toUtf8() + '"';
        QTest::ignoreMessage(QtInfoMsg,
                             "[MacVpnBackend] runCommand " + quoted + " QList(\"-n\", \"get\")");
        QTest::ignoreMessage(QtInfoMsg, "[MacVpnBackend] command finished " + quoted +
                                            " exitStatus= QProcess::NormalExit exitCode= 3");
        QTest::ignoreMessage(QtInfoMsg, "[MacVpnBackend] command stdout =\nresult");
        QTest::ignoreMessage(QtInfoMsg, "[MacVpnBackend] command stderr =\nno route");
        QTest::ignoreMessage(QtWarningMsg, "[MacVpnBackend] command failed " + quoted +
                                               " exitCode= 3 stderr= \"no route\"");
        CommandRunner runner;
        QVERIFY(!runner.runCommand(program, {QStringLiteral("-n"), QStringLiteral("get")}, nullptr,
                                   nullptr, 5000));
    }

    void systemProgramsRefusedOutsideTheSandbox_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");

        // Arguments that would only read, should the interlock ever let one through.
        QTest::newRow("ifconfig") << "/sbin/ifconfig" << QStringList{"-a"};
        QTest::newRow("route") << "/sbin/route" << QStringList{"-n"};
        QTest::newRow("networksetup")
            << "/usr/sbin/networksetup" << QStringList{"-listallnetworkservices"};
        QTest::newRow("dscacheutil") << "/usr/bin/dscacheutil" << QStringList{"-help"};
        QTest::newRow("killall") << "/usr/bin/killall" << QStringList{"-l"};
        QTest::newRow("route through a detour") << "/sbin/../sbin/route" << QStringList{"-n"};
    }

    void systemProgramsRefusedOutsideTheSandbox()
    {
#ifdef Q_OS_MACOS
        QSKIP("macOS always allows the backend to change the system");
#endif
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QVERIFY(!MacVpnBackend::systemChangesAllowed());
        if (program.contains(QLatin1String("..")) && !QFile::exists(program))
            QSKIP("no /sbin/route on this machine to reach by another path");

        QString standardOutput = Untouched;
        QString standardError;
        CommandRunner runner;
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral(
                                 "^\\[MacVpnBackend\\] command refused: .*TARVEX_SANDBOX.*")));
        QVERIFY(!runner.runCommand(program, arguments, &standardOutput, &standardError, 5000));
        QCOMPARE(standardOutput, Untouched);
        QVERIFY2(standardError.contains(QLatin1String("TARVEX_SANDBOX=1")),
                 qPrintable(standardError));
    }
};

QTEST_GUILESS_MAIN(TestMacVpnBackendCommand)
#include "tst_macvpnbackend_command.moc"
