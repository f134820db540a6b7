#include "macvpnbackend.h"

#include "tarvexlogging.h"

namespace {

const QString NetworkSetupProgram = QStringLiteral("/usr/sbin/networksetup");

bool hasText(const QString &text)
{
    return !text.trimmed().isEmpty();
}

} // namespace

bool MacVpnBackend::configureDns(const ParsedVpnConfig &config)
{
    QStringList servers;
    for (const QString &server : {config.dns1, config.dns2}) {
        if (hasText(server))
            servers.append(server);
    }
    qCInfo(lcTarvexBackend) << "[MacVpnBackend] configureDns" << servers;
    if (servers.isEmpty())
        return true;

    QString listing;
    if (!runCommand(NetworkSetupProgram, {QStringLiteral("-listallnetworkservices")}, &listing,
                    nullptr))
        return true;

    const QStringList lines = listing.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        const QString service = line.trimmed();
        // "*" marks a disabled service; the listing starts with a line explaining that.
        if (service.isEmpty() || service.startsWith(QLatin1Char('*')) ||
            service.startsWith(QLatin1String("An asterisk")))
            continue;

        // A read that failed says nothing about the service's servers; taking it for "none"
        // would erase the user's servers at the restore, so the service is left alone.
        QString current;
        if (!runCommand(NetworkSetupProgram, {QStringLiteral("-getdnsservers"), service}, &current,
                        nullptr)) {
            qCWarning(lcTarvexBackend)
                << "[MacVpnBackend] DNS servers not readable; service left alone" << service;
            continue;
        }
        qCInfo(lcTarvexBackend).noquote()
            << "[MacVpnBackend] current DNS for" << service << "=" << current.trimmed();

        QStringList old;
        for (const QString &oldLine : current.split(QLatin1Char('\n'))) {
            const QString server = oldLine.trimmed();
            if (!server.isEmpty())
                old.append(server);
        }
        if (old.size() == 1 &&
            old.constFirst().startsWith(QLatin1String("There aren't any DNS Servers")))
            old.clear();
        if (!recordDnsServers(service, old))
            continue;
        savedDnsServers.insert(service, old);

        runCommand(NetworkSetupProgram,
                   QStringList{QStringLiteral("-setdnsservers"), service} + servers, nullptr,
                   nullptr);
    }
    return true;
}

void MacVpnBackend::restoreDns()
{
    for (auto it = savedDnsServers.cbegin(); it != savedDnsServers.cend(); ++it) {
        const QStringList servers =
            it.value().isEmpty() ? QStringList{QStringLiteral("Empty")} : it.value();
        runCommand(NetworkSetupProgram,
                   QStringList{QStringLiteral("-setdnsservers"), it.key()} + servers, nullptr,
                   nullptr);
    }
    savedDnsServers.clear();
}

void MacVpnBackend::flushDnsCache() const
{
    qCInfo(lcTarvexBackend) << "[MacVpnBackend] flushDnsCache";
    runCommand(QStringLiteral("/usr/bin/dscacheutil"), {QStringLiteral("-flushcache")}, nullptr,
               nullptr);
    // mDNSResponder keeps its own cache; SIGHUP makes it drop it.
    runCommand(QStringLiteral("/usr/bin/killall"),
               {QStringLiteral("-HUP"), QStringLiteral("mDNSResponder")}, nullptr, nullptr);
}
