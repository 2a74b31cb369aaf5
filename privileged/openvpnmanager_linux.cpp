#include "privileged/openvpnmanager.h"

#include <QFile>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString SocketName = QStringLiteral("openvpn");

// QTemporaryDir makes it with mkdtemp; a directory anyone else could enter or swap would undo
// everything the peer check does not cover. Its parent is /tmp, not one the environment names: the
// sticky bit there keeps other users from renaming it away and putting one of theirs in its place.
bool isPrivateDirectory(const QString &path)
{
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISDIR(status.st_mode)
        && status.st_uid == ::geteuid() && (status.st_mode & 07777) == 0700;
}

} // namespace

bool OpenVPNManager::listen()
{
    closeConnection();
    m_directory = std::make_unique<QTemporaryDir>(QStringLiteral("/tmp/nimbora-management-XXXXXX"));
    if (!m_directory->isValid() || !isPrivateDirectory(m_directory->path())) {
        emit log(QStringLiteral("Management channel: no private directory: ") + m_directory->errorString());
        m_directory.reset();
        return false;
    }
    if (!m_server.listen(m_directory->filePath(SocketName))) {
        emit log(QStringLiteral("Management channel: cannot listen: ") + m_server.errorString());
        closeListener();
        return false;
    }
    return true;
}

QString OpenVPNManager::serverName() const { return m_server.fullServerName(); }

quint16 OpenVPNManager::serverPort() const { return 0; }

void OpenVPNManager::closeListener()
{
    m_server.close();
    m_directory.reset();
}

bool OpenVPNManager::isPeerAccepted(qintptr socketDescriptor)
{
    struct ucred peer {};
    socklen_t size = sizeof peer;
    if (::getsockopt(int(socketDescriptor), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) {
        emit log(QStringLiteral("Management connection refused: its peer is unknown"));
        return false;
    }
    if (peer.uid == ::geteuid() && (m_peerProcessId == 0 || peer.pid == m_peerProcessId))
        return true;
    emit log(QStringLiteral("Management connection refused: process %1 of user %2 is not OpenVPN")
                 .arg(peer.pid)
                 .arg(peer.uid));
    return false;
}

void OpenVPNManager::waitForPeerToLeave()
{
    m_connection->disconnectFromServer();
    if (m_connection->state() != QLocalSocket::UnconnectedState)
        m_connection->waitForDisconnected(CloseTimeout);
}
