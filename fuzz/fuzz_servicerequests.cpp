// The daemon's request handling end to end: several clients on real local sockets send
// requests of every command with every kind of field, hang up, time out and meet the
// limits, while connects (on a fake backend) let the event loop run and more requests
// arrive in the middle of them. Whatever happens, each client gets at most one reply of
// the protocol's shape, a peer only with a connected status, and every connection the
// clients dropped is let go.

#include "fuzzbackend.h"
#include "fuzzenvironment.h"
#include "fuzzinput.h"
#include "macvpnserviceserver.h"
#include "vpnserviceprotocol.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QThread>

#include <memory>
#include <deque>

namespace {

constexpr int MaxClients = 12;
constexpr int MaxOperations = 48;
constexpr int MaxNesting = 2;

const QStringList Commands{QStringLiteral("status"), QStringLiteral("connect"),
                           QStringLiteral("disconnect"), QStringLiteral("version")};
const QStringList ConfigKeys{QStringLiteral("rawConfig"),      QStringLiteral("defaultContainer"),
                             QStringLiteral("container"),      QStringLiteral("protocolName"),
                             QStringLiteral("protocolConfig"), QStringLiteral("lastConfigRaw"),
                             QStringLiteral("lastConfig"),     QStringLiteral("hostName"),
                             QStringLiteral("dns1"),           QStringLiteral("dns2")};
const QStringList PeerKeys{QStringLiteral("id"),          QStringLiteral("name"),
                           QStringLiteral("config"),      QStringLiteral("protocol"),
                           QStringLiteral("splitTunnel"), QStringLiteral("enabled"),
                           QStringLiteral("mode"),        QStringLiteral("entries"),
                           QStringLiteral("host"),        QStringLiteral("ip")};
const QStringList Statuses{QStringLiteral("disconnected"), QStringLiteral("connecting"),
                           QStringLiteral("connected"), QStringLiteral("disconnecting"),
                           QStringLiteral("error")};

struct Client
{
    std::unique_ptr<QLocalSocket> socket;
    bool sentLine = false; // a line feed went out
    bool hungUp = false;   // this side closed the connection
    QByteArray received;
};

class Session
{
public:
    explicit Session(FuzzInput &input)
        : input(input)
    {}

    void run()
    {
        path = VpnServiceProtocol::socketPath();
        auto fake = std::make_unique<FuzzBackend>();
        backend = fake.get();
        server = std::make_unique<MacVpnServiceServer>(std::move(fake));
        server->setMaxRequestBytes(input.flag() ? MacVpnServiceServer::DefaultMaxRequestBytes
                                                : input.number(0, 512));
        server->setRequestTimeoutMs(input.number(0, 1));
        server->setConnectionLimits(input.number(1, 8), input.number(1, 8));
        server->setMaxBufferedBytes(input.flag() ? MacVpnServiceServer::DefaultMaxBufferedBytes
                                                 : input.number(0, 4096));
        FuzzEnvironment::require(server->start(), "the server listens");
        const int baseline = FuzzEnvironment::openDescriptors();

        backend->whileConnecting = [this] {
            if (nesting < MaxNesting) {
                ++nesting;
                runOperations(input.number(0, 8));
                --nesting;
            }
        };
        runOperations(MaxOperations);
        finish();

        for (Client &client : clients)
            client.socket->abort();
        for (int i = 0; i < 100 && FuzzEnvironment::openDescriptors() > baseline; ++i)
            FuzzEnvironment::pump(1);
        FuzzEnvironment::require(FuzzEnvironment::openDescriptors() <= baseline,
                                 "the server lets go of every connection once its client left");
        server.reset();
        FuzzEnvironment::pump();
    }

private:
    void runOperations(int count)
    {
        for (; count > 0 && !input.exhausted(); --count) {
            switch (input.number(0, 15)) {
            case 0:
            case 1:
                openClient();
                break;
            case 2:
            case 3:
            case 4:
            case 5:
                send(VpnServiceProtocol::encodeMessage(request()));
                break;
            case 6:
                send(input.bytes(64) + (input.flag() ? "\n" : ""));
                break;
            case 7:
                hangUp();
                break;
            case 8:
                backend->nextConnectSucceeds = input.flag();
                if (!backend->nextConnectSucceeds && input.flag())
                    backend->failure = input.text();
                break;
            case 9:
                // The daemon's SIGTERM; in the middle of a connect it must wait for it.
                if (nesting > 0 && input.number(0, 3) == 0)
                    server->stop();
                break;
            case 10:
                // Long enough for the request timers (a few milliseconds here) to expire.
                waitUs(input.number(0, 1000));
                break;
            default:
                settle();
                break;
            }
        }
    }

    Client *pickClient()
    {
        if (clients.empty())
            return nullptr;
        return &clients.at(size_t(input.number(0, int(clients.size()) - 1)));
    }

    void openClient()
    {
        if (clients.size() >= MaxClients)
            return;
        Client client;
        client.socket = std::make_unique<QLocalSocket>();
        client.socket->connectToServer(path);
        FuzzEnvironment::require(client.socket->waitForConnected(1000), "a client connects");
        clients.push_back(std::move(client));
        settle();
    }

    QJsonObject request()
    {
        QJsonObject request;
        if (input.number(0, 7) != 0)
            request.insert(QStringLiteral("command"), input.number(0, 5) != 0
                                                          ? QJsonValue(input.text(Commands))
                                                          : input.value(Commands, 1));
        if (input.flag())
            request.insert(QStringLiteral("config"),
                           input.number(0, 3) != 0
                               ? QJsonValue(input.object(ConfigKeys, ConfigKeys, 2))
                               : input.value(ConfigKeys, 1));
        if (input.flag())
            request.insert(QStringLiteral("peer"),
                           input.number(0, 3) != 0 ? QJsonValue(input.object(PeerKeys, PeerKeys, 3))
                                                   : input.value(PeerKeys, 1));
        if (input.number(0, 3) == 0)
            request.insert(input.text(), input.value());
        return request;
    }

    void send(const QByteArray &bytes)
    {
        Client *client = pickClient();
        if (!client || client->hungUp)
            return;
        // A request may arrive in pieces, with the event loop running in between.
        const qsizetype cut = input.number(0, int(bytes.size()));
        if (write(*client, bytes.left(cut)))
            write(*client, bytes.mid(cut));
    }

    // Like a real client, stops writing once the daemon has answered or hung up: a write to
    // a closed connection would make Qt drop the reply that came before it.
    bool write(Client &client, const QByteArray &bytes)
    {
        client.socket->waitForReadyRead(0);
        collect(client);
        if (!client.received.isEmpty() || client.socket->state() != QLocalSocket::ConnectedState)
            return false;
        client.socket->write(bytes);
        client.socket->flush();
        client.sentLine = client.sentLine || bytes.contains('\n');
        settle();
        return true;
    }

    void hangUp()
    {
        Client *client = pickClient();
        if (!client || client->hungUp)
            return;
        collect(*client);
        client->hungUp = true;
        if (input.flag())
            client->socket->abort();
        else
            client->socket->disconnectFromServer();
        settle();
    }

    void waitUs(int microseconds)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.nsecsElapsed() < microseconds * 1000LL) {
            settle();
            QThread::usleep(100);
        }
        settle();
    }

    void settle()
    {
        FuzzEnvironment::pump(2);
        for (Client &client : clients)
            collect(client);
    }

    void collect(Client &client)
    {
        if (!client.hungUp)
            client.received += client.socket->readAll();
    }

    // Every client that sent a line and stayed gets its reply; then all replies are checked.
    void finish()
    {
        const auto waiting = [this] {
            for (const Client &client : clients) {
                if (client.sentLine && !client.hungUp &&
                    client.socket->state() != QLocalSocket::UnconnectedState)
                    return true;
            }
            return false;
        };
        for (int i = 0; i < 200 && waiting(); ++i)
            settle();
        for (const Client &client : clients)
            checkReplies(client);
    }

    void checkReplies(const Client &client) const
    {
        const QByteArray &received = client.received;
        FuzzEnvironment::require(received.isEmpty() || received.endsWith('\n'),
                                 "a reply is one whole line", received);
        const qsizetype lines = received.count('\n');
        FuzzEnvironment::require(lines <= 1, "a connection gets at most one reply", received);
        if (client.sentLine && !client.hungUp)
            FuzzEnvironment::require(
                lines == 1 && client.socket->state() == QLocalSocket::UnconnectedState,
                "a request that came whole is answered and the "
                "connection closed",
                received + " state=" + QByteArray::number(int(client.socket->state())));
        if (lines == 0)
            return;

        const QJsonObject reply = QJsonDocument::fromJson(received).object();
        const QString status = reply.value(QLatin1String("status")).toString();
        const bool versionReply = reply.value(QLatin1String("version")).isString();
        FuzzEnvironment::require(
            reply.value(QLatin1String("ok")).isBool() &&
                (versionReply ||
                 (Statuses.contains(status) && reply.value(QLatin1String("error")).isString())),
            "a reply has the protocol's shape", received);
        if (reply.contains(QLatin1String("peer")))
            FuzzEnvironment::require(status == QLatin1String("connected") &&
                                         reply.value(QLatin1String("peer")).isObject(),
                                     "a peer is reported only while connected", received);
    }

    FuzzInput &input;
    QString path;
    FuzzBackend *backend = nullptr;
    std::unique_ptr<MacVpnServiceServer> server;
    // A deque: a client opened during a connect must not move the ones being written to.
    std::deque<Client> clients;
    int nesting = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    Session(input).run();
    return 0;
}
