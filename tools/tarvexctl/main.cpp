// tarvexctl: drives TarvexVpnService over its socket the way the client does, for
// developers, the demo and the end-to-end tests.
//
//   tarvexctl [-v] status
//   tarvexctl [-v] connect <vpn:// text | file> [--split-only|--split-except <entry>...]
//   tarvexctl [-v] disconnect
//
// Exit codes: 0 success, 1 the daemon reported a failure, 2 bad usage or configuration,
// 3 the daemon could not be reached.

#include "macvpnserviceclientbackend.h"
#include "tarvexconfig.h"
#include "vpnconfigparser.h"
#include "vpnserviceprotocol.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QTextStream>

namespace {

enum ExitCode { Ok = 0, Failed = 1, Usage = 2, Unreachable = 3 };

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

int usage()
{
    err() << "usage: tarvexctl [-v] status\n"
             "       tarvexctl [-v] connect <vpn:// text | file> "
             "[--split-only|--split-except <entry>...]\n"
             "       tarvexctl [-v] disconnect\n";
    err().flush();
    return Usage;
}

void printState(const MacVpnServiceClientBackend &backend, const QVariantMap &peer = {})
{
    out() << "status: " << VpnServiceProtocol::statusToString(backend.status()) << '\n';
    if (!backend.lastError().isEmpty())
        out() << "error: " << backend.lastError() << '\n';
    if (!peer.isEmpty()) {
        // The configuration carries the private key; a terminal or a CI log is no place
        // for it.
        QVariantMap shown = peer;
        if (shown.contains(QStringLiteral("config")))
            shown.insert(QStringLiteral("config"), QStringLiteral("<hidden>"));
        out() << "peer: "
              << QJsonDocument(QJsonObject::fromVariantMap(shown)).toJson(QJsonDocument::Compact)
              << '\n';
    }
    out().flush();
}

// A file name or the configuration text itself.
QString readConfigArgument(const QString &argument)
{
    if (argument.trimmed().startsWith(QLatin1String("vpn://")))
        return argument;
    QFile file(argument);
    if (file.open(QIODevice::ReadOnly))
        return QString::fromUtf8(file.readAll());
    return argument;
}

int status()
{
    MacVpnServiceClientBackend backend;
    QVariantMap peer;
    if (!backend.refreshStatus(&peer)) {
        if (backend.lastError().isEmpty()) {
            err() << "tarvexctl: the VPN service at " << VpnServiceProtocol::socketPath()
                  << " cannot be reached\n";
            err().flush();
            return Unreachable;
        }
        printState(backend);
        return Failed;
    }
    printState(backend, peer);
    return Ok;
}

int connect(const QStringList &arguments)
{
    if (arguments.isEmpty())
        return usage();

    QVariantMap peer{{QStringLiteral("protocol"), QStringLiteral("amnezia-v1")},
                     {QStringLiteral("config"), readConfigArgument(arguments.first())}};
    if (arguments.size() > 1) {
        const QString flag = arguments.at(1);
        int mode = 0;
        if (flag == QLatin1String("--split-only"))
            mode = 1;
        else if (flag == QLatin1String("--split-except"))
            mode = 2;
        else
            return usage();
        QVariantList entries;
        for (const QString &entry : arguments.mid(2))
            entries.append(
                QVariantMap{{QStringLiteral("value"), entry}, {QStringLiteral("ip"), QString()}});
        peer.insert(QStringLiteral("splitTunnel"),
                    QVariantMap{{QStringLiteral("enabled"), true},
                                {QStringLiteral("mode"), mode},
                                {QStringLiteral("entries"), entries}});
    }

    const VpnConfigParseResult parsed = VpnConfigParser::parsePeerConfig(peer);
    if (!parsed.ok) {
        err() << "tarvexctl: " << parsed.error << '\n';
        err().flush();
        return Usage;
    }

    // The daemon does not read "protocol"; it is set as the client would for the record.
    if (parsed.config.container == QLatin1String("amnezia-awg2"))
        peer.insert(QStringLiteral("protocol"), QStringLiteral("amnezia-v2"));

    MacVpnServiceClientBackend backend;
    backend.connectVpn(parsed.config, peer);
    printState(backend);
    return backend.status() == PlatformVpnBackend::Connected ? Ok : Failed;
}

int disconnect()
{
    MacVpnServiceClientBackend backend;
    backend.disconnectVpn();
    printState(backend);
    return backend.status() == PlatformVpnBackend::Disconnected ? Ok : Failed;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Tarvex"));
    QCoreApplication::setOrganizationDomain(QString::fromLatin1(Tarvex::VendorDomain));
    QCoreApplication::setApplicationName(QStringLiteral("tarvexctl"));

    QStringList arguments = app.arguments().mid(1);
    // Progress lines are the client library's; keep them for -v only.
    if (!arguments.isEmpty() && arguments.first() == QLatin1String("-v"))
        arguments.removeFirst();
    else
        QLoggingCategory::setFilterRules(QStringLiteral("tarvex.*.info=false\n"
                                                        "tarvex.*.warning=false"));

    if (arguments.isEmpty())
        return usage();
    const QString command = arguments.takeFirst();
    if (command == QLatin1String("status") && arguments.isEmpty())
        return status();
    if (command == QLatin1String("connect"))
        return connect(arguments);
    if (command == QLatin1String("disconnect") && arguments.isEmpty())
        return disconnect();
    return usage();
}
