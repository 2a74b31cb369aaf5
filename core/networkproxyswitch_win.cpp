#include "core/networkproxyswitch.h"

#include <windows.h>
#include <wininet.h>

// The default connection (no connection name), flags option only.
namespace {

bool perConnectionFlags(bool write, DWORD *flags)
{
    INTERNET_PER_CONN_OPTIONW option;
    option.dwOption = INTERNET_PER_CONN_FLAGS;
    option.Value.dwValue = write ? *flags : 0;

    INTERNET_PER_CONN_OPTION_LISTW list;
    list.dwSize = sizeof(list);
    list.pszConnection = nullptr;
    list.dwOptionCount = 1;
    list.dwOptionError = 0;
    list.pOptions = &option;

    DWORD size = sizeof(list);
    if (write)
        return InternetSetOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, size) != FALSE;
    if (InternetQueryOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &size) == FALSE)
        return false;
    *flags = option.Value.dwValue;
    return true;
}

} // namespace

bool NetworkProxySwitch::readSystemFlags(quint32 *flags)
{
    DWORD value = 0;
    if (!perConnectionFlags(false, &value))
        return false;
    *flags = quint32(value);
    return true;
}

bool NetworkProxySwitch::writeSystemFlags(quint32 flags)
{
    DWORD value = DWORD(flags);
    return perConnectionFlags(true, &value);
}
