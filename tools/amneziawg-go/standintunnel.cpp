#include "standintunnel.h"

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
        name = options.requestedName == QLatin1String("utun")
                   ? SimulatedInterface::claim(options.simStateDir, options.runtimeDir)
                   : (SimulatedInterface::claimName(options.simStateDir, options.requestedName)
                          ? options.requestedName
                          : QString());
        simulated = !name.isEmpty();
    } else {
        name = chooseName();
    }
    if (name.isEmpty()) {
        std::fprintf(stderr, "ERROR: Failed to create TUN device: no free %s interface\n",
                     qPrintable(options.requestedName));
        return false;
    }
    if (!options.hook.isEmpty()) {
        if (!runHook(QStringLiteral("add"))) {
            std::fprintf(stderr, "ERROR: Failed to create TUN device: interface hook failed\n");
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
    const QDir dir(options.runtimeDir);
    if (options.requestedName != QLatin1String("utun")) {
        const bool taken = QFile::exists(dir.filePath(options.requestedName + ".sock"));
        return taken ? QString() : options.requestedName;
    }
    for (int unit = 0; unit <= HighestUnit; ++unit) {
        const QString candidate = QStringLiteral("utun%1").arg(unit);
        if (!QFile::exists(dir.filePath(candidate + QStringLiteral(".sock"))))
            return candidate;
    }
    return {};
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
    if (lines.first() == "get=1") {
        if (body.isEmpty()) {
            reply = device.get();
        } else {
            errnoValue = -EINVAL;
            log(1, QStringLiteral("IPC error %1: trailing character in UAPI get").arg(errnoValue));
        }
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
