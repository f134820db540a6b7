#include "macvpnbackend.h"

#include "tarvexlogging.h"

#include <QJsonDocument>
#include <QJsonValue>

namespace {

constexpr char Ipv4Netmask[] = "255.255.255.255";
constexpr char DefaultMtu[] = "1280";
// One fixed unique-local address for every client: the tunnel only needs the interface
// to carry IPv6 so that IPv6 routes can point at it.
constexpr char Ipv6Address[] = "fd58:baa6:dead::1";
constexpr char Ipv6PrefixLength[] = "128";

// The configuration as it may appear in a log: the private and pre-shared keys blanked.
QByteArray loggableConfig(QJsonObject lastConfig)
{
    for (const char *secret : {"client_priv_key", "psk_key"}) {
        const QLatin1String key(secret);
        if (lastConfig.contains(key))
            lastConfig.insert(key, QStringLiteral("(hidden)"));
    }
    return QJsonDocument(lastConfig).toJson(QJsonDocument::Compact);
}

} // namespace

QString MacVpnBackend::clientIpv4(const ParsedVpnConfig &config) const
{
    const QString clientIp = config.lastConfig.value(QStringLiteral("client_ip")).toString();
    return clientIp.section(QLatin1Char('/'), 0, 0);
}

bool MacVpnBackend::configureInterface(const ParsedVpnConfig &config)
{
    const QString address = clientIpv4(config);
    qCInfo(lcTarvexBackend) << "[MacVpnBackend] configureInterface"
                            << "interface=" << interfaceName << "ip=" << address;
    qCInfo(lcTarvexBackend).noquote()
        << "[MacVpnBackend] interface lastConfig =" << loggableConfig(config.lastConfig);

    if (address.isEmpty()) {
        setError(tr("В конфигурации нет client_ip"));
        return false;
    }

    const QJsonValue mtuValue = config.lastConfig.value(QStringLiteral("mtu"));
    const QString mtu = mtuValue.isString() ? mtuValue.toString() : QString::fromLatin1(DefaultMtu);

    // A point-to-point interface: the address is both the local and the remote end.
    QString standardError;
    if (!runCommand(QStringLiteral("/sbin/ifconfig"),
                    {interfaceName, QStringLiteral("inet"), address, address,
                     QStringLiteral("netmask"), QString::fromLatin1(Ipv4Netmask),
                     QStringLiteral("mtu"), mtu, QStringLiteral("up")},
                    nullptr, &standardError, CommandTimeoutMs)) {
        setError(tr("Не удалось настроить IPv4 интерфейса: %1").arg(standardError.trimmed()));
        return false;
    }

    // IPv6 may be switched off on the machine; the tunnel still works for IPv4 then.
    runCommand(QStringLiteral("/sbin/ifconfig"),
               {interfaceName, QStringLiteral("inet6"), QString::fromLatin1(Ipv6Address),
                QStringLiteral("prefixlen"), QString::fromLatin1(Ipv6PrefixLength),
                QStringLiteral("alias")},
               nullptr, nullptr, CommandTimeoutMs);
    return true;
}
