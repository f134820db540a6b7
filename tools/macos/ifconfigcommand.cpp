#include "livenetwork.h"
#include "simstate.h"
#include "standincommands.h"

// The BSD ifconfig(8) of macOS: listing interfaces and setting addresses, MTU and state.

namespace {

struct Change
{
    SimAddress::Family family = SimAddress::NoFamily;
    QString addressText;
    QString destinationText;
    QString netmaskText;
    QString prefixText;
    QString broadcastText;
    enum Mode { Replace, Alias, Delete } mode = Replace;
    QString mtuText;
    int up = -1; // -1 unchanged, 0 down, 1 up
};

int badValue(const QString &text)
{
    printErr(QStringLiteral("ifconfig: %1: bad value\n").arg(text));
    return 1;
}

QString describe(const SimState &state, const SimState::Interface &interface)
{
    QString text = QStringLiteral("%1: flags=%2<%3> mtu %4\n")
                       .arg(interface.name)
                       .arg(interface.flags(), 0, 16)
                       .arg(interface.flagNames())
                       .arg(interface.mtu);
    if (!interface.ether.isEmpty())
        text += QStringLiteral("\tether %1\n").arg(interface.ether);
    const int index = state.interfaceNames().indexOf(interface.name) + 1;
    for (const SimState::InterfaceAddress &entry : interface.addresses) {
        if (entry.address.family() == SimAddress::Inet6) {
            text += QStringLiteral("\tinet6 %1 prefixlen %2")
                        .arg(entry.address.toString())
                        .arg(entry.prefixLength);
            if (!entry.address.scope().isEmpty())
                text += QStringLiteral(" scopeid 0x%1").arg(index, 0, 16);
            text += QStringLiteral(" \n");
            continue;
        }
        text += QStringLiteral("\tinet ") + entry.address.toString();
        if (entry.destination.isValid())
            text += QStringLiteral(" --> ") + entry.destination.toString();
        text += QStringLiteral(" netmask ") +
                SimAddress::netmask(SimAddress::Inet, entry.prefixLength).toHexMask();
        if (entry.broadcast.isValid())
            text += QStringLiteral(" broadcast ") + entry.broadcast.toString();
        text += QLatin1Char('\n');
    }
    if (interface.kind() == SimState::Interface::Broadcast)
        text += interface.up ? QStringLiteral("\tstatus: active\n")
                             : QStringLiteral("\tstatus: inactive\n");
    return text;
}

bool parseChange(const QStringList &words, Change *change, int *exitCode)
{
    for (int i = 0; i < words.size(); ++i) {
        const QString word = words[i];
        const bool takesValue = word == QLatin1String("mtu") || word == QLatin1String("netmask") ||
                                word == QLatin1String("prefixlen") ||
                                word == QLatin1String("broadcast");
        if (takesValue && i + 1 == words.size()) {
            printErr(QStringLiteral("ifconfig: %1: missing argument\n").arg(word));
            *exitCode = 1;
            return false;
        }
        if (word == QLatin1String("inet") || word == QLatin1String("inet6"))
            change->family = SimAddress::familyFromName(word);
        else if (word == QLatin1String("up"))
            change->up = 1;
        else if (word == QLatin1String("down"))
            change->up = 0;
        else if (word == QLatin1String("mtu"))
            change->mtuText = words[++i];
        else if (word == QLatin1String("netmask"))
            change->netmaskText = words[++i];
        else if (word == QLatin1String("prefixlen"))
            change->prefixText = words[++i];
        else if (word == QLatin1String("broadcast"))
            change->broadcastText = words[++i];
        else if (word == QLatin1String("alias") || word == QLatin1String("add"))
            change->mode = Change::Alias;
        else if (word == QLatin1String("-alias") || word == QLatin1String("delete") ||
                 word == QLatin1String("remove"))
            change->mode = Change::Delete;
        else if (!word.startsWith(QLatin1Char('-')) && change->addressText.isEmpty())
            change->addressText = word;
        else if (!word.startsWith(QLatin1Char('-')) && change->destinationText.isEmpty())
            change->destinationText = word;
        else {
            *exitCode = badValue(word);
            return false;
        }
    }
    return true;
}

// ifconfig's default mask for an IPv4 address given without one: the old class mask.
int defaultInetPrefix(const SimAddress &address)
{
    const int firstOctet = address.toString().section(QLatin1Char('.'), 0, 0).toInt();
    return firstOctet < 128 ? 8 : firstOctet < 192 ? 16 : 24;
}

int indexOfAddress(const SimState::Interface &interface, const SimAddress &address)
{
    const int bits = SimAddress::bitLength(address.family());
    for (int i = 0; i < interface.addresses.size(); ++i) {
        const SimAddress held = interface.addresses[i].address;
        if (held.family() == address.family() && held.masked(bits) == address.masked(bits))
            return i;
    }
    return -1;
}

// Builds the address entry the change describes; false after printing ifconfig's error.
bool buildAddress(const SimState::Interface &interface, const Change &change,
                  SimState::InterfaceAddress *entry, int *exitCode)
{
    const SimAddress::Family family =
        change.family == SimAddress::NoFamily ? SimAddress::Inet : change.family;
    const int fullLength = SimAddress::bitLength(family);
    QString addressText = change.addressText;
    int prefix = -1;
    if (addressText.contains(QLatin1Char('/'))) {
        bool ok = false;
        prefix = addressText.section(QLatin1Char('/'), 1).toInt(&ok);
        if (!ok || prefix < 0 || prefix > fullLength) {
            *exitCode = badValue(addressText);
            return false;
        }
        addressText = addressText.section(QLatin1Char('/'), 0, 0);
    }
    entry->address = SimAddress::parse(addressText, family);
    if (!entry->address.isValid()) {
        *exitCode = badValue(change.addressText);
        return false;
    }
    if (family == SimAddress::Inet6 && entry->address.scope().isEmpty() &&
        entry->address.masked(10) == SimAddress::parse(QStringLiteral("fe80::"), family))
        entry->address = SimAddress::parse(addressText + QLatin1Char('%') + interface.name, family);

    if (!change.netmaskText.isEmpty()) {
        SimAddress mask = SimAddress::parse(change.netmaskText, SimAddress::Inet);
        if (!mask.isValid() && change.netmaskText.startsWith(QLatin1String("0x"))) {
            bool ok = false;
            const uint value = change.netmaskText.mid(2).toUInt(&ok, 16);
            if (ok)
                mask = SimAddress::parse(QStringLiteral("%1.%2.%3.%4")
                                             .arg(value >> 24)
                                             .arg((value >> 16) & 0xff)
                                             .arg((value >> 8) & 0xff)
                                             .arg(value & 0xff),
                                         SimAddress::Inet);
        }
        prefix = family == SimAddress::Inet ? mask.prefixLengthOfMask() : -1;
        if (prefix < 0) {
            *exitCode = badValue(change.netmaskText);
            return false;
        }
    }
    if (!change.prefixText.isEmpty()) {
        bool ok = false;
        prefix = change.prefixText.toInt(&ok);
        if (!ok || prefix < 0 || prefix > fullLength) {
            *exitCode = badValue(change.prefixText);
            return false;
        }
    }
    const bool pointToPoint = interface.kind() == SimState::Interface::PointToPoint;
    if (prefix < 0) {
        if (family == SimAddress::Inet6)
            prefix = 64;
        else
            prefix = pointToPoint ? 32 : defaultInetPrefix(entry->address);
    }
    entry->prefixLength = prefix;

    if (!change.destinationText.isEmpty()) {
        entry->destination = SimAddress::parse(change.destinationText, family);
        if (family != SimAddress::Inet || !entry->destination.isValid()) {
            *exitCode = badValue(change.destinationText);
            return false;
        }
    }
    if (!change.broadcastText.isEmpty()) {
        entry->broadcast = SimAddress::parse(change.broadcastText, SimAddress::Inet);
        if (family != SimAddress::Inet || !entry->broadcast.isValid()) {
            *exitCode = badValue(change.broadcastText);
            return false;
        }
    }
    if (family == SimAddress::Inet && pointToPoint && !entry->destination.isValid() &&
        change.mode != Change::Delete) {
        printErr(QStringLiteral("ifconfig: ioctl (SIOCAIFADDR): Destination address required\n"));
        *exitCode = 1;
        return false;
    }
    return true;
}

int applyChange(SimState::Interface &interface, const Change &change)
{
    int exitCode = 0;
    int mtu = -1;
    if (!change.mtuText.isEmpty()) {
        bool ok = false;
        mtu = change.mtuText.toInt(&ok);
        if (!ok)
            return badValue(change.mtuText);
        if (mtu < 72 || mtu > 16384) {
            printErr(QStringLiteral("ifconfig: ioctl (set mtu): Invalid argument\n"));
            return 1;
        }
    }

    SimState::InterfaceAddress entry;
    const bool hasAddress = !change.addressText.isEmpty();
    if (hasAddress && !buildAddress(interface, change, &entry, &exitCode))
        return exitCode;
    if (!hasAddress && change.mode == Change::Delete) {
        printErr(QStringLiteral("ifconfig: ioctl (SIOCDIFADDR): Can't assign requested address\n"));
        return 1;
    }

    if (hasAddress) {
        const int existing = indexOfAddress(interface, entry.address);
        if (change.mode == Change::Delete) {
            if (existing < 0) {
                printErr(QStringLiteral(
                    "ifconfig: ioctl (SIOCDIFADDR): Can't assign requested address\n"));
                return 1;
            }
            interface.addresses.removeAt(existing);
        } else if (existing >= 0) {
            interface.addresses[existing] = entry;
        } else if (change.mode == Change::Replace && entry.address.family() == SimAddress::Inet) {
            // Without "alias" an IPv4 address takes the place of the interface's first one.
            int first = -1;
            for (int i = 0; i < interface.addresses.size() && first < 0; ++i) {
                if (interface.addresses[i].address.family() == SimAddress::Inet)
                    first = i;
            }
            if (first >= 0)
                interface.addresses[first] = entry;
            else
                interface.addresses.append(entry);
        } else {
            interface.addresses.append(entry);
        }
        // Giving an interface an address brings it up, as the BSD kernel does.
        if (change.mode != Change::Delete)
            interface.up = true;
    }
    if (mtu > 0)
        interface.mtu = mtu;
    if (change.up >= 0)
        interface.up = change.up == 1;
    return 0;
}

} // namespace

int runIfconfig(SimState &state, const QStringList &arguments)
{
    if (arguments.isEmpty() || arguments == QStringList{QStringLiteral("-a")}) {
        QString text;
        for (const QString &name : state.interfaceNames())
            text += describe(state, state.interfaces[name]);
        printOut(text);
        return 0;
    }
    if (arguments == QStringList{QStringLiteral("-l")}) {
        printOut(state.interfaceNames().join(QLatin1Char(' ')) + QLatin1Char('\n'));
        return 0;
    }
    if (arguments.first().startsWith(QLatin1Char('-'))) {
        printErr(QStringLiteral("usage: ifconfig [-a] [-l] interface [address_family] [address "
                                "[dest_address]] [parameters]\n"));
        return 1;
    }

    SimState::Interface *interface = state.findInterface(arguments.first());
    if (!interface) {
        printErr(QStringLiteral("ifconfig: interface %1 does not exist\n").arg(arguments.first()));
        return 1;
    }
    if (arguments.size() == 1) {
        printOut(describe(state, *interface));
        return 0;
    }

    Change change;
    int exitCode = 0;
    if (!parseChange(arguments.mid(1), &change, &exitCode))
        return exitCode;
    // Work on a copy so that a refused change leaves the interface untouched.
    SimState::Interface changed = *interface;
    exitCode = applyChange(changed, change);
    if (exitCode != 0)
        return exitCode;
    if (LiveNetwork::isRequested()) {
        QString message;
        if (!LiveNetwork::applyInterface(*interface, changed, &message)) {
            printErr(message);
            return 1;
        }
    }
    *interface = changed;
    return 0;
}
