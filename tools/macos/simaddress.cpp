#include "simaddress.h"

#include <arpa/inet.h>

#include <cstring>

SimAddress SimAddress::parse(const QString &text)
{
    const SimAddress inet = parse(text, Inet);
    return inet.isValid() ? inet : parse(text, Inet6);
}

SimAddress SimAddress::parse(const QString &text, Family family)
{
    SimAddress address;
    if (family == Inet) {
        // inet_pton takes only the full dotted quad, unlike inet_aton's "10" or "10.1".
        if (inet_pton(AF_INET, text.toLatin1().constData(), address.bytes.data()) == 1)
            address.addressFamily = Inet;
        return address;
    }
    if (family == Inet6) {
        QString numeric = text;
        const int percent = text.indexOf(QLatin1Char('%'));
        if (percent >= 0) {
            address.scopeName = text.mid(percent + 1);
            numeric = text.left(percent);
            if (address.scopeName.isEmpty())
                return SimAddress();
        }
        if (inet_pton(AF_INET6, numeric.toLatin1().constData(), address.bytes.data()) == 1)
            address.addressFamily = Inet6;
        else
            address.scopeName.clear();
    }
    return address;
}

SimAddress SimAddress::netmask(Family family, int prefixLength)
{
    SimAddress mask;
    mask.addressFamily = family;
    for (int bit = 0; bit < prefixLength && bit < bitLength(family); ++bit)
        mask.bytes[bit / 8] |= static_cast<unsigned char>(0x80 >> (bit % 8));
    return mask;
}

int SimAddress::bitLength(Family family)
{
    switch (family) {
    case Inet:
        return 32;
    case Inet6:
        return 128;
    case NoFamily:
        break;
    }
    return 0;
}

QString SimAddress::familyName(Family family)
{
    return family == Inet6 ? QStringLiteral("inet6") : QStringLiteral("inet");
}

SimAddress::Family SimAddress::familyFromName(const QString &name)
{
    if (name == QLatin1String("inet"))
        return Inet;
    if (name == QLatin1String("inet6"))
        return Inet6;
    return NoFamily;
}

QString SimAddress::toString() const
{
    char text[INET6_ADDRSTRLEN] = {};
    if (addressFamily == Inet)
        inet_ntop(AF_INET, bytes.data(), text, sizeof text);
    else if (addressFamily == Inet6)
        inet_ntop(AF_INET6, bytes.data(), text, sizeof text);
    QString result = QString::fromLatin1(text);
    if (!scopeName.isEmpty())
        result += QLatin1Char('%') + scopeName;
    return result;
}

QString SimAddress::toHexMask() const
{
    QString hex = QStringLiteral("0x");
    for (int i = 0; i < 4; ++i)
        hex += QStringLiteral("%1").arg(bytes[i], 2, 16, QLatin1Char('0'));
    return hex;
}

int SimAddress::prefixLengthOfMask() const
{
    const int bits = bitLength(addressFamily);
    int length = 0;
    while (length < bits && (bytes[length / 8] & (0x80 >> (length % 8))))
        ++length;
    for (int bit = length; bit < bits; ++bit) {
        if (bytes[bit / 8] & (0x80 >> (bit % 8)))
            return -1;
    }
    return bits == 0 ? -1 : length;
}

SimAddress SimAddress::masked(int prefixLength) const
{
    SimAddress network;
    network.addressFamily = addressFamily;
    const SimAddress mask = netmask(addressFamily, prefixLength);
    for (size_t i = 0; i < bytes.size(); ++i)
        network.bytes[i] = bytes[i] & mask.bytes[i];
    return network;
}

bool SimAddress::isWithin(const SimAddress &network, int prefixLength) const
{
    if (addressFamily != network.addressFamily || !isValid())
        return false;
    return masked(prefixLength).bytes == network.masked(prefixLength).bytes;
}

bool SimAddress::operator==(const SimAddress &other) const
{
    return addressFamily == other.addressFamily && bytes == other.bytes &&
           scopeName == other.scopeName;
}

bool SimAddress::operator<(const SimAddress &other) const
{
    if (addressFamily != other.addressFamily)
        return addressFamily < other.addressFamily;
    return bytes < other.bytes;
}
