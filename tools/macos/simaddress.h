#pragma once

#include <QString>

#include <array>

// An IPv4 or IPv6 address as the simulated interfaces and routing table hold it. An
// IPv6 address may carry a scope ("fe80::1%en0"), which on macOS names the interface a
// link-local address belongs to.
class SimAddress
{
public:
    enum Family { NoFamily, Inet, Inet6 };

    SimAddress() = default;

    // A numeric address of either family; invalid (NoFamily) for anything else.
    static SimAddress parse(const QString &text);
    // A numeric address of the given family only.
    static SimAddress parse(const QString &text, Family family);
    // The contiguous mask of the given length.
    static SimAddress netmask(Family family, int prefixLength);

    static int bitLength(Family family);
    static QString familyName(Family family);
    static Family familyFromName(const QString &name);

    bool isValid() const { return addressFamily != NoFamily; }
    Family family() const { return addressFamily; }
    QString scope() const { return scopeName; }

    // Numeric text, with the scope for a scoped IPv6 address.
    QString toString() const;
    // The mask in ifconfig's hexadecimal form ("0xffffff00"); IPv4 only.
    QString toHexMask() const;
    // Length of a contiguous mask, -1 when the address is not one.
    int prefixLengthOfMask() const;

    // The network part for the given prefix length, without scope.
    SimAddress masked(int prefixLength) const;
    bool isWithin(const SimAddress &network, int prefixLength) const;

    // Compare family and bytes; the scope counts only for equality.
    bool operator==(const SimAddress &other) const;
    bool operator!=(const SimAddress &other) const { return !(*this == other); }
    bool operator<(const SimAddress &other) const;

private:
    Family addressFamily = NoFamily;
    std::array<unsigned char, 16> bytes{};
    QString scopeName;
};
