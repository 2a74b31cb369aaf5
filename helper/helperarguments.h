#ifndef NIMBORA_HELPER_HELPERARGUMENTS_H
#define NIMBORA_HELPER_HELPERARGUMENTS_H

#include "netconfig/route.h"
#include "privileged/helperprotocol.h"
#include "privileged/killswitchrules.h"
#include "privileged/machineaccess.h"

#include <QString>
#include <QVariantMap>

// The checks of every value a caller sends the helper. A value is taken only when it has the
// expected type and form: names and addresses, never a path, an option or a line break.
class HelperArguments
{
public:
    static constexpr int MaximumTextLength = 256;
    static constexpr int MaximumDnsServers = 8;
    static constexpr int MaximumRoutes = 256;
    static constexpr int MaximumEndpoints = 16;
    static constexpr int MaximumExceptions = 256;

    // The values of a Connect call: every key present, none other.
    static bool openvpnRequest(const QVariantMap &values, OpenVpnRequest *request, QString *errorString);
    // The values of a Block call: every key present, none other; addresses numeric. The SOCKS
    // server's user is not among them: the caller's own user id is the helper's to add.
    static bool killSwitchRules(const QVariantMap &values, KillSwitchRules *rules, QString *errorString);
    // A network interface's name, as the kernel takes it.
    static bool isAdapterName(const QString &name);
    // A DNS host name or an IPv4 address.
    static bool isHostName(const QString &host);
    // An IPv4 route of an existing adapter.
    static bool route(const HelperProtocol::WireRoute &wire, Route *route, QString *errorString);
};

#endif
