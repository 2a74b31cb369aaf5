#ifndef NIMBORA_UI_NETWORKCHECK_H
#define NIMBORA_UI_NETWORKCHECK_H

#include "ui/networkcheckwork.h"

#include <QDialog>
#include <QString>

class QAuthenticator;
class QCloseEvent;
class QHBoxLayout;
class QNetworkProxy;
class QPushButton;
class QTextEdit;
class QVBoxLayout;

// The connection diagnostic: runs the network check, shows its attempts and lets the user keep
// the first combination that reached the main server. Any other way out puts back the main
// server's address, security and proxy mode as they were before the run.
class NetworkCheck : public QDialog
{
    Q_OBJECT

public:
    explicit NetworkCheck(QWidget *parent = nullptr);
    ~NetworkCheck() override;

signals:
    void proxyAuthenticationRequired(const QNetworkProxy &proxy, QAuthenticator *authenticator);

public slots:
    void on_cancelPushButton_clicked();
    void on_mainPushButton_clicked();
    void log(const QString &text, NetworkCheckWork::LogLevel level);
    void finished();
    void reject() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    enum State { Ready = 0, Found = 1, NothingFound = 2 };

    void buildWidgets();
    void start();
    void restoreUnlessKept();

    QVBoxLayout *m_verticalLayout;
    QTextEdit *m_textEdit;
    QHBoxLayout *m_horizontalLayout;
    QPushButton *m_cancelPushButton;
    QPushButton *m_mainPushButton;

    int m_state = Ready;
    NetworkCheckWork m_work;
    bool m_keep = false;
    bool m_saved = false;
    QString m_savedMainServerAddress;
    bool m_savedMainServerSecure = true;
    QString m_savedProxy;
};

#endif
