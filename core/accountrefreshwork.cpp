#include "core/accountrefreshwork.h"

#include "base/globalvalues.h"
#include "core/mainserveraccess.h"

AccountRefreshWork::AccountRefreshWork(QObject *parent) : BackgroundWorker(parent)
{
    qRegisterMetaType<AccountRefreshWork::Error>("AccountRefreshWork::Error");
}

QString AccountRefreshWork::username() const
{
    return m_username;
}

QString AccountRefreshWork::subscription() const
{
    return m_subscription;
}

QString AccountRefreshWork::bandwidth() const
{
    return m_bandwidth;
}

quint16 AccountRefreshWork::ports() const
{
    return m_ports;
}

bool AccountRefreshWork::isPremium() const
{
    return m_premium;
}

void AccountRefreshWork::run()
{
    const QString session = GlobalValues::value(GlobalValues::Session).toString();

    MainServerAccess access;
    connect(&access, &MainServerAccess::proxyAuthenticationRequired, this,
        &AccountRefreshWork::proxyAuthenticationRequired, Qt::DirectConnection);
    const QDomElement root = access.request(MainServerAccess::Account, QLatin1String("session=") + session);
    if (access.error() != QNetworkReply::NoError) {
        emit error(ServerError);
        return;
    }

    const QString code = root.firstChildElement(QStringLiteral("code")).text();
    if (code == QLatin1String("DENIED")) {
        emit error(DeniedError);
        return;
    }
    if (code != QLatin1String("OK")) {
        emit error(UnknownError);
        return;
    }

    m_username = root.firstChildElement(QStringLiteral("username")).text();
    m_subscription = root.firstChildElement(QStringLiteral("subscription")).text();
    m_bandwidth = root.firstChildElement(QStringLiteral("bandwidth")).text();
    m_ports = root.firstChildElement(QStringLiteral("ports")).text().toUShort();
    m_premium = root.firstChildElement(QStringLiteral("premium")).text() == QLatin1String("1");
}
