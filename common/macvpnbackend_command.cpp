#include "macvpnbackend.h"

#include "tarvexlogging.h"

#include <QFileInfo>

namespace {

constexpr int KillWaitMs = 1000;

// The macOS programs that change (or flush) this machine's network settings. Outside
// macOS the same paths lead to the host's own net-tools, whose syntax differs and whose
// effects are real, so they may run only inside the development sandbox.
const QStringList &systemPrograms()
{
    static const QStringList programs{
        QStringLiteral("/sbin/ifconfig"),         QStringLiteral("/sbin/route"),
        QStringLiteral("/usr/sbin/networksetup"), QStringLiteral("/usr/bin/dscacheutil"),
        QStringLiteral("/usr/bin/killall"),
    };
    return programs;
}

// Also catches another spelling of the same file (/usr/sbin/route on a system where /sbin
// is a link to /usr/sbin, a path with "..").
bool isSystemProgram(const QString &program)
{
    const QString canonical = QFileInfo(program).canonicalFilePath();
    for (const QString &systemProgram : systemPrograms()) {
        if (program == systemProgram)
            return true;
        if (!canonical.isEmpty() && canonical == QFileInfo(systemProgram).canonicalFilePath())
            return true;
    }
    return false;
}

} // namespace

MacVpnBackend::ProgramRun
MacVpnBackend::runProgram(const QString &program, const QStringList &arguments, int timeoutMs) const
{
    ProgramRun run;
    if (!systemChangesAllowed() && isSystemProgram(program)) {
        qCWarning(lcTarvexBackend)
            << "[MacVpnBackend] command refused: system changes are allowed only on macOS"
               " or inside the sandbox (TARVEX_SANDBOX=1)"
            << program;
        run.outcome = ProgramRun::Refused;
        run.errorString = tr("Системные команды разрешены только на macOS или в песочнице "
                             "(TARVEX_SANDBOX=1): %1")
                              .arg(program);
        return run;
    }

    QProcess process;
    process.start(program, arguments, QIODevice::ReadWrite);
    if (!process.waitForStarted(timeoutMs)) {
        run.errorString = process.errorString();
        return run;
    }
    if (!process.waitForFinished(timeoutMs)) {
        // Taken before the kill, which would turn it into "Process crashed".
        run.outcome = ProgramRun::TimedOut;
        run.errorString = process.errorString();
        process.kill();
        process.waitForFinished(KillWaitMs);
        return run;
    }
    run.outcome = ProgramRun::Finished;
    run.exitStatus = process.exitStatus();
    run.exitCode = process.exitCode();
    run.standardOutput = QString::fromUtf8(process.readAllStandardOutput());
    run.standardError = QString::fromUtf8(process.readAllStandardError());
    return run;
}

bool MacVpnBackend::runCommand(const QString &program, const QStringList &arguments,
                               QString *standardOutput, QString *standardError) const
{
    qCInfo(lcTarvexBackend) << "[MacVpnBackend] runCommand" << program << arguments;
    const ProgramRun run = runProgram(program, arguments, timeouts.commandMs);
    if (run.outcome != ProgramRun::Finished) {
        if (standardError)
            *standardError = run.errorString;
        if (run.outcome == ProgramRun::NotStarted)
            qCWarning(lcTarvexBackend)
                << "[MacVpnBackend] command start failed" << program << run.errorString;
        else if (run.outcome == ProgramRun::TimedOut)
            qCWarning(lcTarvexBackend)
                << "[MacVpnBackend] command timeout" << program << run.errorString;
        return false;
    }

    qCInfo(lcTarvexBackend) << "[MacVpnBackend] command finished" << program
                            << "exitStatus=" << run.exitStatus << "exitCode=" << run.exitCode;
    qCInfo(lcTarvexBackend).noquote().nospace() << "[MacVpnBackend] command stdout =\n"
                                                << run.standardOutput.trimmed();
    qCInfo(lcTarvexBackend).noquote().nospace() << "[MacVpnBackend] command stderr =\n"
                                                << run.standardError.trimmed();

    // Stored before judging the outcome: callers quote a failing command's own message.
    if (standardOutput)
        *standardOutput = run.standardOutput;
    if (standardError)
        *standardError = run.standardError;

    if (run.exitStatus == QProcess::NormalExit && run.exitCode == 0)
        return true;

    qCWarning(lcTarvexBackend) << "[MacVpnBackend] command failed" << program
                               << "exitCode=" << run.exitCode
                               << "stderr=" << run.standardError.trimmed();
    return false;
}
