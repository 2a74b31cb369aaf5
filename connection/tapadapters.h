#ifndef TAPADAPTERS_H
#define TAPADAPTERS_H

#include "networkadapter.h"

#include <QList>

// The present adapters of the VPN driver named by GlobalValues "driverName" at the version
// "driverVersion", in the system's order of installed driver instances.
QList<NetworkAdapter> tapAdapters();

#endif
