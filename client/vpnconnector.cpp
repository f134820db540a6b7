#include "vpnconnector.h"

VpnConnector::VpnConnector(QObject *parent)
    : QObject(parent)
{}
