#include "vendorservercatalog.h"

#include "vendorcrypto.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

namespace {

const QStringList Protocols{QStringLiteral("amnezia-v1"), QStringLiteral("amnezia-v2")};

// A list of non-empty strings, or an empty list when the value is anything else.
QStringList stringList(const QJsonValue &value)
{
    QStringList list;
    for (const QJsonValue &item : value.toArray()) {
        if (!item.isString() || item.toString().isEmpty())
            return {};
        list.append(item.toString());
    }
    return list;
}

// "host:port", "[v6]:port"; false when the port is missing or out of range.
bool splitEndpoint(const QString &endpoint, QString &host, int &port)
{
    const qsizetype colon = endpoint.lastIndexOf(u':');
    if (colon <= 0)
        return false;
    host = endpoint.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    port = endpoint.mid(colon + 1).toInt(&ok);
    return ok && port > 0 && port < 65536 && !host.isEmpty() && !host.contains(u' ');
}

int intOr(const QJsonValue &value, int fallback)
{
    return value.isDouble() ? value.toInt(fallback) : fallback;
}

} // namespace

QString VendorServerCatalog::Server::freeAddress(const QSet<QString> &used) const
{
    const quint32 network = poolNetwork.toIPv4Address();
    const quint32 size = 1u << (32 - poolPrefix);
    // The first address is the network's, the second the server's, the last broadcast.
    for (quint32 offset = 2; offset + 1 < size; ++offset) {
        const QString address = QHostAddress(network + offset).toString();
        if (!used.contains(address))
            return address;
    }
    return QString();
}

bool VendorServerCatalog::load(const QString &path)
{
    countryList.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(path, file.errorString());
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return fail(path, parseError.errorString());
    const QJsonArray countries = document.object().value(QStringLiteral("countries")).toArray();
    if (countries.isEmpty())
        return fail(path, QStringLiteral("\"countries\" must be a non-empty array"));

    QSet<int> countryIds;
    QSet<QString> serverIds;
    for (qsizetype i = 0; i < countries.size(); ++i) {
        const QJsonObject object = countries.at(i).toObject();
        const QString where = QStringLiteral("%1: country %2").arg(path).arg(i);
        Country country;
        country.id = intOr(object.value(QStringLiteral("id")), 0);
        country.name = object.value(QStringLiteral("name")).toString();
        if (country.id <= 0 || countryIds.contains(country.id))
            return fail(where, QStringLiteral("\"id\" must be a unique positive integer"));
        if (country.name.isEmpty())
            return fail(where, QStringLiteral("\"name\" must be a non-empty string"));
        countryIds.insert(country.id);
        const QJsonArray servers = object.value(QStringLiteral("servers")).toArray();
        for (qsizetype j = 0; j < servers.size(); ++j) {
            Server server;
            if (!readServer(servers.at(j).toObject(), where + QStringLiteral(", server %1").arg(j),
                            server))
                return false;
            if (serverIds.contains(server.id))
                return fail(where, QStringLiteral("server id \"%1\" is not unique").arg(server.id));
            serverIds.insert(server.id);
            country.servers.append(server);
        }
        countryList.append(country);
    }
    return true;
}

const VendorServerCatalog::Country *VendorServerCatalog::country(int id) const
{
    for (const Country &country : countryList) {
        if (country.id == id)
            return &country;
    }
    return nullptr;
}

bool VendorServerCatalog::readServer(const QJsonObject &object, const QString &where,
                                     Server &server)
{
    server.id = object.value(QStringLiteral("id")).toString();
    server.name = object.value(QStringLiteral("name")).toString(server.id);
    server.protocol = object.value(QStringLiteral("protocol")).toString();
    server.publicKey = object.value(QStringLiteral("public_key")).toString();
    server.presharedKey = object.value(QStringLiteral("preshared_key")).toString();
    server.dns = stringList(object.value(QStringLiteral("dns")));
    server.allowedIps = stringList(object.value(QStringLiteral("allowed_ips")));
    server.mtu = intOr(object.value(QStringLiteral("mtu")), server.mtu);
    server.persistentKeepAlive =
        intOr(object.value(QStringLiteral("persistent_keep_alive")), server.persistentKeepAlive);
    const auto pool =
        QHostAddress::parseSubnet(object.value(QStringLiteral("address_pool")).toString());
    server.poolNetwork = pool.first;
    server.poolPrefix = pool.second;

    if (server.id.isEmpty())
        return fail(where, QStringLiteral("\"id\" must be a non-empty string"));
    if (!Protocols.contains(server.protocol))
        return fail(where, QStringLiteral("\"protocol\" must be one of ") + Protocols.join(u' '));
    if (!splitEndpoint(object.value(QStringLiteral("endpoint")).toString(), server.host,
                       server.port))
        return fail(where, QStringLiteral("\"endpoint\" must be host:port"));
    if (!VendorCrypto::isKey(server.publicKey))
        return fail(where, QStringLiteral("\"public_key\" must be base64 of 32 bytes"));
    if (!server.presharedKey.isEmpty() && !VendorCrypto::isKey(server.presharedKey))
        return fail(where, QStringLiteral("\"preshared_key\" must be base64 of 32 bytes"));
    if (server.dns.isEmpty() || server.allowedIps.isEmpty())
        return fail(where, QStringLiteral("\"dns\" and \"allowed_ips\" must be non-empty lists"));
    if (server.poolNetwork.protocol() != QAbstractSocket::IPv4Protocol || server.poolPrefix < 8 ||
        server.poolPrefix > 30)
        return fail(where, QStringLiteral("\"address_pool\" must be an IPv4 network, /8 to /30"));
    if (server.mtu < 576 || server.mtu > 65535 || server.persistentKeepAlive < 0)
        return fail(where, QStringLiteral("\"mtu\" or \"persistent_keep_alive\" out of range"));

    const QJsonObject awg = object.value(QStringLiteral("awg")).toObject();
    for (auto it = awg.begin(); it != awg.end(); ++it) {
        if (!it.value().isString() && !it.value().isDouble())
            return fail(where, QStringLiteral("\"awg\" values must be strings or numbers"));
        server.obfuscation.insert(it.key(), it.value().isString()
                                                ? it.value().toString()
                                                : QString::number(it.value().toDouble()));
    }
    return true;
}

bool VendorServerCatalog::fail(const QString &where, const QString &what)
{
    error = where + QStringLiteral(": ") + what;
    countryList.clear();
    return false;
}
