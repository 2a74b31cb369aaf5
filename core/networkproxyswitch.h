#ifndef NIMBORA_CORE_NETWORKPROXYSWITCH_H
#define NIMBORA_CORE_NETWORKPROXYSWITCH_H

#include <QObject>

#include <functional>

// Turns the system proxy off while a VPN connection is up and puts it back afterwards.
// The decision lives here; reading and writing the system's proxy flags is the platform's
// (WinINet per-connection flags on Windows, GNOME's proxy mode on Linux).
class NetworkProxySwitch : public QObject
{
    Q_OBJECT

public:
    // The WinINet per-connection flag values; the Linux side maps GNOME's modes onto them.
    enum Flags : quint32 { ProxyTypeDirect = 0x1, ProxyTypeProxy = 0x2, ProxyTypeAutoProxyUrl = 0x4 };

    explicit NetworkProxySwitch(QObject *parent = nullptr);

    // beforeSwitch, when given, gets the flags to put back once they are read and before anything
    // is written; false from it leaves the system proxy as it is.
    bool disable(const std::function<bool(quint32 savedFlags)> &beforeSwitch = nullptr);
    void restore();
    // Puts back flags saved by a run that ended without restoring them.
    void restoreFlags(quint32 savedFlags);

protected:
    // The seam to the system; false when the system setting cannot be read or written.
    virtual bool readSystemFlags(quint32 *flags);
    virtual bool writeSystemFlags(quint32 flags);

private:
    bool m_switched = false;
    quint32 m_savedFlags = 0;
};

#endif
