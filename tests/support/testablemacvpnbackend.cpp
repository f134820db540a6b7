#include "testablemacvpnbackend.h"

#include "macsimulator.h"

#include <QFileInfo>

TestableMacVpnBackend::Timeouts TestableMacVpnBackend::shortTimeouts()
{
    return {500, 500, 500, 500, 500};
}

TestableMacVpnBackend::TestableMacVpnBackend(SimulatedMac &mac)
    : applicationDirectory(QFileInfo(QStringLiteral(TARVEX_AMNEZIAWG_STANDIN)).path())
    , mac(mac)
{}

TestableMacVpnBackend::TestableMacVpnBackend()
    : applicationDirectory(QFileInfo(QStringLiteral(TARVEX_AMNEZIAWG_STANDIN)).path())
    , ownMac(std::make_unique<SimulatedMac>())
    , mac(*ownMac)
{}

TestableMacVpnBackend::~TestableMacVpnBackend()
{
    if (status() != Disconnected)
        disconnectVpn();
}

MacVpnBackend::ProgramRun TestableMacVpnBackend::runProgram(const QString &program,
                                                            const QStringList &arguments,
                                                            int timeoutMs) const
{
    static const QStringList simulated{"/sbin/ifconfig", "/sbin/route", "/usr/sbin/networksetup",
                                       "/usr/bin/dscacheutil", "/usr/bin/killall"};
    if (!simulated.contains(program))
        return MacVpnBackend::runProgram(program, arguments, timeoutMs);

    if (beforeCommand)
        beforeCommand(program, arguments);
    const MacSimulator::Run run = MacSimulator::run(program, arguments, mac.stateDirectory());
    ProgramRun result;
    result.outcome = run.hung ? ProgramRun::TimedOut : ProgramRun::Finished;
    result.exitStatus = run.crashed ? QProcess::CrashExit : QProcess::NormalExit;
    result.exitCode = run.exitCode;
    result.standardOutput = run.standardOutput;
    result.standardError = run.standardError;
    if (run.hung) // the command never ran
        result.errorString = QStringLiteral("Process operation timed out");
    return result;
}

QList<QHostAddress> TestableMacVpnBackend::lookupHost(const QString &host, QString *error) const
{
    if (!hosts.contains(host) && error)
        *error = QStringLiteral("Host %1 not found").arg(host);
    return hosts.value(host);
}
