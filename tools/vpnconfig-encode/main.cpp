// vpnconfig-encode: prints the vpn:// text of a JSON configuration document.
//
//   vpnconfig-encode [FILE]        (standard input without FILE or with "-")
//
// The document is the decoded form of a vpn:// string. For readability a container's
// "last_config" may be written as a JSON object; it is turned into the JSON text the
// format carries there. Exit codes: 0 success, 1 unreadable or invalid input, 2 usage.

#include "vpnconfigencoder.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

namespace {

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    if (arguments.size() > 1 || (!arguments.isEmpty() && arguments.first().startsWith(u'-') &&
                                 arguments.first() != QLatin1String("-"))) {
        err() << "usage: vpnconfig-encode [FILE]\n";
        return 2;
    }

    QFile input;
    bool opened = false;
    if (arguments.isEmpty() || arguments.first() == QLatin1String("-")) {
        opened = input.open(stdin, QIODevice::ReadOnly);
    } else {
        input.setFileName(arguments.first());
        opened = input.open(QIODevice::ReadOnly);
    }
    if (!opened) {
        err() << "vpnconfig-encode: " << input.fileName() << ": " << input.errorString() << '\n';
        return 1;
    }

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(input.readAll(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        err() << "vpnconfig-encode: not a JSON object: "
              << (parseError.error != QJsonParseError::NoError ? parseError.errorString()
                                                               : QStringLiteral("top level"))
              << '\n';
        return 1;
    }

    QTextStream(stdout) << VpnConfigEncoder::encode(
                               VpnConfigEncoder::withTextLastConfigs(document.object()))
                        << '\n';
    return 0;
}
