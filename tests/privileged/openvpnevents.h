#ifndef NIMBORA_TESTS_CONNECTION_OPENVPNEVENTS_H
#define NIMBORA_TESTS_CONNECTION_OPENVPNEVENTS_H

#include "privileged/openvpn.h"

#include <QStringList>

// Appends the controller's signals to events as they come: "error N", "progress N",
// "connected", "disconnected". The connections end with context or the controller.
inline void recordOpenVPNEvents(OpenVPN *openvpn, QObject *context, QStringList *events)
{
    QObject::connect(openvpn, &OpenVPN::error, context,
        [events](OpenVPN::Error error) { *events << QStringLiteral("error %1").arg(int(error)); });
    QObject::connect(openvpn, &OpenVPN::progressChanged, context,
        [events](int progress) { *events << QStringLiteral("progress %1").arg(progress); });
    QObject::connect(openvpn, &OpenVPN::connected, context, [events] { *events << QStringLiteral("connected"); });
    QObject::connect(openvpn, &OpenVPN::disconnected, context, [events] { *events << QStringLiteral("disconnected"); });
}

#endif
