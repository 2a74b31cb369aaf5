#include "connection/systemevents.h"

SystemEvents::SystemEvents(QObject *parent) : QObject(parent)
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(SettleTime);
    connect(&m_settle, &QTimer::timeout, this, &SystemEvents::changed);
    startWatching();
}

SystemEvents::~SystemEvents()
{
    stopWatching();
}

void SystemEvents::noteChange()
{
    QMetaObject::invokeMethod(&m_settle, qOverload<>(&QTimer::start), Qt::QueuedConnection);
}
