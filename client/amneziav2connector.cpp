#include "amneziav2connector.h"

namespace {

// Only the text "2" marks a second-generation document; a numeric 2 reads as empty text
// here and is refused.
bool isAmneziaV2(const ParsedVpnConfig &config)
{
    return config.container == QLatin1String("amnezia-awg2") &&
           config.protocolName == QLatin1String("awg") &&
           config.protocolConfig.value(QStringLiteral("protocol_version")).toString() ==
               QLatin1String("2");
}

const AmneziaConnector::Variant V2{
    "amnezia-v2", "AmneziaV2Connector",
    QT_TRANSLATE_NOOP("AmneziaV2Connector", "Протокол соединения не поддерживается Amnezia v2"),
    QT_TRANSLATE_NOOP("AmneziaV2Connector", "VPN-конфигурация не является Amnezia v2"),
    isAmneziaV2};

} // namespace

AmneziaV2Connector::AmneziaV2Connector(QObject *parent)
    : AmneziaConnector(V2, parent)
{}
