#ifndef NIMBORA_APP_SINGLEAPPLICATIONPRIVATE_H
#define NIMBORA_APP_SINGLEAPPLICATIONPRIVATE_H

#include "app/singleapplication.h"

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;
class QSharedMemory;

class SingleApplicationPrivate : public QObject
{
    Q_OBJECT

public:
    enum ConnectionType : quint8 { InvalidConnection = 0, NewInstance = 1, SecondaryInstance = 2, Reconnect = 3 };

    // Layout of the shared block (native byte order): primary flag at 0, secondary count at 4,
    // primary pid at 8, checksum of bytes 0..15 at 16.
    static constexpr int BlockSize = 24;
    static constexpr int ChecksummedSize = 16;
    static constexpr int ConnectionReadTimeout = 100;

    explicit SingleApplicationPrivate(SingleApplication *application);
    ~SingleApplicationPrivate() override;

    static QString makeBlockServerName(const QString &applicationName, const QString &organizationName,
                                       const QString &organizationDomain, const QString &applicationVersion,
                                       const QString &applicationFilePath, const QString &userName,
                                       SingleApplication::Options options);
    static QByteArray makeConnectionMessage(const QString &blockServerName, ConnectionType type,
                                            quint32 instanceNumber);
    static bool blockIsConsistent(const char *block);
    static void initializeBlock(char *block);

    static QString userName();
    static bool processExists(qint64 pid);

    void genBlockServerName();
    void initializeMemoryBlock();
    void waitForConsistentBlock();
    bool primaryRecorded() const;
    void startPrimary();
    void startSecondary();
    void connectToPrimary(int timeout, ConnectionType connectionType);
    qint64 blockPrimaryPid() const;

    SingleApplication *q;
    QSharedMemory *memory = nullptr;
    QLocalSocket *socket = nullptr;
    QLocalServer *server = nullptr;
    quint32 instanceNumber = 0;
    QString blockServerName;
    SingleApplication::Options options;

public slots:
    void slotConnectionEstablished();
    void slotDataAvailable(QLocalSocket *dataSocket, quint32 instanceId);
    void slotClientConnectionClosed(QLocalSocket *closedSocket, quint32 instanceId);

private:
    static QString platformUserName(); // empty when the system cannot tell
    bool readConnectionMessage(QLocalSocket *connection, ConnectionType *type, quint32 *instanceId);
};

#endif
