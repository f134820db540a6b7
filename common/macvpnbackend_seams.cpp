#include "macvpnbackend.h"

#include <QCoreApplication>
#include <QHostInfo>

namespace {
constexpr char HostsFilePath[] = "/etc/hosts";
constexpr char RuntimeDirectory[] = "/tmp/tarvex-client-amneziawg";
} // namespace

QList<QHostAddress> MacVpnBackend::lookupHost(const QString &host, QString *error) const
{
    const QHostInfo info = QHostInfo::fromName(host);
    if (info.error() != QHostInfo::NoError) {
        if (error)
            *error = info.errorString();
        return {};
    }
    return info.addresses();
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
