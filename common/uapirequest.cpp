#include "uapirequest.h"

#include <QElapsedTimer>
#include <QJsonValue>
#include <QLocalSocket>

namespace {

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

QString UapiRequest::setConfig(const QJsonObject &lastConfig, const QString &endpointHost,
                               int endpointPort, const QStringList &allowedIps)
{
    QString text;
    const auto line = [&text](const QString &content) {
        text += content + QLatin1Char('\n');
    };

    line(QStringLiteral("set=1"));
    line(QStringLiteral("private_key=") +
         hexKey(lastConfig.value(QStringLiteral("client_priv_key")).toString()));
    line(QStringLiteral("replace_peers=true"));
    for (const ObfuscationKey &key : ObfuscationKeys) {
        const QString value = obfuscationValue(lastConfig, key.configKey);
        if (!value.isEmpty())
            line(QLatin1String(key.uapiKey) + QLatin1Char('=') + value);
    }
    line(QStringLiteral("public_key=") +
         hexKey(lastConfig.value(QStringLiteral("server_pub_key")).toString()));
    const QJsonValue psk = lastConfig.value(QStringLiteral("psk_key"));
    if (psk.isString() && !psk.toString().isEmpty())
        line(QStringLiteral("preshared_key=") + hexKey(psk.toString()));
    // An IPv6 address needs brackets, or its own colons would run into the port's.
    const bool bracketed =
        endpointHost.contains(QLatin1Char(':')) && !endpointHost.startsWith(QLatin1Char('['));
    line(QStringLiteral("endpoint=") +
         (bracketed ? QLatin1Char('[') + endpointHost + QLatin1Char(']') : endpointHost) +
         QLatin1Char(':') + QString::number(endpointPort));
    line(QStringLiteral("replace_allowed_ips=true"));
    // An empty interval is refused by the tunnel program; leaving the line out means none.
    const QString interval = keepAlive(lastConfig);
    if (!interval.trimmed().isEmpty())
        line(QStringLiteral("persistent_keepalive_interval=") + interval);
    for (const QString &ip : allowedIps)
        line(QStringLiteral("allowed_ip=") + ip);
    return text;
}

int UapiRequest::replyErrno(const QString &reply)
{
    const QStringList lines = reply.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals > 0 && line.left(equals) == QLatin1String("errno")) {
            // A value that is no number is no success either.
            bool ok = false;
            const int value = line.mid(equals + 1).toInt(&ok);
            return ok ? value : -1;
        }
    }
    return -1;
}

QString UapiRequest::hexKey(const QString &base64Key)
{
    return QString::fromLatin1(QByteArray::fromBase64(base64Key.toLatin1()).toHex());
}

QString UapiRequest::fieldWithControlCharacter(const QJsonObject &lastConfig,
                                               const QString &endpointHost,
                                               const QStringList &allowedIps)
{
    // The keys pass through hexKey() and the port through a number, so only the values
    // copied as text can carry a control character into the request.
    QList<QPair<QString, QString>> values{{QStringLiteral("hostName"), endpointHost}};
    const QJsonValue interval = lastConfig.value(QStringLiteral("persistent_keep_alive"));
    if (interval.isString())
        values.append({QStringLiteral("persistent_keep_alive"), interval.toString()});
    for (const ObfuscationKey &key : ObfuscationKeys)
        values.append({QLatin1String(key.configKey), obfuscationValue(lastConfig, key.configKey)});
    for (const QString &ip : allowedIps)
        values.append({QStringLiteral("allowed_ips"), ip});

    for (const auto &[field, value] : std::as_const(values)) {
        if (hasControlCharacter(value))
            return field;
    }
    return {};
}

bool UapiRequest::exchange(QLocalSocket &socket, const QString &request, int timeoutMs,
                           QString *reply)
{
    QByteArray bytes = request.toUtf8();
    while (!bytes.endsWith("\n\n"))
        bytes.append('\n');

    QElapsedTimer timer;
    timer.start();
    bool written = socket.write(bytes) == bytes.size();
    while (written && socket.bytesToWrite() > 0) {
        const qint64 left = timeoutMs - timer.elapsed();
        written = left > 0 && socket.waitForBytesWritten(int(left));
    }
    if (!written)
        return false;

    QByteArray received;
    timer.restart();
    while (!received.contains("\n\n") && timer.elapsed() < timeoutMs) {
        socket.waitForReadyRead(ReadSliceMs);
        received += socket.readAll();
        // Once the tunnel program has hung up nothing more can arrive, and waiting on
        // the closed socket would return at once and spin until the time-out.
        if (socket.state() != QLocalSocket::ConnectedState && socket.bytesAvailable() == 0)
            break;
    }
    *reply = QString::fromUtf8(received).trimmed();
    return true;
}
