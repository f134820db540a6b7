#include "macvpnbackend.h"

#include "hostlookup.h"

#include <QCoreApplication>

namespace {
constexpr char HostsFilePath[] = "/etc/hosts";
constexpr char RuntimeDirectory[] = "/tmp/tarvex-client-amneziawg";
} // namespace

QList<QHostAddress> MacVpnBackend::lookupHost(const QString &host, QString *error) const
{
    return HostLookup::resolve(host, lookupDeadline, error);
}

QString MacVpnBackend::hostsFilePath() const
{
    return QString::fromLatin1(HostsFilePath);
}

QString MacVpnBackend::runtimeDirectory() const
{
    return QString::fromLatin1(RuntimeDirectory);
}

QString MacVpnBackend::applicationDirPath() const
{
    return QCoreApplication::applicationDirPath();
}

bool MacVpnBackend::mayChangeSystem() const
{
    return systemChangesAllowed();
}
