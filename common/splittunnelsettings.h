#pragma once

#include <QVariantList>
#include <QVariantMap>

// The split-tunnelling settings of one connection, as the client puts them into the peer
// map under "splitTunnel". After reading, the mode is OnlySelected or AllExcept, or
// enabled is false and the mode is Off.
struct SplitTunnelSettings
{
    enum Mode : qint32 {
        Off = 0,
        OnlySelected = 1, // only the entries go through the tunnel
        AllExcept = 2,    // everything but the entries goes through the tunnel
    };

    bool enabled = false;
    Mode mode = Off;
    QVariantList entries; // maps with "value" and "ip"

    // Never fails: anything unreadable switches split tunnelling off.
    static SplitTunnelSettings fromPeer(const QVariantMap &peer);

    bool is(Mode wanted) const { return enabled && mode == wanted; }
};
