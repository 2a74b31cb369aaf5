#include "privileged/killswitch.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif
// Winsock before windows.h, and windows.h before the filter engine's and IP Helper's headers.
#include <winsock2.h>

#include <windows.h>

#include <fwpmu.h>
#include <iphlpapi.h>
#include <netioapi.h>

#include <list>
#include <vector>

namespace {

// A record is a few hundred bytes; anything much larger is not one of ours.
constexpr qint64 MaximumRecordSize = 64 * 1024;
// The boot time is computed from two clocks read one after the other, and the wall clock moves.
constexpr qint64 BootTimeTolerance = 120;

// The filter engine's names that MinGW's headers leave out, from the Windows SDK.
const GUID LayerConnectV4 = { 0xc38d57d1, 0x05a7, 0x4c33, { 0x90, 0x4f, 0x7f, 0xbc, 0xee, 0xe6, 0x0e, 0x82 } };
const GUID LayerConnectV6 = { 0x4a72393b, 0x319f, 0x44bc, { 0x84, 0xc3, 0xba, 0x54, 0xdc, 0xb3, 0xb6, 0xb4 } };
const GUID ConditionRemoteAddress = { 0xb235ae9a, 0x1d64, 0x49b8, { 0xa4, 0x4c, 0x5f, 0xf3, 0xd9, 0x09, 0x50, 0x45 } };
const GUID ConditionLocalAddress = { 0xd9ee00de, 0xc1ef, 0x4617, { 0xbf, 0xe3, 0xff, 0xd8, 0xf5, 0xa0, 0x89, 0x57 } };
const GUID ConditionRemotePort = { 0xc35a604d, 0xd22b, 0x4e1a, { 0x91, 0xb4, 0x68, 0xf6, 0x74, 0xee, 0x67, 0x4b } };
const GUID ConditionLocalPort = { 0x0c1ba1af, 0x5765, 0x453f, { 0xaf, 0x22, 0xa8, 0xf7, 0x91, 0xac, 0x77, 0x5b } };
const GUID ConditionProtocol = { 0x3971ef2b, 0x623e, 0x4f9a, { 0x8c, 0xb1, 0x6e, 0x79, 0xb8, 0x06, 0xb9, 0xa7 } };
const GUID ConditionLocalInterface = { 0x4cd62a49, 0x59c3, 0x4969, { 0xb7, 0xf3, 0xbd, 0xa5, 0xd3, 0x28, 0x90, 0xa4 } };
const GUID ConditionApplication = { 0xd78e1e87, 0x8644, 0x4ea5, { 0x94, 0x37, 0xd8, 0x09, 0xec, 0xef, 0xc9, 0x71 } };
const GUID ConditionFlags = { 0x632ce23b, 0x5167, 0x435c, { 0x86, 0xd7, 0xe9, 0x03, 0x68, 0x4a, 0xa8, 0x0c } };

// Ours, fixed: a later process finds and replaces what an earlier one put in place.
const GUID ProviderKey = { 0x5b0e4c1e, 0x7d2a, 0x4f36, { 0x9a, 0x41, 0x2c, 0x6e, 0x8b, 0x13, 0xd5, 0x70 } };
const GUID SubLayerKey = { 0x5b0e4c1f, 0x7d2a, 0x4f36, { 0x9a, 0x41, 0x2c, 0x6e, 0x8b, 0x13, 0xd5, 0x70 } };

wchar_t ProviderName[] = L"Nimbora";
wchar_t FilterName[] = L"Nimbora block";

QString engineError(const char *step, DWORD code)
{
    return QStringLiteral("Windows Filtering Platform, %1: error 0x%2")
        .arg(QLatin1String(step))
        .arg(code, 8, 16, QLatin1Char('0'));
}

// The conditions of one filter and the values they point at, alive until the filter is added.
class FilterConditions
{
public:
    ~FilterConditions()
    {
        for (FWP_BYTE_BLOB *application : m_applications)
            FwpmFreeMemory0(reinterpret_cast<void **>(&application));
    }

    bool build(const KillSwitchRules::WindowsFilter &filter, const QString &vpnAdapter, QString *errorString)
    {
        const KillSwitchRules::Allow &allow = filter.conditions;
        if (allow.way == KillSwitchRules::Way::Loopback) {
            FWP_CONDITION_VALUE0 value = {};
            value.type = FWP_UINT32;
            value.uint32 = FWP_CONDITION_FLAG_IS_LOOPBACK;
            add(ConditionFlags, FWP_MATCH_FLAGS_ALL_SET, value);
        } else if (allow.way == KillSwitchRules::Way::VpnAdapter) {
            NET_LUID luid = {};
            if (ConvertInterfaceAliasToLuid(reinterpret_cast<const wchar_t *>(vpnAdapter.utf16()), &luid) != NO_ERROR) {
                *errorString = QStringLiteral("the VPN adapter %1 is not found").arg(vpnAdapter);
                return false;
            }
            m_luids.push_back(luid.Value);
            FWP_CONDITION_VALUE0 value = {};
            value.type = FWP_UINT64;
            value.uint64 = &m_luids.back();
            add(ConditionLocalInterface, FWP_MATCH_EQUAL, value);
        }
        if (allow.protocol != KillSwitchRules::Protocol::Any) {
            FWP_CONDITION_VALUE0 value = {};
            value.type = FWP_UINT8;
            value.uint8 = allow.protocol == KillSwitchRules::Protocol::Tcp
                ? IPPROTO_TCP
                : (allow.protocol == KillSwitchRules::Protocol::Udp ? IPPROTO_UDP : 58);
            add(ConditionProtocol, FWP_MATCH_EQUAL, value);
        }
        if (!allow.remote.first.isNull())
            addRemote(allow.remote);
        addPort(ConditionRemotePort, allow.remotePort);
        addPort(ConditionLocalPort, allow.localPort);
        if (allow.icmpTypeLast) {
            // At these layers the ICMP type stands where the local port does.
            m_ranges.push_back({});
            FWP_RANGE0 &range = m_ranges.back();
            range.valueLow.type = FWP_UINT16;
            range.valueLow.uint16 = UINT16(allow.icmpTypeFirst);
            range.valueHigh.type = FWP_UINT16;
            range.valueHigh.uint16 = UINT16(allow.icmpTypeLast);
            FWP_CONDITION_VALUE0 value = {};
            value.type = FWP_RANGE_TYPE;
            value.rangeValue = &range;
            add(ConditionLocalPort, FWP_MATCH_RANGE, value);
        }
        if (!allow.localAddress.isNull())
            addLocalAddress(allow.localAddress);
        if (!allow.program.isEmpty()) {
            FWP_BYTE_BLOB *application = nullptr;
            const DWORD result
                = FwpmGetAppIdFromFileName0(reinterpret_cast<const wchar_t *>(allow.program.utf16()), &application);
            if (result != ERROR_SUCCESS) {
                *errorString = engineError("program", result);
                return false;
            }
            m_applications.push_back(application);
            FWP_CONDITION_VALUE0 value = {};
            value.type = FWP_BYTE_BLOB_TYPE;
            value.byteBlob = application;
            add(ConditionApplication, FWP_MATCH_EQUAL, value);
        }
        return true;
    }

    UINT32 count() const { return UINT32(m_conditions.size()); }
    FWPM_FILTER_CONDITION0 *data() { return m_conditions.empty() ? nullptr : m_conditions.data(); }

private:
    void add(const GUID &field, FWP_MATCH_TYPE match, const FWP_CONDITION_VALUE0 &value)
    {
        FWPM_FILTER_CONDITION0 condition = {};
        condition.fieldKey = field;
        condition.matchType = match;
        condition.conditionValue = value;
        m_conditions.push_back(condition);
    }

    void addPort(const GUID &field, quint16 port)
    {
        if (!port)
            return;
        FWP_CONDITION_VALUE0 value = {};
        value.type = FWP_UINT16;
        value.uint16 = port;
        add(field, FWP_MATCH_EQUAL, value);
    }

    void addRemote(const KillSwitchRules::Subnet &subnet)
    {
        FWP_CONDITION_VALUE0 value = {};
        if (subnet.first.protocol() == QAbstractSocket::IPv4Protocol) {
            m_v4Masks.push_back({});
            m_v4Masks.back().addr = subnet.first.toIPv4Address();
            m_v4Masks.back().mask = subnet.second == 0 ? 0 : ~UINT32(0) << (32 - subnet.second);
            value.type = FWP_V4_ADDR_MASK;
            value.v4AddrMask = &m_v4Masks.back();
        } else {
            m_v6Masks.push_back({});
            const Q_IPV6ADDR bytes = subnet.first.toIPv6Address();
            memcpy(m_v6Masks.back().addr, bytes.c, sizeof m_v6Masks.back().addr);
            m_v6Masks.back().prefixLength = UINT8(subnet.second);
            value.type = FWP_V6_ADDR_MASK;
            value.v6AddrMask = &m_v6Masks.back();
        }
        add(ConditionRemoteAddress, FWP_MATCH_EQUAL, value);
    }

    void addLocalAddress(const QHostAddress &address)
    {
        FWP_CONDITION_VALUE0 value = {};
        if (address.protocol() == QAbstractSocket::IPv4Protocol) {
            value.type = FWP_UINT32;
            value.uint32 = address.toIPv4Address();
        } else {
            m_v6Addresses.push_back({});
            const Q_IPV6ADDR bytes = address.toIPv6Address();
            memcpy(m_v6Addresses.back().byteArray16, bytes.c, sizeof m_v6Addresses.back().byteArray16);
            value.type = FWP_BYTE_ARRAY16_TYPE;
            value.byteArray16 = &m_v6Addresses.back();
        }
        add(ConditionLocalAddress, FWP_MATCH_EQUAL, value);
    }

    std::vector<FWPM_FILTER_CONDITION0> m_conditions;
    // Lists: the conditions point into them, so they never move.
    std::list<UINT64> m_luids;
    std::list<FWP_RANGE0> m_ranges;
    std::list<FWP_V4_ADDR_AND_MASK> m_v4Masks;
    std::list<FWP_V6_ADDR_AND_MASK> m_v6Masks;
    std::list<FWP_BYTE_ARRAY16> m_v6Addresses;
    std::vector<FWP_BYTE_BLOB *> m_applications;
};

// A session of the filter engine; not dynamic, so that what it adds outlives it, until the
// filters are deleted or the machine restarts.
class FilterEngine
{
public:
    FilterEngine()
    {
        FWPM_SESSION0 session = {};
        m_result = FwpmEngineOpen0(nullptr, RPC_C_AUTHN_WINNT, nullptr, &session, &m_engine);
        if (m_result != ERROR_SUCCESS)
            m_engine = nullptr;
    }
    ~FilterEngine()
    {
        if (m_engine) {
            if (m_inTransaction)
                FwpmTransactionAbort0(m_engine);
            FwpmEngineClose0(m_engine);
        }
    }
    FilterEngine(const FilterEngine &) = delete;
    FilterEngine &operator=(const FilterEngine &) = delete;

    bool begin(QString *errorString)
    {
        if (!m_engine) {
            *errorString = engineError("open", m_result);
            return false;
        }
        return check("transaction", FwpmTransactionBegin0(m_engine, 0), errorString) && (m_inTransaction = true);
    }

    bool commit(QString *errorString)
    {
        m_inTransaction = false;
        return check("commit", FwpmTransactionCommit0(m_engine), errorString);
    }

    bool addProviderAndSubLayer(QString *errorString)
    {
        FWPM_PROVIDER0 provider = {};
        provider.providerKey = ProviderKey;
        provider.displayData.name = ProviderName;
        DWORD result = FwpmProviderAdd0(m_engine, &provider, nullptr);
        if (result != DWORD(FWP_E_ALREADY_EXISTS) && !check("provider", result, errorString))
            return false;
        FWPM_SUBLAYER0 subLayer = {};
        subLayer.subLayerKey = SubLayerKey;
        subLayer.displayData.name = ProviderName;
        subLayer.providerKey = const_cast<GUID *>(&ProviderKey);
        subLayer.weight = 0xffff;
        result = FwpmSubLayerAdd0(m_engine, &subLayer, nullptr);
        return result == DWORD(FWP_E_ALREADY_EXISTS) || check("sublayer", result, errorString);
    }

    bool deleteOurFilters(QString *errorString)
    {
        for (const GUID &layer : { LayerConnectV4, LayerConnectV6 }) {
            FWPM_FILTER_ENUM_TEMPLATE0 pattern = {};
            pattern.providerKey = const_cast<GUID *>(&ProviderKey);
            pattern.layerKey = layer;
            pattern.enumType = FWP_FILTER_ENUM_OVERLAPPING;
            pattern.actionMask = 0xffffffff;
            HANDLE enumeration = nullptr;
            if (!check("filters", FwpmFilterCreateEnumHandle0(m_engine, &pattern, &enumeration), errorString))
                return false;
            FWPM_FILTER0 **filters = nullptr;
            UINT32 count = 0;
            const DWORD result = FwpmFilterEnum0(m_engine, enumeration, 0xffffffff, &filters, &count);
            std::vector<UINT64> ids;
            for (UINT32 i = 0; result == ERROR_SUCCESS && i < count; ++i)
                ids.push_back(filters[i]->filterId);
            if (filters)
                FwpmFreeMemory0(reinterpret_cast<void **>(&filters));
            FwpmFilterDestroyEnumHandle0(m_engine, enumeration);
            if (!check("filters", result, errorString))
                return false;
            for (const UINT64 id : ids) {
                if (!check("delete", FwpmFilterDeleteById0(m_engine, id), errorString))
                    return false;
            }
        }
        return true;
    }

    bool addFilter(const KillSwitchRules::WindowsFilter &plan, const QString &vpnAdapter, QString *errorString)
    {
        FilterConditions conditions;
        if (!conditions.build(plan, vpnAdapter, errorString))
            return false;
        FWPM_FILTER0 filter = {};
        filter.displayData.name = FilterName;
        filter.providerKey = const_cast<GUID *>(&ProviderKey);
        filter.layerKey = plan.layer == KillSwitchRules::Family::IPv4 ? LayerConnectV4 : LayerConnectV6;
        filter.subLayerKey = SubLayerKey;
        filter.weight.type = FWP_UINT8;
        filter.weight.uint8 = plan.weight;
        filter.action.type = plan.permit ? FWP_ACTION_PERMIT : FWP_ACTION_BLOCK;
        filter.numFilterConditions = conditions.count();
        filter.filterCondition = conditions.data();
        UINT64 id = 0;
        return check("filter", FwpmFilterAdd0(m_engine, &filter, nullptr, &id), errorString);
    }

private:
    static bool check(const char *step, DWORD result, QString *errorString)
    {
        if (result == ERROR_SUCCESS)
            return true;
        *errorString = engineError(step, result);
        return false;
    }

    HANDLE m_engine = nullptr;
    DWORD m_result = ERROR_SUCCESS;
    bool m_inTransaction = false;
};

qint64 bootTime()
{
    return QDateTime::currentSecsSinceEpoch() - qint64(GetTickCount64() / 1000);
}

} // namespace

KillSwitch::RecordState KillSwitch::readRecord(const QString &path, QByteArray *contents, QString *errorString)
{
    contents->clear();
    const QFileInfo info(path);
    if (info.isSymLink()) {
        *errorString = QStringLiteral("%1 is a link").arg(path);
        return RecordState::Refused;
    }
    if (!info.exists())
        return RecordState::Absent;
    QFile file(path);
    if (!info.isFile() || info.size() > MaximumRecordSize || !file.open(QIODevice::ReadOnly)) {
        *errorString = QStringLiteral("%1 cannot be read").arg(path);
        return RecordState::Refused;
    }
    *contents = file.read(MaximumRecordSize + 1);
    return RecordState::Read;
}

bool KillSwitch::writeRecord(const QString &path, const QByteArray &contents, QString *errorString)
{
    const QFileInfo info(path);
    if (info.isSymLink() || (info.exists() && !info.isFile())) {
        *errorString = QStringLiteral("%1 is not a file: it is left as it is").arg(path);
        return false;
    }
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size() && file.commit())
        return true;
    *errorString = QStringLiteral("%1 cannot be written: %2").arg(path, file.errorString());
    return false;
}

QString KillSwitch::bootId()
{
    return QString::number(bootTime());
}

bool KillSwitch::isThisBoot(const QString &recordedBoot)
{
    bool isNumber = false;
    const qint64 recorded = recordedBoot.toLongLong(&isNumber);
    return isNumber && qAbs(recorded - bootTime()) <= BootTimeTolerance;
}

bool KillSwitch::putInPlace(const KillSwitchRules &rules, bool *changed, QString *errorString)
{
    *changed = false;
    FilterEngine engine;
    if (!engine.begin(errorString) || !engine.addProviderAndSubLayer(errorString)
        || !engine.deleteOurFilters(errorString))
        return false;
    const QList<KillSwitchRules::WindowsFilter> filters = rules.windowsFilters();
    for (const KillSwitchRules::WindowsFilter &filter : filters) {
        if (!engine.addFilter(filter, rules.vpnAdapter, errorString))
            return false;
    }
    *changed = engine.commit(errorString);
    return *changed;
}

bool KillSwitch::takeAway(QString *errorString)
{
    FilterEngine engine;
    return engine.begin(errorString) && engine.deleteOurFilters(errorString) && engine.commit(errorString);
}

bool KillSwitch::putBackWhatIsMissing(const KillSwitchRules &rules, QString *errorString)
{
    // Filters are not flushed behind the engine's back; writing them again costs one transaction.
    bool changed = false;
    return putInPlace(rules, &changed, errorString);
}
