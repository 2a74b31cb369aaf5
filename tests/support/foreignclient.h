#ifndef NIMBORA_TESTS_SUPPORT_FOREIGNCLIENT_H
#define NIMBORA_TESTS_SUPPORT_FOREIGNCLIENT_H

#include <QByteArray>
#include <QHostAddress>
#include <QString>

#include <sys/types.h>

// A TCP client of another local user (uid and gid 65534, no groups): a forked child that drops to
// that user, connects, sends its bytes and reports whether the server closed the connection or
// answered. Needs root. The child ends with this object.
class ForeignClient
{
public:
    enum Outcome { Nothing, Closed, Answered };
    static constexpr uid_t UserId = 65534;

    ForeignClient() = default;
    ~ForeignClient();
    ForeignClient(const ForeignClient &) = delete;
    ForeignClient &operator=(const ForeignClient &) = delete;

    static bool available(QString *reason);
    bool start(const QHostAddress &address, quint16 port, const QByteArray &bytes, QString *error);
    quint16 localPort() const { return m_localPort; }
    // Runs the event loop until the client saw the server's first answer or close, or the time ran out.
    Outcome waitForOutcome(int milliseconds);

private:
    pid_t m_pid = -1;
    int m_status = -1;
    quint16 m_localPort = 0;
    Outcome m_outcome = Nothing;
};

#endif
