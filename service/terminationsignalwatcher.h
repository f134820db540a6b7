#pragma once

#include <QObject>

#include <csignal>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into a Qt signal on the event loop's thread. launchd stops a
// daemon with SIGTERM; ending the event loop then (instead of dying at once) lets the
// backend's destructor remove the tunnel's routes, DNS servers and hosts entries.
//
// The handler only writes the signal number into a pipe (the one async-signal-safe way
// out of a handler); a socket notifier reads it on the event loop. One instance at a time.
class TerminationSignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignalWatcher(QObject *parent = nullptr);
    // Restores the previous handlers.
    ~TerminationSignalWatcher() override;

    // False when the handlers could not be installed (pipe or sigaction failed, or
    // another instance is active): the signals then keep their previous effect.
    bool isActive() const;

signals:
    void terminationRequested(int signalNumber);

private:
    void readSignals();

    QSocketNotifier *notifier = nullptr;
    struct sigaction previousTerm = {};
    struct sigaction previousInt = {};
};
