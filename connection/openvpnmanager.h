#ifndef NIMBORA_CONNECTION_OPENVPNMANAGER_H
#define NIMBORA_CONNECTION_OPENVPNMANAGER_H

#include <QNetworkProxy>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

// The listener that OpenVPN connects to with --management-client: it answers the credential
// prompts and nothing else. It takes one connection per listen and stops listening once it has
// it, so that no other local program can take the channel over and prompt for the credentials.
class OpenVPNManager : public QTcpServer
{
    Q_OBJECT

public:
    explicit OpenVPNManager(QObject *parent = nullptr);

    void setUsername(const QString &username) { m_username = username; }
    void setPassword(const QString &password) { m_password = password; }
    void setProxy(const QNetworkProxy &proxy) { m_proxy = proxy; }

    // Ends the management connection (OpenVPN then ends) and the listener; blocks up to
    // CloseTimeout for the disconnection.
    void closeConnection();

    static constexpr int CloseTimeout = 5000;

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private slots:
    void socketReadyRead();
    void socketError(QAbstractSocket::SocketError socketError);
    void socketDisconnected();

private:
    QTcpSocket m_socket;
    QString m_username;
    QString m_password;
    QNetworkProxy m_proxy;
};

#endif
