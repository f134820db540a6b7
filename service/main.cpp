#include "tarvexconfig.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Tarvex"));
    QCoreApplication::setOrganizationDomain(QString::fromLatin1(Tarvex::VendorDomain));
    QCoreApplication::setApplicationName(QStringLiteral("TarvexVpnService"));
    return app.exec();
}
