#ifndef NIMBORA_UI_PROXYAUTHENTICATION_H
#define NIMBORA_UI_PROXYAUTHENTICATION_H

#include <QDialog>

class QAuthenticator;
class QNetworkProxy;

namespace Ui {
class ProxyAuthentication;
}

// Answers a proxy's request for credentials on behalf of a waiting network request: fills its
// authenticator, keeps the credentials for the running program and, on request, in the settings.
class ProxyAuthentication : public QDialog
{
    Q_OBJECT

public:
    explicit ProxyAuthentication(QWidget *parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~ProxyAuthentication() override;

    void setProxy(const QNetworkProxy &proxy);
    void setAuthenticator(QAuthenticator *authenticator);

public slots:
    void accept() override;

protected:
    void changeEvent(QEvent *event) override;

private:
    void storeCredentials(const QString &username, const QString &password);

    Ui::ProxyAuthentication *m_ui;
    QAuthenticator *m_authenticator = nullptr;
};

#endif
