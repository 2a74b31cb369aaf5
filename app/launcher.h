#ifndef NIMBORA_APP_LAUNCHER_H
#define NIMBORA_APP_LAUNCHER_H

#include "app/launcherworker.h"

#include <QSplashScreen>
#include <QThread>

class QAbstractButton;
class QAuthenticator;
class QMessageBox;
class QNetworkProxy;

namespace Ui {
class Launcher;
}

// The splash window shown while the start-up checks run on their own thread. It shows their
// progress, hands over to the login dialog, or explains a failure and offers the way out.
class Launcher : public QSplashScreen
{
    Q_OBJECT

public:
    enum OptionsPage { GeneralPage = 0, ConnectionPage = 1 };

    Launcher();
    ~Launcher() override;

    LauncherWorker *worker() const;

public slots:
    void launcherWorkerStateChanged(LauncherWorker::State state);
    void launcherWorkerProgressChanged(quint8 progress);
    void launcherWorkerProxyAuthenticationRequired(const QNetworkProxy &proxy, QAuthenticator *authenticator);

protected:
    void changeEvent(QEvent *event) override;
    // The windows the launcher leads to, and the message box it asks with. Tests override them
    // to answer boxes and record which window would open.
    virtual QAbstractButton *execMessageBox(QMessageBox *box);
    virtual void openAuthentication();
    virtual void openNetworkCheck();
    virtual void openOptions(OptionsPage page);
    virtual void openProxyAuthentication(const QNetworkProxy &proxy, QAuthenticator *authenticator);
    virtual void openDownloadPage();
    virtual void quitApplication();

private:
    void runChecksAgain();
    void showErrorBox(int error);
    void showServerErrorBox(QMessageBox *box);
    void showMandatoryUpdateBox(QMessageBox *box);
    void showOptionalUpdateBox(QMessageBox *box);
    void showRetryOrQuitBox(QMessageBox *box);
    void continueAfterOptionalUpdate();
    void waitForWorkerRunEnd();
    void workerRunEnded();

    Ui::Launcher *m_ui;
    LauncherWorker *m_worker;
    QThread m_workerThread;
};

#endif
