#include "splittunnelsettings.h"

SplitTunnelSettings SplitTunnelSettings::fromPeer(const QVariantMap &peer)
{
    const QVariantMap st = peer.value(QStringLiteral("splitTunnel")).toMap();

    SplitTunnelSettings settings;
    settings.enabled = st.value(QStringLiteral("enabled")).toBool();
    const int mode = st.value(QStringLiteral("mode")).toInt();
    settings.entries = st.value(QStringLiteral("entries")).toList();
    if (mode == OnlySelected || mode == AllExcept)
        settings.mode = Mode(mode);
    else
        settings.enabled = false;
    return settings;
}
