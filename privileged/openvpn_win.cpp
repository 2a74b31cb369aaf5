#include "privileged/openvpn.h"

#include "netconfig/networkconfiguration.h"

#include <QOperatingSystemVersion>

// From Vista on the TAP adapter may stay down until it is enabled again while OpenVPN waits.
void OpenVPN::wakeUpInterface()
{
    if (QOperatingSystemVersion::current() < QOperatingSystemVersion(QOperatingSystemVersion::Windows, 6, 0))
        return;
    emit log(QStringLiteral("Waking up the interface..."));
    enableInterface(tapAdapter().networkInterface());
}
