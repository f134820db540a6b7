// tarvex-attacker: what an unprivileged local user can do to the daemon's sockets, for the
// end-to-end attack scenarios (run under setpriv as another uid inside the sandbox).
//
//   tarvex-attacker listen PATH RECORD          listen on PATH, append what arrives to RECORD
//   tarvex-attacker hold PATH COUNT BYTES SECS  open COUNT connections, send BYTES of an
//                                               unfinished request on each, report, hold them
//   tarvex-attacker request PATH LINE           send one line, print the raw reply
//
// "listen" prints "listening" once ready; "hold" prints
// "open=N closed=M" after a second and keeps the open ones for SECS seconds.

#include <QCoreApplication>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <csignal>
#include <cstdio>

namespace {

constexpr int SettleMs = 1000;
constexpr int RequestTimeoutMs = 5000;

int say(const QByteArray &line, int result = 0)
{
    std::printf("%s\n", line.constData());
    std::fflush(stdout);
    return result;
}

int listen(const QString &path, const QString &record)
{
    auto *server = new QLocalServer(qApp);
    server->setSocketOptions(QLocalServer::WorldAccessOption);
    if (!server->listen(path))
        return say("cannot listen: " + server->errorString().toUtf8(), 1);
    QObject::connect(server, &QLocalServer::newConnection, server, [server, record] {
        while (QLocalSocket *socket = server->nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, record] {
                QFile file(record);
                if (file.open(QIODevice::Append))
                    file.write(socket->readAll());
            });
        }
    });
    say("listening");
    return qApp->exec();
}

int hold(const QString &path, int count, qint64 bytes, int seconds)
{
    const QByteArray partial = "{\"command\":\"status\"" + QByteArray(qMax<qint64>(bytes, 0), ' ');
    QList<QLocalSocket *> sockets;
    for (int i = 0; i < count; ++i) {
        auto *socket = new QLocalSocket(qApp);
        socket->connectToServer(path);
        if (!socket->waitForConnected(RequestTimeoutMs))
            break;
        if (bytes > 0)
            socket->write(partial);
        sockets.append(socket);
    }
    QTimer::singleShot(SettleMs, qApp, [sockets] {
        int open = 0;
        for (const QLocalSocket *socket : sockets)
            open += socket->state() == QLocalSocket::ConnectedState ? 1 : 0;
        say(QStringLiteral("open=%1 closed=%2").arg(open).arg(sockets.size() - open).toUtf8());
    });
    QTimer::singleShot(SettleMs + seconds * 1000, qApp, &QCoreApplication::quit);
    return qApp->exec();
}

int request(const QString &path, const QByteArray &line)
{
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(RequestTimeoutMs))
        return 1;
    socket.write(line + '\n');
    QByteArray reply;
    while (!reply.contains('\n') && socket.waitForReadyRead(RequestTimeoutMs))
        reply += socket.readAll();
    std::fputs(reply.constData(), stdout);
    return reply.isEmpty() ? 1 : 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // Writing to a connection the daemon has closed must not end the attacker.
    std::signal(SIGPIPE, SIG_IGN);
    const QStringList arguments = app.arguments().mid(1);
    const QString command = arguments.value(0);
    if (command == QLatin1String("listen") && arguments.size() == 3)
        return listen(arguments.at(1), arguments.at(2));
    if (command == QLatin1String("hold") && arguments.size() == 5)
        return hold(arguments.at(1), arguments.at(2).toInt(), arguments.at(3).toLongLong(),
                    arguments.at(4).toInt());
    if (command == QLatin1String("request") && arguments.size() == 3)
        return request(arguments.at(1), arguments.at(2).toUtf8());
    std::fputs("usage: tarvex-attacker listen|hold|request ...\n", stderr);
    return 2;
}
