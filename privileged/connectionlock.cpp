#include "privileged/connectionlock.h"

#include "privileged/undojournal.h"

ConnectionLock::ConnectionLock(const QString &path) : m_path(path) { }

ConnectionLock::~ConnectionLock()
{
    unlock();
}

QString ConnectionLock::defaultPath()
{
    return UndoJournal::defaultPath() + QStringLiteral(".lock");
}

ConnectionLock::Result ConnectionLock::tryLock()
{
    if (isLocked())
        return Taken;
    m_errorString.clear();
    return take();
}

void ConnectionLock::unlock()
{
    if (isLocked())
        release();
    m_handle = NoHandle;
}
