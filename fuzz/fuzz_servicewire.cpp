// The wire protocol as both ends read it, over real local sockets. The daemon's server
// gets the fuzzer's bytes as a request, split into several writes at chosen points; the
// client's reader (VpnServiceProtocol::readMessage) gets them as a reply from whatever
// listens on the daemon's path.

#include "fuzzbackend.h"
#include "fuzzenvironment.h"
#include "fuzzinput.h"
#include "macvpnserviceserver.h"
#include "vpnserviceprotocol.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QLocalServer>
#include <QLocalSocket>

#include <memory>

namespace {

// A reply larger than a socket buffer would need a reader running alongside the writer.
constexpr int MaxReplyBytes = 64 * 1024;
constexpr int ReadTimeoutMs = 5000;
const QStringList Commands{QStringLiteral("status"), QStringLiteral("version"),
                           QStringLiteral("connect"), QStringLiteral("disconnect")};

QList<QByteArray> chunks(FuzzInput &input, const QByteArray &payload)
{
    QList<QByteArray> parts;
    qsizetype start = 0;
    for (int cuts = input.number(0, 4); cuts > 0 && start < payload.size(); --cuts) {
        const qsizetype end = start + input.number(0, int(payload.size() - start));
        parts.append(payload.mid(start, end - start));
        start = end;
    }
    parts.append(payload.mid(start));
    return parts;
}

// The object a request line stands for, when it is one.
bool requestObject(const QByteArray &line, QJsonObject *object)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    *object = document.object();
    return error.error == QJsonParseError::NoError && document.isObject();
}

void daemonReadsRequest(FuzzInput &input)
{
    const QString path = VpnServiceProtocol::socketPath();
    auto backend = std::make_unique<FuzzBackend>();
    const bool connectSucceeds = input.flag();
    backend->nextConnectSucceeds = connectSucceeds;
    MacVpnServiceServer server(std::move(backend));
    const qint64 maxRequest =
        input.flag() ? MacVpnServiceServer::DefaultMaxRequestBytes : input.number(0, 256);
    server.setMaxRequestBytes(maxRequest);
    FuzzEnvironment::require(server.start(), "the server listens");
    const int baseline = FuzzEnvironment::openDescriptors();

    const QList<QByteArray> parts = chunks(input, input.remainingBytes());
    const QByteArray payload = parts.join();
    QLocalSocket client;
    client.connectToServer(path);
    FuzzEnvironment::require(client.waitForConnected(1000), "the client connects");
    for (const QByteArray &part : parts) {
        client.write(part);
        client.flush();
        FuzzEnvironment::pump();
    }

    const qsizetype lineEnd = payload.indexOf('\n');
    const qsizetype lineLength = lineEnd < 0 ? payload.size() : lineEnd;
    const bool answered = lineEnd >= 0 || lineLength > maxRequest;
    if (answered) {
        for (int i = 0; i < 50 && client.state() != QLocalSocket::UnconnectedState; ++i)
            FuzzEnvironment::pump(1);
        QJsonObject reply;
        QString error;
        FuzzEnvironment::require(
            VpnServiceProtocol::readMessage(&client, &reply, &error, ReadTimeoutMs),
            "a complete or oversized request gets a reply", error.toUtf8());
        FuzzEnvironment::require(reply.value(QLatin1String("ok")).isBool() &&
                                     reply.value(QLatin1String("version")).isString() !=
                                         reply.value(QLatin1String("status")).isString(),
                                 "a reply has the protocol's shape", QJsonDocument(reply).toJson());
        QJsonObject request;
        const bool isObject =
            lineLength <= maxRequest && requestObject(payload.left(lineEnd), &request);
        const QString command = request.value(QLatin1String("command")).toString();
        const bool expectOk = isObject && Commands.contains(command) &&
                              (command != QLatin1String("connect") || connectSucceeds);
        FuzzEnvironment::require(reply.value(QLatin1String("ok")).toBool() == expectOk,
                                 "only a known command in a request object succeeds",
                                 QJsonDocument(reply).toJson());
        if (isObject && !Commands.contains(command))
            FuzzEnvironment::require(reply.value(QLatin1String("error")).toString() ==
                                         QLatin1String("unknown command"),
                                     "an unknown command is named so");
    }

    client.abort();
    for (int i = 0; i < 50 && FuzzEnvironment::openDescriptors() > baseline; ++i)
        FuzzEnvironment::pump(1);
    FuzzEnvironment::require(FuzzEnvironment::openDescriptors() <= baseline,
                             "the server lets go of a connection whose client has gone");
}

void clientReadsReply(FuzzInput &input)
{
    const QString path = FuzzEnvironment::scratchDirectory() + QStringLiteral("/reply.sock");
    QLocalServer::removeServer(path);
    QLocalServer daemon;
    FuzzEnvironment::require(daemon.listen(path), "the stand-in daemon listens");
    QLocalSocket client;
    client.connectToServer(path);
    FuzzEnvironment::require(client.waitForConnected(1000), "the client connects");
    FuzzEnvironment::require(daemon.waitForNewConnection(1000), "the stand-in accepts");
    std::unique_ptr<QLocalSocket> answer(daemon.nextPendingConnection());

    const QList<QByteArray> parts = chunks(input, input.remainingBytes().left(MaxReplyBytes));
    for (const QByteArray &part : parts) {
        answer->write(part);
        answer->waitForBytesWritten(1000);
    }
    answer->abort();

    QJsonObject reply;
    QString error;
    QElapsedTimer timer;
    timer.start();
    const bool read = VpnServiceProtocol::readMessage(&client, &reply, &error, ReadTimeoutMs);
    FuzzEnvironment::require(timer.elapsed() < ReadTimeoutMs / 2,
                             "a daemon that hung up is noticed without waiting out the time");

    const QByteArray payload = parts.join();
    const qsizetype lineEnd = payload.indexOf('\n');
    QJsonObject expected;
    const bool expectRead = lineEnd >= 0 && requestObject(payload.left(lineEnd), &expected);
    FuzzEnvironment::require(read == expectRead && (!read || reply == expected),
                             "the client reads the first line's object and nothing else",
                             error.toUtf8());
    if (!read && lineEnd < 0)
        FuzzEnvironment::require(error == VpnServiceProtocol::closedError(),
                                 "a reply cut short reads as a closed connection", error.toUtf8());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    if (input.flag())
        daemonReadsRequest(input);
    else
        clientReadsReply(input);
    return 0;
}
