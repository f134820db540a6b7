#pragma once

#include "amneziaconnector.h"

// Connects peers of protocol "amnezia-v1": container "amnezia-awg" with "awg" settings.
class AmneziaV1Connector : public AmneziaConnector
{
    Q_OBJECT

public:
    explicit AmneziaV1Connector(QObject *parent = nullptr);

    QString protocol() const override;

protected:
    const char *logPrefix() const override;
    QString unsupportedProtocolText() const override;
    QString wrongConfigurationText() const override;
    bool acceptsConfiguration(const ParsedVpnConfig &config) const override;
};
