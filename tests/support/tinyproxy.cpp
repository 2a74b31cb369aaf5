#include "tests/support/tinyproxy.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>

namespace {

const char ReadyLine[] = "Accepting connections";
const int StartTimeout = 10000;

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

} // namespace

TinyProxy::TinyProxy()
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

TinyProxy::~TinyProxy()
{
    stop();
}

QString TinyProxy::program()
{
    return QStandardPaths::findExecutable(QStringLiteral("tinyproxy"));
}

bool TinyProxy::start(const QString &user, const QString &password)
{
    // The port is picked free just before tinyproxy binds it; another process may win the race.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (startOnce(user, password))
            return true;
    }
    return false;
}

bool TinyProxy::startOnce(const QString &user, const QString &password)
{
    stop();
    m_output.clear();
    if (program().isEmpty()) {
        m_errorString = QStringLiteral("tinyproxy is not installed");
        return false;
    }
    if (!m_folder.isValid()) {
        m_errorString = QStringLiteral("no temporary folder");
        return false;
    }
    m_port = freeLoopbackPort();
    const QString configPath = m_folder.filePath(QStringLiteral("tinyproxy.conf"));
    QFile config(configPath);
    if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_errorString = QStringLiteral("cannot write ") + configPath;
        return false;
    }
    config.write("Port " + QByteArray::number(m_port)
        + "\n"
          "Listen 127.0.0.1\n"
          "Allow 127.0.0.1\n"
          "Timeout 600\n"
          "MaxClients 20\n"
          "LogLevel Info\n"
          "BasicAuth "
        + user.toUtf8() + ' ' + password.toUtf8() + "\n");
    config.close();

    // -d keeps it in the foreground, logging to its output, so that the test owns the process.
    m_process.start(program(), { QStringLiteral("-d"), QStringLiteral("-c"), configPath });
    if (!m_process.waitForStarted(StartTimeout)) {
        m_errorString = QStringLiteral("tinyproxy did not start: ") + m_process.errorString();
        return false;
    }
    QDeadlineTimer deadline(StartTimeout);
    while (!m_output.contains(ReadyLine)) {
        if (m_process.state() != QProcess::Running || deadline.hasExpired()
            || !m_process.waitForReadyRead(int(deadline.remainingTime()))) {
            m_output += m_process.readAll();
            if (m_output.contains(ReadyLine))
                break;
            m_errorString = QStringLiteral("tinyproxy did not come up: ") + QString::fromLocal8Bit(m_output);
            stop();
            return false;
        }
        m_output += m_process.readAll();
    }
    return true;
}

void TinyProxy::stop()
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

quint16 TinyProxy::port() const
{
    return m_port;
}

QString TinyProxy::errorString() const
{
    return m_errorString;
}

QByteArray TinyProxy::output() const
{
    return m_output;
}
