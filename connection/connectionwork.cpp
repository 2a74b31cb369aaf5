#include "connection/connectionwork.h"

#include "base/globalvalues.h"
#include "base/settingskeys.h"
#include "connection/systemevents.h"
#include "connection/systemproxychange.h"
#include "core/mainservercall.h"
#include "core/networkproxyfactory.h"
#include "netconfig/networkconfiguration.h"
#include "privileged/directmachineaccess.h"
#include "privileged/statedirectory.h"
#include "tunnels/httpserver.h"
#include "tunnels/httpsserver.h"
#include "tunnels/socksserver.h"

#include <QCoreApplication>
#include <QHostInfo>
#include <QNetworkProxyFactory>
#include <QScopeGuard>
#include <QSettings>
#include <QTimer>

#ifndef Q_OS_WIN
#include "connection/helperclient.h"
#endif

namespace {

const QString Rule = QStringLiteral("----------------------------------");

QString protocolName(int protocol)
{
    switch (protocol) {
    case ConnectionWork::OpenVpnProtocol:
        return QStringLiteral("OpenVPN");
    case ConnectionWork::HttpsProtocol:
        return QStringLiteral("HTTPS");
    default:
        return QStringLiteral("HTTP");
    }
}

QHostAddress firstIPv4Address(const QNetworkInterface &networkInterface)
{
    const QList<QNetworkAddressEntry> entries = addressEntries(networkInterface, QAbstractSocket::IPv4Protocol);
    return entries.isEmpty() ? QHostAddress() : entries.first().ip();
}

QList<QHostAddress> ipv4Addresses(const QList<QHostAddress> &addresses)
{
    QList<QHostAddress> found;
    for (const QHostAddress &address : addresses) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            found << address;
    }
    return found;
}

// A host's addresses; without resolving, only a host that is an address itself, else the ones
// found before.
QList<QHostAddress> addressesOf(const QString &host, bool resolve, const QList<QHostAddress> &earlier)
{
    const QHostAddress address(host);
    if (!address.isNull())
        return { address };
    return resolve ? QHostInfo::fromName(host).addresses() : earlier;
}

QString routingTableLine(const Route &route)
{
    const QNetworkInterface networkInterface = route.adapter.networkInterface();
    const QString interfaceAddress
        = networkInterface.isValid() ? firstIPv4Address(networkInterface).toString() : QStringLiteral("127.0.0.1");
    return QStringList { route.destination.toString(), route.mask.toString(), route.gateway.toString(),
        interfaceAddress, QString::number(route.metric) }
        .join(QLatin1Char(' '));
}

} // namespace

ConnectionWork::ConnectionWork(QObject *parent) : BackgroundWorker(parent)
{
    qRegisterMetaType<ConnectionWork::Error>("ConnectionWork::Error");
    qRegisterMetaType<OpenVPN::Error>("OpenVPN::Error");
    qRegisterMetaType<UPnPService::Error>("UPnPService::Error");
    qRegisterMetaType<QList<QHash<QString, QVariant>>>("QList<QHash<QString, QVariant> >");
    connect(this, &QThread::finished, this, &ConnectionWork::disconnected);
    m_systemEvents = new SystemEvents;
    connect(m_systemEvents, &SystemEvents::changed, this, &ConnectionWork::systemChanged);
}

ConnectionWork::~ConnectionWork()
{
    if (isRunning()) {
        stop();
        wait();
    }
    deleteObjects();
    delete m_systemEvents;
}

void ConnectionWork::start(QThread::Priority priority)
{
    m_stopRequested = false;
    QThread::start(priority);
}

void ConnectionWork::setServer(const QHash<QString, QVariant> &server)
{
    m_server = server;
}

void ConnectionWork::setProtocol(int protocol)
{
    m_protocol = protocol;
}

bool ConnectionWork::isConnected() const
{
    return m_connected;
}

bool ConnectionWork::isTrafficBlocked() const
{
    return m_trafficBlocked;
}

void ConnectionWork::setTunnelWaitTime(int seconds)
{
    m_tunnelWaitTime = seconds;
}

ConnectionWork::Error ConnectionWork::replyCodeError(const QString &code)
{
    static const QHash<QString, Error> errors {
        { QStringLiteral("OK"), NoError },
        { QStringLiteral("FAILED"), FailedError },
        { QStringLiteral("DENIED"), DeniedError },
        { QStringLiteral("CONNECTED"), AlreadyConnectedError },
        { QStringLiteral("OFFLINE"), OfflineError },
        { QStringLiteral("NOGROUP"), ForbiddenError },
        { QStringLiteral("NOPREMIUM"), ForbiddenError },
        { QStringLiteral("FULL"), FullError },
        { QStringLiteral("SATURATED"), SaturatedError },
    };
    return errors.value(code, ServerError);
}

void ConnectionWork::stop()
{
    // The flag outlives the wait that the exit code ends, and a code overwritten by a later one.
    m_stopRequested = true;
    exit(StopRequested);
}

void ConnectionWork::timeout()
{
    exit(TimedOut);
}

void ConnectionWork::openvpnProgressChanged(int value)
{
    setProgress(int(value * 0.4 + 20));
}

void ConnectionWork::openvpnConnected(const QHostAddress &gateway, const QList<QHostAddress> &dnsServers)
{
    // The name servers are the privileged side's to use: it was told them itself.
    Q_UNUSED(dnsServers)
    m_vpnGateway = gateway;
    exit(TunnelUp);
}

void ConnectionWork::openvpnDisconnected()
{
    exit(OpenVpnGone);
}

// The window asks without waiting: a request that arrives once the connection is going is dropped.
void ConnectionWork::addPortMapping(
    quint16 externalPort, const QString &protocol, quint16 internalPort, const QString &description)
{
    if (m_acceptsPortMappings && m_upnpService)
        m_upnpService->addPortMapping(externalPort, protocol, internalPort, description);
}

void ConnectionWork::deletePortMapping(quint16 externalPort, const QString &protocol)
{
    if (m_acceptsPortMappings && m_upnpService)
        m_upnpService->deletePortMapping(externalPort, protocol);
}

int ConnectionWork::waitForEvent(int seconds)
{
    QTimer timer;
    connect(&timer, &QTimer::timeout, this, &ConnectionWork::timeout);
    if (seconds > 0)
        timer.start(seconds * 1000);
    const int result = exec();
    timer.stop();
    return result;
}

void ConnectionWork::createObjects()
{
    deleteObjects();
    m_httpsServer = new HttpsServer;
    m_httpServer = new HttpServer;
#ifdef Q_OS_WIN
    m_machine = new DirectMachineAccess(StateDirectory::journalPath());
#else
    if (StateDirectory::changesInProcess())
        m_machine = new DirectMachineAccess(StateDirectory::journalPath());
    else
        m_machine = new HelperClient;
#endif
    m_socksServer = new SocksServer;
    m_upnpService = new UPnPService;

    for (TunnelServer *server :
        { static_cast<TunnelServer *>(m_httpsServer), static_cast<TunnelServer *>(m_httpServer) }) {
        // A SOCKS proxy tried without credentials gets the ones in force before the user is asked.
        connect(server, &TunnelServer::proxyAuthenticationRequired, this,
            [this](const QNetworkProxy &proxy, QAuthenticator *authenticator) {
                if (!NetworkProxyFactory::giveCredentialsInForce(proxy, authenticator))
                    emit proxyAuthenticationRequired(proxy, authenticator);
            });
        connect(server, &TunnelServer::log, this, &ConnectionWork::log);
    }
    connect(
        m_machine, &MachineAccess::openvpnError, this, [this](int error) { emit openvpnError(OpenVPN::Error(error)); });
    connect(m_machine, &MachineAccess::openvpnProgressChanged, this, &ConnectionWork::openvpnProgressChanged);
    connect(m_machine, &MachineAccess::log, this, &ConnectionWork::log);
    connect(m_machine, &MachineAccess::openvpnConnected, this, &ConnectionWork::openvpnConnected);
    connect(m_machine, &MachineAccess::openvpnDisconnected, this, &ConnectionWork::openvpnDisconnected);
    connect(m_socksServer, &SocksServer::log, this, &ConnectionWork::log);
    connect(m_upnpService, &UPnPService::log, this, &ConnectionWork::log);
    connect(m_upnpService, &UPnPService::portMappingChanged, this, &ConnectionWork::portMappingChanged);
    connect(m_upnpService, &UPnPService::error, this, &ConnectionWork::upnpError);
}

void ConnectionWork::deleteObjects()
{
    delete m_upnpService;
    m_upnpService = nullptr;
    delete m_socksServer;
    m_socksServer = nullptr;
    delete m_machine;
    m_machine = nullptr;
    delete m_httpServer;
    m_httpServer = nullptr;
    delete m_httpsServer;
    m_httpsServer = nullptr;
}

void ConnectionWork::run()
{
    // Requests the last run ended without reading are not this run's.
    QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
    // Everything a run makes lives on this thread and goes with the run.
    createObjects();
    const auto objectsGone = qScopeGuard([this] { deleteObjects(); });

    const QString username = GlobalValues::value(GlobalValues::Username).toString();
    const QString session = GlobalValues::value(GlobalValues::Session).toString();
    const bool useAddress = QSettings().value(SettingsKeys::IpAddress, SettingsKeys::IpAddressDefault).toBool();
    const QString connectHost
        = m_server.value(useAddress ? QStringLiteral("address") : QStringLiteral("hostname")).toString();

    m_exceptionsResolved = false;
    m_dropped = false;
    m_blockInPlace = m_machine->isBlocked();
    m_blockedAtStart = m_blockInPlace;
    m_trafficBlocked = m_blockInPlace;
    const auto blockSettled = qScopeGuard([this] { settleBlock(); });
    // A drop's block stands: the names of the proxy and the servers must resolve again first.
    if (m_blockInPlace && redirecting())
        block(KillSwitchPlan::connecting(blockInput(connectHost, m_blockInput.proxy, false)));
    const QNetworkProxy proxy = proxyInForce();
    // The block stands from the moment the user asks to connect.
    if (redirecting()) {
        m_blockInput = blockInput(connectHost, proxy, true);
        block(KillSwitchPlan::connecting(m_blockInput));
    } else if (m_blockInPlace) {
        m_machine->unblock();
        m_blockInPlace = false;
    }

    const Error refusal = requestConnection(session);
    // A stop cuts the request short: what it then reports is not the main server's doing.
    if (m_stopRequested)
        return;
    if (refusal != NoError) {
        emit error(refusal);
        return;
    }
    setProgress(10);

    const QHostAddress endpoint(proxy.type() == QNetworkProxy::NoProxy
            ? m_server.value(QStringLiteral("address")).toString()
            : proxy.hostName());
    writeLogHeader(proxy);

    startListener(connectHost, proxy, session);
    setProgress(20);
    SystemProxyChange proxyChange;
    connect(&proxyChange, &SystemProxyChange::log, this, &ConnectionWork::log);
    startOpenVpn(connectHost, proxy, username, session);

    // From here on whatever way the run ends, the machine is put back as it was.
    const auto tornDown = qScopeGuard([this, &proxyChange] { tearDown(&proxyChange); });

    if (!waitForTunnel() || !configure(endpoint, &proxyChange) || m_stopRequested)
        return;
    setProgress(100);
    m_connected = true;
    m_acceptsPortMappings = true;
    emit connected();
    stayConnected();
}

ConnectionWork::Error ConnectionWork::requestConnection(const QString &session)
{
    const MainServerReply reply
        = MainServerCall::call(this, &ConnectionWork::proxyAuthenticationRequired, MainServerAccess::Connection,
            { { QStringLiteral("session"), session },
                { QStringLiteral("server_id"), QString::number(m_server.value(QStringLiteral("id")).toInt()) } });
    return reply.status == MainServerReply::NoReply ? ServerError : replyCodeError(reply.code);
}

QNetworkProxy ConnectionWork::proxyInForce() const
{
    const QNetworkProxyQuery query(m_server.value(QStringLiteral("address")).toString(),
        m_protocol == HttpProtocol ? 80 : 443, QString(), QNetworkProxyQuery::TcpSocket);
    const QList<QNetworkProxy> proxies = QNetworkProxyFactory::proxyForQuery(query);
    QNetworkProxy proxy = proxies.isEmpty() ? QNetworkProxy(QNetworkProxy::NoProxy) : proxies.first();
    if (proxy.type() != QNetworkProxy::NoProxy) {
        // Named by its address from here on: that is what stays routed outside the tunnel.
        const QList<QHostAddress> addresses = QHostInfo::fromName(proxy.hostName()).addresses();
        proxy.setHostName(addresses.isEmpty() ? QString() : addresses.first().toString());
    }
    return proxy;
}

void ConnectionWork::writeLogHeader(const QNetworkProxy &proxy)
{
    emit log(QStringLiteral("Nimbora version ") + QCoreApplication::applicationVersion());
    emit log(Rule);
    emit log(QStringLiteral("Server: ") + m_server.value(QStringLiteral("name")).toString());
    if (proxy.type() != QNetworkProxy::NoProxy)
        emit log(QStringLiteral("Proxy: %1:%2").arg(proxy.hostName()).arg(proxy.port()));
    emit log(QStringLiteral("Protocol: ") + protocolName(m_protocol));
    emit log(Rule);
}

void ConnectionWork::startListener(const QString &connectHost, const QNetworkProxy &proxy, const QString &session)
{
    if (m_protocol == HttpsProtocol) {
        m_httpsServer->setHost(connectHost);
        m_httpsServer->setPort(443);
        m_httpsServer->setProxy(proxy);
        m_httpsServer->listen(QHostAddress::LocalHost, 0);
    } else if (m_protocol == HttpProtocol) {
        m_httpServer->setHost(connectHost);
        m_httpServer->setPort(80);
        m_httpServer->setProxy(proxy);
        m_httpServer->setSession(session);
        m_httpServer->listen(QHostAddress::LocalHost, 0);
    }
}

void ConnectionWork::startOpenVpn(
    const QString &connectHost, const QNetworkProxy &proxy, const QString &username, const QString &session)
{
    m_vpnGateway = QHostAddress();
    m_machine->startOpenVpn(openvpnRequest(connectHost, proxy, username, session));
    acceptOnlyOpenVpn();
}

OpenVpnRequest ConnectionWork::openvpnRequest(
    const QString &connectHost, const QNetworkProxy &proxy, const QString &username, const QString &session) const
{
    const bool direct = m_protocol == OpenVpnProtocol;
    OpenVpnRequest request;
    request.adapter = GlobalValues::value(GlobalValues::Interface).toString();
    request.host = direct ? connectHost : QHostAddress(QHostAddress::LocalHost).toString();
    if (m_protocol == HttpsProtocol)
        request.port = m_httpsServer->serverPort();
    else if (m_protocol == HttpProtocol)
        request.port = m_httpServer->serverPort();
    else
        request.port = 443;
    request.username = username;
    request.password = session;
    // Through a local listener the listener meets the proxy, not OpenVPN.
    if (direct && (proxy.type() == QNetworkProxy::HttpProxy || proxy.type() == QNetworkProxy::Socks5Proxy)) {
        request.proxyType = proxy.type();
        request.proxyAddress = proxy.hostName(); // already an address
        request.proxyPort = proxy.port();
        request.proxyUser = proxy.user();
        request.proxyPassword = proxy.password();
    }
    request.proxyAuthMethod
        = GlobalValues::value(GlobalValues::ProxyAuthMethod, QStringLiteral("Automatique")).toString();
    QSettings settings;
    request.autoReconnect = settings.value(SettingsKeys::AutoReconnect, SettingsKeys::AutoReconnectDefault).toBool();
    request.useServerDns = settings.value(SettingsKeys::DnsServer, SettingsKeys::DnsServerDefault).toBool();
    request.windowsIpMethod
        = settings.value(SettingsKeys::WindowsIpMethod, QString::fromLatin1(SettingsKeys::WindowsIpMethodDefault))
              .toString();
    if (!request.useServerDns) {
        const NetworkAdapter adapter = defaultAdapter();
        if (adapter.isValid())
            request.dnsServers = ipv4Addresses(::dnsServers(adapter.networkInterface()));
    }
    return request;
}

void ConnectionWork::acceptOnlyOpenVpn()
{
#ifdef Q_OS_WIN
    const qint64 userId = -1;
    const qint64 processId = m_machine->openvpnProcessId();
#else
    // OpenVPN runs as root, started by this program or by the helper.
    const qint64 userId = 0;
    const qint64 processId = -1;
#endif
    m_httpsServer->setAcceptedPeer(userId, processId);
    m_httpServer->setAcceptedPeer(userId, processId);
}

NetworkAdapter ConnectionWork::vpnAdapter() const
{
    return adapterByGuid(GlobalValues::value(GlobalValues::Interface).toString(), allAdapters());
}

bool ConnectionWork::waitForTunnel()
{
    // OpenVPN is mid-handshake: a stop waits for the end, and does not lengthen the wait.
    QTimer timer;
    connect(&timer, &QTimer::timeout, this, &ConnectionWork::timeout);
    timer.start(m_tunnelWaitTime * 1000);
    int result;
    do {
        result = exec();
    } while (result == StopRequested);
    return result == TunnelUp && !m_stopRequested;
}

bool ConnectionWork::configure(const QHostAddress &endpoint, SystemProxyChange *proxyChange)
{
    setProgress(60);
    const NetworkAdapter vpnAdapter = this->vpnAdapter();
    if (!vpnAdapter.isValid()) {
        emit log(QStringLiteral("The virtual interface is not valid!"));
        return false;
    }
    m_upnpService->setInterface(vpnAdapter);
    m_upnpService->setGatewayAddress(m_vpnGateway);
    m_upnpService->start();

    QSettings settings;
    RoutePlan::Input input;
    input.snapshot = routingTable();
    input.endpoint = endpoint;
    input.vpnAdapter = vpnAdapter;
    input.vpnGateway = m_vpnGateway;
    input.redirect = settings.value(SettingsKeys::Redirect, SettingsKeys::RedirectDefault).toBool();
    input.overrideDefaultGateway
        = settings.value(SettingsKeys::OverrideDefaultGateway, SettingsKeys::OverrideDefaultGatewayDefault).toBool();
    const Route endpointRoute = RoutePlan::endpointRoute(input.snapshot, endpoint);

    setProgress(70);
    NetworkAdapter physicalAdapter = defaultAdapter();
    if (!physicalAdapter.isValid()) {
        if (!endpointRoute.isValid()) {
            emit error(DefaultInterfaceError);
            return false;
        }
        physicalAdapter = endpointRoute.adapter;
    }
    input.physicalAdapter = physicalAdapter;
    input.physicalGateway = adapterGateway(physicalAdapter);
    input.dnsServer = settings.value(SettingsKeys::DnsServer, SettingsKeys::DnsServerDefault).toBool();
    if (input.redirect && !input.dnsServer)
        input.physicalDnsServers = dnsServers(physicalAdapter.networkInterface());
    RoutePlan plan = RoutePlan::make(input);
    setProgress(80);

    if (settings.value(SettingsKeys::SocksServer, SettingsKeys::SocksServerDefault).toBool()
        && !startSocksServer(input.redirect ? physicalAdapter : vpnAdapter)) {
        emit error(SocksServerError);
        return false;
    }
    addExceptionRoutes(&plan, input);

    setProgress(90);
    m_machine->changeRoutes(plan.remove, plan.add);
    if (m_blockInPlace) {
        m_blockInput.socksAddress
            = m_socksServer->isListening() ? firstIPv4Address(physicalAdapter.networkInterface()) : QHostAddress();
        block(KillSwitchPlan::connected(m_blockInput));
    }
    if (input.dnsServer)
        m_machine->usePushedNameServers();
    if (input.redirect
        && settings.value(SettingsKeys::DisableSystemProxy, SettingsKeys::DisableSystemProxyDefault).toBool())
        proxyChange->disable();
    logRoutingTable();
    return true;
}

bool ConnectionWork::startSocksServer(const NetworkAdapter &adapter)
{
    const quint16 port
        = quint16(QSettings().value(SettingsKeys::SocksServerPort, SettingsKeys::SocksServerPortDefault).toUInt());
    m_machine->disableWeakHost(adapter);
    m_socksServer->setAddress(firstIPv4Address(adapter.networkInterface()));
    return m_socksServer->listen(QHostAddress::LocalHost, port);
}

void ConnectionWork::addExceptionRoutes(RoutePlan *plan, const RoutePlan::Input &input)
{
    const QList<QList<QHostAddress>> exceptions = exceptionAddresses();
    for (const QList<QHostAddress> &addresses : exceptions)
        plan->addExceptionRoutes(input, addresses);
}

QList<QList<QHostAddress>> ConnectionWork::exceptionAddresses()
{
    if (m_exceptionsResolved)
        return m_exceptionAddresses;
    m_exceptionAddresses.clear();
    QSettings settings;
    settings.beginGroup(QLatin1String(SettingsKeys::Exceptions));
    const QStringList keys = settings.childKeys();
    for (const QString &key : keys) {
        const QString hostName = RoutePlan::exceptionHostName(settings.value(key).toStringList());
        if (!hostName.isEmpty())
            m_exceptionAddresses << ipv4Addresses(QHostInfo::fromName(hostName).addresses());
    }
    settings.endGroup();
    m_exceptionsResolved = true;
    return m_exceptionAddresses;
}

bool ConnectionWork::redirecting() const
{
    return QSettings().value(SettingsKeys::Redirect, SettingsKeys::RedirectDefault).toBool();
}

KillSwitchPlan::Input ConnectionWork::blockInput(
    const QString &connectHost, const QNetworkProxy &proxy, bool resolveNames)
{
    QSettings settings;
    KillSwitchPlan::Input input;
    input.killSwitch = settings.value(SettingsKeys::KillSwitch, SettingsKeys::KillSwitchDefault).toBool();
    input.vpnAdapter = GlobalValues::value(GlobalValues::Interface).toString();
    input.proxy = proxy;
    if (proxy.type() == QNetworkProxy::NoProxy) {
        input.serverAddresses = addressesOf(connectHost, resolveNames, m_blockInput.serverAddresses);
        input.serverPort = m_protocol == HttpProtocol ? 80 : 443;
        const bool secure
            = settings.value(SettingsKeys::MainServerSecure, SettingsKeys::MainServerSecureDefault).toBool();
        const QString mainServer
            = settings.value(SettingsKeys::MainServerAddress, SettingsKeys::defaultMainServerAddress()).toString();
        input.mainServerAddresses = addressesOf(mainServer, resolveNames, m_blockInput.mainServerAddresses);
        input.mainServerPort = secure ? 443 : 80;
    }
    const NetworkAdapter physicalAdapter = defaultAdapter();
    if (physicalAdapter.isValid())
        input.physicalNameServers = ::dnsServers(physicalAdapter.networkInterface());
    input.dnsThroughVpn = settings.value(SettingsKeys::DnsServer, SettingsKeys::DnsServerDefault).toBool();
    if (resolveNames) {
        for (const QList<QHostAddress> &addresses : exceptionAddresses())
            input.exceptionAddresses << addresses;
    }
    input.allowLocalNetwork
        = settings.value(SettingsKeys::AllowLocalNetwork, SettingsKeys::AllowLocalNetworkDefault).toBool();
    return input;
}

void ConnectionWork::block(const KillSwitchRules &rules)
{
    // A block that cannot be put in place is logged by the machine's side; the connection goes on.
    if (m_machine->block(rules))
        m_blockInPlace = true;
    m_trafficBlocked = m_blockInPlace;
}

void ConnectionWork::settleBlock()
{
    // Only a drop the user did not ask for keeps the traffic blocked, until a reconnection
    // succeeds or the user disconnects; the IPv6 block alone never outlives the connection.
    const bool dropKept = m_dropped || m_blockedAtStart;
    const bool keep = m_blockInPlace && !m_stopRequested && dropKept && m_blockInput.killSwitch && redirecting();
    if (m_blockInPlace && !keep) {
        m_machine->unblock();
        m_blockInPlace = false;
    }
    m_trafficBlocked = m_blockInPlace;
}

void ConnectionWork::logRoutingTable()
{
    emit log(QStringLiteral("IPv4 routing table :"));
    const QList<Route> table = routingTable();
    for (const Route &route : table)
        emit log(routingTableLine(route));
}

void ConnectionWork::stayConnected()
{
    int result;
    do {
        result = waitForEvent(0);
    } while (result != OpenVpnGone && result != StopRequested);
    // OpenVPN going away after a stop was asked for is the stop's doing, not a lost tunnel.
    if (result == OpenVpnGone && !m_stopRequested) {
        m_dropped = true;
        emit error(DisconnectedError);
    }
}

void ConnectionWork::systemChanged()
{
    // Between runs, or before the tunnel is up, there is nothing to put back.
    if (m_connected && m_machine)
        m_machine->repairAfterChange();
}

void ConnectionWork::tearDown(SystemProxyChange *proxyChange)
{
    m_acceptsPortMappings = false;
    proxyChange->restore();
    m_machine->undo();
    if (m_socksServer->isListening())
        m_socksServer->close();
    m_upnpService->stop();
    const bool openvpnRunning = m_machine->isOpenVpnRunning();
    // Also when OpenVPN is gone: the helper then lets go of this connection.
    m_machine->stopOpenVpn();
    if (openvpnRunning)
        waitForEvent(OpenVpnStopWaitTime);
    if (m_httpsServer->isListening())
        m_httpsServer->close();
    if (m_httpServer->isListening())
        m_httpServer->close();
    setProgress(0);
    m_connected = false;
}
