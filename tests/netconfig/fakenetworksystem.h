#ifndef NIMBORA_TESTS_NETCONFIG_FAKENETWORKSYSTEM_H
#define NIMBORA_TESTS_NETCONFIG_FAKENETWORKSYSTEM_H

#include "netconfig/networksystem.h"

#include <QHash>
#include <QNetworkInterface>
#include <QUuid>

#include <functional>

// A system that answers as a test tells it and records what it is asked, so that the adapter
// and route rules of either platform run without touching the machine. It stands in for the
// real one from construction to destruction.
class FakeNetworkSystem : public NetworkSystem
{
public:
    explicit FakeNetworkSystem(Platform platform) : NetworkSystem(platform) { setInstance(this); }
    ~FakeNetworkSystem() override { setInstance(nullptr); }

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
    bool runPrograms = false; // for real, once recorded
    bool realRoutes = false; // the table and its changes from the machine's own system

    // What was asked of it.
    int tableReads = 0;
    int driverReads = 0;
    QList<ForwardRow> created;
    QList<ForwardRow> deleted;
    // Changes and programs, one line each: "rename 7 Nimbora", "enable 7", "no forwarding eth0",
    // or the program's file name and its arguments.
    QStringList calls;
    int programTimeout = 0;

    bool interfaceGuid(int index, QUuid *guid) override
    {
        *guid = guids.value(index);
        return guids.contains(index);
    }
    bool forwardTable(QList<ForwardRow> *rows) override
    {
        ++tableReads;
        if (realRoutes)
            return platformSystem()->forwardTable(rows);
        *rows = table;
        return tableReadable;
    }
    quint32 createForwardEntry(const ForwardRow &row) override
    {
        created << row;
        return realRoutes ? platformSystem()->createForwardEntry(row) : createAnswer(row);
    }
    quint32 deleteForwardEntry(const ForwardRow &row) override
    {
        deleted << row;
        return realRoutes ? platformSystem()->deleteForwardEntry(row) : deleteAnswer;
    }
    bool adapterDnsServers(int, QStringList *addresses) override
    {
        *addresses = adapterDns;
        return dnsReadable;
    }
    bool resolverConfiguration(QByteArray *contents) override
    {
        *contents = resolverFile;
        return resolverReadable;
    }
    bool hostModel(const QNetworkInterface &, HostModel *hostModel) override
    {
        *hostModel = model;
        return hostModelReadable;
    }
    bool setForwarding(const QNetworkInterface &link, bool enabled) override
    {
        return note((enabled ? "forwarding " : "no forwarding ") + link.name());
    }
    bool renameLink(int index, const QString &name) override
    {
        return note(QStringLiteral("rename %1 %2").arg(index).arg(name));
    }
    bool enableLink(int index) override { return note(QStringLiteral("enable %1").arg(index)); }
    QList<DriverEntry> driverEntries() override
    {
        ++driverReads;
        return drivers;
    }
    ProgramResult runProgram(const QString &program, const QStringList &arguments, int timeout) override
    {
        const int folderEnd = qMax(program.lastIndexOf(QLatin1Char('/')), program.lastIndexOf(QLatin1Char('\\')));
        note((QStringList(program.mid(folderEnd + 1)) + arguments).join(QLatin1Char(' ')));
        programTimeout = timeout;
        return runPrograms ? NetworkSystem::runProgram(program, arguments, timeout) : programResult;
    }

private:
    bool note(const QString &call)
    {
        calls << call;
        return true;
    }
};

#endif
