#ifndef NIMBORA_NETCONFIG_NETWORKSYSTEM_H
#define NIMBORA_NETCONFIG_NETWORKSYSTEM_H

#include "netconfig/routeattributes.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class QNetworkInterface;
class QUuid;

// The system calls under the adapter and route operations, one implementation per platform.
// The operations keep their rules (retry loop, command lines, table walks) in platform-neutral
// code and reach the system only through this class, so that a test can put a fake in its
// place and exercise the rules of either platform.
class NetworkSystem
{
public:
    enum Platform { Windows, Linux };

    // One row of the IPv4 forwarding table, addresses in host byte order.
    struct ForwardRow
    {
        quint32 destination = 0;
        quint32 mask = 0;
        quint32 nextHop = 0;
        int interfaceIndex = 0;
        int type = 0; // 3 direct, 4 indirect
        int protocol = 0; // 3 network management (Windows)
        int metric = 0;
        RouteAttributes attributes; // Linux
    };

    // Settings of an interface that let traffic of one adapter's address leave through another.
    struct HostModel
    {
        bool forwarding = false;
        bool weakHostSend = false;
        bool weakHostReceive = false;
    };

    // One installed network driver instance: component id, version and the adapter's guid.
    struct DriverEntry
    {
        QString componentId;
        QString driverVersion;
        QString instanceId;
    };

    struct ProgramResult
    {
        bool finished = false; // ran and ended within the time limit
        int exitCode = -1;
        QByteArray output; // standard output
    };

    // What CreateIpForwardEntry answers when the row does not fit the adapter.
    static constexpr quint32 ErrorBadArguments = 160;

    explicit NetworkSystem(Platform platform);
    virtual ~NetworkSystem();

    Platform platform() const { return m_platform; }

    // The system in use: the platform's own unless a test has put another in its place.
    static NetworkSystem *instance();
    // Not owned; a null pointer puts the platform's own back.
    static void setInstance(NetworkSystem *system);
    static NetworkSystem *platformSystem();

    virtual bool interfaceGuid(int interfaceIndex, QUuid *guid) = 0;
    // The whole table, in the system's sorted order; false when it cannot be read.
    virtual bool forwardTable(QList<ForwardRow> *rows) = 0;
    // 0 on success, else the system's error code.
    virtual quint32 createForwardEntry(const ForwardRow &row) = 0;
    virtual quint32 deleteForwardEntry(const ForwardRow &row) = 0;
    // What an error code of the two calls above means, for the log.
    virtual QString errorText(quint32 code) const;
    // The adapter's DNS server list as the system keeps it per adapter: Windows' own, and on
    // Linux the link's servers that systemd-resolved forwards to, false where it does not run.
    virtual bool adapterDnsServers(int interfaceIndex, QStringList *addresses) = 0;
    // The resolver's configuration file (Linux).
    virtual bool resolverConfiguration(QByteArray *contents) = 0;
    virtual bool hostModel(const QNetworkInterface &networkInterface, HostModel *model) = 0;
    virtual bool setForwarding(const QNetworkInterface &networkInterface, bool enabled) = 0;
    virtual bool renameLink(int interfaceIndex, const QString &name) = 0;
    virtual bool enableLink(int interfaceIndex) = 0;
    // Every installed network driver instance, in the system's order.
    virtual QList<DriverEntry> driverEntries() = 0;
    // Runs a program and waits for it; a negative time limit waits as long as it takes.
    virtual ProgramResult runProgram(const QString &program, const QStringList &arguments, int timeout);
    // The same on the real system, with input written to the program's standard input.
    static ProgramResult runProcess(
        const QString &program, const QStringList &arguments, int timeout, const QByteArray &input = QByteArray());

private:
    const Platform m_platform;
};

#endif
