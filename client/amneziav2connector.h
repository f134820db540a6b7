#pragma once

#include "amneziaconnector.h"

// Connects peers of protocol "amnezia-v2": container "amnezia-awg2" with "awg"
// settings whose "protocol_version" is the string "2".
class AmneziaV2Connector : public AmneziaConnector
{
    Q_OBJECT

public:
    explicit AmneziaV2Connector(QObject *parent = nullptr);
};
