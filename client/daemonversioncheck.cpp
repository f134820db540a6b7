#include "daemonversioncheck.h"

#include "macvpnserviceclientbackend.h"
#include "tarvexlogging.h"

#include <QJsonObject>

DaemonVersionCheck::Verdict DaemonVersionCheck::check(const MacVpnServiceClientBackend &backend,
                                                      const QString &clientVersion)
{
    QJsonObject reply;
    QString error;
    if (!backend.sendRequest({{QStringLiteral("command"), QStringLiteral("version")}}, &reply,
                             &error)) {
        qCInfo(lcTarvexClient) << "[DaemonVersionCheck] no daemon answers" << error;
        return Verdict::NotRunning;
    }
    const QString daemonVersion = reply.value(QLatin1String("version")).toString();
    qCInfo(lcTarvexClient) << "[DaemonVersionCheck] daemon" << daemonVersion << "client"
                           << clientVersion;
    return daemonVersion == clientVersion ? Verdict::Current : Verdict::Outdated;
}
