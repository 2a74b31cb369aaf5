#include "app/singleapplicationprivate.h"

#include "app/connectionmessage.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRandomGenerator>
#include <QSharedMemory>
#include <QStandardPaths>
#include <QThread>

#include <cstring>

namespace {

constexpr int PrimaryOffset = 0;
constexpr int SecondaryOffset = 4;
constexpr int PrimaryPidOffset = 8;
constexpr int ChecksumOffset = 16;
constexpr int InconsistentBlockTimeout = 5000;

template<typename T>
T readField(const void *block, int offset)
{
    T value;
    std::memcpy(&value, static_cast<const char *>(block) + offset, sizeof value);
    return value;
}

template<typename T>
void writeField(void *block, int offset, T value)
{
    std::memcpy(static_cast<char *>(block) + offset, &value, sizeof value);
}

quint16 blockChecksum(const char *block)
{
    return qChecksum(block, SingleApplicationPrivate::ChecksummedSize);
}

void updateChecksum(char *block)
{
    writeField<quint16>(block, ChecksumOffset, blockChecksum(block));
}

} // namespace

SingleApplicationPrivate::SingleApplicationPrivate(SingleApplication *application)
    : q(application)
{
}

SingleApplicationPrivate::~SingleApplicationPrivate()
{
    if (socket) {
        socket->close();
        delete socket;
        socket = nullptr;
    }
    if (!memory)
        return;
    memory->lock();
    if (server) {
        server->close();
        delete server;
        server = nullptr;
        char *block = static_cast<char *>(memory->data());
        writeField<quint8>(block, PrimaryOffset, 0);
        writeField<qint64>(block, PrimaryPidOffset, -1);
        updateChecksum(block);
    }
    memory->unlock();
    delete memory;
}

QString SingleApplicationPrivate::makeBlockServerName(const QString &applicationName, const QString &organizationName,
                                                      const QString &organizationDomain,
                                                      const QString &applicationVersion,
                                                      const QString &applicationFilePath, const QString &userName,
                                                      SingleApplication::Options options)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData("SingleApplication", 17);
    hash.addData(applicationName.toUtf8());
    hash.addData(organizationName.toUtf8());
    hash.addData(organizationDomain.toUtf8());
    if (!options.testFlag(SingleApplication::ExcludeAppVersion))
        hash.addData(applicationVersion.toUtf8());
    if (!options.testFlag(SingleApplication::ExcludeAppPath))
        hash.addData(applicationFilePath.toLower().toUtf8());
    if (options.testFlag(SingleApplication::User))
        hash.addData(userName.toUtf8());
    return QString::fromLatin1(hash.result().toBase64()).replace(QLatin1Char('/'), QLatin1Char('_'));
}

QString SingleApplicationPrivate::userName()
{
    const QString name = platformUserName();
    if (!name.isEmpty())
        return name;
    return QStandardPaths::standardLocations(QStandardPaths::HomeLocation).join(QString());
}

void SingleApplicationPrivate::genBlockServerName()
{
    blockServerName = makeBlockServerName(QCoreApplication::applicationName(),
                                          QCoreApplication::organizationName(),
                                          QCoreApplication::organizationDomain(),
                                          QCoreApplication::applicationVersion(),
                                          QCoreApplication::applicationFilePath(), userName(), options);
}

QByteArray SingleApplicationPrivate::makeConnectionMessage(const QString &name, ConnectionType type,
                                                           quint32 instanceNumber)
{
    return ConnectionMessage::make(name, type, instanceNumber);
}

bool SingleApplicationPrivate::blockIsConsistent(const char *block)
{
    return readField<quint16>(block, ChecksumOffset) == blockChecksum(block);
}

void SingleApplicationPrivate::initializeBlock(char *block)
{
    std::memset(block, 0, BlockSize);
    writeField<quint8>(block, PrimaryOffset, 0);
    writeField<quint32>(block, SecondaryOffset, 0);
    writeField<qint64>(block, PrimaryPidOffset, -1);
    updateChecksum(block);
}

void SingleApplicationPrivate::initializeMemoryBlock()
{
    initializeBlock(static_cast<char *>(memory->data()));
}

// Returns holding the block's lock, once its checksum holds. A block left damaged by a dead
// process is taken as free after a while. The pause is in milliseconds: racing starts only
// need to fall out of step, and start-up must stay quick.
void SingleApplicationPrivate::waitForConsistentBlock()
{
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        memory->lock();
        if (blockIsConsistent(static_cast<const char *>(memory->constData())))
            return;
        if (waited.elapsed() > InconsistentBlockTimeout) {
            qWarning("SingleApplication: Shared memory block has been in an inconsistent state from more than "
                     "5s. Assuming primary instance failure.");
            initializeMemoryBlock();
        }
        memory->unlock();
        QThread::msleep(8 + QRandomGenerator::global()->bounded(11));
    }
}

qint64 SingleApplicationPrivate::blockPrimaryPid() const
{
    return readField<qint64>(memory->constData(), PrimaryPidOffset);
}

// A primary that died without cleaning up leaves its mark: on systems where the block outlives
// every process (System V memory on Linux) that would lock the user out until the next boot.
bool SingleApplicationPrivate::primaryRecorded() const
{
    if (readField<quint8>(memory->constData(), PrimaryOffset) == 0)
        return false;
    const qint64 pid = blockPrimaryPid();
    if (pid > 0 && !processExists(pid)) {
        qWarning("SingleApplication: the recorded primary instance (process %lld) is gone.", pid);
        return false;
    }
    return true;
}

void SingleApplicationPrivate::startPrimary()
{
    QLocalServer::removeServer(blockServerName);
    server = new QLocalServer();
    server->setSocketOptions(options.testFlag(SingleApplication::User) ? QLocalServer::UserAccessOption
                                                                      : QLocalServer::WorldAccessOption);
    if (!server->listen(blockServerName))
        qWarning("SingleApplication: cannot listen for later instances: %s", qPrintable(server->errorString()));
    connect(server, &QLocalServer::newConnection, this, &SingleApplicationPrivate::slotConnectionEstablished);

    char *block = static_cast<char *>(memory->data());
    writeField<quint8>(block, PrimaryOffset, 1);
    writeField<qint64>(block, PrimaryPidOffset, QCoreApplication::applicationPid());
    updateChecksum(block);
    instanceNumber = 0;
}

void SingleApplicationPrivate::startSecondary()
{
    char *block = static_cast<char *>(memory->data());
    const quint32 secondary = readField<quint32>(block, SecondaryOffset) + 1;
    writeField<quint32>(block, SecondaryOffset, secondary);
    updateChecksum(block);
    instanceNumber = secondary;
}

void SingleApplicationPrivate::connectToPrimary(int timeout, ConnectionType connectionType)
{
    if (!socket)
        socket = new QLocalSocket();
    if (socket->state() == QLocalSocket::ConnectedState)
        return;
    if (socket->state() == QLocalSocket::UnconnectedState || socket->state() == QLocalSocket::ClosingState)
        socket->connectToServer(blockServerName);
    if (socket->state() == QLocalSocket::ConnectingState)
        socket->waitForConnected(timeout);
    if (socket->state() == QLocalSocket::ConnectedState) {
        socket->write(makeConnectionMessage(blockServerName, connectionType, instanceNumber));
        socket->flush();
        socket->waitForBytesWritten(timeout);
    }
}

static bool waitForBytes(QLocalSocket *connection, qint64 count, const QElapsedTimer &timer, int timeout)
{
    while (connection->bytesAvailable() < count) {
        const qint64 left = timeout - timer.elapsed();
        if (left <= 0 || !connection->waitForReadyRead(int(left)))
            return connection->bytesAvailable() >= count;
    }
    return true;
}

bool SingleApplicationPrivate::readConnectionMessage(QLocalSocket *connection, ConnectionType *type,
                                                     quint32 *instanceId)
{
    QElapsedTimer timer;
    timer.start();
    if (!waitForBytes(connection, ConnectionMessage::HeaderSize, timer, ConnectionReadTimeout))
        return false;
    const qint64 length = ConnectionMessage::bodyLength(connection->read(ConnectionMessage::HeaderSize));
    if (length == 0)
        return false;
    if (!waitForBytes(connection, length, timer, ConnectionReadTimeout))
        return false;

    quint8 connectionType = InvalidConnection;
    quint32 sender = 0;
    if (!ConnectionMessage::readBody(connection->read(length), blockServerName.toLatin1(), &connectionType, &sender))
        return false;
    if (connectionType < NewInstance || connectionType > Reconnect)
        return false;
    *type = ConnectionType(connectionType);
    *instanceId = sender;
    return true;
}

void SingleApplicationPrivate::slotConnectionEstablished()
{
    QLocalSocket *connection = server->nextPendingConnection();
    if (!connection)
        return;

    ConnectionType type = InvalidConnection;
    quint32 instanceId = 0;
    if (!readConnectionMessage(connection, &type, &instanceId)) {
        connection->close();
        connection->deleteLater();
        return;
    }

    connect(connection, &QLocalSocket::aboutToClose, this,
            [this, connection, instanceId] { slotClientConnectionClosed(connection, instanceId); });
    connect(connection, &QLocalSocket::readyRead, this,
            [this, connection, instanceId] { slotDataAvailable(connection, instanceId); });

    if (type == NewInstance
        || (type == SecondaryInstance && options.testFlag(SingleApplication::SecondaryNotification))) {
        emit q->instanceStarted();
    }
    if (connection->bytesAvailable() > 0)
        slotDataAvailable(connection, instanceId);
}

void SingleApplicationPrivate::slotDataAvailable(QLocalSocket *dataSocket, quint32 instanceId)
{
    emit q->receivedMessage(instanceId, dataSocket->readAll());
}

void SingleApplicationPrivate::slotClientConnectionClosed(QLocalSocket *closedSocket, quint32 instanceId)
{
    if (closedSocket->bytesAvailable() > 0)
        slotDataAvailable(closedSocket, instanceId);
    closedSocket->deleteLater();
}
