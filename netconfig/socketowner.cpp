#include "netconfig/socketowner.h"

SocketOwner::SocketOwner(Status status, qint64 userId, qint64 processId, quint64 inode)
    : m_status(status), m_userId(userId), m_processId(processId), m_inode(inode)
{ }

bool SocketOwner::isOwnedBy(qint64 userId, qint64 processId) const
{
    if (m_status != Found)
        return false;
    if (userId >= 0 && m_userId != userId)
        return false;
    return processId < 0 || m_processId == processId;
}

bool SocketOwner::peerIsOwnedBy(qintptr socketDescriptor, qint64 userId, qint64 processId, Status *status)
{
    if (userId < 0 && processId < 0) {
        if (status)
            *status = Found;
        return true;
    }
    const SocketOwner owner = ofPeer(socketDescriptor);
    if (status)
        *status = owner.status();
    return owner.isOwnedBy(userId, processId);
}
