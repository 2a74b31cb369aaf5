#include "core/accountrefreshwork.h"

#include "base/globalvalues.h"
#include "core/mainservercall.h"

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
    const MainServerReply reply = MainServerCall::call(this, &AccountRefreshWork::proxyAuthenticationRequired,
        MainServerAccess::Account, { { QStringLiteral("session"), session } });
    switch (reply.status) {
    case MainServerReply::NoReply:
        emit error(ServerError);
        return;
    case MainServerReply::Denied:
        emit error(DeniedError);
        return;
    case MainServerReply::OtherCode:
        emit error(UnknownError);
        return;
    case MainServerReply::Ok:
        break;
    }

    const QDomElement &root = reply.root;

    m_username = root.firstChildElement(QStringLiteral("username")).text();
    m_subscription = root.firstChildElement(QStringLiteral("subscription")).text();
    m_bandwidth = root.firstChildElement(QStringLiteral("bandwidth")).text();
    m_ports = root.firstChildElement(QStringLiteral("ports")).text().toUShort();
    m_premium = root.firstChildElement(QStringLiteral("premium")).text() == QLatin1String("1");
}
