#include "terminationsignalwatcher.h"

#include "tarvexlogging.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Read end and write end of the pipe; the write end is all the handler touches.
int wakeFds[2] = {-1, -1};

extern "C" void forwardSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // A full pipe already holds a pending wake-up, so a lost byte loses nothing.
    [[maybe_unused]] const ssize_t written = ::write(wakeFds[1], &byte, 1);
    errno = savedErrno;
}

bool makePipe()
{
    if (::pipe(wakeFds) != 0)
        return false;
    for (int fd : wakeFds) {
        // The tunnel program and the system commands must not inherit the pipe, and
        // neither the handler nor the reader may ever block on it.
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    return true;
}

void closePipe()
{
    for (int &fd : wakeFds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

} // namespace

TerminationSignalWatcher::TerminationSignalWatcher(QObject *parent)
    : QObject(parent)
{
    if (wakeFds[0] >= 0) {
        qCWarning(lcTarvexService) << "[TerminationSignalWatcher] another watcher is active";
        return;
    }
    if (!makePipe()) {
        qCWarning(lcTarvexService) << "[TerminationSignalWatcher] pipe failed" << errno;
        return;
    }

    struct sigaction action = {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (::sigaction(SIGTERM, &action, &previousTerm) != 0 ||
        ::sigaction(SIGINT, &action, &previousInt) != 0) {
        qCWarning(lcTarvexService) << "[TerminationSignalWatcher] sigaction failed" << errno;
        ::sigaction(SIGTERM, &previousTerm, nullptr);
        closePipe();
        return;
    }

    notifier = new QSocketNotifier(wakeFds[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &TerminationSignalWatcher::readSignals);
}

TerminationSignalWatcher::~TerminationSignalWatcher()
{
    if (!isActive())
        return;
    ::sigaction(SIGTERM, &previousTerm, nullptr);
    ::sigaction(SIGINT, &previousInt, nullptr);
    delete notifier;
    closePipe();
}

bool TerminationSignalWatcher::isActive() const
{
    return notifier != nullptr;
}

void TerminationSignalWatcher::readSignals()
{
    unsigned char byte = 0;
    while (::read(wakeFds[0], &byte, 1) == 1) {
        qCInfo(lcTarvexService) << "[TerminationSignalWatcher] signal received" << int(byte);
        emit terminationRequested(int(byte));
    }
}
