#include "amneziav1connector.h"

namespace {

bool isAmneziaV1(const ParsedVpnConfig &config)
{
    return config.container == QLatin1String("amnezia-awg") &&
           config.protocolName == QLatin1String("awg");
}

const AmneziaConnector::Variant V1{
    "amnezia-v1", "AmneziaV1Connector",
    QT_TRANSLATE_NOOP("AmneziaV1Connector", "Протокол соединения не поддерживается Amnezia v1"),
    QT_TRANSLATE_NOOP("AmneziaV1Connector", "VPN-конфигурация не является Amnezia v1"),
    isAmneziaV1};

} // namespace

AmneziaV1Connector::AmneziaV1Connector(QObject *parent)
    : AmneziaConnector(V1, parent)
{}
