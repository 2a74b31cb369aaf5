#include "connection/systemevents.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>

// winsock2.h before windows.h, which would bring the old winsock.
// clang-format off
#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>
#include <netioapi.h>
#include <windows.h>
// clang-format on

namespace {

// The power messages reach every top-level window of the program; one filter hears them all.
class PowerMessages : public QAbstractNativeEventFilter
{
public:
    explicit PowerMessages(SystemEvents *events) : m_events(events) { }

    bool nativeEventFilter(const QByteArray &eventType, void *message, long *result) override
    {
        Q_UNUSED(result)
        if (eventType != "windows_generic_MSG")
            return false;
        const MSG *msg = static_cast<const MSG *>(message);
        if (msg->message == WM_POWERBROADCAST
            && (msg->wParam == PBT_APMRESUMEAUTOMATIC || msg->wParam == PBT_APMRESUMESUSPEND))
            m_events->noteChange();
        return false;
    }

private:
    SystemEvents *m_events;
};

struct Watch
{
    PowerMessages *power = nullptr;
    HANDLE interfaces = nullptr;
    HANDLE addresses = nullptr;
};

VOID NETIOAPI_API_ interfaceChanged(PVOID context, PMIB_IPINTERFACE_ROW, MIB_NOTIFICATION_TYPE)
{
    static_cast<SystemEvents *>(context)->noteChange();
}

VOID NETIOAPI_API_ addressChanged(PVOID context, PMIB_UNICASTIPADDRESS_ROW, MIB_NOTIFICATION_TYPE)
{
    static_cast<SystemEvents *>(context)->noteChange();
}

} // namespace

void SystemEvents::startWatching()
{
    Watch *watch = new Watch;
    watch->power = new PowerMessages(this);
    QCoreApplication::instance()->installNativeEventFilter(watch->power);
    NotifyIpInterfaceChange(AF_UNSPEC, interfaceChanged, this, FALSE, &watch->interfaces);
    NotifyUnicastIpAddressChange(AF_UNSPEC, addressChanged, this, FALSE, &watch->addresses);
    m_platform = watch;
}

void SystemEvents::stopWatching()
{
    Watch *watch = static_cast<Watch *>(m_platform);
    if (!watch)
        return;
    // Returns once no callback runs any more.
    if (watch->interfaces)
        CancelMibChangeNotify2(watch->interfaces);
    if (watch->addresses)
        CancelMibChangeNotify2(watch->addresses);
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(watch->power);
    delete watch->power;
    delete watch;
    m_platform = nullptr;
}
