// tarvex-vendor-api: the local stand-in for the vendor's REST API (see the README).

#include "vendorapiserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarvex-vendor-api"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The local vendor REST API for Tarvex: accounts, peers, countries and the balance "
        "under /api/v1, on 127.0.0.1 only."));
    parser.addHelpOption();
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Port to listen on; 0 picks a free one."),
                                  QStringLiteral("N"), QStringLiteral("8765"));
    const QCommandLineOption data(QStringLiteral("data"),
                                  QStringLiteral("Folder of the database and the outbox."),
                                  QStringLiteral("DIR"), QStringLiteral("vendor-api-data"));
    const QCommandLineOption servers(
        QStringLiteral("servers"), QStringLiteral("JSON file of the countries and their servers."),
        QStringLiteral("FILE"),
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("servers.json")));
    const QCommandLineOption cheap(
        QStringLiteral("cheap-password-hashing"),
        QStringLiteral("Hash passwords at the smallest cost (tests only)."));
    parser.addOptions({port, data, servers, cheap});
    parser.process(app);

    QTextStream err(stderr);
    bool portOk = false;
    const uint portNumber = parser.value(port).toUInt(&portOk);
    if (!portOk || portNumber > 65535 || !parser.positionalArguments().isEmpty()) {
        err << "tarvex-vendor-api: bad arguments (see --help)\n";
        return 2;
    }

    VendorApiServer::Settings settings;
    settings.dataFolder = parser.value(data);
    settings.serversFile = parser.value(servers);
    settings.cheapPasswordHashing = parser.isSet(cheap);
    VendorApiServer server(settings);
    if (!server.start(static_cast<quint16>(portNumber))) {
        err << "tarvex-vendor-api: " << server.errorString() << '\n';
        return 1;
    }
    // One line, flushed: whoever started the program reads the port from it.
    QTextStream(stdout) << "listening on " << server.rootUrl().toString() << Qt::endl;
    return app.exec();
}
