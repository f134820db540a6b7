#include "livewireguard.h"

#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QProcessEnvironment>
#include <QStandardPaths>

#include <csignal>
#include <net/if.h>
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

namespace {

// The daemon gives the whole start 5 s; wireguard-go needs well under one.
constexpr int StartTimeoutMs = 4500;
constexpr int ProbeTimeoutMs = 50;
constexpr int PollMs = 5;
constexpr int StopTimeoutMs = 3000;
constexpr int RequestTimeoutMs = 5000;

QString wireguardGoProgram()
{
    const QString configured = qEnvironmentVariable("TARVEX_AWG_WIREGUARD_GO");
    if (!configured.isEmpty())
        return configured;
    return QStandardPaths::findExecutable(QStringLiteral("wireguard-go"));
}

} // namespace

LiveWireGuard::LiveWireGuard(QObject *parent)
    : QObject(parent)
{
    connect(&process, &QProcess::finished, this, &LiveWireGuard::onFinished);
}

LiveWireGuard::~LiveWireGuard()
{
    stop();
}

QString LiveWireGuard::socketPath(const QString &name)
{
    return QStringLiteral("/var/run/wireguard/%1.sock").arg(name);
}

bool LiveWireGuard::linkExists(const QString &name)
{
    return ::if_nametoindex(name.toLocal8Bit().constData()) != 0;
}

bool LiveWireGuard::start(const QString &interfaceName, QString *error)
{
    name = interfaceName;
    const QString program = wireguardGoProgram();
    if (program.isEmpty()) {
        *error = QStringLiteral("wireguard-go not found (install the wireguard-go package)");
        return false;
    }

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // Ours, not wireguard-go's: an inherited descriptor number or name file would make it
    // adopt a TUN or report a name it does not own.
    for (const char *variable : {"WG_TUN_NAME_FILE", "WG_TUN_FD", "WG_UAPI_FD"})
        environment.remove(QLatin1String(variable));
    // Also keeps its "kernel module recommended" banner out of the daemon's log.
    environment.insert(QStringLiteral("WG_PROCESS_FOREGROUND"), QStringLiteral("1"));
    process.setProcessEnvironment(environment);
    // Its output goes where the daemon reads ours, so a refusal such as "operation not
    // permitted" reaches the daemon's error text just as from the real program.
    process.setProcessChannelMode(QProcess::ForwardedChannels);
#ifdef Q_OS_LINUX
    // If this process is killed outright, wireguard-go and its interface go too.
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
#endif
    process.start(program, {QStringLiteral("-f"), name});
    if (!process.waitForStarted(StartTimeoutMs)) {
        *error = QStringLiteral("cannot start %1: %2").arg(program, process.errorString());
        return false;
    }

    // Ready means its UAPI socket answers; the interface exists before that.
    const QDeadlineTimer deadline(StartTimeoutMs);
    while (!deadline.hasExpired()) {
        if (process.state() == QProcess::NotRunning) {
            *error = QStringLiteral("wireguard-go exited with code %1").arg(process.exitCode());
            return false;
        }
        QLocalSocket probe;
        probe.connectToServer(socketPath(name));
        if (probe.waitForConnected(ProbeTimeoutMs))
            return true;
        process.waitForFinished(PollMs);
    }
    *error = QStringLiteral("wireguard-go did not open %1").arg(socketPath(name));
    stop();
    return false;
}

void LiveWireGuard::stop()
{
    if (process.state() == QProcess::NotRunning)
        return;
    stopping = true;
    process.terminate();
    if (!process.waitForFinished(StopTimeoutMs)) {
        process.kill();
        process.waitForFinished(StopTimeoutMs);
    }
}

QByteArray LiveWireGuard::forward(const QByteArray &request, QString *error) const
{
    QLocalSocket socket;
    socket.connectToServer(socketPath(name));
    if (!socket.waitForConnected(RequestTimeoutMs)) {
        *error = QStringLiteral("wireguard-go's UAPI socket: %1").arg(socket.errorString());
        return {};
    }
    const QDeadlineTimer deadline(RequestTimeoutMs);
    socket.write(request);
    while (socket.bytesToWrite() > 0 && !deadline.hasExpired()) {
        if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
            break;
    }
    QByteArray reply;
    while (!reply.contains("\n\n") && !deadline.hasExpired()) {
        socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        reply += socket.readAll();
        if (socket.state() != QLocalSocket::ConnectedState && socket.bytesAvailable() == 0)
            break;
    }
    const int end = reply.indexOf("\n\n");
    if (end < 0) {
        *error = QStringLiteral("no reply from wireguard-go (%1)").arg(socket.errorString());
        return {};
    }
    return reply.left(end + 2);
}

void LiveWireGuard::onFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    if (stopping)
        return;
    emit ended(exitStatus == QProcess::CrashExit
                   ? QStringLiteral("wireguard-go crashed")
                   : QStringLiteral("wireguard-go exited with code %1").arg(exitCode));
}
