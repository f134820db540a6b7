#include "macvpnbackend.h"

#include "secretmasker.h"
#include "tarvexlogging.h"

#include <QJsonDocument>
#include <QJsonValue>

namespace {

const QString IfconfigProgram = QStringLiteral("/sbin/ifconfig");
constexpr char Ipv4Netmask[] = "255.255.255.255";
constexpr char DefaultMtu[] = "1280";
// One fixed unique-local address for every client: the tunnel only needs the interface
// to carry IPv6 so that IPv6 routes can point at it.
constexpr char Ipv6Address[] = "fd58:baa6:dead::1";
constexpr char Ipv6PrefixLength[] = "128";

} // namespace

bool MacVpnBackend::configureInterface(const ParsedVpnConfig &config)
{
    const QString address = clientIpv4(config);
    qCInfo(lcTarvexBackend) << "[MacVpnBackend] configureInterface"
                            << "interface=" << interfaceName << "ip=" << address;
    qCInfo(lcTarvexBackend).noquote()
        << "[MacVpnBackend] interface lastConfig ="
        << SecretMasker::mask(
               QString::fromUtf8(QJsonDocument(config.lastConfig).toJson(QJsonDocument::Compact)));

    if (address.isEmpty()) {
        setError(tr("В конфигурации нет client_ip"));
        return false;
    }

    const QJsonValue mtuValue = config.lastConfig.value(QStringLiteral("mtu"));
    const QString mtu = mtuValue.isString() ? mtuValue.toString() : QString::fromLatin1(DefaultMtu);

    // A point-to-point interface: the address is both the local and the remote end.
    QString standardError;
    if (!runCommand(IfconfigProgram,
                    {interfaceName, QStringLiteral("inet"), address, address,
                     QStringLiteral("netmask"), QString::fromLatin1(Ipv4Netmask),
                     QStringLiteral("mtu"), mtu, QStringLiteral("up")},
                    nullptr, &standardError)) {
        setError(tr("Не удалось настроить IPv4 интерфейса: %1").arg(standardError.trimmed()));
        return false;
    }

    // IPv6 may be switched off on the machine; the tunnel still works for IPv4 then.
    runCommand(IfconfigProgram,
               {interfaceName, QStringLiteral("inet6"), QString::fromLatin1(Ipv6Address),
                QStringLiteral("prefixlen"), QString::fromLatin1(Ipv6PrefixLength),
                QStringLiteral("alias")},
               nullptr, nullptr);
    return true;
}
