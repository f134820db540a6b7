#include "macvpnbackend.h"

#include "runtimedirectoryguard.h"
#include "secretmasker.h"
#include "tarvexlogging.h"
#include "uapirequest.h"

#include <QDir>
#include <QLocalSocket>

QString MacVpnBackend::uapiSetConfig(const ParsedVpnConfig &config) const
{
    qCInfo(lcTarvexBackend) << "[MacVpnBackend] build uapiSetConfig";
    return UapiRequest::setConfig(config.lastConfig, endpointHost(config), endpointPort(config),
                                  allowedIps(config));
}

QString MacVpnBackend::uapiCommand(const QString &request)
{
    qCInfo(lcTarvexBackend) << "[MacVpnBackend] uapiCommand"
                            << "interface=" << interfaceName;
    qCInfo(lcTarvexBackend).noquote()
        << "[MacVpnBackend] uapi command payload =\n" + SecretMasker::mask(request);

    // The request carries the private key: it goes only to a socket of the daemon's own user.
    const QString socketPath = QDir(runtimeDir).filePath(interfaceName + QStringLiteral(".sock"));
    QString untrusted;
    if (!RuntimeDirectoryGuard::isTrustedSocket(socketPath, &untrusted)) {
        qCWarning(lcTarvexBackend)
            << "[MacVpnBackend] uapi socket refused" << socketPath << untrusted;
        return {};
    }
    QLocalSocket socket;
    socket.connectToServer(socketPath, QIODevice::ReadWrite);
    if (!socket.waitForConnected(timeouts.uapiMs)) {
        qCWarning(lcTarvexBackend)
            << "[MacVpnBackend] uapi socket connect failed" << socket.errorString();
        return {};
    }

    QString reply;
    if (!UapiRequest::exchange(socket, request, timeouts.uapiMs, &reply)) {
        qCWarning(lcTarvexBackend) << "[MacVpnBackend] uapi write failed" << socket.errorString();
        return {};
    }
    qCInfo(lcTarvexBackend) << "[MacVpnBackend] uapiCommand finished"
                            << "reply_length=" << reply.size();
    return reply;
}

bool MacVpnBackend::uapiConfigIsSafe(const ParsedVpnConfig &config, QString *error) const
{
    const QString field = UapiRequest::fieldWithControlCharacter(
        config.lastConfig, endpointHost(config), allowedIps(config));
    if (field.isEmpty())
        return true;
    qCWarning(lcTarvexBackend) << "[MacVpnBackend] uapi config refused"
                               << "key=" << field;
    *error = tr("Недопустимая конфигурация VPN: поле %1 содержит управляющие символы").arg(field);
    return false;
}
