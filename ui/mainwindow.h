#ifndef NIMBORA_UI_MAINWINDOW_H
#define NIMBORA_UI_MAINWINDOW_H

#include "connection/connectionwork.h"
#include "privileged/openvpn.h"
#include "core/accountrefreshwork.h"
#include "core/serversrefreshwork.h"
#include "upnp/upnpservice.h"

#include <QHash>
#include <QList>
#include <QModelIndex>
#include <QString>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QVariant>
#include <QWidget>

#include <memory>

class PortMappingTableModel;
class QAbstractButton;
class QEventLoopLocker;
class QAction;
class QAuthenticator;
class QMenu;
class QMessageBox;
class Options;
class QNetworkProxy;
class QUrl;
class ServersTreeItem;
class ServersTreeModel;

namespace Ui {
class MainWindow;
}

// The window of a logged-in user and the owner of the works that run after login: the account
// and server list refreshes and the connection. It turns their reports into the tabs' contents
// and every error into a message, connects, disconnects and reconnects, lives on in the
// notification area, and decides when the program really ends.
class MainWindow : public QWidget
{
    Q_OBJECT

public:
    enum OptionsPage { CurrentOptionsPage = -1, ConnectionOptionsPage = 1 };

    // The works the window owns. A null member is made here; tests hand in scripted ones.
    struct Works
    {
        ConnectionWork *connection = nullptr;
        AccountRefreshWork *accountRefresh = nullptr;
        ServersRefreshWork *serversRefresh = nullptr;
    };

    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

public slots:
    void show();
    bool terminate();
    // The program is asked to end (a signal of the system): disconnect without asking, then quit.
    void shutDown();
    void retranslate();
    void on_connectionPushButton_clicked();
    void on_unblockPushButton_clicked();
    void on_accountSubscriptionsPushButton_clicked();
    void on_accountRefreshPushButton_clicked();
    void on_accountLogoutPushButton_clicked();
    void on_serversTreeView_activated(const QModelIndex &index);
    void serversTreeViewCurrentChanged(const QModelIndex &current, const QModelIndex &previous);
    void on_serversRefreshPushButton_clicked();
    void on_serversProtocolComboBox_currentIndexChanged(int index);
    void on_serversTunnelSettingsPushButton_clicked();
    void portMappingTableViewCurrentRowChanged(const QModelIndex &current, const QModelIndex &previous);
    void on_portMappingAddPushButton_clicked();
    void on_portMappingDeletePushButton_clicked();
    void on_portMappingRetryPushButton_clicked();
    void portMappingChanged(QList<QHash<QString, QVariant>> entries);
    void upnpError(UPnPService::Error error);
    void systemTrayIconActivated(QSystemTrayIcon::ActivationReason reason);
    void displayOptions();
    void accountRefreshError(AccountRefreshWork::Error error);
    void serversRefreshError(ServersRefreshWork::Error error);
    void connectionError(ConnectionWork::Error error);
    void openvpnError(OpenVPN::Error error);
    void accountRefreshFinished();
    void serversRefreshUpdated();
    void serversRefreshLatencyChanged(const QString &name, int latency);
    void serversRefreshFinished();
    void connected();
    void disconnected();
    void proxyAuthenticationRequired(const QNetworkProxy &proxy, QAuthenticator *authenticator);

protected:
    // Works given here are owned by the window from now on.
    MainWindow(const Works &works, QWidget *parent);

    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

    // The connection work's own state; tests with a scripted work answer for it.
    virtual bool isConnected() const;
    // The block a run left on the machine, and the one found or lifted between runs (the privileged side's);
    // tests answer for them.
    virtual bool runLeftTrafficBlocked() const;
    virtual bool isTrafficBlockInPlace() const;
    // False, with the reason, when the block stays.
    virtual bool liftTrafficBlock(QString *errorString);

    // Every box, dialog and page the window opens goes through these, so that tests can answer
    // them instead of clicking blind.
    virtual QAbstractButton *execMessageBox(QMessageBox *box);
    // The chosen text, or an empty one when the choice was cancelled.
    virtual QString execItemChoice(const QString &title, const QString &label, const QStringList &items, int current);
    virtual void execProxyAuthentication(const QNetworkProxy &proxy, QAuthenticator *authenticator);
    virtual void execTunnelSettings(int protocol);
    // The mapping entered, or an empty one when the dialog was cancelled.
    virtual QHash<QString, QVariant> execAddPortMapping();
    virtual void openOptions(int page);
    virtual void openAuthentication();
    virtual void openUrl(const QUrl &url);

    const QSystemTrayIcon &trayIcon() const { return m_trayIcon; }

private:
    enum ConnectionState { Disconnected, Connecting, Connected, Disconnecting };

    void setUpProtocols();
    void setUpPortMappings();
    void loadSavedPortMappings();
    void centerOnScreen();
    void setUpTrayMenu();
    void makeConnections();
    void registerWithApplication(QObject *mainWindow);

    void enterState(ConnectionState state);
    void startConnection(const QHash<QString, QVariant> &server, int protocol);
    int selectedProtocol() const;
    ServersTreeItem *currentNode() const;
    void appendLog(const QString &line);
    void fitToContents();

    void showBlockLeftEarlier();
    bool trafficBlockedAfterRun() const;
    void setTrafficBlocked(bool blocked);
    void showTrafficBlock();

    void showAccount();
    void rebuildServers();
    void attachLoadBars(const QModelIndex &parent);
    void collectExpanded(const QModelIndex &parent, QStringList *names) const;
    void restoreTreeState(const QModelIndex &parent, const QStringList &expanded, const QString &current);
    void holdForAutoConnect();
    void releaseAfterAutoConnect();
    void forgoAutoConnect();

    QHash<QString, QVariant> currentPortMapping() const;
    bool portsExhausted();
    bool gatewayReachable() const;
    void invokeAddPortMapping(const QHash<QString, QVariant> &entry);
    void invokeDeletePortMapping(const QHash<QString, QVariant> &entry);
    void selectPortMappingRow(int row);
    void restoreSavedPortMappings(int receivedCount);

    bool anyWorkRunning() const;
    bool refreshWorkRunning() const;
    // A quit or a logout asked for while a refresh ran goes ahead once it has ended; true when one did.
    bool takePendingQuitOrLogout();
    bool quitWhenIdle();
    bool closeAndQuit();
    // False when the user keeps the connection.
    bool stopConnection(bool ask);
    void retire();
    void savePreferences();

    void showCritical(const QString &title, const QString &text);
    void showInformation(const QString &title, const QString &text);
    void showRefreshError(int error, bool loaded);
    void showServerError();
    void showSessionExpired();
    void chooseProxyAuthenticationMethod();

    Ui::MainWindow *m_ui;
    std::unique_ptr<ConnectionWork> m_connectionWork;
    std::unique_ptr<AccountRefreshWork> m_accountRefreshWork;
    std::unique_ptr<ServersRefreshWork> m_serversRefreshWork;
    ServersTreeModel *m_serversModel = nullptr;
    PortMappingTableModel *m_portMappingModel = nullptr;
    QSystemTrayIcon m_trayIcon;
    Options *m_options = nullptr;
    QMenu *m_trayMenu = nullptr;
    QAction *m_connectionAction = nullptr;
    QAction *m_optionsAction = nullptr;
    QAction *m_quitAction = nullptr;
    bool m_accountLoaded = false;
    bool m_serversLoaded = false;
    bool m_autoConnectDone = false;
    bool m_reconnectPending = false;
    bool m_switchPending = false;
    bool m_portMappingRestored = false;
    bool m_logoutPending = false;
    bool m_quitPending = false;
    // Logged out: the window goes once its works have ended, and the program stays for the next session.
    bool m_retiring = false;
    std::unique_ptr<QEventLoopLocker> m_quitLock;
    ConnectionState m_state = Disconnected;
    // Traffic outside the tunnel is blocked while no connection carries it.
    bool m_trafficBlocked = false;
    // The works' results as last read when each had ended, so that no read races a running work.
    quint16 m_availablePorts = 0;
    bool m_accountPremium = false;
    bool m_serversPremium = false;
};

#endif
