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

bool MacVpnBackend::runCommand(const QString &program, const QStringList &arguments,
                               QString *standardOutput, QString *standardError, int timeoutMs) const
{
    qCInfo(lcTarvexBackend) << "[MacVpnBackend] runCommand" << program << arguments;

    if (!systemChangesAllowed() && isSystemProgram(program)) {
        qCWarning(lcTarvexBackend)
            << "[MacVpnBackend] command refused: system changes are allowed only on macOS"
               " or inside the sandbox (TARVEX_SANDBOX=1)"
            << program;
        if (standardError)
            *standardError = tr("Системные команды разрешены только на macOS или в песочнице "
                                "(TARVEX_SANDBOX=1): %1")
                                 .arg(program);
        return false;
    }

    QProcess process;
    process.start(program, arguments, QIODevice::ReadWrite);
    if (!process.waitForStarted(timeoutMs)) {
        if (standardError)
            *standardError = process.errorString();
        qCWarning(lcTarvexBackend)
            << "[MacVpnBackend] command start failed" << program << process.errorString();
        return false;
    }

    if (!process.waitForFinished(timeoutMs)) {
        // Taken before the kill, which would turn it into "Process crashed".
        const QString timeoutError = process.errorString();
        process.kill();
        process.waitForFinished(KillWaitMs);
        if (standardError)
            *standardError = timeoutError;
        qCWarning(lcTarvexBackend) << "[MacVpnBackend] command timeout" << program << timeoutError;
        return false;
    }

    const QString output = QString::fromUtf8(process.readAllStandardOutput());
    const QString errors = QString::fromUtf8(process.readAllStandardError());

    qCInfo(lcTarvexBackend) << "[MacVpnBackend] command finished" << program
                            << "exitStatus=" << process.exitStatus()
                            << "exitCode=" << process.exitCode();
    qCInfo(lcTarvexBackend).noquote().nospace() << "[MacVpnBackend] command stdout =\n"
                                                << output.trimmed();
    qCInfo(lcTarvexBackend).noquote().nospace() << "[MacVpnBackend] command stderr =\n"
                                                << errors.trimmed();

    // Stored before judging the outcome: callers quote a failing command's own message.
    if (standardOutput)
        *standardOutput = output;
    if (standardError)
        *standardError = errors;

    if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;

    qCWarning(lcTarvexBackend) << "[MacVpnBackend] command failed" << program
                               << "exitCode=" << process.exitCode()
                               << "stderr=" << errors.trimmed();
    return false;
}
