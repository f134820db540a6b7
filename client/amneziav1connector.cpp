#include "amneziav1connector.h"

AmneziaV1Connector::AmneziaV1Connector(QObject *parent)
    : AmneziaConnector(parent)
{}

QString AmneziaV1Connector::protocol() const
{
    return QStringLiteral("amnezia-v1");
}

const char *AmneziaV1Connector::logPrefix() const
{
    return "[AmneziaV1Connector]";
}

QString AmneziaV1Connector::unsupportedProtocolText() const
{
    return tr("Протокол соединения не поддерживается Amnezia v1");
}

QString AmneziaV1Connector::wrongConfigurationText() const
{
    return tr("VPN-конфигурация не является Amnezia v1");
}

bool AmneziaV1Connector::acceptsConfiguration(const ParsedVpnConfig &config) const
{
    return config.container == QLatin1String("amnezia-awg") &&
           config.protocolName == QLatin1String("awg");
}
