#pragma once

#include "amneziaconnector.h"

// Connects peers of protocol "amnezia-v1": container "amnezia-awg" with "awg" settings.
class AmneziaV1Connector : public AmneziaConnector
{
    Q_OBJECT

public:
    explicit AmneziaV1Connector(QObject *parent = nullptr);
};
