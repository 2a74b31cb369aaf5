#include "core/authenticationwork.h"

#include "base/globalvalues.h"
#include "base/settingskeys.h"
#include "buildconfig.h"
#include "core/mainserveraccess.h"

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

    MainServerAccess access;
    connect(&access, &MainServerAccess::proxyAuthenticationRequired, this,
        &AuthenticationWork::proxyAuthenticationRequired, Qt::DirectConnection);

    const QString query = QLatin1String("username=") + m_username + QLatin1String("&password=") + m_password
        + QLatin1String("&version=") + QLatin1String(NIMBORA_VERSION);
    const QDomElement root = access.request(MainServerAccess::Login, query);
    if (access.error() != QNetworkReply::NoError) {
        emit error(ServerError);
        return;
    }

    const QString code = root.firstChildElement(QStringLiteral("code")).text();
    const QString session = root.firstChildElement(QStringLiteral("session")).text();
    if (code == QLatin1String("FAILED")) {
        emit error(FailedError);
        return;
    }
    if (code == QLatin1String("DENIED")) {
        emit error(DeniedError);
        return;
    }
    if (code != QLatin1String("OK")) {
        emit error(ServerError);
        return;
    }

    GlobalValues::setValue(GlobalValues::Session, session);
    QSettings settings;
    settings.setValue(SettingsKeys::AuthenticationUsername, m_username);
    settings.setValue(SettingsKeys::AuthenticationPassword, m_autoLogin ? m_password : QString());
    settings.setValue(SettingsKeys::AuthenticationAutoLogin, m_autoLogin);
    setProgress(100);
}
