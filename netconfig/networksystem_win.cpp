#include "netconfig/networksystem.h"

#include <QNetworkInterface>
#include <QSettings>
#include <QUuid>

#include <vector>

#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif
// Winsock before windows.h, and windows.h before the IP Helper headers.
#include <winsock2.h>
#include <ws2ipdef.h>

#include <windows.h>

#include <iphlpapi.h>
#include <netioapi.h>

namespace {

// Present on every Windows this client supports, but looked up at run time all the same so
// that a missing entry point skips its work instead of preventing the start.
using GetIpInterfaceEntryFunction = DWORD(WINAPI *)(PMIB_IPINTERFACE_ROW);
using ConvertInterfaceIndexToLuidFunction = DWORD(WINAPI *)(NET_IFINDEX, PNET_LUID);
using ConvertInterfaceLuidToGuidFunction = DWORD(WINAPI *)(const NET_LUID *, GUID *);

struct IpHelper
{
    bool loaded = false;
    GetIpInterfaceEntryFunction getIpInterfaceEntry = nullptr;
    ConvertInterfaceIndexToLuidFunction convertInterfaceIndexToLuid = nullptr;
    ConvertInterfaceLuidToGuidFunction convertInterfaceLuidToGuid = nullptr;
};

// GetProcAddress gives every function one type; passing through void (*)() tells the compiler
// that the cast to the real one is meant.
template <typename Function>
Function procedure(HMODULE module, const char *name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// Taken from the already loaded module; a missing module leaves the table unloaded so that
// the next use tries again.
IpHelper &loadIpHelper()
{
    static IpHelper table;
    if (table.loaded)
        return table;
    HMODULE module = GetModuleHandleW(L"iphlpapi");
    if (!module)
        return table;
    table.getIpInterfaceEntry = procedure<GetIpInterfaceEntryFunction>(module, "GetIpInterfaceEntry");
    table.convertInterfaceIndexToLuid
        = procedure<ConvertInterfaceIndexToLuidFunction>(module, "ConvertInterfaceIndexToLuid");
    table.convertInterfaceLuidToGuid = procedure<ConvertInterfaceLuidToGuidFunction>(module, "ConvertInterfaceLuidToGuid");
    table.loaded = true;
    return table;
}

MIB_IPFORWARDROW systemRow(const NetworkSystem::ForwardRow &row)
{
    MIB_IPFORWARDROW systemRow;
    ZeroMemory(&systemRow, sizeof systemRow);
    systemRow.dwForwardDest = htonl(row.destination);
    systemRow.dwForwardMask = htonl(row.mask);
    systemRow.dwForwardPolicy = 0;
    systemRow.dwForwardNextHop = htonl(row.nextHop);
    systemRow.dwForwardIfIndex = DWORD(row.interfaceIndex);
    systemRow.dwForwardType = DWORD(row.type);
    systemRow.dwForwardProto = DWORD(row.protocol);
    systemRow.dwForwardAge = 0;
    systemRow.dwForwardNextHopAS = 0;
    systemRow.dwForwardMetric1 = DWORD(row.metric);
    systemRow.dwForwardMetric2 = DWORD(-1);
    systemRow.dwForwardMetric3 = DWORD(-1);
    systemRow.dwForwardMetric4 = DWORD(-1);
    systemRow.dwForwardMetric5 = DWORD(-1);
    return systemRow;
}

class WindowsNetworkSystem : public NetworkSystem
{
public:
    WindowsNetworkSystem() : NetworkSystem(Windows) { }

    bool interfaceGuid(int interfaceIndex, QUuid *guid) override
    {
        const IpHelper &helper = loadIpHelper();
        if (!helper.convertInterfaceIndexToLuid || !helper.convertInterfaceLuidToGuid)
            return false;
        NET_LUID luid;
        GUID systemGuid;
        if (helper.convertInterfaceIndexToLuid(NET_IFINDEX(interfaceIndex), &luid) != 0
            || helper.convertInterfaceLuidToGuid(&luid, &systemGuid) != 0)
            return false;
        *guid = QUuid(uint(systemGuid.Data1), systemGuid.Data2, systemGuid.Data3, systemGuid.Data4[0],
            systemGuid.Data4[1], systemGuid.Data4[2], systemGuid.Data4[3], systemGuid.Data4[4], systemGuid.Data4[5],
            systemGuid.Data4[6], systemGuid.Data4[7]);
        return true;
    }

    bool forwardTable(QList<ForwardRow> *rows) override
    {
        ULONG size = 60;
        std::vector<char> buffer(size);
        if (GetIpForwardTable(reinterpret_cast<PMIB_IPFORWARDTABLE>(buffer.data()), &size, TRUE)
            == ERROR_INSUFFICIENT_BUFFER)
            buffer.assign(size, 0);
        if (GetIpForwardTable(reinterpret_cast<PMIB_IPFORWARDTABLE>(buffer.data()), &size, TRUE) != NO_ERROR)
            return false;
        const auto *table = reinterpret_cast<const MIB_IPFORWARDTABLE *>(buffer.data());
        rows->clear();
        for (DWORD i = 0; i < table->dwNumEntries; ++i) {
            const MIB_IPFORWARDROW &systemRow = table->table[i];
            ForwardRow row;
            row.destination = ntohl(systemRow.dwForwardDest);
            row.mask = ntohl(systemRow.dwForwardMask);
            row.nextHop = ntohl(systemRow.dwForwardNextHop);
            row.interfaceIndex = int(systemRow.dwForwardIfIndex);
            row.type = int(systemRow.dwForwardType);
            row.protocol = int(systemRow.dwForwardProto);
            row.metric = int(systemRow.dwForwardMetric1);
            rows->append(row);
        }
        return true;
    }

    quint32 createForwardEntry(const ForwardRow &row) override
    {
        MIB_IPFORWARDROW entry = systemRow(row);
        return CreateIpForwardEntry(&entry);
    }

    quint32 deleteForwardEntry(const ForwardRow &row) override
    {
        MIB_IPFORWARDROW entry = systemRow(row);
        return DeleteIpForwardEntry(&entry);
    }

    QString errorText(quint32 code) const override
    {
        wchar_t *text = nullptr;
        const DWORD length = FormatMessageW(
            FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
            0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
        const QString result
            = length ? QString::fromWCharArray(text, int(length)).trimmed() : NetworkSystem::errorText(code);
        LocalFree(text);
        return result;
    }

    bool adapterDnsServers(int interfaceIndex, QStringList *addresses) override
    {
        ULONG size = 52;
        std::vector<char> buffer(size);
        if (GetPerAdapterInfo(ULONG(interfaceIndex), reinterpret_cast<PIP_PER_ADAPTER_INFO>(buffer.data()), &size)
            == ERROR_BUFFER_OVERFLOW)
            buffer.assign(size, 0);
        if (GetPerAdapterInfo(ULONG(interfaceIndex), reinterpret_cast<PIP_PER_ADAPTER_INFO>(buffer.data()), &size)
            != NO_ERROR)
            return false;
        const auto *info = reinterpret_cast<const IP_PER_ADAPTER_INFO *>(buffer.data());
        addresses->clear();
        for (const IP_ADDR_STRING *entry = &info->DnsServerList; entry; entry = entry->Next) {
            const char *text = entry->IpAddress.String;
            addresses->append(QString::fromLatin1(text, int(qstrnlen(text, sizeof entry->IpAddress.String))));
        }
        return true;
    }

    bool resolverConfiguration(QByteArray *) override { return false; }

    bool hostModel(const QNetworkInterface &networkInterface, HostModel *model) override
    {
        const IpHelper &helper = loadIpHelper();
        if (!helper.getIpInterfaceEntry)
            return false;
        MIB_IPINTERFACE_ROW row;
        ZeroMemory(&row, sizeof row);
        row.Family = AF_INET;
        row.InterfaceLuid.Value = 0;
        row.InterfaceIndex = NET_IFINDEX(networkInterface.index());
        if (helper.getIpInterfaceEntry(&row) != 0)
            return false;
        model->forwarding = row.ForwardingEnabled;
        model->weakHostSend = row.WeakHostSend;
        model->weakHostReceive = row.WeakHostReceive;
        return true;
    }

    // netsh does these here.
    bool setForwarding(const QNetworkInterface &, bool) override { return false; }
    bool renameLink(int, const QString &) override { return false; }
    bool enableLink(int) override { return false; }

    // The network adapter class key: one group per installed adapter instance.
    QList<DriverEntry> driverEntries() override
    {
        QList<DriverEntry> entries;
        QSettings classKey(QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\"
                                          "{4D36E972-E325-11CE-BFC1-08002BE10318}"),
            QSettings::NativeFormat);
        const QStringList groups = classKey.childGroups();
        for (const QString &group : groups) {
            classKey.beginGroup(group);
            entries << DriverEntry { classKey.value(QStringLiteral("ComponentId")).toString(),
                classKey.value(QStringLiteral("DriverVersion")).toString(),
                classKey.value(QStringLiteral("NetCfgInstanceId")).toString() };
            classKey.endGroup();
        }
        return entries;
    }
};

} // namespace

NetworkSystem *NetworkSystem::platformSystem()
{
    static WindowsNetworkSystem system;
    return &system;
}
