#pragma once

#include "vendorservercatalog.h"

// The vpn:// configuration of one peer on one server, in the AmneziaWG form the client's
// connectors accept: container "amnezia-awg" for amnezia-v1, "amnezia-awg2" with
// protocol version "2" for amnezia-v2.
class PeerConfigBuilder
{
public:
    PeerConfigBuilder() = delete;

    static QString config(const VendorServerCatalog::Server &server, const QString &clientAddress,
                          const QString &privateKey);
};
