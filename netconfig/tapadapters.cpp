#include "netconfig/tapadapters.h"

#include "base/globalvalues.h"
#include "netconfig/networkconfiguration.h"
#include "netconfig/networksystem.h"

QList<NetworkAdapter> tapAdapters()
{
    const QList<NetworkAdapter> adapters = allAdapters();
    const QString driverName = GlobalValues::value(GlobalValues::DriverName).toString();
    const QString driverVersion = GlobalValues::value(GlobalValues::DriverVersion).toString();
    QList<NetworkAdapter> found;
    const QList<NetworkSystem::DriverEntry> entries = NetworkSystem::instance()->driverEntries();
    for (const NetworkSystem::DriverEntry &entry : entries) {
        if (entry.componentId != driverName || entry.driverVersion != driverVersion)
            continue;
        // Installed but disabled or removed adapters have no interface.
        const NetworkAdapter adapter = adapterByGuid(entry.instanceId, adapters);
        if (adapter.isValid())
            found << adapter;
    }
    return found;
}
