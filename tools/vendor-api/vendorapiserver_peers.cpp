// Peers (one VPN connection each, with its own key pair and tunnel address) and the
// countries they are created in.

#include "vendorapiserver.h"

#include "peerconfigbuilder.h"
#include "vendorcrypto.h"

#include <QJsonArray>

#include <algorithm>

namespace {

constexpr int MaxPeerNameLength = 100;

// A positive whole number given as a JSON number or as text; 0 otherwise.
qint64 idFrom(const QJsonValue &value)
{
    if (value.isDouble()) {
        const double number = value.toDouble();
        return number == static_cast<double>(static_cast<qint64>(number))
                   ? qMax<qint64>(0, static_cast<qint64>(number))
                   : 0;
    }
    bool ok = false;
    const qint64 id = value.toString().trimmed().toLongLong(&ok);
    return ok && id > 0 ? id : 0;
}

} // namespace

QJsonObject VendorApiServer::peerRecord(const VendorDatabase::Peer &peer)
{
    return QJsonObject{
        {QStringLiteral("id"), peer.id},
        {QStringLiteral("name"), peer.name},
        {QStringLiteral("protocol"), peer.protocol},
        {QStringLiteral("config"), peer.config},
    };
}

QString VendorApiServer::peerName(const QJsonObject &body, QJsonObject &errors)
{
    const QString name = body.value(QStringLiteral("name")).toString().trimmed();
    if (name.isEmpty())
        addError(errors, QStringLiteral("name"), tr("Введите название соединения"));
    else if (name.size() > MaxPeerNameLength)
        addError(errors, QStringLiteral("name"), tr("Название соединения слишком длинное"));
    return name;
}

VendorApiServer::Reply VendorApiServer::listPeers(Request &request)
{
    QJsonArray peers;
    for (const VendorDatabase::Peer &peer : database.peersOf(request.user.id))
        peers.append(peerRecord(peer));
    return success(QString(), peers);
}

VendorApiServer::Reply VendorApiServer::createPeer(Request &request)
{
    QJsonObject errors;
    const QJsonValue countryValue = request.body.value(QStringLiteral("country_id"));
    const VendorServerCatalog::Country *country =
        catalog.country(static_cast<int>(idFrom(countryValue)));
    if (!country || country->servers.isEmpty())
        addError(errors, QStringLiteral("country_id"),
                 countryValue.isUndefined() || countryValue.isNull() ? tr("Выберите страну")
                                                                     : tr("Страна не найдена"));
    const QString name = peerName(request.body, errors);
    if (!errors.isEmpty())
        return invalid(errors);

    // The least used server of the country that still has a free tunnel address.
    const QHash<QString, int> load = database.peerCountByServer();
    QList<const VendorServerCatalog::Server *> servers;
    for (const VendorServerCatalog::Server &server : country->servers)
        servers.append(&server);
    std::stable_sort(servers.begin(), servers.end(),
                     [&load](auto *a, auto *b) { return load.value(a->id) < load.value(b->id); });
    const VendorServerCatalog::Server *server = nullptr;
    QString address;
    for (const VendorServerCatalog::Server *candidate : servers) {
        address = candidate->freeAddress(database.usedAddresses(candidate->id));
        if (!address.isEmpty()) {
            server = candidate;
            break;
        }
    }
    if (!server) {
        addError(errors, QStringLiteral("country_id"),
                 tr("На серверах этой страны нет свободных мест"));
        return invalid(errors);
    }

    const VendorCrypto::KeyPair keys = VendorCrypto::curve25519KeyPair();
    VendorDatabase::Peer peer{0,
                              request.user.id,
                              country->id,
                              server->id,
                              name,
                              server->protocol,
                              address,
                              keys.publicKey,
                              PeerConfigBuilder::config(*server, address, keys.privateKey)};
    const std::optional<qint64> id = database.addPeer(peer);
    if (!id)
        return storageFailure();
    peer.id = *id;
    return success(tr("Соединение создано"), peerRecord(peer), 201);
}

VendorApiServer::Reply VendorApiServer::renamePeer(Request &request)
{
    const qint64 id = idFrom(request.pathArguments.value(0));
    if (!database.peer(request.user.id, id))
        return failure(404, tr("Соединение не найдено"));
    QJsonObject errors;
    const QString name = peerName(request.body, errors);
    if (!errors.isEmpty())
        return invalid(errors);
    if (!database.renamePeer(request.user.id, id, name))
        return storageFailure();
    const std::optional<VendorDatabase::Peer> peer = database.peer(request.user.id, id);
    return peer ? success(tr("Соединение переименовано"), peerRecord(*peer)) : storageFailure();
}

VendorApiServer::Reply VendorApiServer::deletePeer(Request &request)
{
    const qint64 id = idFrom(request.pathArguments.value(0));
    if (!database.peer(request.user.id, id))
        return failure(404, tr("Соединение не найдено"));
    if (!database.deletePeer(request.user.id, id))
        return storageFailure();
    return success(tr("Соединение удалено"));
}

VendorApiServer::Reply VendorApiServer::listCountries(Request &)
{
    QJsonArray countries;
    for (const VendorServerCatalog::Country &country : catalog.countries()) {
        if (!country.servers.isEmpty())
            countries.append(QJsonObject{{QStringLiteral("id"), country.id},
                                         {QStringLiteral("name"), country.name}});
    }
    return success(QString(), countries);
}
