#ifndef NIMBORA_UI_AUTHENTICATION_H
#define NIMBORA_UI_AUTHENTICATION_H

#include "core/authenticationwork.h"

#include <QDialog>

class QAbstractButton;
class QAuthenticator;
class QMessageBox;
class QNetworkProxy;

namespace Ui {
class Authentication;
}

// The login dialog: takes the user name and password, logs in on its own thread and hands over
// to the main window. With automatic login it logs in without being shown, and shows itself
// only when that login fails.
class Authentication : public QDialog
{
    Q_OBJECT

public:
    explicit Authentication(QWidget *parent = nullptr);
    ~Authentication() override;

public slots:
    void show();
    void on_newAccountPushButton_clicked();
    void on_loginPushButton_clicked();
    void displayOptions();
    void error(AuthenticationWork::Error error);
    void proxyAuthenticationRequired(const QNetworkProxy &proxy, QAuthenticator *authenticator);
    void finished();

protected:
    void changeEvent(QEvent *event) override;

    // The windows and pages the dialog leads to, and the box it asks with; tests override them.
    virtual QAbstractButton *execMessageBox(QMessageBox *box);
    virtual void openMainWindow();
    virtual void openOptions(int page);
    virtual void openUrl(const QUrl &url);
    virtual void execProxyAuthentication(const QNetworkProxy &proxy, QAuthenticator *authenticator);

private:
    Ui::Authentication *m_ui;
    AuthenticationWork m_work;
};

#endif
