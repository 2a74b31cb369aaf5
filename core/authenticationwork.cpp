#include "core/authenticationwork.h"

#include "base/globalvalues.h"
#include "base/settingskeys.h"
#include "buildconfig.h"
#include "core/mainservercall.h"

#include <QSettings>

AuthenticationWork::AuthenticationWork(QObject *parent) : BackgroundWorker(parent)
{
    qRegisterMetaType<AuthenticationWork::Error>("AuthenticationWork::Error");
}

void AuthenticationWork::setUsername(const QString &username)
{
    m_username = username;
}

void AuthenticationWork::setPassword(const QString &password)
{
    m_password = password;
}

void AuthenticationWork::setAutoLogin(bool autoLogin)
{
    m_autoLogin = autoLogin;
}

void AuthenticationWork::run()
{
    // Whatever happens next, a failed attempt leaves automatic login off.
    {
        QSettings settings;
        settings.remove(SettingsKeys::AuthenticationPassword);
        settings.remove(SettingsKeys::AuthenticationAutoLogin);
    }

    const MainServerReply reply
        = MainServerCall::call(this, &AuthenticationWork::proxyAuthenticationRequired, MainServerAccess::Login,
            { { QStringLiteral("username"), m_username }, { QStringLiteral("password"), m_password },
                { QStringLiteral("version"), QStringLiteral(NIMBORA_VERSION) } });
    switch (reply.status) {
    case MainServerReply::NoReply:
        emit error(ServerError);
        return;
    case MainServerReply::Denied:
        emit error(DeniedError);
        return;
    case MainServerReply::OtherCode:
        emit error(reply.code == QLatin1String("FAILED") ? FailedError : ServerError);
        return;
    case MainServerReply::Ok:
        break;
    }

    const QString session = reply.root.firstChildElement(QStringLiteral("session")).text();

    GlobalValues::setValue(GlobalValues::Session, session);
    QSettings settings;
    settings.setValue(SettingsKeys::AuthenticationUsername, m_username);
    settings.setValue(SettingsKeys::AuthenticationPassword, m_autoLogin ? m_password : QString());
    settings.setValue(SettingsKeys::AuthenticationAutoLogin, m_autoLogin);
    setProgress(100);
}
