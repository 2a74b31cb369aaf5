#include "privileged/openvpnmessages.h"

#include <QRegularExpression>

namespace {

struct FailureText
{
    const char *text;
    OpenVPN::Error error;
};

// In the order they are tested: the last one present in a chunk wins.
const FailureText FailureTexts[] = {
    { "Cannot resolve host address", OpenVPN::HostNotFoundError },
    { "Connection refused", OpenVPN::ConnectionRefusedError },
    { "Connection timed out", OpenVPN::ConnectionTimeoutError },
    { "HTTP proxy returned bad status", OpenVPN::ProxyError },
    { "TCP port read timeout expired", OpenVPN::ProxyTimeoutError },
    { "TCP port read failed", OpenVPN::ProxyConnectionError },
    { "TCP port write failed", OpenVPN::ProxyConnectionError },
    { "HTTP proxy: do not recognize the authentication method required by proxy",
        OpenVPN::ProxyAuthenticationMethodError },
    { "AUTH_FAILED", OpenVPN::AuthenticationError },
    { "All TAP-Win32 adapters on this system are currently in use", OpenVPN::InterfaceBusyError },
    { "CreateFile failed on TAP device", OpenVPN::InterfaceBusyError },
    { "There are no TAP-Win32 adapters on this system", OpenVPN::NoInterfaceError },
};

struct ProgressText
{
    const char *text;
    int progress;
};

const ProgressText ProgressTexts[] = {
    { "LZO compression initialized", 20 },
    { "TCP connection established", 40 },
    { "Peer Connection Initiated", 60 },
    { "Successful ARP Flush on interface", 80 },
};

const QByteArray AuthPrompt = QByteArrayLiteral(">PASSWORD:Need 'Auth' username/password");
const QByteArray ProxyPrompt = QByteArrayLiteral(">PASSWORD:Need 'HTTP Proxy' username/password");

void readPushReply(const QString &text, OpenVPNMessages::Output *output)
{
    static const QRegularExpression routeGateway(QStringLiteral("route-gateway ([0-9\\.]+)"));
    const QRegularExpressionMatch match = routeGateway.match(text);
    if (match.hasMatch()) {
        output->gatewayPushed = true;
        output->gateway = QHostAddress(match.captured(1));
    }
    static const QRegularExpression dnsOption(QStringLiteral("dhcp-option DNS ([0-9\\.]+)"));
    QRegularExpressionMatchIterator options = dnsOption.globalMatch(text);
    while (options.hasNext()) {
        const QHostAddress server(options.next().captured(1));
        if (server.protocol() == QAbstractSocket::IPv4Protocol && !output->dnsServers.contains(server))
            output->dnsServers << server;
    }
}

// A line break would end the line early and let the rest of the value, from the network or the
// user, pass for a management command of its own.
QByteArray firstLine(const QByteArray &value)
{
    for (int i = 0; i < value.size(); ++i) {
        if (value.at(i) == '\n' || value.at(i) == '\r')
            return value.left(i);
    }
    return value;
}

// OpenVPN splits a management line at spaces outside double quotes and reads a backslash as an
// escape: a password with a space or a quote would otherwise reach the server cut or changed.
QByteArray quoted(const QByteArray &value)
{
    QByteArray result("\"");
    for (const char c : value) {
        if (c == '\\' || c == '"')
            result += '\\';
        result += c;
    }
    result += '"';
    return result;
}

} // namespace

// OpenVPN's output is Latin-1 for our purposes; anything past a NUL byte is dropped.
QString OpenVPNMessages::outputText(const QByteArray &chunk)
{
    const int end = chunk.indexOf('\0');
    return QString::fromLatin1(end < 0 ? chunk : chunk.left(end));
}

OpenVPNMessages::Output OpenVPNMessages::readOutput(const QByteArray &chunk)
{
    Output output;
    output.text = outputText(chunk);
    const QString &text = output.text;
    for (const FailureText &failure : FailureTexts) {
        if (text.contains(QLatin1String(failure.text)))
            output.error = failure.error;
    }
    for (const ProgressText &step : ProgressTexts) {
        if (text.contains(QLatin1String(step.text)))
            output.progress << step.progress;
    }
    if (text.contains(QLatin1String("PUSH: Received control message:")))
        readPushReply(text, &output);
    output.waitingForInterface = text.contains(QLatin1String("Route: Waiting for TUN/TAP interface to come up..."));
    output.restarting = text.contains(QLatin1String("SIGUSR1"));
    output.initialized = text.contains(QLatin1String("Initialization Sequence Completed"));
    return output;
}

QByteArray OpenVPNMessages::answer(const QByteArray &received, const QString &username, const QString &password,
    const QString &proxyUser, const QString &proxyPassword)
{
    QByteArray lines;
    if (received.contains(AuthPrompt)) {
        lines += answerLine("username", "Auth", username);
        lines += answerLine("password", "Auth", password);
    }
    if (received.contains(ProxyPrompt)) {
        lines += answerLine("username", "HTTP Proxy", proxyUser);
        lines += answerLine("password", "HTTP Proxy", proxyPassword);
    }
    return lines;
}

QByteArray OpenVPNMessages::answerLine(const char *keyword, const char *realm, const QString &value)
{
    QByteArray line(keyword);
    line += " \"";
    line += realm;
    line += "\" ";
    line += quoted(firstLine(value.toLocal8Bit()));
    line += "\r\n";
    return line;
}
