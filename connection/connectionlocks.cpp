#include "connection/connectionlocks.h"

#include "connection/systemproxychange.h"
#include "privileged/machinechanges.h"
#include "privileged/statedirectory.h"

ConnectionLocks::ConnectionLocks() : m_machineLock(StateDirectory::lockPath()) { }

ConnectionLock::Result ConnectionLocks::take()
{
    const ConnectionLock::Result user = m_userLock.tryLock();
    if (user != ConnectionLock::Taken) {
        m_errorString = m_userLock.errorString();
        return user;
    }
    if (!StateDirectory::changesInProcess())
        return ConnectionLock::Taken;
    if (!StateDirectory::prepare(&m_errorString)) {
        m_userLock.unlock();
        return ConnectionLock::Failed;
    }
    const ConnectionLock::Result machine = m_machineLock.tryLock();
    if (machine != ConnectionLock::Taken) {
        m_errorString = m_machineLock.errorString();
        m_userLock.unlock();
    }
    return machine;
}

QStringList ConnectionLocks::undoLeftovers()
{
    QStringList lines = SystemProxyChange::undoLeftovers();
    if (m_machineLock.isLocked())
        lines += MachineChanges::undoLeftovers(StateDirectory::journalPath());
    return lines;
}
