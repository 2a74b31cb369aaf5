#include "privileged/openvpn.h"

#include "base/globalvalues.h"
#include "privileged/openvpnarguments.h"
#include "privileged/openvpnmessages.h"
#include "netconfig/networkconfiguration.h"

#include <QHostInfo>

namespace {

QString resolvedAddress(const QString &hostName)
{
    const QList<QHostAddress> addresses = QHostInfo::fromName(hostName).addresses();
    return addresses.isEmpty() ? QString() : addresses.first().toString();
}

} // namespace

OpenVPN::OpenVPN() : m_adapterGuid(GlobalValues::value(GlobalValues::Interface).toString())
{
    qRegisterMetaType<OpenVPN::Error>("OpenVPN::Error");
    connect(&m_manager, &OpenVPNManager::log, this, &OpenVPN::log);
}

OpenVPN::~OpenVPN()
{
    // QProcess would otherwise report the end of a running program to a half-destroyed controller.
    m_process.disconnect(this);
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(StopStepTimeout);
    }
}

void OpenVPN::setRequest(const OpenVpnRequest &request)
{
    m_request = request;
    if (!request.adapter.isEmpty())
        m_adapterGuid = request.adapter;
    m_manager.setUsername(request.username);
    m_manager.setPassword(request.password);
    QNetworkProxy proxy(request.proxyType, request.proxyAddress, request.proxyPort);
    proxy.setUser(request.proxyUser);
    proxy.setPassword(request.proxyPassword);
    m_manager.setProxy(proxy);
}

void OpenVPN::setProxy(const QNetworkProxy &proxy)
{
    m_request.proxyType = proxy.type();
    m_request.proxyAddress = proxy.type() == QNetworkProxy::NoProxy ? QString() : resolvedAddress(proxy.hostName());
    m_request.proxyPort = proxy.port();
    m_manager.setProxy(proxy);
}

NetworkAdapter OpenVPN::tapAdapter() const
{
    return adapterByGuid(m_adapterGuid, allAdapters());
}

void OpenVPN::start()
{
    if (!m_manager.listen()) {
        emit error(ManagementError);
        return;
    }
    m_state = Connecting;
    connect(
        &m_process, &QProcess::readyReadStandardOutput, this, &OpenVPN::readyReadStandardOutput, Qt::UniqueConnection);
    connect(
        &m_process, &QProcess::readyReadStandardError, this, &OpenVPN::readyReadStandardError, Qt::UniqueConnection);
    connect(&m_process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this, &OpenVPN::finished,
        Qt::UniqueConnection);

    const QString program = GlobalValues::value(GlobalValues::OpenvpnPath).toString();
    OpenVPNArguments arguments;
    arguments.adapter = m_adapterGuid;
    arguments.host = m_request.host;
    arguments.port = m_request.port;
    arguments.managementAddress = m_manager.serverName();
    arguments.managementPort = m_manager.serverPort();
    arguments.managementSocket = m_manager.serverName();
    arguments.proxyType = m_request.proxyType;
    if (m_request.proxyType == QNetworkProxy::Socks5Proxy || m_request.proxyType == QNetworkProxy::HttpProxy) {
        arguments.proxyAddress = m_request.proxyAddress;
        arguments.proxyPort = m_request.proxyPort;
    }
    arguments.proxyAuthMethod = m_request.proxyAuthMethod;
    arguments.caFile = GlobalValues::value(GlobalValues::CertificatPath).toString();
    arguments.autoReconnect = m_request.autoReconnect;
    arguments.useServerDns = m_request.useServerDns;
    arguments.windowsIpMethod = m_request.windowsIpMethod;
    if (!arguments.useServerDns)
        arguments.dnsServers = m_request.dnsServers;
    const QStringList argumentList = arguments.build(OpenVPNArguments::currentPlatform());

    emit log(program + QLatin1Char(' ') + argumentList.join(QLatin1Char(' ')));
    m_process.start(program, argumentList, QIODevice::ReadWrite);
    // Nothing is accepted before the event loop runs again, by which time the child is known.
    m_manager.setPeerProcessId(m_process.processId());
}

bool OpenVPN::stop()
{
    m_state = Stopping;
    // Started with --management-client, OpenVPN ends when this connection closes.
    m_manager.closeConnection();
    if (m_process.state() == QProcess::NotRunning) {
        // Never started, or already ended and reported: nothing is on its way down.
        m_state = Idle;
        return true;
    }
    if (m_process.waitForFinished(StopStepTimeout))
        return true;
    m_process.terminate();
    if (m_process.state() == QProcess::NotRunning || m_process.waitForFinished(StopStepTimeout))
        return true;
    m_process.kill();
    return m_process.state() == QProcess::NotRunning || m_process.waitForFinished(StopStepTimeout);
}

bool OpenVPN::restart()
{
    if (m_state != Connected) {
        emit log(QStringLiteral("OpenVPN is not connected: no restart"));
        return false;
    }
    if (!m_manager.sendCommand(QByteArrayLiteral("signal SIGUSR1")))
        return false;
    m_tunnelUp = false;
    m_restartAsked.start();
    return true;
}

bool OpenVPN::isRestartPending() const
{
    return !m_tunnelUp && m_restartAsked.isValid() && !m_restartAsked.hasExpired(RestartGrace);
}

void OpenVPN::setProgress(int progress)
{
    m_progress = progress;
    emit progressChanged(progress);
}

void OpenVPN::readyReadStandardOutput()
{
    const OpenVPNMessages::Output output = OpenVPNMessages::readOutput(m_process.readAllStandardOutput());
    emit log(output.text);

    if (output.error != NoError)
        m_lastError = output.error;
    for (const int progress : output.progress)
        setProgress(progress);
    if (output.gatewayPushed)
        m_gateway = output.gateway;
    if (!output.dnsServers.isEmpty())
        m_dnsServers = output.dnsServers;
    if (output.waitingForInterface)
        wakeUpInterface();
    if (output.restarting)
        m_tunnelUp = false;
    if (output.restarting && m_state == Connecting) {
        m_lastError = ConnectionRefusedError;
        stop();
        // stop() may have seen the program end and reported it already.
        return;
    }
    if (output.initialized) {
        setProgress(100);
        m_lastError = NoError;
        m_tunnelUp = true;
        m_restartAsked.invalidate();
        // Not while stopping: the tunnel that comes up then is already on its way down.
        if (m_state == Connecting) {
            m_state = Connected;
            emit connected();
        }
    }
}

void OpenVPN::readyReadStandardError()
{
    emit log(OpenVPNMessages::outputText(m_process.readAllStandardError()));
}

void OpenVPN::finished(int exitCode, QProcess::ExitStatus exitStatus)
{
    Q_UNUSED(exitCode)
    Q_UNUSED(exitStatus)
    m_manager.closeConnection();
    m_tunnelUp = false;
    if (m_lastError != NoError)
        emit error(m_lastError);
    else if (m_state == Connecting)
        emit error(ConnectionRefusedError);
    m_state = Idle;
    emit disconnected();
}
