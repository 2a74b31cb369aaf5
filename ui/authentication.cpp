#include "ui/authentication.h"

#include "base/settingskeys.h"
#include "buildconfig.h"
#include "core/md5.h"
#include "ui/mainwindow.h"
#include "ui/options.h"
#include "ui/proxyauthentication.h"
#include "ui_authentication.h"

#include <QDesktopServices>
#include <QEvent>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QUrl>

namespace {
constexpr int ConnectionPage = 1;
}

Authentication::Authentication(QWidget *parent) : QDialog(parent), m_ui(new Ui::Authentication)
{
    m_ui->setupUi(this);
    const QString username = QSettings().value(QLatin1String(SettingsKeys::AuthenticationUsername)).toString();
    if (!username.isEmpty()) {
        m_ui->usernameLineEdit->setText(username);
        m_ui->passwordLineEdit->setFocus();
    }
    setFixedSize(minimumSizeHint());
    connect(&m_work, &AuthenticationWork::error, this, &Authentication::error, Qt::BlockingQueuedConnection);
    connect(&m_work, &AuthenticationWork::proxyAuthenticationRequired, this,
        &Authentication::proxyAuthenticationRequired, Qt::BlockingQueuedConnection);
    connect(&m_work, &QThread::finished, this, &Authentication::finished);
}

Authentication::~Authentication()
{
    m_work.wait();
    delete m_ui;
}

void Authentication::show()
{
    if (QSettings()
            .value(QLatin1String(SettingsKeys::AuthenticationAutoLogin), SettingsKeys::AuthenticationAutoLoginDefault)
            .toBool()) {
        // Nothing is on screen while the login runs: that must not end the program.
        QGuiApplication::setQuitOnLastWindowClosed(false);
        m_ui->autoLoginCheckBox->setChecked(true);
        m_ui->loginPushButton->click();
        return;
    }
    // Shown, the dialog is the program: closing it ends it.
    QGuiApplication::setQuitOnLastWindowClosed(true);
    QWidget::show();
}

void Authentication::on_newAccountPushButton_clicked()
{
    openUrl(QUrl(QStringLiteral("http://%1/account/register").arg(QLatin1String(NIMBORA_ORGANIZATION_DOMAIN))));
}

void Authentication::on_loginPushButton_clicked()
{
    m_ui->loginFrame->setEnabled(false);
    m_ui->loginPushButton->setText(tr("Patientez..."));
    QSettings settings;
    const QString storedPassword = settings.value(QLatin1String(SettingsKeys::AuthenticationPassword)).toString();
    const bool autoLogin
        = settings
              .value(QLatin1String(SettingsKeys::AuthenticationAutoLogin), SettingsKeys::AuthenticationAutoLoginDefault)
              .toBool();
    m_work.setUsername(m_ui->usernameLineEdit->text());
    // The main server never sees what was typed, only its digest, which is also what is stored.
    m_work.setPassword(autoLogin ? storedPassword : md5Hex(m_ui->passwordLineEdit->text()));
    m_work.setAutoLogin(m_ui->autoLoginCheckBox->isChecked());
    m_work.start(QThread::InheritPriority);
}

void Authentication::displayOptions()
{
    openOptions(0);
}

void Authentication::error(AuthenticationWork::Error error)
{
    // The work has removed the automatic login: this shows the dialog.
    show();
    QMessageBox box(this);
    box.setIcon(QMessageBox::Critical);
    switch (error) {
    case AuthenticationWork::ServerError: {
        box.setWindowTitle(tr("Impossible de contacter le serveur principal"));
        box.setText(tr("Impossible de contacter le serveur principal. Vérifiez que vous êtes bien connecté à Internet "
                       "et que vos paramètres de connexion sont valides."));
        box.setStandardButtons(QMessageBox::Cancel);
        QPushButton *settingsButton
            = box.addButton(tr("Modifier les paramètres de connexion"), QMessageBox::AcceptRole);
        if (execMessageBox(&box) == settingsButton)
            openOptions(ConnectionPage);
        break;
    }
    case AuthenticationWork::DeniedError:
        box.setWindowTitle(tr("Erreur d'authentification"));
        box.setText(tr("Les identifiants que vous avez entrés sont incorrects. Vérifiez que votre compte a bien été "
                       "créé et validé."));
        box.setStandardButtons(QMessageBox::Ok);
        execMessageBox(&box);
        break;
    default:
        break;
    }
}

void Authentication::proxyAuthenticationRequired(const QNetworkProxy &proxy, QAuthenticator *authenticator)
{
    execProxyAuthentication(proxy, authenticator);
}

void Authentication::finished()
{
    if (m_work.progress() == 100) {
        openMainWindow();
        close();
        return;
    }
    m_ui->loginPushButton->setText(tr("LOGIN >>"));
    m_ui->loginFrame->setEnabled(true);
    m_ui->passwordLineEdit->setFocus();
    m_ui->passwordLineEdit->selectAll();
}

void Authentication::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange)
        m_ui->retranslateUi(this);
    QDialog::changeEvent(event);
}

QAbstractButton *Authentication::execMessageBox(QMessageBox *box)
{
    box->exec();
    return box->clickedButton();
}

void Authentication::openMainWindow()
{
    auto *mainWindow = new MainWindow;
    mainWindow->show();
}

void Authentication::openOptions(int page)
{
    Options options(this);
    options.setPage(page);
    options.exec();
}

void Authentication::openUrl(const QUrl &url)
{
    QDesktopServices::openUrl(url);
}

void Authentication::execProxyAuthentication(const QNetworkProxy &proxy, QAuthenticator *authenticator)
{
    ProxyAuthentication dialog(this);
    dialog.setProxy(proxy);
    dialog.setAuthenticator(authenticator);
    dialog.exec();
}
