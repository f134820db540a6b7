// vpnconfig-encode: prints the vpn:// form of a configuration document.
//
//   vpnconfig-encode [FILE]          FILE (default: standard input) is the whole document
//   vpnconfig-encode --awg [FILE]    FILE is an AmneziaWG client configuration ("last_config"),
//                                    wrapped in a one-container document whose hostName is
//                                    the configuration's
//
// Exit codes: 0 success, 1 unreadable input or not a JSON object, 2 bad usage.

#include "vpnconfigfixture.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    const bool awg = arguments.removeAll(QStringLiteral("--awg")) > 0;
    if (arguments.size() > 1 || (!arguments.isEmpty() && arguments.first().startsWith("--"))) {
        std::fprintf(stderr, "usage: vpnconfig-encode [--awg] [FILE]\n");
        return 2;
    }

    QFile input;
    const bool opened = arguments.isEmpty() ? input.open(stdin, QIODevice::ReadOnly)
                                            : (input.setFileName(arguments.first()),
                                               input.open(QIODevice::ReadOnly));
    if (!opened) {
        std::fprintf(stderr, "vpnconfig-encode: cannot read %s\n",
                     qPrintable(arguments.value(0, QStringLiteral("standard input"))));
        return 1;
    }
    QJsonParseError error;
    const QJsonDocument json = QJsonDocument::fromJson(input.readAll(), &error);
    if (!json.isObject()) {
        std::fprintf(stderr, "vpnconfig-encode: not a JSON object: %s\n",
                     qPrintable(error.errorString()));
        return 1;
    }

    QJsonObject document = json.object();
    if (awg) {
        const QJsonObject lastConfig = document;
        document = VpnConfigFixture::awgDocument(lastConfig);
        if (lastConfig.contains(QStringLiteral("hostName")))
            document.insert(QStringLiteral("hostName"),
                            lastConfig.value(QStringLiteral("hostName")));
    }
    std::printf("%s\n", qPrintable(VpnConfigFixture::encode(document)));
    return 0;
}
