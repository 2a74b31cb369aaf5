#ifndef NIMBORA_UI_NETWORKCHECKWORK_H
#define NIMBORA_UI_NETWORKCHECKWORK_H

#include "core/backgroundworker.h"

#include <QAuthenticator>
#include <QNetworkProxy>
#include <QString>

class MainServerAccess;

// Tries each proxy mode with each name of the main server, sending "check" with the settings
// set to that combination, and stops at the first one that answers. The settings are left at the
// combination tried last; keeping or restoring them is the caller's choice.
class NetworkCheckWork : public BackgroundWorker
{
    Q_OBJECT

public:
    enum LogLevel { Normal = 0, Success = 1, Failure = 2 };
    Q_ENUM(LogLevel)

    explicit NetworkCheckWork(QObject *parent = nullptr);

    bool found() const;

signals:
    // HTML at every level; what comes from the network in it is escaped.
    void log(const QString &text, NetworkCheckWork::LogLevel level);
    void proxyAuthenticationRequired(const QNetworkProxy &proxy, QAuthenticator *authenticator);

protected:
    void run() override;

private:
    struct ServerName
    {
        QString label;
        QString address;
    };

    QList<ServerName> serverNames(const QString &currentDomain) const;
    bool selectProxyMode(const QString &mode) const;
    bool tryServer(MainServerAccess &access, const QString &modeLabel, const ServerName &name);

    bool m_found = false;
};

#endif
