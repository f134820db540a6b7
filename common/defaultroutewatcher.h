#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QTimer>

// Tells the backend, while a tunnel is up, when the default route may have changed: a
// child "route -n monitor" reports every routing message (only additions, deletions,
// changes and address changes count; a burst is answered once, a second after its first
// message), a slow poll catches whatever the monitor missed, and a wall clock that jumped
// ahead of the monotonic one (the Mac slept) asks at once. The monitor is restarted with
// a growing pause when it keeps dying, and never outlives stop() or the watcher.
class DefaultRouteWatcher : public QObject
{
    Q_OBJECT

public:
    struct Timing
    {
        int debounceMs = 1000;
        int pollMs = 45000;
        int clockCheckMs = 5000;
        int clockJumpMs = 10000; // the wall clock ahead of the monotonic one by this much
        int restartMinMs = 500;
        int restartMaxMs = 30000;
    };

    explicit DefaultRouteWatcher(QObject *parent = nullptr);
    ~DefaultRouteWatcher() override;

    void setTiming(const Timing &timing);

    // Starts watching; an empty program runs no monitor (the polls still run).
    void start(const QString &program, const QStringList &arguments);
    void stop();
    bool isWatching() const { return watching; }

    // Whether a routing message line of route(8)'s monitor is one that can change the way
    // out: its type is RTM_ADD, RTM_DELETE, RTM_CHANGE, RTM_NEWADDR or RTM_DELADDR.
    static bool isRouteChange(const QByteArray &line);

signals:
    // Look at the default route now. reason: "monitor", "poll", "clock jump", "restart".
    void checkNeeded(const QString &reason);

private:
    void startMonitor();
    void readMonitor();
    void monitorFinished();
    void checkClock();

    Timing timing;
    QString program;
    QStringList arguments;
    bool watching = false;
    int restartDelayMs = 0;
    QProcess monitor;
    QTimer debounce;
    QTimer poll;
    QTimer clockCheck;
    QTimer restart;
    QElapsedTimer monitorRunning;
    QElapsedTimer monotonic;
    qint64 wallStartMs = 0;
};
