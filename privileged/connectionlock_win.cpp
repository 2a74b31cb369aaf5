#include "privileged/connectionlock.h"

#include <windows.h>

namespace {

// One per session: the same user's programs meet there, other sessions have their own machine state to guard.
const wchar_t MutexName[] = L"Local\\NimboraConnection";

} // namespace

ConnectionLock::Result ConnectionLock::take()
{
    HANDLE mutex = CreateMutexW(nullptr, FALSE, MutexName);
    if (!mutex) {
        m_errorString = QStringLiteral("CreateMutexW failed with error %1").arg(GetLastError());
        return Failed;
    }
    switch (WaitForSingleObject(mutex, 0)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED: // its holder died: what it left is for us to undo
        m_handle = reinterpret_cast<qintptr>(mutex);
        return Taken;
    case WAIT_TIMEOUT:
        CloseHandle(mutex);
        return Held;
    default:
        m_errorString = QStringLiteral("WaitForSingleObject failed with error %1").arg(GetLastError());
        CloseHandle(mutex);
        return Failed;
    }
}

void ConnectionLock::release()
{
    HANDLE mutex = reinterpret_cast<HANDLE>(m_handle);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}
