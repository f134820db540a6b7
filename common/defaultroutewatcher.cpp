#include "defaultroutewatcher.h"

#include "tarvexlogging.h"

#include <cctype>

namespace {

constexpr int StopWaitMs = 1000;

} // namespace

DefaultRouteWatcher::DefaultRouteWatcher(QObject *parent)
    : QObject(parent)
{
    for (QTimer *timer : {&debounce, &restart})
        timer->setSingleShot(true);
    // Coarse timers: a slow poll need not wake the Mac on the exact millisecond.
    for (QTimer *timer : {&poll, &clockCheck})
        timer->setTimerType(Qt::VeryCoarseTimer);
    monitor.setProcessChannelMode(QProcess::SeparateChannels);
    monitor.setStandardErrorFile(QProcess::nullDevice());
    connect(&monitor, &QProcess::readyReadStandardOutput, this, &DefaultRouteWatcher::readMonitor);
    connect(&monitor, &QProcess::finished, this, &DefaultRouteWatcher::monitorFinished);
    connect(&monitor, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            monitorFinished();
    });
    connect(&debounce, &QTimer::timeout, this,
            [this] { emit checkNeeded(QStringLiteral("monitor")); });
    connect(&poll, &QTimer::timeout, this, [this] { emit checkNeeded(QStringLiteral("poll")); });
    connect(&clockCheck, &QTimer::timeout, this, &DefaultRouteWatcher::checkClock);
    connect(&restart, &QTimer::timeout, this, [this] {
        startMonitor();
        // Whatever changed while no monitor ran went unreported.
        emit checkNeeded(QStringLiteral("restart"));
    });
}

DefaultRouteWatcher::~DefaultRouteWatcher()
{
    stop();
}

void DefaultRouteWatcher::setTiming(const Timing &newTiming)
{
    timing = newTiming;
}

void DefaultRouteWatcher::start(const QString &newProgram, const QStringList &newArguments)
{
    stop();
    program = newProgram;
    arguments = newArguments;
    watching = true;
    restartDelayMs = timing.restartMinMs;
    monotonic.start();
    wallStartMs = QDateTime::currentMSecsSinceEpoch();
    poll.start(timing.pollMs);
    clockCheck.start(timing.clockCheckMs);
    startMonitor();
    // The default route was read at the start of the connect, seconds before the monitor
    // began to listen: one look covers a change in between.
    if (!program.isEmpty())
        debounce.start(timing.debounceMs);
}

void DefaultRouteWatcher::stop()
{
    watching = false;
    for (QTimer *timer : {&debounce, &poll, &clockCheck, &restart})
        timer->stop();
    if (monitor.state() == QProcess::NotRunning)
        return;
    monitor.kill();
    monitor.waitForFinished(StopWaitMs);
}

bool DefaultRouteWatcher::isRouteChange(const QByteArray &line)
{
    static const char *const types[] = {
        "RTM_ADD:", "RTM_DELETE:", "RTM_CHANGE:", "RTM_NEWADDR:", "RTM_DELADDR:"};
    bool typed = false;
    for (const char *type : types)
        typed = typed || line.startsWith(type);
    if (!typed)
        return false;
    // The kernel copies a refused request (any local user may write to a routing socket)
    // to every listener with its errno; it changed nothing and must not make the daemon
    // look again and again.
    const int at = line.indexOf("errno ");
    if (at < 0)
        return true;
    const QByteArray rest = line.mid(at + 6);
    int digits = 0;
    while (digits < rest.size() && std::isdigit(static_cast<unsigned char>(rest.at(digits))))
        ++digits;
    return digits > 0 && rest.left(digits).toInt() == 0;
}

void DefaultRouteWatcher::startMonitor()
{
    if (!watching || program.isEmpty())
        return;
    monitorRunning.start();
    monitor.start(program, arguments, QIODevice::ReadOnly);
}

void DefaultRouteWatcher::readMonitor()
{
    bool change = false;
    while (monitor.canReadLine())
        change = isRouteChange(monitor.readLine()) || change;
    // The first message of a burst arms the timer; the rest of it is answered with it.
    if (change && watching && !debounce.isActive())
        debounce.start(timing.debounceMs);
}

void DefaultRouteWatcher::monitorFinished()
{
    if (!watching || restart.isActive())
        return;
    // A monitor that ran for a good while before it died starts over with a short pause.
    if (monitorRunning.elapsed() > timing.restartMaxMs)
        restartDelayMs = timing.restartMinMs;
    qCWarning(lcTarvexBackend) << "[DefaultRouteWatcher] route monitor ended; restarting in"
                               << restartDelayMs << "ms" << monitor.errorString();
    restart.start(restartDelayMs);
    restartDelayMs = qMin(restartDelayMs * 2, timing.restartMaxMs);
}

void DefaultRouteWatcher::checkClock()
{
    // The monotonic clock stands still while the Mac sleeps; the wall clock does not.
    const qint64 ahead = QDateTime::currentMSecsSinceEpoch() - wallStartMs - monotonic.elapsed();
    if (qAbs(ahead) < timing.clockJumpMs)
        return;
    monotonic.start();
    wallStartMs = QDateTime::currentMSecsSinceEpoch();
    emit checkNeeded(QStringLiteral("clock jump"));
}
