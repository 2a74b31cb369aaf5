#ifndef NIMBORA_TESTS_E2E_HTTPTRANSPORTRELAY_H
#define NIMBORA_TESTS_E2E_HTTPTRANSPORTRELAY_H

#include <QByteArray>
#include <QHash>
#include <QTcpServer>
#include <QTcpSocket>

// The client end of the HTTP transport, reduced to what the end-to-end test needs to drive the
// stand-in's server end with a real OpenVPN: OpenVPN connects here, its bytes go up as POST
// bodies (one per burst, or one long multipart upload) and come down as GET response bodies.
class HttpTransportRelay : public QTcpServer
{
    Q_OBJECT

public:
    enum Upload { Burst, Multipart };

    HttpTransportRelay(
        const QString &host, quint16 port, const QByteArray &session, Upload upload, QObject *parent = nullptr);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private slots:
    void clientReadyRead();
    void downloadConnected();
    void downloadReadyRead();
    void downloadDisconnected();
    void uploadReadyRead();
    void uploadDisconnected();

private:
    struct Response
    {
        QByteArray header; // empty until complete
        QHash<QByteArray, QByteArray> fields;
        qint64 remaining = 0;
        bool close = false;
    };

    // Consumes bytes of a response; returns body bytes and tells when the response is complete.
    static QByteArray parse(QByteArray &buffer, Response *response, bool *complete, bool *failed);
    QByteArray requestHead(const QByteArray &method, const QByteArray &path, const QByteArray &extra) const;
    static QByteArray randomName(int length);
    void fail(const QString &why);

    QString m_host;
    quint16 m_port;
    QHostAddress m_address; // of the server, once reached: every later connection goes there
    QByteArray m_session;
    Upload m_upload;
    QTcpSocket *m_client = nullptr;
    QTcpSocket m_download;
    QTcpSocket m_uploadSocket;
    QByteArray m_downloadBuffer;
    QByteArray m_uploadBuffer;
    Response m_downloadResponse;
    Response m_uploadResponse;
    bool m_first = true;
    bool m_reconnectDownload = false;
    bool m_uploadWaiting = false;
    qint64 m_uploadRemaining = 0; // body bytes still to send in the POST under way
    QByteArray m_after;
};

#endif
