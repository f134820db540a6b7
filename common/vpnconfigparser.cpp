#include "vpnconfigparser.h"

#include "tarvexlogging.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QtEndian>

#include <zlib.h>

namespace {

const QString VpnPrefix = QStringLiteral("vpn://");

QString tr(const char *text)
{
    return QCoreApplication::translate("QObject", text);
}

VpnConfigParseResult fail(VpnConfigParseResult result, const QString &message,
                          const QString &jsonError = QString())
{
    result.ok = false;
    result.error = message;
    if (jsonError.isEmpty())
        qCWarning(lcTarvexParser).noquote() << "[VpnConfigParser]" << message;
    else
        qCWarning(lcTarvexParser).noquote() << "[VpnConfigParser]" << message << jsonError;
    return result;
}

// Qt's compressed form: the uncompressed size as 4 big-endian bytes, then a zlib stream.
// qUncompress() allocates whatever size the first four bytes claim and grows past it without
// limit, so a few bytes of configuration could make the client take gigabytes; this inflates
// within MaxDocumentBytes and treats anything beyond as corrupt.
QByteArray uncompressDocument(const QByteArray &compressed)
{
    constexpr qsizetype SizeBytes = 4;
    if (compressed.size() <= SizeBytes)
        return {};
    const quint32 claimed = qFromBigEndian<quint32>(compressed.constData());
    if (claimed > quint32(VpnConfigParser::MaxDocumentBytes))
        return {};

    z_stream stream = {};
    if (inflateInit(&stream) != Z_OK)
        return {};
    stream.next_in =
        reinterpret_cast<Bytef *>(const_cast<char *>(compressed.constData())) + SizeBytes;
    stream.avail_in = uInt(compressed.size() - SizeBytes);
    // One byte more than allowed tells a document of the largest size from a larger one.
    const qsizetype capacity = qsizetype(VpnConfigParser::MaxDocumentBytes) + 1;
    QByteArray document(qMax<qsizetype>(claimed, 256), Qt::Uninitialized);
    int status = Z_OK;
    while (status == Z_OK) {
        if (qsizetype(stream.total_out) == document.size()) {
            if (document.size() == capacity)
                break;
            document.resize(qMin(document.size() * 2, capacity));
        }
        stream.next_out = reinterpret_cast<Bytef *>(document.data()) + stream.total_out;
        stream.avail_out = uInt(document.size() - qsizetype(stream.total_out));
        status = inflate(&stream, Z_NO_FLUSH);
    }
    const qsizetype size = qsizetype(stream.total_out);
    inflateEnd(&stream);
    if (status != Z_STREAM_END || size > VpnConfigParser::MaxDocumentBytes)
        return {};
    document.truncate(size);
    return document;
}

QString stringValue(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    return value.isString() ? value.toString() : QString();
}

QJsonObject selectContainer(const QJsonArray &containers, const QString &defaultContainer)
{
    for (const QJsonValue &element : containers) {
        if (!element.isObject())
            continue;
        const QJsonObject container = element.toObject();
        if (container.isEmpty())
            continue;
        if (defaultContainer.isEmpty() ||
            stringValue(container, QStringLiteral("container")) == defaultContainer)
            return container;
    }
    return {};
}

QString findProtocolName(const QJsonObject &container, const QString &containerName)
{
    QString candidate;
    if (containerName.contains(QLatin1String("awg")))
        candidate = QStringLiteral("awg");
    else if (containerName.contains(QLatin1String("wireguard")))
        candidate = QStringLiteral("wireguard");

    if (!candidate.isEmpty() && container.value(candidate).isObject())
        return candidate;

    // QJsonObject keeps its keys sorted, so this is the alphabetically first
    // object-valued key.
    for (auto it = container.begin(); it != container.end(); ++it) {
        if (it.key() == QLatin1String("container"))
            continue;
        if (it.value().isObject())
            return it.key();
    }
    return candidate;
}

} // namespace

VpnConfigParseResult VpnConfigParser::parseConfig(const QString &config)
{
    VpnConfigParseResult result;

    QString text = config.trimmed();
    if (text.isEmpty())
        return fail(result, tr("Конфигурация соединения пустая"));

    if (text.startsWith(VpnPrefix))
        text.remove(0, VpnPrefix.size());

    // Lenient on purpose: padding, white space and characters of the other base64
    // alphabet are skipped rather than rejected.
    const QByteArray compressed =
        QByteArray::fromBase64(text.toUtf8(), QByteArray::Base64UrlEncoding);
    if (compressed.isEmpty())
        return fail(result, tr("Не удалось декодировать VPN-конфигурацию"));

    const QByteArray json = uncompressDocument(compressed);
    if (json.isEmpty())
        return fail(result, tr("Не удалось распаковать VPN-конфигурацию"));

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return fail(result, tr("VPN-конфигурация имеет неверный формат"), parseError.errorString());

    // From here on a failure keeps what has been filled in so far.
    ParsedVpnConfig &parsed = result.config;
    result.document = document.object();
    parsed.rawConfig = result.document;
    parsed.defaultContainer = stringValue(result.document, QStringLiteral("defaultContainer"));
    parsed.hostName = stringValue(result.document, QStringLiteral("hostName"));
    parsed.dns1 = stringValue(result.document, QStringLiteral("dns1"));
    parsed.dns2 = stringValue(result.document, QStringLiteral("dns2"));

    const QJsonArray containers = result.document.value(QStringLiteral("containers")).toArray();
    if (containers.isEmpty())
        return fail(result, tr("В VPN-конфигурации нет контейнеров"));

    const QJsonObject container = selectContainer(containers, parsed.defaultContainer);
    if (container.isEmpty())
        return fail(result, tr("Контейнер VPN-конфигурации не найден"));

    parsed.container = stringValue(container, QStringLiteral("container"));

    parsed.protocolName = findProtocolName(container, parsed.container);
    if (parsed.protocolName.isEmpty())
        return fail(result, tr("Протокол VPN-конфигурации не найден"));

    parsed.protocolConfig = container.value(parsed.protocolName).toObject();
    if (parsed.protocolConfig.isEmpty())
        return fail(result, tr("Настройки протокола VPN-конфигурации не найдены"));

    parsed.lastConfigRaw = stringValue(parsed.protocolConfig, QStringLiteral("last_config"));
    if (parsed.lastConfigRaw.isEmpty())
        return fail(result, tr("В VPN-конфигурации нет client-конфига"));

    const QJsonDocument lastConfig =
        QJsonDocument::fromJson(parsed.lastConfigRaw.toUtf8(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !lastConfig.isObject())
        return fail(result, tr("Client-конфиг VPN имеет неверный формат"),
                    parseError.errorString());

    parsed.lastConfig = lastConfig.object();
    if (parsed.hostName.isEmpty())
        parsed.hostName = stringValue(parsed.lastConfig, QStringLiteral("hostName"));

    result.ok = true;
    return result;
}

VpnConfigParseResult VpnConfigParser::parsePeerConfig(const QVariantMap &peer)
{
    return parseConfig(peer.value(QStringLiteral("config")).toString());
}
