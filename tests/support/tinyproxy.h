#ifndef NIMBORA_TESTS_SUPPORT_TINYPROXY_H
#define NIMBORA_TESTS_SUPPORT_TINYPROXY_H

#include <QDeadlineTimer>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A real proxy for tests on 127.0.0.1, configured in a temporary folder, started and stopped by
// the test, never as a service: tinyproxy asking for Basic credentials, dante (SOCKS 5) without
// authentication, or microsocks (SOCKS 5) asking for a user name and password. Each connects out
// from 127.0.0.1, so that a peer on another address tells a connection through the proxy from a
// direct one.
class TestProxy
{
public:
    enum Kind { Tinyproxy, Dante, Microsocks };

    explicit TestProxy(Kind kind);
    ~TestProxy();

    static QString program(Kind kind); // empty when it is not installed

    // The credentials the proxy asks for; dante takes none.
    bool start(const QString &user = QString(), const QString &password = QString());
    void stop();
    quint16 port() const { return m_port; }
    QString errorString() const { return m_errorString; }
    QByteArray output() const { return m_output; } // what the proxy logged so far

private:
    bool startOnce(const QString &user, const QString &password);
    bool waitForLine(const QByteArray &line, const QDeadlineTimer &deadline);
    bool waitForPort(const QDeadlineTimer &deadline);

    Kind m_kind;
    QTemporaryDir m_folder;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_errorString;
    QByteArray m_output;
};

class TinyProxy : public TestProxy
{
public:
    TinyProxy() : TestProxy(Tinyproxy) { }
    static QString program() { return TestProxy::program(Tinyproxy); }
};

#endif
