#ifndef NIMBORA_TESTS_SUPPORT_TINYPROXY_H
#define NIMBORA_TESTS_SUPPORT_TINYPROXY_H

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A real HTTP proxy for tests: tinyproxy on 127.0.0.1, asking for Basic credentials, with its
// configuration in a temporary folder. Started and stopped by the test, never as a service.
class TinyProxy
{
public:
    TinyProxy();
    ~TinyProxy();

    static QString program(); // empty when tinyproxy is not installed

    bool start(const QString &user, const QString &password);
    void stop();
    quint16 port() const;
    QString errorString() const;
    QByteArray output() const; // what tinyproxy logged so far

private:
    bool startOnce(const QString &user, const QString &password);

    QTemporaryDir m_folder;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_errorString;
    QByteArray m_output;
};

#endif
