#include "macvpnbackend.h"

#include "runtimedirectoryguard.h"
#include "tarvexlogging.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonValue>
#include <QLocalSocket>

namespace {

constexpr int UapiTimeoutMs = 5000;
constexpr int ReadSliceMs = 100;

struct ObfuscationKey
{
    const char *configKey;
    const char *uapiKey;
};

// AmneziaWG's interface parameters, in the order the request carries them.
constexpr ObfuscationKey ObfuscationKeys[] = {
    {"Jc", "jc"}, {"Jmin", "jmin"}, {"Jmax", "jmax"}, {"S1", "s1"}, {"S2", "s2"}, {"S3", "s3"},
    {"S4", "s4"}, {"H1", "h1"},     {"H2", "h2"},     {"H3", "h3"}, {"H4", "h4"}, {"I1", "i1"},
    {"I2", "i2"}, {"I3", "i3"},     {"I4", "i4"},     {"I5", "i5"},
};

QString obfuscationValue(const QJsonObject &lastConfig, const char *configKey)
{
    const QJsonValue value = lastConfig.value(QLatin1String(configKey));
    return value.isString() ? value.toString() : QString();
}

QString keepAlive(const QJsonObject &lastConfig)
{
    const QJsonValue value = lastConfig.value(QStringLiteral("persistent_keep_alive"));
    return value.isString() ? value.toString() : QStringLiteral("60");
}

bool hasControlCharacter(const QString &text)
{
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            return true;
    }
    return false;
}

} // namespace

QString MacVpnBackend::uapiSetConfig(const ParsedVpnConfig &config) const
{
    qCInfo(lcTarvexBackend) << "[MacVpnBackend] build uapiSetConfig";
    const QJsonObject &last = config.lastConfig;
    QString text;
    const auto line = [&text](const QString &content) {
        text += content + QLatin1Char('\n');
    };

    line(QStringLiteral("set=1"));
    line(QStringLiteral("private_key=") +
         hexKey(last.value(QStringLiteral("client_priv_key")).toString()));
    line(QStringLiteral("replace_peers=true"));
    for (const ObfuscationKey &key : ObfuscationKeys) {
        const QString value = obfuscationValue(last, key.configKey);
        if (!value.isEmpty())
            line(QLatin1String(key.uapiKey) + QLatin1Char('=') + value);
    }
    line(QStringLiteral("public_key=") +
         hexKey(last.value(QStringLiteral("server_pub_key")).toString()));
    const QJsonValue psk = last.value(QStringLiteral("psk_key"));
    if (psk.isString() && !psk.toString().isEmpty())
        line(QStringLiteral("preshared_key=") + hexKey(psk.toString()));
    // An IPv6 address needs brackets, or its own colons would run into the port's.
    const QString host = endpointHost(config);
    const bool bracketed = host.contains(QLatin1Char(':')) && !host.startsWith(QLatin1Char('['));
    line(QStringLiteral("endpoint=") +
         (bracketed ? QLatin1Char('[') + host + QLatin1Char(']') : host) + QLatin1Char(':') +
         QString::number(endpointPort(config)));
    line(QStringLiteral("replace_allowed_ips=true"));
    // An empty interval is refused by the tunnel program; leaving the line out means none.
    const QString interval = keepAlive(last);
    if (!interval.trimmed().isEmpty())
        line(QStringLiteral("persistent_keepalive_interval=") + interval);
    const QStringList ips = allowedIps(config);
    for (const QString &ip : ips)
        line(QStringLiteral("allowed_ip=") + ip);
    return text;
}

QString MacVpnBackend::uapiCommand(const QString &request)
{
    qCInfo(lcTarvexBackend) << "[MacVpnBackend] uapiCommand"
                            << "interface=" << interfaceName;
    qCInfo(lcTarvexBackend).noquote()
        << "[MacVpnBackend] uapi command payload =\n" + uapiLogText(request);

    // The request carries the private key: it goes only to a socket of the daemon's own user.
    const QString socketPath = QDir(runtimeDir).filePath(interfaceName + QStringLiteral(".sock"));
    QString untrusted;
    if (!RuntimeDirectoryGuard::isTrustedSocket(socketPath, &untrusted)) {
        qCWarning(lcTarvexBackend)
            << "[MacVpnBackend] uapi socket refused" << socketPath << untrusted;
        return {};
    }
    QLocalSocket socket;
    socket.connectToServer(socketPath, QIODevice::ReadWrite);
    if (!socket.waitForConnected(UapiTimeoutMs)) {
        qCWarning(lcTarvexBackend)
            << "[MacVpnBackend] uapi socket connect failed" << socket.errorString();
        return {};
    }

    // A UAPI request ends with a blank line.
    QByteArray bytes = request.toUtf8();
    while (!bytes.endsWith("\n\n"))
        bytes.append('\n');

    QElapsedTimer timer;
    timer.start();
    bool written = socket.write(bytes) == bytes.size();
    while (written && socket.bytesToWrite() > 0) {
        const qint64 left = UapiTimeoutMs - timer.elapsed();
        written = left > 0 && socket.waitForBytesWritten(int(left));
    }
    if (!written) {
        qCWarning(lcTarvexBackend) << "[MacVpnBackend] uapi write failed" << socket.errorString();
        return {};
    }

    QByteArray reply;
    timer.restart();
    while (!reply.contains("\n\n")) {
        if (timer.elapsed() >= UapiTimeoutMs)
            break;
        socket.waitForReadyRead(ReadSliceMs);
        reply += socket.readAll();
        // Once the tunnel program has hung up nothing more can arrive, and waiting on
        // the closed socket would return at once and spin until the time-out.
        if (socket.state() != QLocalSocket::ConnectedState && socket.bytesAvailable() == 0)
            break;
    }

    const QString result = QString::fromUtf8(reply).trimmed();
    qCInfo(lcTarvexBackend) << "[MacVpnBackend] uapiCommand finished"
                            << "reply_length=" << result.size();
    return result;
}

int MacVpnBackend::uapiErrno(const QString &reply) const
{
    const QStringList lines = reply.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (line.isEmpty())
            continue;
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0)
            continue;
        if (line.left(equals) == QLatin1String("errno"))
            return line.mid(equals + 1).toInt();
    }
    return -1;
}

QString MacVpnBackend::hexKey(const QString &base64Key) const
{
    // Lenient decoding on purpose: the tunnel program judges the key, not the backend.
    return QString::fromLatin1(QByteArray::fromBase64(base64Key.toLatin1()).toHex());
}

bool MacVpnBackend::uapiConfigIsSafe(const ParsedVpnConfig &config, QString *error) const
{
    // The keys pass through hexKey() and the port through a number, so only the values
    // copied as text can carry a control character into the request.
    QList<QPair<QString, QString>> values{{QStringLiteral("hostName"), endpointHost(config)}};
    const QJsonValue interval = config.lastConfig.value(QStringLiteral("persistent_keep_alive"));
    if (interval.isString())
        values.append({QStringLiteral("persistent_keep_alive"), interval.toString()});
    for (const ObfuscationKey &key : ObfuscationKeys)
        values.append(
            {QLatin1String(key.configKey), obfuscationValue(config.lastConfig, key.configKey)});
    const QStringList ips = allowedIps(config);
    for (const QString &ip : ips)
        values.append({QStringLiteral("allowed_ips"), ip});

    for (const auto &[key, value] : std::as_const(values)) {
        if (!hasControlCharacter(value))
            continue;
        qCWarning(lcTarvexBackend) << "[MacVpnBackend] uapi config refused"
                                   << "key=" << key;
        if (error)
            *error =
                tr("Недопустимая конфигурация VPN: поле %1 содержит управляющие символы").arg(key);
        return false;
    }
    return true;
}

QString MacVpnBackend::uapiLogText(const QString &request)
{
    QStringList lines = request.split(QLatin1Char('\n'));
    for (QString &line : lines) {
        if (line.startsWith(QLatin1String("private_key=")) ||
            line.startsWith(QLatin1String("preshared_key=")))
            line = line.section(QLatin1Char('='), 0, 0) + QStringLiteral("=(hidden)");
    }
    return lines.join(QLatin1Char('\n'));
}
