#include "tests/netconfig/fakenetworksystem.h"

#include <QNetworkInterface>

FakeNetworkSystem::FakeNetworkSystem(Platform platform) : NetworkSystem(platform)
{
    setInstance(this);
}

FakeNetworkSystem::~FakeNetworkSystem()
{
    setInstance(nullptr);
}

bool FakeNetworkSystem::interfaceGuid(int interfaceIndex, QUuid *guid)
{
    if (!guids.contains(interfaceIndex))
        return false;
    *guid = guids.value(interfaceIndex);
    return true;
}

bool FakeNetworkSystem::forwardTable(QList<ForwardRow> *rows)
{
    ++tableReads;
    if (tableReadable)
        *rows = table;
    return tableReadable;
}

quint32 FakeNetworkSystem::createForwardEntry(const ForwardRow &row)
{
    created << row;
    return createAnswer(row);
}

quint32 FakeNetworkSystem::deleteForwardEntry(const ForwardRow &row)
{
    deleted << row;
    return deleteAnswer;
}

bool FakeNetworkSystem::adapterDnsServers(int, QStringList *addresses)
{
    if (dnsReadable)
        *addresses = adapterDns;
    return dnsReadable;
}

bool FakeNetworkSystem::resolverConfiguration(QByteArray *contents)
{
    if (resolverReadable)
        *contents = resolverFile;
    return resolverReadable;
}

bool FakeNetworkSystem::hostModel(const QNetworkInterface &, HostModel *hostModel)
{
    if (hostModelReadable)
        *hostModel = model;
    return hostModelReadable;
}

bool FakeNetworkSystem::disableForwarding(const QNetworkInterface &networkInterface)
{
    forwardingDisabled << networkInterface.name();
    return true;
}

bool FakeNetworkSystem::renameLink(int interfaceIndex, const QString &name)
{
    renamed << qMakePair(interfaceIndex, name);
    return true;
}

bool FakeNetworkSystem::enableLink(int interfaceIndex)
{
    enabled << interfaceIndex;
    return true;
}

QList<NetworkSystem::DriverEntry> FakeNetworkSystem::driverEntries()
{
    ++driverReads;
    return drivers;
}

NetworkSystem::ProgramResult FakeNetworkSystem::runProgram(
    const QString &program, const QStringList &arguments, int timeout)
{
    runs << Run { program, arguments, timeout };
    return programResult;
}
