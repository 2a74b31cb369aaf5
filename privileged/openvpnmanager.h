#ifndef NIMBORA_PRIVILEGED_OPENVPNMANAGER_H
#define NIMBORA_PRIVILEGED_OPENVPNMANAGER_H

#include <QNetworkProxy>
#include <QObject>
#include <QString>

#include <memory>

#ifdef Q_OS_WIN
#include <QTcpServer>
#include <QTcpSocket>
#else
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>
#endif

// The channel that OpenVPN connects to with --management-client: it answers the credential
// prompts and sends the few commands the controller gives. It takes one connection per listen
// and stops listening once it has it. On Linux it is a Unix socket in a directory of its own
// that only this program's user can enter, and only the OpenVPN child itself is taken: any other
// process that gets there first is dropped, so that it can neither prompt for the credentials
// nor take the channel over. Windows listens on 127.0.0.1 and takes only the OpenVPN child,
// found by the TCP table.
class OpenVPNManager : public QObject
{
    Q_OBJECT

public:
    explicit OpenVPNManager(QObject *parent = nullptr);

    void setUsername(const QString &username) { m_username = username; }
    void setPassword(const QString &password) { m_password = password; }
    void setProxy(const QNetworkProxy &proxy) { m_proxy = proxy; }
    // The process id of the only peer taken (the OpenVPN child). 0 takes any process of this
    // program's user on Linux, and nobody on Windows, where the TCP table tells no user.
    void setPeerProcessId(qint64 processId) { m_peerProcessId = processId; }

    // Opens a fresh channel, closing the one before.
    bool listen();
    bool isListening() const;
    // Where OpenVPN connects: Linux, the socket's path; Windows, the address (with serverPort()).
    QString serverName() const;
    quint16 serverPort() const;

    // Ends the management connection (OpenVPN then ends) and the listener; blocks up to
    // CloseTimeout for the disconnection.
    void closeConnection();

    // One command line ("signal SIGUSR1") to OpenVPN; its answer is logged. False, logged, when
    // no OpenVPN is connected or the command is not one short line.
    bool sendCommand(const QByteArray &command);

    static constexpr int CloseTimeout = 5000;
    static constexpr int MaximumCommandLength = 64;
    static constexpr int MaximumAnswerLength = 200;

signals:
    void log(const QString &line);

private slots:
    void takeConnections();
    void socketReadyRead();

private:
    void closeListener();
    void logCommandAnswers(const QByteArray &received);
    // Asks the peer to close its end and gives it CloseTimeout to do so.
    void waitForPeerToLeave();
    bool isPeerAccepted(qintptr socketDescriptor);

    QString m_username;
    QString m_password;
    QNetworkProxy m_proxy;
    qint64 m_peerProcessId = 0;
    // Commands sent whose SUCCESS or ERROR line has not come yet.
    int m_commandsWaiting = 0;
#ifdef Q_OS_WIN
    QTcpServer m_server;
    QTcpSocket *m_connection = nullptr;
#else
    QLocalServer m_server;
    std::unique_ptr<QTemporaryDir> m_directory;
    QLocalSocket *m_connection = nullptr;
#endif
};

#endif
