#ifndef NIMBORA_CORE_AUTHENTICATIONWORK_H
#define NIMBORA_CORE_AUTHENTICATIONWORK_H

#include "core/backgroundworker.h"

#include <QAuthenticator>
#include <QNetworkProxy>
#include <QString>

// Logs the user in: exchanges the user name and password digest for a session token, and
// remembers the login for the next start.
class AuthenticationWork : public BackgroundWorker
{
    Q_OBJECT

public:
    enum Error { NoError = 0, ServerError = 1, DeniedError = 2, FailedError = 3 };
    Q_ENUM(Error)

    explicit AuthenticationWork(QObject *parent = nullptr);

    void setUsername(const QString &username);
    // The digest to send (see md5Hex), or the stored one for an automatic login.
    void setPassword(const QString &password);
    void setAutoLogin(bool autoLogin);

signals:
    void proxyAuthenticationRequired(const QNetworkProxy &proxy, QAuthenticator *authenticator);
    void error(AuthenticationWork::Error error);

protected:
    void run() override;

private:
    QString m_username;
    QString m_password;
    bool m_autoLogin = false;
};

#endif
