#include "app/singleapplicationprivate.h"

#include <windows.h>

#include <lmcons.h>

QString SingleApplicationPrivate::platformUserName()
{
    wchar_t name[UNLEN + 1];
    DWORD size = UNLEN + 1;
    if (!GetUserNameW(name, &size) || size == 0)
        return QString();
    return QString::fromWCharArray(name, int(size) - 1);
}

bool SingleApplicationPrivate::processExists(qint64 pid)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, DWORD(pid));
    if (!process)
        return GetLastError() == ERROR_ACCESS_DENIED;
    const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}
