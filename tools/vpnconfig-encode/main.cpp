// vpnconfig-encode: prints the vpn:// text of a JSON configuration document.
//
//   vpnconfig-encode [FILE]        (standard input without FILE or with "-")
//
// The document is the decoded form of a vpn:// string. For readability a container's
// "last_config" may be written as a JSON object; it is turned into the JSON text the
// format carries there. Exit codes: 0 success, 1 unreadable or invalid input, 2 usage.

#include "vpnconfigfixture.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace {

// Every protocol object's "last_config" that is an object becomes compact JSON text.
QJsonObject withTextLastConfigs(QJsonObject document)
{
    QJsonArray containers = document.value(QStringLiteral("containers")).toArray();
    for (qsizetype i = 0; i < containers.size(); ++i) {
        QJsonObject container = containers.at(i).toObject();
        for (auto it = container.begin(); it != container.end(); ++it) {
            if (!it.value().isObject())
                continue;
            QJsonObject protocol = it.value().toObject();
            const QJsonValue lastConfig = protocol.value(QStringLiteral("last_config"));
            if (!lastConfig.isObject())
                continue;
            protocol.insert(
                QStringLiteral("last_config"),
                QString::fromUtf8(
                    QJsonDocument(lastConfig.toObject()).toJson(QJsonDocument::Compact)));
            it.value() = protocol;
        }
        containers[i] = container;
    }
    if (!containers.isEmpty())
        document.insert(QStringLiteral("containers"), containers);
    return document;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    if (arguments.size() > 1 ||
        (!arguments.isEmpty() && arguments.first().startsWith(QLatin1Char('-')) &&
         arguments.first() != QLatin1String("-"))) {
        std::fprintf(stderr, "usage: vpnconfig-encode [FILE]\n");
        return 2;
    }

    QFile input;
    const bool fromStdin = arguments.isEmpty() || arguments.first() == QLatin1String("-");
    if (fromStdin)
        input.open(stdin, QIODevice::ReadOnly);
    else
        input.setFileName(arguments.first());
    if (!input.isOpen() && !input.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "vpnconfig-encode: cannot read %s\n", qPrintable(arguments.first()));
        return 1;
    }
    QJsonParseError error;
    const QJsonDocument json = QJsonDocument::fromJson(input.readAll(), &error);
    if (!json.isObject()) {
        std::fprintf(stderr, "vpnconfig-encode: not a JSON object: %s\n",
                     qPrintable(error.errorString()));
        return 1;
    }
    std::printf("%s\n", qPrintable(VpnConfigFixture::encode(withTextLastConfigs(json.object()))));
    return 0;
}
