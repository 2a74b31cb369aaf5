#include "tests/support/tinyproxy.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

const int StartTimeout = 10000;
const int PortRetryInterval = 20;

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

} // namespace

TestProxy::TestProxy(Kind kind) : m_kind(kind)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

TestProxy::~TestProxy()
{
    stop();
}

QString TestProxy::program(Kind kind)
{
    if (kind == Tinyproxy)
        return QStandardPaths::findExecutable(QStringLiteral("tinyproxy"));
    if (kind == Microsocks)
        return QStandardPaths::findExecutable(QStringLiteral("microsocks"));
    return QStandardPaths::findExecutable(
        QStringLiteral("danted"), { QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin"), QStringLiteral("/sbin") });
}

bool TestProxy::start(const QString &user, const QString &password)
{
    // The port is picked free just before the proxy binds it; another process may win the race,
    // and then the proxy ends before it says it is ready.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (startOnce(user, password))
            return true;
    }
    return false;
}

bool TestProxy::startOnce(const QString &user, const QString &password)
{
    stop();
    m_output.clear();
    const QString executable = program(m_kind);
    if (executable.isEmpty()) {
        m_errorString = m_kind == Tinyproxy ? QStringLiteral("tinyproxy is not installed (packages/core.txt)")
            : m_kind == Dante               ? QStringLiteral("danted is not installed (packages/core.txt)")
                                            : QStringLiteral("microsocks is not installed (packages/core.txt)");
        return false;
    }
    m_port = freeLoopbackPort();
    const QByteArray port = QByteArray::number(m_port);
    QStringList arguments;
    QByteArray readyLine; // none: the port tells
    if (m_kind == Microsocks) {
        arguments = QStringList { QStringLiteral("-i"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
            QString::fromLatin1(port), QStringLiteral("-b"), QStringLiteral("127.0.0.1") };
        if (!user.isEmpty())
            arguments << QStringLiteral("-u") << user << QStringLiteral("-P") << password;
    } else {
        const QString configPath = m_folder.filePath(QStringLiteral("proxy.conf"));
        QFile config(configPath);
        if (!m_folder.isValid() || !config.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            m_errorString = QStringLiteral("cannot write ") + configPath;
            return false;
        }
        if (m_kind == Tinyproxy) {
            config.write("Port " + port
                + "\nListen 127.0.0.1\nBind 127.0.0.1\nAllow 127.0.0.1\nTimeout 600\nMaxClients 20\nLogLevel Info\n"
                + "BasicAuth " + user.toUtf8() + ' ' + password.toUtf8() + "\n");
            // -d keeps it in the foreground, logging to its output, so that the test owns the process.
            arguments = QStringList { QStringLiteral("-d"), QStringLiteral("-c"), configPath };
            readyLine = "Accepting connections";
        } else {
            config.write("logoutput: stderr\ninternal: 127.0.0.1 port = " + port
                + "\nexternal: 127.0.0.1\nclientmethod: none\nsocksmethod: none\n"
                  "user.privileged: root\nuser.unprivileged: nobody\n"
                  "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 log: error connect }\n"
                  "socks pass { from: 127.0.0.0/8 to: 0.0.0.0/0 log: error connect }\n");
            arguments = QStringList { QStringLiteral("-f"), configPath, QStringLiteral("-p"),
                m_folder.filePath(QStringLiteral("danted.pid")) };
            readyLine = " running"; // logged once its port is bound
        }
    }

    m_process.start(executable, arguments);
    const QDeadlineTimer deadline(StartTimeout);
    if (!(readyLine.isEmpty() ? waitForPort(deadline) : waitForLine(readyLine, deadline))) {
        m_errorString = QStringLiteral("%1 did not come up: %2 %3")
                            .arg(executable, m_process.errorString(), QString::fromLocal8Bit(m_output));
        stop();
        return false;
    }
    return true;
}

bool TestProxy::waitForLine(const QByteArray &line, const QDeadlineTimer &deadline)
{
    while (!m_output.contains(line)) {
        if (deadline.hasExpired()
            || (!m_process.waitForReadyRead(int(deadline.remainingTime())) && !m_process.bytesAvailable()))
            return false;
        m_output += m_process.readAll();
    }
    return true;
}

// microsocks says nothing once it listens: a connection to its port accepted is the sign.
bool TestProxy::waitForPort(const QDeadlineTimer &deadline)
{
    while (!deadline.hasExpired() && m_process.state() != QProcess::NotRunning) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, m_port);
        if (probe.waitForConnected(int(deadline.remainingTime())))
            return true;
        // Refused while the port is not bound yet; the proxy ending stops the wait at once.
        m_process.waitForFinished(PortRetryInterval);
    }
    return false;
}

void TestProxy::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    m_output += m_process.readAll();
}
