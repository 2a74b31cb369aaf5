#ifndef NIMBORA_CONNECTION_CONNECTIONLOCKS_H
#define NIMBORA_CONNECTION_CONNECTIONLOCKS_H

#include "privileged/connectionlock.h"

#include <QString>
#include <QStringList>

// What the program and nimbora-connect hold from their start to their end: the user's lock over
// the user's own journal (the system proxy) and, where this program changes the machine itself,
// the state folder's lock over the machine's journal. Otherwise the helper holds that one for as
// long as a connection's changes stand.
class ConnectionLocks
{
public:
    ConnectionLocks();

    // Held when another program has one of them; then none is kept.
    ConnectionLock::Result take();
    QString errorString() const { return m_errorString; }

    // Undoes what an earlier run left in the journals this program may undo; the lines say what
    // was done.
    QStringList undoLeftovers();

private:
    ConnectionLock m_userLock;
    ConnectionLock m_machineLock;
    QString m_errorString;
};

#endif
