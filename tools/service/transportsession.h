#ifndef NIMBORA_TOOLS_SERVICE_TRANSPORTSESSION_H
#define NIMBORA_TOOLS_SERVICE_TRANSPORTSESSION_H

#include "tools/service/httpconnection.h"
#include "tools/service/multipartstripper.h"
#include "tools/service/serviceconfig.h"

#include <QObject>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

// The server end of one client's HTTP transport: the download and upload channels that carry
// the same "session" cookie, and the one TCP connection to the OpenVPN server behind them.
// Downstream bytes become GET response bodies; POST bodies, stripped of their multipart
// wrapping, go upstream.
class TransportSession : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 WriteHighWater = 1024 * 1024;
    static constexpr int PollTimeout = 25000;
    static constexpr int IdleTimeout = 120000;
    static constexpr qint64 StreamLength = 4 * 1024 * 1024; // announced by a streamed download

    TransportSession(const QString &session, const ServiceConfig::Endpoint &endpoint, QObject *parent = nullptr);
    ~TransportSession() override;

    QString session() const { return m_session; }

    void download(HttpConnection *connection, bool first);
    // Ends the session: its channels and its OpenVPN connection are closed, finished() follows.
    void close();
    // The caller has checked that the wrapping sizes fit the body.
    void beginUpload(HttpConnection *connection, qint64 before, qint64 after);

signals:
    void finished(TransportSession *session);

private slots:
    void openvpnConnected();
    void openvpnReadyRead();
    void openvpnBytesWritten();
    void openvpnGone();
    void uploadBody(HttpConnection *connection, const QByteArray &bytes);
    void uploadFinished(HttpConnection *connection);
    void downloadBytesWritten(HttpConnection *connection);
    void channelClosed(HttpConnection *connection);
    void pollExpired();
    void idleExpired();

private:
    void pump();
    void answerPending(int status);

    QString m_session;
    const ServiceConfig::Endpoint &m_endpoint;
    QTcpSocket m_openvpn;
    QPointer<HttpConnection> m_download;
    bool m_downloadFirst = false;
    QPointer<HttpConnection> m_upload;
    MultipartStripper m_stripper;
    QTimer m_poll;
    QTimer m_idle;
    bool m_finished = false;
};

#endif
