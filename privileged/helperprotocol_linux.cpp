#include "privileged/helperprotocol.h"

#include <QDBusMetaType>

namespace HelperProtocol {

WireRoute toWire(const Route &route)
{
    return { route.destination.toString(), route.mask.toString(), route.gateway.toString(),
        route.adapter.networkInterface().name(), route.metric };
}

void registerTypes()
{
    qDBusRegisterMetaType<WireRoute>();
    qDBusRegisterMetaType<QList<WireRoute>>();
}

} // namespace HelperProtocol

QDBusArgument &operator<<(QDBusArgument &argument, const HelperProtocol::WireRoute &route)
{
    argument.beginStructure();
    argument << route.destination << route.mask << route.gateway << route.adapter << route.metric;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, HelperProtocol::WireRoute &route)
{
    argument.beginStructure();
    argument >> route.destination >> route.mask >> route.gateway >> route.adapter >> route.metric;
    argument.endStructure();
    return argument;
}
