#include "standintunnel.h"

#include "livewireguard.h"
#include "simulatedinterface.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QProcess>
#include <QSaveFile>
#include <QTimer>

#include <cerrno>
#include <cstdio>

namespace {

constexpr int HookTimeoutMs = 5000;
// A request larger than this is not a configuration; drop the client like a real
// device would drop a garbled stream.
constexpr int MaxRequestBytes = 1 << 20;
constexpr int HighestUnit = 255;

bool writeFile(const QString &path, const QByteArray &content)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(content);
    if (!file.commit())
        return false;
    // The record holds key material: keep it to the owner, as the socket is.
    return QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

} // namespace

StandInTunnel::StandInTunnel(const Options &options, QObject *parent)
    : QObject(parent)
    , options(options)
{}

StandInTunnel::~StandInTunnel()
{
    stop();
}

bool StandInTunnel::start()
{
    if (!options.simStateDir.isEmpty()) {
        // On the simulated Mac the state decides which utun numbers are taken.
        name = claimSimulatedName();
        simulated = !name.isEmpty();
    } else {
        name = chooseName();
    }
    if (name.isEmpty()) {
        std::fprintf(stderr, "ERROR: Failed to create TUN device: no free %s interface\n",
                     qPrintable(options.requestedName));
        return false;
    }
    if (options.live) {
        wireguard = new LiveWireGuard(this);
        QString error;
        if (!wireguard->start(name, &error)) {
            std::fprintf(stderr, "ERROR: Failed to create TUN device: %s\n", qPrintable(error));
            stop();
            return false;
        }
        // Without wireguard-go the interface is gone: so is the tunnel program.
        connect(wireguard, &LiveWireGuard::ended, this, [this](const QString &reason) {
            log(1, reason);
            stop();
            QCoreApplication::exit(1);
        });
    }
    if (!options.hook.isEmpty()) {
        if (!runHook(QStringLiteral("add"))) {
            std::fprintf(stderr, "ERROR: Failed to create TUN device: interface hook failed\n");
            stop();
            return false;
        }
        added = true;
    }
    log(2, QStringLiteral("Starting amneziawg-go stand-in"));

    if (options.socketDelayMs > 0) {
        // The order a real tunnel program may show: the name is out before the UAPI
        // socket listens.
        QTimer::singleShot(options.nameDelayMs, this, &StandInTunnel::writeNameFile);
        QTimer::singleShot(options.socketDelayMs, this, &StandInTunnel::listen);
    } else {
        listen();
        QTimer::singleShot(options.nameDelayMs, this, &StandInTunnel::writeNameFile);
    }
    return true;
}

void StandInTunnel::stop()
{
    if (server) {
        server->close(); // removes the socket file
        delete server;
        server = nullptr;
        log(2, QStringLiteral("UAPI listener stopped"));
    }
    if (wireguard) {
        // Waits for wireguard-go, so the real interface is gone before the simulated one.
        wireguard->stop();
        // Possibly called from its own "ended" signal.
        wireguard->deleteLater();
        wireguard = nullptr;
    }
    if (added) {
        runHook(QStringLiteral("remove"));
        added = false;
    }
    if (simulated) {
        SimulatedInterface::release(options.simStateDir, name);
        simulated = false;
    }
}

QString StandInTunnel::chooseName() const
{
    if (options.requestedName != QLatin1String("utun"))
        return nameTaken(options.requestedName) ? QString() : options.requestedName;
    for (int unit = 0; unit <= HighestUnit; ++unit) {
        const QString candidate = QStringLiteral("utun%1").arg(unit);
        if (!nameTaken(candidate))
            return candidate;
    }
    return {};
}

bool StandInTunnel::nameTaken(const QString &candidate) const
{
    return QFile::exists(QDir(options.runtimeDir).filePath(candidate + QStringLiteral(".sock"))) ||
           (options.live && LiveWireGuard::linkExists(candidate));
}

QString StandInTunnel::claimSimulatedName() const
{
    const bool pickNumber = options.requestedName == QLatin1String("utun");
    QStringList skipped;
    QString claimed;
    for (;;) {
        claimed = pickNumber ? SimulatedInterface::claim(options.simStateDir, options.runtimeDir)
                  : SimulatedInterface::claimName(options.simStateDir, options.requestedName)
                      ? options.requestedName
                      : QString();
        if (claimed.isEmpty() || !options.live || !LiveWireGuard::linkExists(claimed))
            break;
        // The namespace already has a link of that name that the simulated Mac does not
        // know (a tunnel brought up by other means): hold the claim while looking further.
        skipped.append(claimed);
        claimed.clear();
        if (!pickNumber)
            break;
    }
    for (const QString &taken : std::as_const(skipped))
        SimulatedInterface::release(options.simStateDir, taken);
    return claimed;
}

bool StandInTunnel::runHook(const QString &action) const
{
    QProcess hook;
    hook.setProcessChannelMode(QProcess::ForwardedChannels);
    hook.start(options.hook, {action, name});
    if (!hook.waitForStarted(HookTimeoutMs))
        return false;
    if (!hook.waitForFinished(HookTimeoutMs)) {
        hook.kill();
        hook.waitForFinished(HookTimeoutMs);
        return false;
    }
    return hook.exitStatus() == QProcess::NormalExit && hook.exitCode() == 0;
}

void StandInTunnel::listen()
{
    server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    const QString path = QDir(options.runtimeDir).filePath(name + QStringLiteral(".sock"));
    if (!server->listen(path)) {
        std::fprintf(stderr, "ERROR: Failed to listen on uapi socket: %s\n",
                     qPrintable(server->errorString()));
        delete server;
        server = nullptr;
        QCoreApplication::exit(1);
        return;
    }
    connect(server, &QLocalServer::newConnection, this, &StandInTunnel::handleConnection);
    log(2, QStringLiteral("UAPI listener started"));
}

void StandInTunnel::writeNameFile()
{
    if (options.nameMode == QLatin1String("never"))
        return;
    const QByteArray content =
        options.nameMode == QLatin1String("empty") ? QByteArray() : name.toLocal8Bit() + '\n';
    if (!writeFile(options.nameFile, content)) {
        std::fprintf(stderr, "ERROR: Failed to write the interface name to %s\n",
                     qPrintable(options.nameFile));
        QCoreApplication::exit(1);
    }
}

void StandInTunnel::handleConnection()
{
    while (QLocalSocket *socket = server->nextPendingConnection()) {
        connections.insert(socket, Connection());
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { handleInput(socket); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
            connections.remove(socket);
            socket->deleteLater();
        });
        handleInput(socket);
    }
}

void StandInTunnel::handleInput(QLocalSocket *socket)
{
    if (!connections.contains(socket))
        return;
    connections[socket].input += socket->readAll();

    for (;;) {
        Connection &connection = connections[socket];
        // Replies go out in the order of the requests.
        if (connection.replyPending)
            return;
        QByteArray &input = connection.input;
        const int firstLineEnd = input.indexOf('\n');
        if (firstLineEnd >= 0) {
            const QByteArray operation = input.left(firstLineEnd);
            if (operation != "set=1" && operation != "get=1") {
                // wireguard-go drops the connection without an answer.
                log(1,
                    QStringLiteral("invalid UAPI operation: %1").arg(QString::fromUtf8(operation)));
                connections.remove(socket);
                socket->abort();
                return;
            }
        }
        const int end = input.indexOf("\n\n");
        if (end < 0) {
            if (input.size() > MaxRequestBytes) {
                log(1, QStringLiteral("UAPI request too large"));
                connections.remove(socket);
                socket->abort();
            }
            return;
        }
        const QByteArray request = input.left(end + 2);
        input.remove(0, end + 2);
        handleRequest(socket, request);
    }
}

void StandInTunnel::handleRequest(QLocalSocket *socket, const QByteArray &request)
{
    // "op\nkey=value\n...\n\n" split at line feeds ends in two empty pieces.
    const QList<QByteArray> lines = request.split('\n');
    const QList<QByteArray> body = lines.mid(1, lines.size() - 3);

    int errnoValue = 0;
    QByteArray reply;
    if (lines.first() == "get=1" && wireguard) {
        QString error;
        reply = wireguard->forward(request, &error);
        if (reply.isEmpty()) {
            log(1, error);
            connections.remove(socket);
            socket->abort();
            return;
        }
        sendReply(socket, reply);
        return;
    }
    if (lines.first() == "get=1") {
        if (body.isEmpty()) {
            reply = device.get();
        } else {
            errnoValue = -EINVAL;
            log(1, QStringLiteral("IPC error %1: trailing character in UAPI get").arg(errnoValue));
        }
    } else if (wireguard && !options.forcedSetErrno) {
        ++requestCount;
        reply = handleLiveSet(body, &errnoValue);
        writeRecord(request, errnoValue);
        if (reply.isEmpty()) {
            connections.remove(socket);
            socket->abort();
            return;
        }
        sendReply(socket, reply);
        return;
    } else {
        ++requestCount;
        QString error;
        if (options.forcedSetErrno) {
            errnoValue = options.setErrno;
            error = QStringLiteral("forced by TARVEX_AWG_SET_ERRNO");
        } else {
            errnoValue = device.set(body, &error);
        }
        if (errnoValue == 0) {
            ++appliedCount;
            log(2, QStringLiteral("UAPI: configuration applied"));
        } else {
            log(1, QStringLiteral("IPC error %1: %2").arg(errnoValue).arg(error));
        }
        writeRecord(request, errnoValue);
    }
    reply += "errno=" + QByteArray::number(errnoValue) + "\n\n";
    sendReply(socket, reply);
}

QByteArray StandInTunnel::handleLiveSet(const QList<QByteArray> &body, int *errnoValue)
{
    // wireguard-go knows no obfuscation keys: they are checked and applied here (to the
    // record only; both ends of the tunnel are plain WireGuard) and the rest is its to judge.
    QList<QByteArray> plain;
    QString error;
    *errnoValue = UapiDevice::withoutObfuscation(body, &plain, &error);
    if (*errnoValue != 0) {
        log(1, QStringLiteral("IPC error %1: %2").arg(*errnoValue).arg(error));
        return "errno=" + QByteArray::number(*errnoValue) + "\n\n";
    }
    QByteArray request = "set=1\n";
    for (const QByteArray &line : std::as_const(plain))
        request += line + '\n';
    request += '\n';
    const QByteArray reply = wireguard->forward(request, &error);
    if (reply.isEmpty()) {
        log(1, error);
        *errnoValue = -EIO;
        return {};
    }
    for (const QByteArray &line : reply.split('\n')) {
        if (line.startsWith("errno="))
            *errnoValue = line.mid(6).toInt();
    }

    // The simulated device judges the same request; a different verdict means its rules
    // no longer match wireguard-go's, which the non-live tests rely on.
    QString standInError;
    const int standInErrno = device.set(body, &standInError);
    if ((standInErrno == 0) != (*errnoValue == 0))
        log(1, QStringLiteral("stand-in check disagrees with wireguard-go: errno %1 here (%2), "
                              "%3 from wireguard-go")
                   .arg(standInErrno)
                   .arg(standInError.isEmpty() ? QStringLiteral("accepted") : standInError)
                   .arg(*errnoValue));
    if (*errnoValue == 0) {
        ++appliedCount;
        log(2, QStringLiteral("UAPI: configuration applied by wireguard-go"));
    } else {
        log(1, QStringLiteral("IPC error %1 from wireguard-go").arg(*errnoValue));
    }
    return reply;
}

void StandInTunnel::sendReply(QLocalSocket *socket, const QByteArray &reply)
{
    if (options.replyChunkBytes <= 0) {
        socket->write(reply);
        socket->flush();
        return;
    }
    Connection &connection = connections[socket];
    connection.output += reply;
    connection.replyPending = true;
    writeNextChunk(socket);
}

void StandInTunnel::writeNextChunk(QLocalSocket *socket)
{
    if (!connections.contains(socket))
        return;
    Connection &connection = connections[socket];
    const QByteArray chunk = connection.output.left(options.replyChunkBytes);
    connection.output.remove(0, chunk.size());
    socket->write(chunk);
    socket->flush();
    if (!connection.output.isEmpty()) {
        QPointer<QLocalSocket> guard(socket);
        QTimer::singleShot(options.replyChunkDelayMs, this, [this, guard] {
            if (guard)
                writeNextChunk(guard);
        });
        return;
    }
    connection.replyPending = false;
    // Requests that arrived while the reply was being written are answered now.
    QTimer::singleShot(0, this, [this, guard = QPointer<QLocalSocket>(socket)] {
        if (guard)
            handleInput(guard);
    });
}

void StandInTunnel::writeRecord(const QByteArray &request, int errnoValue)
{
    QJsonObject record{
        {QStringLiteral("interface"), name},         {QStringLiteral("set_requests"), requestCount},
        {QStringLiteral("applied"), appliedCount},   {QStringLiteral("last_errno"), errnoValue},
        {QStringLiteral("config"), device.toJson()},
    };
    if (!writeFile(recordPath(QStringLiteral(".request")), request) ||
        !writeFile(recordPath(QStringLiteral(".json")), QJsonDocument(record).toJson()))
        log(1, QStringLiteral("failed to write the configuration record"));
}

void StandInTunnel::log(int level, const QString &text) const
{
    if (level > options.logLevel)
        return;
    std::fprintf(stdout, "%s: (%s) %s\n", level == 1 ? "ERROR" : "DEBUG", qPrintable(name),
                 qPrintable(text));
    std::fflush(stdout);
}

QString StandInTunnel::recordPath(const QString &suffix) const
{
    return QDir(options.runtimeDir).filePath(name + suffix);
}
