#pragma once

#include "parsedvpnconfig.h"

#include <QCoreApplication>
#include <QString>

// The values of a connect request that become arguments of root's commands (ifconfig,
// route, networksetup). Any local user may send a connect request, so each value is taken
// only in the one form its command expects, and nothing that starts with "-", which a
// command would read as an option, gets through.
class ConfigValueValidator
{
    Q_DECLARE_TR_FUNCTIONS(ConfigValueValidator)

public:
    // Each split entry costs a name lookup and a route at connect time and a route at
    // disconnect; the limits keep a connect well inside the client's one-minute wait.
    static constexpr int MaxSplitEntries = 256;
    // A name may resolve to several addresses, each a route of its own.
    static constexpr int MaxSplitRoutes = 1024;
    // IPv4's minimum datagram size up to jumbo frames.
    static constexpr int MinMtu = 576;
    static constexpr int MaxMtu = 9000;
    // IFNAMSIZ less the terminating zero.
    static constexpr int MaxInterfaceNameLength = 15;

    ConfigValueValidator() = delete;

    // "utun" followed by its number, as the kernel names a tunnel interface.
    static bool isInterfaceName(const QString &name);
    // Dotted quad in canonical form (no leading zeros, no shorthand).
    static bool isIpv4Address(const QString &text);
    // IPv4 as above, or IPv6 without a scope.
    static bool isIpAddress(const QString &text);
    // Decimal digits only, inside MinMtu..MaxMtu.
    static bool isMtu(const QString &text);
    static bool isOptionLike(const QString &text);

    // The first unacceptable value, as a Russian error naming its field; empty when all
    // are acceptable. clientAddress and endpointHost are the backend's readings of the
    // configuration; splitEntries is the number of split entries in use.
    static QString check(const ParsedVpnConfig &config, const QString &clientAddress,
                         const QString &endpointHost, int splitEntries);
    // Empty when the resolved split destinations are within MaxSplitRoutes.
    static QString checkSplitRoutes(int routes);
};
