#ifndef NIMBORA_TESTS_SUPPORT_TESTHTTPSERVER_H
#define NIMBORA_TESTS_SUPPORT_TESTHTTPSERVER_H

#include "tests/support/testcertificate.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QTcpServer>

class QTcpSocket;

// A scriptable HTTP or HTTPS server on 127.0.0.1 that answers the main server's commands:
// a body per command ("/client/<command>"), or silence, a dropped connection, raw bytes or an
// endless body. It records every request head it receives.
class TestHttpServer : public QTcpServer
{
    Q_OBJECT

public:
    enum Behaviour {
        Answer, // the scripted answer of the command
        Silent, // read the request, never answer, keep the connection open
        Drop, // read the request, then close the connection
        Raw, // send the raw bytes, then close
        Flood // an XML body that never ends, until the client goes away
    };
    Q_ENUM(Behaviour)

    struct Request
    {
        QByteArray requestLine;
        QByteArray head; // the header lines after the request line
        QList<QByteArray> headerValues(const QByteArray &name) const; // case-insensitive name
    };

    explicit TestHttpServer(QObject *parent = nullptr);

    // Listens on 127.0.0.1 (or the given address), port chosen by the system; with TLS, on a
    // certificate of the test authority for the built-in main-server host name, by default.
    bool start(bool secure = false, const QHostAddress &address = QHostAddress(QHostAddress::LocalHost));
    void setCertificate(TestCertificate::Kind kind) { m_certificate = kind; }
    // "<address>:<port>", what the main-server address setting holds in tests.
    QString address() const;
    // Makes this server the main server of the settings store in use, reached directly (no
    // proxy) over HTTP or HTTPS as started, so that nothing a test starts looks up the built-in
    // host name. Over HTTPS the process then trusts the test authority, as the lab's client
    // trusts the lab's (NIMBORA_MAIN_SERVER_CA).
    void useAsMainServer() const;
    // The key pin of its certificate as openssl computes it (base64 SHA-256 of the DER
    // SubjectPublicKeyInfo), so that the client's own computation is checked against another's.
    static QString certificateKeyPin();

    void setBehaviour(Behaviour behaviour) { m_behaviour = behaviour; }
    // The answer for "/client/<command>"; an empty command sets the answer for everything else.
    void setAnswer(const QByteArray &command, const QByteArray &body,
        const QByteArray &contentType = "text/xml; charset=utf-8", int status = 200);
    void setRawAnswer(const QByteArray &bytes) { m_rawAnswer = bytes; }

    QList<Request> requests() const { return m_requests; }
    qint64 floodBytesSent() const { return m_floodBytesSent; }

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    struct Scripted
    {
        int status = 200;
        QByteArray contentType;
        QByteArray body;
    };

    void readRequest(QTcpSocket *socket);
    void respond(QTcpSocket *socket, const QByteArray &requestLine);
    void feedFlood(QTcpSocket *socket);

    bool m_secure = false;
    TestCertificate::Kind m_certificate = TestCertificate::Valid;
    Behaviour m_behaviour = Answer;
    QHash<QByteArray, Scripted> m_answers;
    QByteArray m_rawAnswer;
    QList<Request> m_requests;
    qint64 m_floodBytesSent = 0;
};

#endif
