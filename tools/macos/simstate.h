#pragma once

#include "simaddress.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// The simulated macOS network state kept in a state directory: interfaces with their
// addresses, the routing table and the network services with their DNS servers. The
// file formats are described in this folder's README; the tunnel stand-in writes
// interface files directly, so they must stay simple.
class SimState
{
public:
    struct InterfaceAddress
    {
        SimAddress address;
        int prefixLength = 0;
        SimAddress destination; // point-to-point peer, IPv4 only
        SimAddress broadcast;   // IPv4 only
    };

    struct Interface
    {
        enum Kind { Loopback, PointToPoint, Broadcast };

        QString name;
        qint64 ownerPid = 0;
        int mtu = 1500;
        bool up = false;
        QString ether;
        QList<InterfaceAddress> addresses;

        Kind kind() const;
        // The macOS flag word and its names, as ifconfig prints them.
        uint flags() const;
        QString flagNames() const;
    };

    struct Route
    {
        SimAddress destination; // masked to prefixLength
        int prefixLength = 0;
        bool host = false;
        SimAddress gateway; // invalid for a route through an interface
        QString interfaceName;
        // Packets to it are dropped (route add -blackhole); its gateway is a loopback one.
        bool blackhole = false;

        SimAddress::Family family() const { return destination.family(); }
        bool isDefault() const { return prefixLength == 0 && !host; }
        // "default", a bare address for a host route, address/prefix for a network route.
        QString destinationText() const;
    };

    struct Service
    {
        QString name;
        bool enabled = true;
        QStringList dnsServers;
    };

    explicit SimState(const QString &directory);

    QString directory() const { return stateDirectory; }

    // Reads every file; false with a description when the state is missing or malformed.
    bool load(QString *error);
    // Writes back only the files whose content changed since load().
    bool save(QString *error);

    // The whole state, sorted, without owner pids: equal states give equal text.
    QString dump() const;

    // The default machine: lo0, en0, two system utuns, default routes, three services.
    void resetToDefault();

    Interface *findInterface(const QString &name);
    Service *findService(const QString &name);
    QStringList interfaceNames() const;

    // Index in routes of the route with this key, -1 when there is none.
    int findRoute(const SimAddress &destination, int prefixLength) const;
    // Longest-prefix match over the routes and the interfaces' connected networks; false
    // when nothing covers the address.
    bool lookup(const SimAddress &address, Route *match) const;
    // The up interface an address is directly reachable through: the scope of a scoped
    // address, an interface holding it, a connected network or peer containing it, or a
    // route through an interface covering it. Empty when it is unreachable.
    QString interfaceReaching(const SimAddress &gateway) const;

    QMap<QString, Interface> interfaces;
    QList<Route> routes;
    QList<Service> services;

private:
    QByteArray serializeInterface(const Interface &interface) const;
    QByteArray serializeRoutes() const;
    QByteArray serializeServices() const;
    bool parseInterface(const QString &name, const QByteArray &content, Interface *interface,
                        QString *error) const;
    bool parseRoutes(const QByteArray &content, QString *error);
    bool parseServices(const QByteArray &content, QString *error);
    QList<Route> connectedRoutes() const;

    QString stateDirectory;
    QMap<QString, QByteArray> loadedInterfaceFiles;
    QByteArray loadedRoutes;
    QByteArray loadedServices;
};
