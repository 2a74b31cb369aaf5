#ifndef NIMBORA_CORE_ACCOUNTREFRESHWORK_H
#define NIMBORA_CORE_ACCOUNTREFRESHWORK_H

#include "core/backgroundworker.h"

#include <QAuthenticator>
#include <QNetworkProxy>
#include <QString>

// Fetches the logged-in user's account description; the getters are read after finished().
class AccountRefreshWork : public BackgroundWorker
{
    Q_OBJECT

public:
    enum Error { NoError = 0, ServerError = 1, DeniedError = 2, UnknownError = 3 };
    Q_ENUM(Error)

    explicit AccountRefreshWork(QObject *parent = nullptr);

    QString username() const;
    QString subscription() const;
    QString bandwidth() const;
    quint16 ports() const;
    bool isPremium() const;

signals:
    void proxyAuthenticationRequired(const QNetworkProxy &proxy, QAuthenticator *authenticator);
    void error(AccountRefreshWork::Error error);

protected:
    void run() override;

private:
    QString m_username;
    QString m_subscription;
    QString m_bandwidth;
    quint16 m_ports = 0;
    bool m_premium = false;
};

#endif
