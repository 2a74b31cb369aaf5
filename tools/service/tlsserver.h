#ifndef NIMBORA_TOOLS_SERVICE_TLSSERVER_H
#define NIMBORA_TOOLS_SERVICE_TLSSERVER_H

#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>

// A listener whose connections are QSslSockets in server mode, already told to encrypt.
class TlsServer : public QTcpServer
{
    Q_OBJECT

public:
    explicit TlsServer(QObject *parent = nullptr);

    // False, with a reason, when the files cannot be read or do not hold a certificate and key.
    bool loadCredentials(const QString &certificateFile, const QString &keyFile, QString *error);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    QSslCertificate m_certificate;
    QSslKey m_key;
};

#endif
