#include "app/singleapplication.h"

#include "app/singleapplicationprivate.h"

#include <QLocalSocket>
#include <QSharedMemory>

#include <cstdlib>

SingleApplication::SingleApplication(int &argc, char *argv[], bool allowSecondary, Options options, int timeout)
    : QApplication(argc, argv)
    , d(new SingleApplicationPrivate(this))
{
    d->options = options;
    d->genBlockServerName();
    d->memory = new QSharedMemory(d->blockServerName);

    if (d->memory->create(SingleApplicationPrivate::BlockSize)) {
        d->memory->lock();
        d->initializeMemoryBlock();
        d->memory->unlock();
    } else if (!d->memory->attach()) {
        qCritical("SingleApplication: Unable to attach to shared memory block.");
        qCritical("%s", qPrintable(d->memory->errorString()));
        delete d;
        d = nullptr;
        std::exit(EXIT_FAILURE);
    }

    d->waitForConsistentBlock(); // returns holding the lock

    if (!d->primaryRecorded()) {
        d->startPrimary();
        d->memory->unlock();
        return;
    }

    if (allowSecondary) {
        d->startSecondary();
        if (options.testFlag(SecondaryNotification))
            d->connectToPrimary(timeout, SingleApplicationPrivate::SecondaryInstance);
        d->memory->unlock();
        return;
    }

    d->memory->unlock();
    d->connectToPrimary(timeout, SingleApplicationPrivate::NewInstance);
    delete d;
    d = nullptr;
    std::exit(EXIT_SUCCESS);
}

SingleApplication::~SingleApplication()
{
    delete d;
}

bool SingleApplication::isPrimary() const
{
    return d->server != nullptr;
}

bool SingleApplication::isSecondary() const
{
    return d->server == nullptr;
}

quint32 SingleApplication::instanceId() const
{
    return d->instanceNumber;
}

qint64 SingleApplication::primaryPid() const
{
    d->memory->lock();
    const qint64 pid = d->blockPrimaryPid();
    d->memory->unlock();
    return pid;
}

bool SingleApplication::sendMessage(const QByteArray &message, int timeout)
{
    if (isPrimary())
        return false;
    d->connectToPrimary(timeout, SingleApplicationPrivate::Reconnect);
    d->socket->write(message);
    return d->socket->waitForBytesWritten(timeout);
}
