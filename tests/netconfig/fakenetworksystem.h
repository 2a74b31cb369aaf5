#ifndef NIMBORA_TESTS_NETCONFIG_FAKENETWORKSYSTEM_H
#define NIMBORA_TESTS_NETCONFIG_FAKENETWORKSYSTEM_H

#include "netconfig/networksystem.h"

#include <QHash>
#include <QPair>
#include <QUuid>

#include <functional>

// A system that follows the rules of the platform it is made for and records every call,
// so that the adapter and route operations can be checked without touching the machine.
// It stands in for the real one from construction to destruction.
class FakeNetworkSystem : public NetworkSystem
{
public:
    struct Run
    {
        QString program;
        QStringList arguments;
        int timeout;
    };

    explicit FakeNetworkSystem(Platform platform);
    ~FakeNetworkSystem() override;

    // Answers of the system.
    QHash<int, QUuid> guids;
    bool tableReadable = true;
    QList<ForwardRow> table;
    std::function<quint32(const ForwardRow &)> createAnswer = [](const ForwardRow &) { return 0u; };
    quint32 deleteAnswer = 0;
    bool dnsReadable = true;
    QStringList adapterDns;
    bool resolverReadable = true;
    QByteArray resolverFile;
    bool hostModelReadable = true;
    HostModel model;
    QList<DriverEntry> drivers;
    ProgramResult programResult;

    // What was asked of it.
    int tableReads = 0;
    int driverReads = 0;
    QList<ForwardRow> created;
    QList<ForwardRow> deleted;
    QList<Run> runs;
    QList<QPair<int, QString>> renamed;
    QList<int> enabled;
    QStringList forwardingDisabled;

    bool interfaceGuid(int interfaceIndex, QUuid *guid) override;
    bool forwardTable(QList<ForwardRow> *rows) override;
    quint32 createForwardEntry(const ForwardRow &row) override;
    quint32 deleteForwardEntry(const ForwardRow &row) override;
    bool adapterDnsServers(int interfaceIndex, QStringList *addresses) override;
    bool resolverConfiguration(QByteArray *contents) override;
    bool hostModel(const QNetworkInterface &networkInterface, HostModel *hostModel) override;
    bool disableForwarding(const QNetworkInterface &networkInterface) override;
    bool renameLink(int interfaceIndex, const QString &name) override;
    bool enableLink(int interfaceIndex) override;
    QList<DriverEntry> driverEntries() override;
    ProgramResult runProgram(const QString &program, const QStringList &arguments, int timeout) override;
};

#endif
