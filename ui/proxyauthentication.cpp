#include "ui/proxyauthentication.h"

#include "base/globalvalues.h"
#include "base/settingskeys.h"
#include "ui_proxyauthentication.h"

#include <QAuthenticator>
#include <QEvent>
#include <QNetworkProxy>
#include <QSettings>

ProxyAuthentication::ProxyAuthentication(QWidget *parent, Qt::WindowFlags flags)
    : QDialog(parent, flags), m_ui(new Ui::ProxyAuthentication)
{
    m_ui->setupUi(this);
    m_ui->usernameLineEdit->setText(GlobalValues::value(GlobalValues::ProxyUsername).toString());
    m_ui->passwordLineEdit->setText(GlobalValues::value(GlobalValues::ProxyPassword).toString());
    m_ui->autoAuthCheckBox->setChecked(
        QSettings().value(SettingsKeys::ProxyAutoAuth, SettingsKeys::ProxyAutoAuthDefault).toBool());
}

ProxyAuthentication::~ProxyAuthentication()
{
    delete m_ui;
}

void ProxyAuthentication::setProxy(const QNetworkProxy &proxy)
{
    m_ui->addressLabel->setText(proxy.hostName() + QLatin1Char(':') + QString::number(proxy.port()));
}

void ProxyAuthentication::setAuthenticator(QAuthenticator *authenticator)
{
    m_authenticator = authenticator;
    m_ui->realmLabel->setText(authenticator ? authenticator->realm() : QString());
}

// Credentials go exactly as typed: a proxy password may well begin or end with a space.
void ProxyAuthentication::accept()
{
    const QString username = m_ui->usernameLineEdit->text();
    const QString password = m_ui->passwordLineEdit->text();
    GlobalValues::setValue(GlobalValues::ProxyUsername, username);
    GlobalValues::setValue(GlobalValues::ProxyPassword, password);
    storeCredentials(username, password);
    if (m_authenticator) {
        m_authenticator->setUser(username);
        m_authenticator->setPassword(password);
    }
    QDialog::accept();
}

// Without automatic answers nothing of the credentials may stay behind in the store.
void ProxyAuthentication::storeCredentials(const QString &username, const QString &password)
{
    QSettings settings;
    if (m_ui->autoAuthCheckBox->isChecked()) {
        settings.setValue(SettingsKeys::ProxyAutoAuth, true);
        settings.setValue(SettingsKeys::ProxyUsername, username);
        settings.setValue(SettingsKeys::ProxyPassword, password);
    } else {
        settings.setValue(SettingsKeys::ProxyAutoAuth, false);
        settings.remove(SettingsKeys::ProxyUsername);
        settings.remove(SettingsKeys::ProxyPassword);
    }
}

void ProxyAuthentication::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange)
        m_ui->retranslateUi(this);
    QDialog::changeEvent(event);
}
