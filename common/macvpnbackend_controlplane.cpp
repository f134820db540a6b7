#include "macvpnbackend.h"

#include "hostsfileeditor.h"
#include "routecommand.h"
#include "systemfilewriter.h"
#include "tarvexconfig.h"
#include "tarvexlogging.h"

#include <QCoreApplication>
#include <QFile>

namespace {

void warnAboutStrayMarkers(const QString &path, const QList<int> &lines)
{
    for (const int line : lines)
        qCWarning(lcTarvexBackend) << "[MacVpnBackend] unbalanced hosts file marker left in place"
                                   << path << "line=" << line;
}

bool writeHostsFile(const QString &path, const QByteArray &content, const char *failure)
{
    QString error;
    switch (SystemFileWriter::write(path, content, &error)) {
    case SystemFileWriter::Result::Replaced:
        return true;
    case SystemFileWriter::Result::RewrittenInPlace:
        qCWarning(lcTarvexBackend) << "[MacVpnBackend] hosts file rewritten in place:" << error;
        return true;
    case SystemFileWriter::Result::Failed:
        break;
    }
    qCWarning(lcTarvexBackend) << failure << error;
    return false;
}

} // namespace

QString MacVpnBackend::controlPlaneHost() const
{
    const QString domain = QCoreApplication::organizationDomain().trimmed();
    if (!domain.isEmpty())
        return domain;
    return QString::fromUtf8(Tarvex::VendorDomain).trimmed();
}

void MacVpnBackend::installControlPlaneBypass(const QString &gateway)
{
    removeControlPlaneBypass();

    if (gateway.isEmpty()) {
        qCWarning(lcTarvexBackend) << "[MacVpnBackend] control-plane bypass skipped: empty gateway";
        return;
    }
    const QString host = controlPlaneHost();
    if (host.isEmpty())
        return;

    // Resolved before the tunnel's DNS servers are set, through the system's own.
    QString error;
    const QList<QHostAddress> addresses = lookupHost(host, &error);
    if (!error.isEmpty()) {
        qCWarning(lcTarvexBackend)
            << "[MacVpnBackend] control-plane resolve failed" << host << error;
        return;
    }

    QStringList pinned;
    for (const QHostAddress &address : addresses) {
        // Only IPv4: the old gateway is an IPv4 router, and once pinned the name resolves
        // to these addresses alone, so no IPv6 connection to the API goes into the tunnel.
        if (address.protocol() != QAbstractSocket::IPv4Protocol)
            continue;
        const QString text = address.toString();
        if (pinned.contains(text))
            continue;
        QString routeError;
        const RouteEntry route{QStringLiteral("inet"), text, QStringLiteral("-host")};
        if (!addRecordedRoute(route, RouteCommand::add(route, gateway), &routeError)) {
            qCWarning(lcTarvexBackend)
                << "[MacVpnBackend] control-plane route failed" << text << routeError.trimmed();
            continue;
        }
        pinned.append(text);
        controlPlaneRoutes.append(text);
        qCInfo(lcTarvexBackend) << "[MacVpnBackend] control-plane bypass" << host << "->" << text
                                << "via" << gateway;
    }

    if (!pinned.isEmpty())
        pinControlPlaneHosts(pinned);
}

void MacVpnBackend::removeControlPlaneBypass()
{
    unpinControlPlaneHosts();
    for (const QString &address : std::as_const(controlPlaneRoutes))
        deleteRoute(RouteEntry{QStringLiteral("inet"), address, QStringLiteral("-host")});
    controlPlaneRoutes.clear();
}

void MacVpnBackend::pinControlPlaneHosts(const QStringList &addresses)
{
    const QString host = controlPlaneHost();
    if (host.isEmpty() || addresses.isEmpty())
        return;

    const QString path = hostsFilePath();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcTarvexBackend)
            << "[MacVpnBackend] unable to read hosts file" << file.errorString();
        return;
    }
    const HostsFileEditor::Edit pinned = HostsFileEditor::pin(file.readAll(), host, addresses);
    file.close();
    warnAboutStrayMarkers(path, pinned.strayMarkerLines);
    if (!pinned.changed)
        return;

    // Recorded before it is written, so that a daemon started after a crash removes it.
    if (!recordHostsBlock())
        return;
    if (!writeHostsFile(path, pinned.content, "[MacVpnBackend] unable to write hosts file"))
        return;
    qCInfo(lcTarvexBackend) << "[MacVpnBackend] pinned control-plane host" << host << addresses;
}

void MacVpnBackend::unpinControlPlaneHosts()
{
    const QString path = hostsFilePath();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const HostsFileEditor::Edit unpinned = HostsFileEditor::unpin(file.readAll());
    file.close();
    warnAboutStrayMarkers(path, unpinned.strayMarkerLines);
    if (!unpinned.changed)
        return;

    if (!writeHostsFile(path, unpinned.content, "[MacVpnBackend] unable to restore hosts file"))
        return;
    qCInfo(lcTarvexBackend) << "[MacVpnBackend] unpinned control-plane hosts";
}
