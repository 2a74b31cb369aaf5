#include "core/backgroundworker.h"

#include "core/networkproxystream.h"

#include <QAuthenticator>

namespace {

// The types that the works' blocking queued signals carry.
void registerWorkTypes()
{
    static std::atomic<bool> registered { false };
    if (registered.exchange(true))
        return;
    registerNetworkProxyMetaType();
    qRegisterMetaType<QAuthenticator *>("QAuthenticator*");
}

} // namespace

BackgroundWorker::BackgroundWorker(QObject *parent) : QThread(nullptr)
{
    registerWorkTypes();
    moveToThread(this);
    if (parent)
        m_ownerConnection = connect(parent, &QObject::destroyed, [this]() { delete this; });
}

BackgroundWorker::~BackgroundWorker()
{
    disconnect(m_ownerConnection);
}

void BackgroundWorker::setProgress(int value)
{
    m_progress = value;
    emit progressChanged(value);
}

int BackgroundWorker::progress() const
{
    return m_progress;
}
