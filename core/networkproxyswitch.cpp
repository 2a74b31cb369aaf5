#include "core/networkproxyswitch.h"

NetworkProxySwitch::NetworkProxySwitch(QObject *parent) : QObject(parent) { }

bool NetworkProxySwitch::disable(const std::function<bool(quint32 savedFlags)> &beforeSwitch)
{
    quint32 flags = 0;
    if (!readSystemFlags(&flags))
        return false;
    m_savedFlags = flags;
    if (flags == ProxyTypeDirect)
        return true;
    if (beforeSwitch && !beforeSwitch(flags))
        return false;
    // Marked as switched even if the write fails: writing the saved flags back is harmless.
    const bool written = writeSystemFlags(ProxyTypeDirect);
    m_switched = true;
    return written;
}

void NetworkProxySwitch::restore()
{
    if (!m_switched)
        return;
    m_switched = false;
    writeSystemFlags(m_savedFlags);
}

void NetworkProxySwitch::restoreFlags(quint32 savedFlags)
{
    m_savedFlags = savedFlags;
    m_switched = true;
    restore();
}
