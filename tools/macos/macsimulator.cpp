#include "macsimulator.h"

#include "livenetwork.h"
#include "simknobs.h"
#include "simstate.h"
#include "simstatelock.h"
#include "simtext.h"
#include "standincommands.h"

#include <QFile>
#include <QFileInfo>
#include <QMap>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

// Exit code of a stand-in that cannot work at all (EX_SOFTWARE): no state, bad knob.
constexpr int ExitBroken = 70;

using Command = int (*)(SimState &, const QStringList &);

struct Role
{
    const char *macPath;
    Command run;
};

const QMap<QString, Role> &roles()
{
    static const QMap<QString, Role> table = {
        {QStringLiteral("ifconfig"), {"/sbin/ifconfig", runIfconfig}},
        {QStringLiteral("route"), {"/sbin/route", runRoute}},
        {QStringLiteral("networksetup"), {"/usr/sbin/networksetup", runNetworkSetup}},
        {QStringLiteral("dscacheutil"), {"/usr/bin/dscacheutil", runDscacheutil}},
        {QStringLiteral("killall"), {"/usr/bin/killall", runKillall}},
    };
    return table;
}

void appendToLog(const QString &stateDirectory, const QString &program,
                 const QStringList &arguments)
{
    QStringList words = {shellQuote(program)};
    for (const QString &argument : arguments)
        words.append(shellQuote(argument));
    const QByteArray line = words.join(QLatin1Char(' ')).toUtf8() + '\n';
    const QByteArray path = QFile::encodeName(stateDirectory + QStringLiteral("/log"));
    const int fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    // One write per line: O_APPEND keeps concurrent writers' lines whole.
    const ssize_t written = ::write(fd, line.constData(), line.size());
    Q_UNUSED(written)
    ::close(fd);
}

// A command started by a system path other than its macOS one would not even start on a
// Mac (there is no /usr/sbin/route there), even though Debian's /sbin is /usr/sbin.
bool startedFromForeignPath(const QString &program, const char *macPath)
{
    if (!program.startsWith(QLatin1Char('/')))
        return false;
    static const char *const systemFolders[] = {"/bin/", "/sbin/", "/usr/bin/", "/usr/sbin/"};
    for (const char *folder : systemFolders) {
        if (program.startsWith(QLatin1String(folder)))
            return program != QLatin1String(macPath);
    }
    return false;
}

int applyKnob(const SimKnobs::Rule &rule, const QString &role)
{
    switch (rule.action) {
    case SimKnobs::Fail:
        printOut(rule.standardOutput);
        printErr(rule.standardError.isEmpty()
                     ? QStringLiteral("%1: simulated failure\n").arg(role)
                     : rule.standardError + (rule.standardError.endsWith(QLatin1Char('\n'))
                                                 ? QString()
                                                 : QStringLiteral("\n")));
        return rule.exitCode < 0 ? 1 : rule.exitCode;
    case SimKnobs::Reply:
        printOut(rule.standardOutput);
        printErr(rule.standardError);
        return rule.exitCode < 0 ? 0 : rule.exitCode;
    case SimKnobs::Crash:
    case SimKnobs::Hang:
        break;
    }
    return -1;
}

// Where printOut() and printErr() write while a run is in progress.
MacSimulator::Run *capture = nullptr;

int runStandIn(const QString &program, const QString &role, const Role &entry,
               const QStringList &arguments, const QString &directory, MacSimulator::Hang hang,
               MacSimulator::Run *run)
{
    if (directory.isEmpty()) {
        printErr(QStringLiteral("%1: TARVEX_SIM_STATE is not set; this stand-in only works on a "
                                "simulated macOS state (see tools/macos/README.md)\n")
                     .arg(role));
        return ExitBroken;
    }
    appendToLog(directory, program, arguments);
    // Live mode changes the real routing table: never on this machine's own network.
    if (LiveNetwork::isRequested() && !LiveNetwork::isAllowed()) {
        printErr(QStringLiteral("%1: TARVEX_SIM_LIVE=1 works only inside the development "
                                "sandbox (TARVEX_SANDBOX=1)\n")
                     .arg(role));
        return ExitBroken;
    }

    if (startedFromForeignPath(program, entry.macPath)) {
        printErr(QStringLiteral("%1: No such file or directory on macOS (the command is %2)\n")
                     .arg(program, QLatin1String(entry.macPath)));
        return 127;
    }

    QString error;
    std::optional<SimKnobs::Rule> knob;
    {
        SimStateLock lock(directory);
        if (!lock.isLocked() || !SimKnobs::evaluate(directory, role, arguments, &knob, &error)) {
            printErr(
                QStringLiteral("%1: %2\n").arg(role, lock.isLocked() ? error : lock.errorString()));
            return ExitBroken;
        }
    }
    if (knob && knob->action == SimKnobs::Crash) {
        run->crashed = true;
        return ExitBroken;
    }
    if (knob && knob->action == SimKnobs::Hang) {
        if (hang == MacSimulator::Hang::Report) {
            run->hung = true;
            return ExitBroken;
        }
        // Sleep without the lock, so that other commands (and the daemon's kill) go on.
        std::this_thread::sleep_for(std::chrono::duration<double>(knob->seconds));
    } else if (knob) {
        return applyKnob(*knob, role);
    }

    SimStateLock lock(directory);
    if (!lock.isLocked()) {
        printErr(QStringLiteral("%1: %2\n").arg(role, lock.errorString()));
        return ExitBroken;
    }
    SimState state(directory);
    if (!state.load(&error)) {
        printErr(QStringLiteral("%1: %2\n").arg(role, error));
        return ExitBroken;
    }
    const int exitCode = entry.run(state, arguments);
    if (!state.save(&error)) {
        printErr(QStringLiteral("%1: %2\n").arg(role, error));
        return ExitBroken;
    }
    return exitCode;
}

} // namespace

MacSimulator::Run MacSimulator::run(const QString &program, const QStringList &arguments,
                                    const QString &stateDirectory, Hang hang)
{
    Run run;
    capture = &run;
    const QString role = QFileInfo(program).fileName();
    const auto entry = roles().constFind(role);
    if (role == QLatin1String("tarvex-macos")) {
        run.exitCode = runControl(arguments);
    } else if (entry == roles().cend()) {
        printErr(QStringLiteral("tarvex-macos: started as \"%1\"; start it as tarvex-macos or as "
                                "ifconfig, route, networksetup, dscacheutil or killall\n")
                     .arg(role));
        run.exitCode = ExitBroken;
    } else {
        run.exitCode = runStandIn(program, role, *entry, arguments, stateDirectory, hang, &run);
    }
    capture = nullptr;
    return run;
}

void printOut(const QString &text)
{
    if (capture) {
        capture->standardOutput += text;
        return;
    }
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, bytes.size(), stdout);
    std::fflush(stdout);
}

void printErr(const QString &text)
{
    if (capture) {
        capture->standardError += text;
        return;
    }
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, bytes.size(), stderr);
    std::fflush(stderr);
}
