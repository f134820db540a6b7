#include "amneziav2connector.h"

AmneziaV2Connector::AmneziaV2Connector(QObject *parent)
    : AmneziaConnector(parent)
{}

QString AmneziaV2Connector::protocol() const
{
    return QStringLiteral("amnezia-v2");
}

const char *AmneziaV2Connector::logPrefix() const
{
    return "[AmneziaV2Connector]";
}

QString AmneziaV2Connector::unsupportedProtocolText() const
{
    return tr("Протокол соединения не поддерживается Amnezia v2");
}

QString AmneziaV2Connector::wrongConfigurationText() const
{
    return tr("VPN-конфигурация не является Amnezia v2");
}

bool AmneziaV2Connector::acceptsConfiguration(const ParsedVpnConfig &config) const
{
    // Only the text "2" marks a second-generation document; a numeric 2 reads as
    // empty text here and is refused.
    return config.container == QLatin1String("amnezia-awg2") &&
           config.protocolName == QLatin1String("awg") &&
           config.protocolConfig.value(QStringLiteral("protocol_version")).toString() ==
               QLatin1String("2");
}
