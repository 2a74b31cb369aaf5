#ifndef NIMBORA_TESTS_SUPPORT_TESTHTTPSERVER_H
#define NIMBORA_TESTS_SUPPORT_TESTHTTPSERVER_H

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
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
        QList<QPair<QByteArray, QByteArray>> headers;
        QList<QByteArray> headerValues(const QByteArray &name) const; // case-insensitive name
    };

    explicit TestHttpServer(QObject *parent = nullptr);
    ~TestHttpServer() override;

    // Listens on 127.0.0.1 (or the given address), port chosen by the system; with TLS, on a
    // self-signed certificate.
    bool start(bool secure = false, const QHostAddress &address = QHostAddress(QHostAddress::LocalHost));
    // "<address>:<port>", what the main-server address setting holds in tests.
    QString address() const;
    // Makes this server the main server of the settings store in use, reached directly over
    // plain HTTP, so that nothing a test starts looks up the built-in host name.
    void useAsMainServer() const;

    void setBehaviour(Behaviour behaviour);
    // The answer for "/client/<command>"; an empty command sets the answer for everything else.
    void setAnswer(const QByteArray &command, const QByteArray &body,
        const QByteArray &contentType = "text/xml; charset=utf-8", int status = 200);
    void setRawAnswer(const QByteArray &bytes);

    QList<Request> requests() const;
    qint64 floodBytesSent() const;

signals:
    void requestReceived();

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    struct Scripted
    {
        int status = 200;
        QByteArray contentType;
        QByteArray body;
    };

    void socketReadyRead(QTcpSocket *socket);
    void respond(QTcpSocket *socket, const Request &request);
    void feedFlood(QTcpSocket *socket);

    bool m_secure = false;
    Behaviour m_behaviour = Answer;
    QHash<QByteArray, Scripted> m_answers;
    QByteArray m_rawAnswer;
    QList<Request> m_requests;
    QHash<QTcpSocket *, QByteArray> m_buffers;
    qint64 m_floodBytesSent = 0;
};

#endif
