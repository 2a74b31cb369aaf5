#ifndef NIMBORA_NETCONFIG_TAPADAPTERS_H
#define NIMBORA_NETCONFIG_TAPADAPTERS_H

#include "netconfig/networkadapter.h"

#include <QList>

// The present adapters of the VPN driver named by GlobalValues "driverName" at the version
// "driverVersion", in the system's order of installed driver instances.
QList<NetworkAdapter> tapAdapters();

#endif
