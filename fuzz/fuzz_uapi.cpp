// The UAPI request builder and reply reader on configurations and replies made from the
// fuzzer's bytes. A configuration comes from whoever sends the connect request, so the
// request built from it must carry one line per key it sets and nothing else: a line more
// would be a setting the root daemon never meant to make. The reply comes from the tunnel
// program's socket, here a stand-in that answers with the fuzzer's bytes in pieces.

#include "fuzzenvironment.h"
#include "fuzzinput.h"
#include "secretmasker.h"
#include "uapirequest.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QLocalSocket>
#include <QRegularExpression>

#include <mutex>
#include <thread>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const QStringList ObfuscationKeys{
    QStringLiteral("Jc"), QStringLiteral("Jmin"), QStringLiteral("Jmax"), QStringLiteral("S1"),
    QStringLiteral("S2"), QStringLiteral("S3"),   QStringLiteral("S4"),   QStringLiteral("H1"),
    QStringLiteral("H2"), QStringLiteral("H3"),   QStringLiteral("H4"),   QStringLiteral("I1"),
    QStringLiteral("I2"), QStringLiteral("I3"),   QStringLiteral("I4"),   QStringLiteral("I5")};
const QStringList OtherKeys{QStringLiteral("client_priv_key"),
                            QStringLiteral("server_pub_key"),
                            QStringLiteral("psk_key"),
                            QStringLiteral("persistent_keep_alive"),
                            QStringLiteral("hostName"),
                            QStringLiteral("port"),
                            QStringLiteral("allowed_ips"),
                            QStringLiteral("client_ip"),
                            QStringLiteral("mtu")};
const QStringList Values{QStringLiteral("0.0.0.0/0"),
                         QStringLiteral("::/0"),
                         QStringLiteral("10.8.0.5/32"),
                         QStringLiteral("198.51.100.10"),
                         QStringLiteral("2001:db8::1"),
                         QStringLiteral("25"),
                         QStringLiteral("51820"),
                         QStringLiteral("AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA="),
                         QStringLiteral("1\nlisten_port=1"),
                         QStringLiteral("")};
const QRegularExpression UapiLine(QStringLiteral("^[a-z0-9_]+=[^\\x00-\\x1f\\x7f]*$"));
const QRegularExpression
    HexLine(QStringLiteral("^(private_key|public_key|preshared_key)=[0-9a-f]*$"));

QString stringAt(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    return value.isString() ? value.toString() : QString();
}

// What the backend hands the builder: the configuration's JSON and its readings of the
// endpoint and the allowed addresses, all from the bytes.
struct Request
{
    QJsonObject lastConfig;
    QString endpointHost;
    int endpointPort = 0;
    QStringList allowedIps;
};

Request requestFrom(FuzzInput &input)
{
    Request request;
    request.lastConfig = input.object(ObfuscationKeys + OtherKeys, Values, 2);
    for (int i = input.flag() ? input.number(0, 4) : 0; i > 0; --i)
        request.allowedIps.append(input.text(Values));
    request.endpointHost = input.flag() ? input.text(Values) : QStringLiteral("198.51.100.10");
    request.endpointPort = input.number(0, 65535);
    return request;
}

// One line per key the configuration carries: the fixed ones, each obfuscation parameter
// and the pre-shared key when given, the keep-alive unless it is blank, each allowed address.
int linesCarried(const Request &request)
{
    const QJsonObject &last = request.lastConfig;
    int lines = 6; // set, private_key, replace_peers, public_key, endpoint, replace_allowed_ips
    for (const QString &key : ObfuscationKeys)
        lines += stringAt(last, key).isEmpty() ? 0 : 1;
    lines += stringAt(last, QStringLiteral("psk_key")).isEmpty() ? 0 : 1;
    const QJsonValue keepAlive = last.value(QStringLiteral("persistent_keep_alive"));
    lines += keepAlive.isString() && keepAlive.toString().trimmed().isEmpty() ? 0 : 1;
    return lines + int(request.allowedIps.size());
}

// The backend refuses a configuration with a control character in a copied value and
// builds the request only from one without.
void checkRequest(const Request &config)
{
    if (!UapiRequest::fieldWithControlCharacter(config.lastConfig, config.endpointHost,
                                                config.allowedIps)
             .isEmpty())
        return;
    const QString request = UapiRequest::setConfig(config.lastConfig, config.endpointHost,
                                                   config.endpointPort, config.allowedIps);
    FuzzEnvironment::require(request.endsWith(QLatin1Char('\n')), "the request ends its last line",
                             request.toUtf8());
    const QStringList lines = request.chopped(1).split(QLatin1Char('\n'));
    // Never more lines than the keys it carries: a line more would be a setting of its own.
    FuzzEnvironment::require(lines.size() == linesCarried(config),
                             "one line for each key the configuration carries", request.toUtf8());
    for (const QString &line : lines) {
        FuzzEnvironment::require(UapiLine.match(line).hasMatch(),
                                 "every line is one key and a value without control characters",
                                 line.toUtf8());
        if (line.startsWith(QLatin1String("private_key=")) ||
            line.startsWith(QLatin1String("public_key=")) ||
            line.startsWith(QLatin1String("preshared_key=")))
            FuzzEnvironment::require(HexLine.match(line).hasMatch(), "keys go as hexadecimal",
                                     line.toUtf8());
    }
    const QString logged = SecretMasker::mask(request);
    for (const QString &line : logged.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("private_key=")) ||
            line.startsWith(QLatin1String("preshared_key=")))
            FuzzEnvironment::require(
                line.endsWith(QLatin1Char('=') + QLatin1String(SecretMasker::Mask)),
                "key material never reaches the log", line.toUtf8());
    }
}

int listenOn(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    ::unlink(native.constData());
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, native.constData(), sizeof address.sun_path);
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    FuzzEnvironment::require(
        listener >= 0 &&
            ::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
            ::listen(listener, 1) == 0,
        "the UAPI stand-in listens");
    return listener;
}

// The tunnel program's side: for each connection, reads the request up to its blank line,
// answers with the pieces of the moment and hangs up. One thread for the whole run.
class UapiStandIn
{
public:
    explicit UapiStandIn(const QString &path)
        : listener(listenOn(path))
    {
        std::thread([this] { serve(); }).detach(); // blocked in accept() at exit
    }

    void answerWith(const QList<QByteArray> &reply)
    {
        std::lock_guard<std::mutex> lock(mutex);
        pieces = reply;
    }

private:
    void serve()
    {
        for (;;) {
            const int connection = ::accept(listener, nullptr, nullptr);
            if (connection < 0)
                continue;
            QByteArray request;
            char buffer[4096];
            while (!request.contains("\n\n")) {
                const ssize_t got = ::read(connection, buffer, sizeof buffer);
                if (got <= 0)
                    break;
                request.append(buffer, got);
            }
            QList<QByteArray> reply;
            {
                std::lock_guard<std::mutex> lock(mutex);
                reply = pieces;
            }
            for (const QByteArray &piece : std::as_const(reply)) {
                if (::send(connection, piece.constData(), size_t(piece.size()), MSG_NOSIGNAL) < 0)
                    break;
            }
            ::close(connection);
        }
    }

    const int listener;
    std::mutex mutex;
    QList<QByteArray> pieces;
};

void checkExchange(FuzzInput &input)
{
    static const QString path =
        QDir(FuzzEnvironment::scratchDirectory()).filePath(QStringLiteral("utun9.sock"));
    static UapiStandIn tunnelProgram(path);

    QList<QByteArray> pieces;
    for (int i = input.number(1, 4); i > 0; --i)
        pieces.append(input.bytes(256));
    const QByteArray sent = pieces.join();
    tunnelProgram.answerWith(pieces);

    QLocalSocket socket;
    socket.connectToServer(path, QIODevice::ReadWrite);
    FuzzEnvironment::require(socket.waitForConnected(1000), "the UAPI stand-in answers");
    QElapsedTimer timer;
    timer.start();
    QString reply;
    FuzzEnvironment::require(UapiRequest::exchange(socket, QStringLiteral("set=1\n"), 2000, &reply),
                             "the request is written");
    FuzzEnvironment::require(timer.elapsed() < 1500,
                             "a tunnel program that hung up is not waited for");
    socket.abort();

    // Read up to the blank line at least, or everything once the other side has hung up.
    const qsizetype blank = sent.indexOf("\n\n");
    const QString whole = QString::fromUtf8(sent).trimmed();
    if (blank < 0)
        FuzzEnvironment::require(reply == whole, "a reply without a blank line is read whole",
                                 reply.toUtf8());
    const QString head = QString::fromUtf8(sent.left(qMax<qsizetype>(blank, 0)));
    if (blank >= 0 && UapiRequest::replyErrno(head) != -1)
        FuzzEnvironment::require(UapiRequest::replyErrno(reply) == UapiRequest::replyErrno(head),
                                 "the error number before the blank line is the one read",
                                 reply.toUtf8());
}

// The first errno line's number is read, and nothing else: a reply without one, or whose
// value is no number, never reads as success (0). -1 is also a tunnel program's own errno.
void checkErrno(const QString &reply)
{
    int expected = -1;
    for (const QString &line : reply.split(QLatin1Char('\n'))) {
        if (!line.startsWith(QLatin1String("errno=")))
            continue;
        bool ok = false;
        const int value = line.mid(6).toInt(&ok);
        expected = ok ? value : -1;
        break;
    }
    FuzzEnvironment::require(UapiRequest::replyErrno(reply) == expected,
                             "the first errno line's number is read, and only a number",
                             reply.toUtf8());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    switch (input.number(0, 2)) {
    case 0:
        checkRequest(requestFrom(input));
        break;
    case 1:
        checkErrno(QString::fromUtf8(input.remainingBytes()));
        break;
    default:
        checkExchange(input);
        break;
    }
    return 0;
}
