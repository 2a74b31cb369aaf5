#include "app/singleapplication.h"

#include "app/singleapplicationprivate.h"

#include <QLocalSocket>
#include <QSharedMemory>

#include <cstdlib>

SingleApplication::SingleApplication(int &argc, char *argv[], bool allowSecondary, Options options, int timeout)
    : QApplication(argc, argv), m_d(new SingleApplicationPrivate(this))
{
    m_d->options = options;
    m_d->genBlockServerName();
    m_d->memory = new QSharedMemory(m_d->blockServerName);

    if (m_d->memory->create(SingleApplicationPrivate::BlockSize)) {
        m_d->memory->lock();
        m_d->initializeMemoryBlock();
        m_d->memory->unlock();
    } else if (!m_d->memory->attach()) {
        qCritical("SingleApplication: Unable to attach to shared memory block.");
        qCritical("%s", qPrintable(m_d->memory->errorString()));
        delete m_d;
        m_d = nullptr;
        std::exit(EXIT_FAILURE);
    }

    m_d->waitForConsistentBlock(); // returns holding the lock

    if (!m_d->primaryRecorded()) {
        m_d->startPrimary();
        m_d->memory->unlock();
        return;
    }

    if (allowSecondary) {
        m_d->startSecondary();
        if (options.testFlag(SecondaryNotification))
            m_d->connectToPrimary(timeout, SingleApplicationPrivate::SecondaryInstance);
        m_d->memory->unlock();
        return;
    }

    m_d->memory->unlock();
    m_d->connectToPrimary(timeout, SingleApplicationPrivate::NewInstance);
    delete m_d;
    m_d = nullptr;
    std::exit(EXIT_SUCCESS);
}

SingleApplication::~SingleApplication()
{
    delete m_d;
}

bool SingleApplication::isPrimary() const
{
    return m_d->server != nullptr;
}

bool SingleApplication::isSecondary() const
{
    return m_d->server == nullptr;
}

quint32 SingleApplication::instanceId() const
{
    return m_d->instanceNumber;
}

qint64 SingleApplication::primaryPid() const
{
    m_d->memory->lock();
    const qint64 pid = m_d->blockPrimaryPid();
    m_d->memory->unlock();
    return pid;
}

bool SingleApplication::sendMessage(const QByteArray &message, int timeout)
{
    if (isPrimary())
        return false;
    m_d->connectToPrimary(timeout, SingleApplicationPrivate::Reconnect);
    m_d->socket->write(message);
    return m_d->socket->waitForBytesWritten(timeout);
}
