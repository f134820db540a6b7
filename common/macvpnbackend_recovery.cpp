#include "macvpnbackend.h"

#include "routecommand.h"
#include "tarvexlogging.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

namespace {

const QString ProcessListProgram = QStringLiteral("/bin/ps");
const QString KillProgram = QStringLiteral("/bin/kill");
constexpr int StopPollMs = 50;

} // namespace

void MacVpnBackend::recoverFromJournal()
{
    RecoveryJournal::Contents left;
    const RecoveryJournal::State state = journal.read(&left);
    if (state == RecoveryJournal::State::Missing)
        return;
    if (!mayChangeSystem()) {
        qCWarning(lcTarvexBackend) << "[MacVpnBackend] recovery journal left in place: system "
                                      "changes are not allowed here"
                                   << journal.filePath();
        return;
    }

    const bool damaged = state == RecoveryJournal::State::Damaged;
    if (damaged)
        qCWarning(lcTarvexBackend) << "[MacVpnBackend] recovery journal damaged; undoing what it "
                                      "still names"
                                   << journal.filePath() << journal.errorString();
    else
        qCWarning(lcTarvexBackend) << "[MacVpnBackend] recovery journal found: the previous run "
                                      "ended while connected; undoing its changes"
                                   << journal.filePath();
    replayRecoveryJournal(left, damaged);

    // Replayed first and set aside only then: a daemon killed during the replay replays it
    // again at its next start, and every step can be taken twice.
    if (!damaged) {
        removeRecoveryJournal();
        return;
    }
    const QString keptAs = journal.keepAside();
    if (keptAs.isEmpty())
        qCWarning(lcTarvexBackend) << "[MacVpnBackend] damaged recovery journal could not be "
                                      "set aside"
                                   << journal.errorString();
    else
        qCWarning(lcTarvexBackend) << "[MacVpnBackend] damaged recovery journal kept as" << keptAs;
}

// The order of a crash's undo: the tunnel program first (its interface and the routes
// through it go with it), the routes, each service's own DNS servers, the hosts block,
// and the resolver cache last, once nothing of the tunnel is left to resolve through.
void MacVpnBackend::replayRecoveryJournal(const RecoveryJournal::Contents &left, bool damaged)
{
    stopLeftoverTunnel(left.tunnelPid, left.tunnelProgram);

    for (auto it = left.routes.crbegin(); it != left.routes.crend(); ++it) {
        qCInfo(lcTarvexBackend) << "[MacVpnBackend] recovery: delete route" << it->family
                                << it->type << it->destination;
        deleteRoute(*it);
    }

    for (const RecoveryJournal::DnsServers &dns : left.dnsServers) {
        qCInfo(lcTarvexBackend) << "[MacVpnBackend] recovery: DNS servers of" << dns.service
                                << "back to" << dns.servers;
        savedDnsServers.insert(dns.service, dns.servers);
    }
    restoreDns();

    // The block is found by its markers, so removing it is safe even when a damaged
    // journal no longer says whether it was written.
    if (left.hostsBlock || damaged) {
        qCInfo(lcTarvexBackend) << "[MacVpnBackend] recovery: remove the hosts block";
        unpinControlPlaneHosts();
    }
    flushDnsCache();
    qCInfo(lcTarvexBackend) << "[MacVpnBackend] recovery finished";
}

void MacVpnBackend::stopLeftoverTunnel(qint64 pid, const QString &program)
{
    if (pid <= 0) {
        if (!program.isEmpty())
            qCWarning(lcTarvexBackend) << "[MacVpnBackend] recovery: the tunnel program's pid "
                                          "was never recorded; it cannot be stopped"
                                       << program;
        return;
    }
    // A pid from before a restart may belong to anything by now.
    if (!leftoverTunnelRunning(pid, program)) {
        qCInfo(lcTarvexBackend) << "[MacVpnBackend] recovery: tunnel program no longer runs" << pid;
        return;
    }
    for (const char *signal : {"-TERM", "-KILL"}) {
        qCInfo(lcTarvexBackend) << "[MacVpnBackend] recovery: stop tunnel program" << pid << signal;
        runCommand(KillProgram, {QLatin1String(signal), QString::number(pid)}, nullptr, nullptr);
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeouts.tunnelStopMs) {
            if (!leftoverTunnelRunning(pid, program))
                return;
            QThread::msleep(StopPollMs);
        }
    }
    qCWarning(lcTarvexBackend) << "[MacVpnBackend] recovery: tunnel program did not stop" << pid;
}

// True while pid is a live process of the tunnel program's name (a zombie has ended).
bool MacVpnBackend::leftoverTunnelRunning(qint64 pid, const QString &program) const
{
    QString output;
    if (!runCommand(ProcessListProgram,
                    {QStringLiteral("-o"), QStringLiteral("stat=,comm="), QStringLiteral("-p"),
                     QString::number(pid)},
                    &output, nullptr))
        return false;
    const QString line = output.trimmed();
    const QString state = line.section(QLatin1Char(' '), 0, 0);
    const QString command = line.section(QLatin1Char(' '), 1).trimmed();
    return !state.startsWith(QLatin1Char('Z')) &&
           QFileInfo(command).fileName() == QFileInfo(program).fileName();
}

// Written before the program starts, and with its pid as soon as it runs (recordTunnelPid);
// once it runs, this only makes sure that the pid made it into the journal.
bool MacVpnBackend::recordTunnel(const QString &program)
{
    const qint64 pid =
        tunnelProcess.state() == QProcess::NotRunning ? 0 : tunnelProcess.processId();
    const RecoveryJournal::Contents &recorded = journal.contents();
    if ((recorded.tunnelProgram == program && recorded.tunnelPid == pid) ||
        journal.setTunnel(program, pid))
        return true;
    qCWarning(lcTarvexBackend) << "[MacVpnBackend] recovery journal not written"
                               << journal.errorString();
    setError(tr("Не удалось записать журнал восстановления: %1").arg(journal.errorString()));
    return false;
}

void MacVpnBackend::recordTunnelPid()
{
    if (!journal.setTunnel(journal.contents().tunnelProgram, tunnelProcess.processId()))
        qCWarning(lcTarvexBackend)
            << "[MacVpnBackend] recovery journal not written" << journal.errorString();
}

bool MacVpnBackend::addRecordedRoute(const RouteEntry &route, const QStringList &arguments,
                                     QString *error)
{
    if (!journal.addRoute(route)) {
        qCWarning(lcTarvexBackend)
            << "[MacVpnBackend] recovery journal not written" << journal.errorString();
        if (error)
            *error = tr("не удалось записать журнал восстановления: %1").arg(journal.errorString());
        return false;
    }
    if (runCommand(RouteCommand::Program, arguments, nullptr, error))
        return true;
    // Never added, so never ours to delete: the route that stands there (a static route,
    // another tunnel's) belongs to someone else.
    if (!journal.removeRoute(route))
        qCWarning(lcTarvexBackend)
            << "[MacVpnBackend] recovery journal not written" << journal.errorString();
    return false;
}

void MacVpnBackend::deleteRoute(const RouteEntry &route)
{
    runCommand(RouteCommand::Program, RouteCommand::remove(route), nullptr, nullptr);
}

bool MacVpnBackend::recordDnsServers(const QString &service, const QStringList &servers)
{
    if (journal.addDnsServers(service, servers))
        return true;
    qCWarning(lcTarvexBackend) << "[MacVpnBackend] recovery journal not written; DNS of" << service
                               << "left alone" << journal.errorString();
    return false;
}

bool MacVpnBackend::recordHostsBlock()
{
    if (journal.setHostsBlock())
        return true;
    qCWarning(lcTarvexBackend) << "[MacVpnBackend] recovery journal not written; hosts file left "
                                  "alone"
                               << journal.errorString();
    return false;
}

void MacVpnBackend::removeRecoveryJournal()
{
    if (!journal.remove())
        qCWarning(lcTarvexBackend) << "[MacVpnBackend] recovery journal not removed"
                                   << journal.filePath() << journal.errorString();
}

void MacVpnBackend::handleTunnelFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    // During a connect the failing step reports it; a stop of our own is not news.
    if (status() != Connected)
        return;
    qCWarning(lcTarvexBackend) << "[MacVpnBackend] tunnel program ended while connected"
                               << "exitStatus=" << exitStatus << "exitCode=" << exitCode;
    // Without its interface the routes into it are gone and traffic leaves in the clear;
    // DNS and the rest go at once, and the status says so.
    cleanup();
    setError(tr("VPN-туннель остановлен: программа amneziawg-go неожиданно завершилась"));
}
