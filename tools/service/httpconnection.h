#ifndef NIMBORA_TOOLS_SERVICE_HTTPCONNECTION_H
#define NIMBORA_TOOLS_SERVICE_HTTPCONNECTION_H

#include "tools/service/httprequest.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

class QTcpSocket;

// One accepted connection: reads requests one after the other, hands out their bodies as
// they arrive, and writes the answer that a handler gives. A request is answered before the
// next one is read; what a peer sends meanwhile waits in a bounded socket buffer.
class HttpConnection : public QObject
{
    Q_OBJECT

public:
    enum Style {
        KeepAlive, // "Connection: keep-alive", unless the peer asked to close
        Close, // "Connection: close", then close
    };

    static constexpr int ReadChunk = 64 * 1024;
    static constexpr int MaximumConnections = 512; // all listeners together
    static constexpr int IdleTimeout = 120000;
    static constexpr int StalledRequestTimeout = 30000;

    HttpConnection(QTcpSocket *socket, QObject *parent = nullptr); // takes the socket
    ~HttpConnection() override;

    QString peer() const { return m_peer; }
    const HttpRequest &request() const { return m_request; }
    bool isRequestComplete() const { return m_state != ReadingHeader && m_state != ReadingBody; }

    // A whole answer at once. extraHeaders: whole header lines, each ending in CR LF.
    void respond(int status, const QByteArray &contentType, const QByteArray &body, Style style = KeepAlive,
        const QByteArray &extraHeaders = QByteArray());
    // An answer whose body follows with writeBody(); it ends when contentLength bytes are out.
    void beginResponse(int status, const QByteArray &contentType, qint64 contentLength, Style style = KeepAlive,
        const QByteArray &extraHeaders = QByteArray());
    void writeBody(const QByteArray &bytes);
    bool isResponding() const { return m_responding; }
    qint64 responseRemaining() const { return m_responseRemaining; }
    qint64 bytesToWrite() const;

    void setReadingPaused(bool paused);
    void close(); // after what is written has gone out
    void abort();

    static QByteArray reasonPhrase(int status);

    // Takes a new socket unless too many connections are open; then the socket is closed.
    static HttpConnection *accept(QTcpSocket *socket, QObject *parent);

signals:
    void requestStarted(HttpConnection *connection);
    void bodyReceived(HttpConnection *connection, const QByteArray &bytes);
    void requestFinished(HttpConnection *connection);
    void bytesWritten(HttpConnection *connection);
    void closed(HttpConnection *connection);

private slots:
    void processInput();
    void socketDisconnected();
    void timerFired();

private:
    enum State { ReadingHeader, ReadingBody, AwaitingResponse, Closing };

    void fail(const QString &reason);
    void responseDone();
    void restartTimer();

    QTcpSocket *m_socket;
    QString m_peer;
    QString m_local;
    QByteArray m_buffer;
    HttpRequest m_request;
    State m_state = ReadingHeader;
    qint64 m_bodyRemaining = 0;
    bool m_responding = false;
    bool m_answered = true; // the previous request has had its full answer
    bool m_closeAfterResponse = false;
    qint64 m_responseRemaining = 0;
    bool m_paused = false;
    bool m_processing = false;
    bool m_closedSignalled = false;
    QTimer m_timer;

    static int s_count;
};

#endif
