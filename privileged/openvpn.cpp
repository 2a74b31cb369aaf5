#include "connection/openvpn.h"

#include "base/globalvalues.h"
#include "base/settingskeys.h"
#include "connection/openvpnarguments.h"
#include "connection/openvpnmessages.h"
#include "netconfig/networkconfiguration.h"

#include <QHostInfo>
#include <QSettings>

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

void OpenVPN::setProxy(const QNetworkProxy &proxy)
{
    m_proxy = proxy;
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
    arguments.host = m_host;
    arguments.port = m_port;
    arguments.managementAddress = m_manager.serverName();
    arguments.managementPort = m_manager.serverPort();
    arguments.managementSocket = m_manager.serverName();
    arguments.proxyType = m_proxy.type();
    if (m_proxy.type() == QNetworkProxy::Socks5Proxy || m_proxy.type() == QNetworkProxy::HttpProxy) {
        arguments.proxyAddress = resolvedAddress(m_proxy.hostName());
        arguments.proxyPort = m_proxy.port();
    }
    arguments.proxyAuthMethod
        = GlobalValues::value(GlobalValues::ProxyAuthMethod, QStringLiteral("Automatique")).toString();
    arguments.caFile = GlobalValues::value(GlobalValues::CertificatPath).toString();
    {
        QSettings settings;
        arguments.autoReconnect
            = settings.value(SettingsKeys::AutoReconnect, SettingsKeys::AutoReconnectDefault).toBool();
        arguments.useServerDns = settings.value(SettingsKeys::DnsServer, SettingsKeys::DnsServerDefault).toBool();
        arguments.windowsIpMethod
            = settings.value(SettingsKeys::WindowsIpMethod, QString::fromLatin1(SettingsKeys::WindowsIpMethodDefault))
                  .toString();
    }
    if (!arguments.useServerDns) {
        const NetworkAdapter adapter = defaultAdapter();
        if (adapter.isValid())
            arguments.dnsServers = ::dnsServers(adapter.networkInterface());
    }
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
    if (output.restarting && m_state == Connecting) {
        m_lastError = ConnectionRefusedError;
        stop();
        // stop() may have seen the program end and reported it already.
        return;
    }
    if (output.initialized) {
        setProgress(100);
        m_lastError = NoError;
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
    if (m_lastError != NoError)
        emit error(m_lastError);
    else if (m_state == Connecting)
        emit error(ConnectionRefusedError);
    m_state = Idle;
    emit disconnected();
}
