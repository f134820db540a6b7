#include "macvpnbackend.h"

#include "runtimedirectoryguard.h"
#include "tarvexlogging.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcessEnvironment>
#include <QSignalBlocker>
#include <QTimer>

namespace {

constexpr char TunnelProgram[] = "amneziawg-go";
constexpr char NameFile[] = "amn0.name";
constexpr int EventSliceMs = 100;
constexpr int SocketProbeTimeoutMs = 100;
// processEvents() returns at once when nothing is pending, so without a pause the wait
// for the name file would spin a core for five seconds. Pausing in an event loop keeps
// the daemon's own socket server served while the tunnel program starts up.
constexpr int IdlePollMs = 20;

void waitIdle(QProcess &process)
{
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    // A program that dies ends the wait at once instead of at the next poll.
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    timer.start(IdlePollMs);
    loop.exec();
}

} // namespace

QString MacVpnBackend::findTunnelBinary() const
{
    const QString program = QString::fromLatin1(TunnelProgram);
    const QDir appDir(applicationDirPath());
    const QStringList candidates{
        appDir.filePath(program),
        appDir.filePath(QStringLiteral("../Resources/%1").arg(program)),
        QDir::current().filePath(program),
    };
    for (const QString &candidate : candidates) {
        qCInfo(lcTarvexBackend) << "[MacVpnBackend] check tunnel binary" << candidate;
        const QFileInfo info(candidate);
        if (info.exists() && info.isFile() && info.isExecutable())
            return info.absoluteFilePath();
    }
    return {};
}

bool MacVpnBackend::startTunnelProcess()
{
    qCInfo(lcTarvexBackend) << "[MacVpnBackend] startTunnelProcess";
    tunnelOutput.clear();

    runtimeDir = runtimeDirectory();
    qCInfo(lcTarvexBackend) << "[MacVpnBackend] runtime dir" << runtimeDir;
    QString untrusted;
    if (!RuntimeDirectoryGuard::prepare(runtimeDir, &untrusted)) {
        qCWarning(lcTarvexBackend) << "[MacVpnBackend] runtime dir unusable" << untrusted;
        setError(tr("Не удалось создать runtime-директорию для VPN"));
        return false;
    }

    // QProcess::start() on a running process does nothing, which would leave the old
    // program answering for the new connection.
    if (tunnelProcess.state() != QProcess::NotRunning)
        stopTunnelProcess();

    const QString nameFile = QDir(runtimeDir).filePath(QString::fromLatin1(NameFile));
    // A name left by an earlier run would point at a dead or foreign socket.
    if (QFile::exists(nameFile) && !QFile::remove(nameFile))
        qCWarning(lcTarvexBackend) << "[MacVpnBackend] stale name file not removed" << nameFile;

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("WG_TUN_NAME_FILE"), nameFile);
    tunnelProcess.setProcessEnvironment(environment);
    tunnelProcess.setProcessChannelMode(QProcess::SeparateChannels);

    const QString program = findTunnelBinary();
    const QStringList arguments{QStringLiteral("-f"), QStringLiteral("utun")};
    qCInfo(lcTarvexBackend) << "[MacVpnBackend] start process" << program << arguments
                            << "WG_TUN_NAME_FILE=" << nameFile;

    tunnelProcess.start(program, arguments, QIODevice::ReadWrite);
    if (!tunnelProcess.waitForStarted(timeouts.tunnelStartMs)) {
        qCWarning(lcTarvexBackend)
            << "[MacVpnBackend] tunnel process failed to start" << tunnelProcess.errorString();
        setError(tr("Не удалось запустить amneziawg-go: %1").arg(tunnelProcess.errorString()));
        return false;
    }

    interfaceName = waitForTunnelName(nameFile);
    if (!interfaceName.isEmpty()) {
        qCInfo(lcTarvexBackend) << "[MacVpnBackend] tunnel interface" << interfaceName;
        return true;
    }

    const QString pendingOutput =
        QString::fromUtf8(tunnelProcess.readAllStandardOutput()).trimmed();
    const QString pendingError = QString::fromUtf8(tunnelProcess.readAllStandardError()).trimmed();
    if (!pendingOutput.isEmpty())
        tunnelOutput += QLatin1Char('\n') + pendingOutput;
    if (!pendingError.isEmpty())
        tunnelOutput += QLatin1Char('\n') + pendingError;

    QString details = tunnelOutput.trimmed();
    if (details.contains(QLatin1String("operation not permitted"), Qt::CaseInsensitive)) {
        details = tr("amneziawg-go не может создать utun-интерфейс без прав администратора. "
                     "Нужен привилегированный daemon/helper как в Amnezia.");
    }
    if (details.isEmpty())
        details = tr("не удалось получить имя utun-интерфейса");
    qCWarning(lcTarvexBackend) << "[MacVpnBackend] tunnel interface failed" << details;
    setError(tr("Не удалось создать VPN-интерфейс: %1").arg(details));
    return false;
}

QString MacVpnBackend::waitForTunnelName(const QString &nameFile)
{
    QElapsedTimer timer;
    timer.start();
    // Each refusal is logged once, not at every poll.
    QString lastProblem;
    while (tunnelProcess.state() == QProcess::Running) {
        if (timer.elapsed() > timeouts.interfaceNameMs)
            break;
        QCoreApplication::processEvents(QEventLoop::AllEvents, EventSliceMs);
        waitIdle(tunnelProcess);

        const QString output = QString::fromUtf8(tunnelProcess.readAllStandardOutput()).trimmed();
        if (!output.isEmpty()) {
            tunnelOutput += QLatin1Char('\n') + output;
            qCInfo(lcTarvexBackend).noquote() << "[MacVpnBackend] tunnel stdout =\n" + output;
        }
        const QString errors = QString::fromUtf8(tunnelProcess.readAllStandardError()).trimmed();
        if (!errors.isEmpty()) {
            tunnelOutput += QLatin1Char('\n') + errors;
            qCWarning(lcTarvexBackend).noquote() << "[MacVpnBackend] tunnel stderr =\n" + errors;
        }

        QString problem;
        const QString name = RuntimeDirectoryGuard::readInterfaceName(nameFile, &problem);
        if (!problem.isEmpty() && problem != lastProblem)
            qCWarning(lcTarvexBackend)
                << "[MacVpnBackend] name file refused" << nameFile << problem;
        lastProblem = problem;
        if (name.isEmpty())
            continue;
        qCInfo(lcTarvexBackend) << "[MacVpnBackend] name file read" << nameFile
                                << "ifName=" << name;

        const QString socketPath = QDir(runtimeDir).filePath(name + QStringLiteral(".sock"));
        qCInfo(lcTarvexBackend) << "[MacVpnBackend] test uapi socket" << socketPath;
        if (!RuntimeDirectoryGuard::isTrustedSocket(socketPath, &problem)) {
            qCWarning(lcTarvexBackend) << "[MacVpnBackend] test uapi socket failed" << problem;
            continue;
        }
        QLocalSocket probe;
        probe.connectToServer(socketPath, QIODevice::ReadWrite);
        if (probe.waitForConnected(SocketProbeTimeoutMs))
            return name;
        qCWarning(lcTarvexBackend)
            << "[MacVpnBackend] test uapi socket failed" << probe.errorString();
    }

    qCWarning(lcTarvexBackend) << "[MacVpnBackend] waitForTunnelName timeout"
                               << "processState=" << tunnelProcess.state()
                               << "exitStatus=" << tunnelProcess.exitStatus()
                               << "exitCode=" << tunnelProcess.exitCode();
    return {};
}

void MacVpnBackend::stopTunnelProcess()
{
    if (tunnelProcess.state() == QProcess::NotRunning)
        return;
    // A stop of our own is no news to the watch on the program (handleTunnelFinished).
    const QSignalBlocker quiet(tunnelProcess);
    tunnelProcess.terminate();
    if (tunnelProcess.waitForFinished(timeouts.tunnelStopMs))
        return;
    tunnelProcess.kill();
    tunnelProcess.waitForFinished(timeouts.tunnelStopMs);
}
