#include "ui/mainwindow.h"

#include "base/globalvalues.h"
#include "base/settingskeys.h"
#include "buildconfig.h"
#include "connection/trafficblock.h"
#include "ui/addportmapping.h"
#include "ui/authentication.h"
#include "ui/options.h"
#include "ui/portmappingtablemodel.h"
#include "ui/proxyauthentication.h"
#include "ui/serverstreeitem.h"
#include "ui/serverstreemodel.h"
#include "ui/tunnelsettings.h"

#include "ui_mainwindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QEventLoopLocker>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QTextCursor>
#include <QTimer>
#include <QUrl>

namespace {

using Entry = QHash<QString, QVariant>;

const char MainWindowProperty[] = "mainWindow";

// Older lines go first: a connection that runs for days must not grow the log without end.
const int MaximumLogLines = 10000;

const int AllProtocols = ConnectionWork::OpenVpnProtocol | ConnectionWork::HttpsProtocol | ConnectionWork::HttpProtocol;
const int PremiumTunnel = 2;

const QString FastestKey = QStringLiteral("fastest");
const QString ProtocolsKey = QStringLiteral("protocols");
const QString TypeKey = QStringLiteral("type");
const QString NameKey = QStringLiteral("name");
const QString BandwidthKey = QStringLiteral("bandwidth");
const QString SlotsKey = QStringLiteral("slots");
const QString StateKey = QStringLiteral("state");
const QString ExternalPortKey = QStringLiteral("externalPort");
const QString ProtocolKey = QStringLiteral("protocol");
const QString InternalPortKey = QStringLiteral("internalPort");
const QString DescriptionKey = QStringLiteral("description");

const QString Green = QStringLiteral("96, 214, 0");
const QString Orange = QStringLiteral("255, 170, 0");
const QString Red = QStringLiteral("255, 0, 0");

QString loadColour(int value, int orangeFrom, int redFrom)
{
    if (value >= redFrom)
        return Red;
    return value >= orangeFrom ? Orange : Green;
}

QWidget *loadBar(int value, const QString &colour, const QString &name)
{
    auto *container = new QWidget;
    auto *layout = new QHBoxLayout(container);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *bar = new QProgressBar;
    bar->setMaximumHeight(14);
    bar->setRange(0, 100);
    // A load above 100 % would be refused by the bar and leave it empty.
    bar->setValue(qBound(0, value, 100));
    bar->setFormat(QLatin1Char(' ') + name);
    bar->setStyleSheet(QStringLiteral("QProgressBar::chunk {\nbackground-color: rgb(") + colour
        + QStringLiteral(");\n}\n\nQProgressBar {\nborder:none;\nbackground-color:transparent;\n}\n"));
    layout->addWidget(bar);
    return container;
}

bool isUsableMapping(const Entry &entry)
{
    bool portIsNumber = false;
    entry.value(ExternalPortKey).toUInt(&portIsNumber);
    return portIsNumber && !entry.value(ProtocolKey).toString().isEmpty();
}

} // namespace

MainWindow::MainWindow(QWidget *parent) : MainWindow(Works(), parent) { }

MainWindow::MainWindow(const Works &works, QWidget *parent)
    : QWidget(parent),
      m_ui(new Ui::MainWindow),
      m_connectionWork(works.connection ? works.connection : new ConnectionWork),
      m_accountRefreshWork(works.accountRefresh ? works.accountRefresh : new AccountRefreshWork),
      m_serversRefreshWork(works.serversRefresh ? works.serversRefresh : new ServersRefreshWork)
{
    // Closing the window alone never ends the program: it lives on in the notification area.
    QGuiApplication::setQuitOnLastWindowClosed(false);

    m_ui->setupUi(this);
    m_ui->connectionProgressBar->hide();
    m_ui->blockedFrame->hide();
    m_ui->logTextEdit->document()->setMaximumBlockCount(MaximumLogLines);

    m_serversModel = new ServersTreeModel(this);
    m_ui->serversTreeView->setModel(m_serversModel);
    m_ui->serversTreeView->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_ui->serversTreeView->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);

    setUpProtocols();
    setUpPortMappings();
    loadSavedPortMappings();
    centerOnScreen();
    setUpTrayMenu();

    const int buttonHeight = m_ui->connectionPushButton->sizeHint().height();
    m_ui->connectionFrame->setMinimumHeight(buttonHeight);
    m_ui->optionsPushButton->setMinimumHeight(buttonHeight);
    m_ui->quitPushButton->setMinimumHeight(buttonHeight);

    retranslate();
    registerWithApplication(this);
    makeConnections();
    // Once constructed, so that the check is the one of the window's kind.
    QTimer::singleShot(0, this, &MainWindow::showBlockLeftEarlier);
}

MainWindow::~MainWindow()
{
    if (qApp->property(MainWindowProperty).value<QObject *>() == this)
        registerWithApplication(nullptr);

    // A work may be held in a blocking signal towards this window: dropping the pending calls
    // releases it, so that the waits below cannot hang.
    m_connectionWork->disconnect(this);
    m_accountRefreshWork->disconnect(this);
    m_serversRefreshWork->disconnect(this);
    QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
    m_connectionWork->stop();
    m_connectionWork->wait();
    m_accountRefreshWork->wait();
    m_serversRefreshWork->wait();

    delete m_ui;
}

void MainWindow::setUpProtocols()
{
    QComboBox *protocols = m_ui->serversProtocolComboBox;
    const QSignalBlocker blocker(protocols);
    protocols->addItem(QIcon(), QStringLiteral("OpenVPN"), int(ConnectionWork::OpenVpnProtocol));
    protocols->addItem(QIcon(), QStringLiteral("Https"), int(ConnectionWork::HttpsProtocol));
    protocols->addItem(QIcon(), QStringLiteral("Http"), int(ConnectionWork::HttpProtocol));
    m_ui->serversTunnelSettingsPushButton->hide();

    const QSettings settings;
    if (!settings.contains(SettingsKeys::MainWindowProtocol))
        return;
    const int stored = settings.value(SettingsKeys::MainWindowProtocol).toInt();
    const int index = protocols->findData(stored, Qt::UserRole, Qt::MatchExactly);
    if (index >= 0)
        protocols->setCurrentIndex(index);
    m_ui->serversTunnelSettingsPushButton->setVisible(stored == ConnectionWork::HttpProtocol);
}

void MainWindow::setUpPortMappings()
{
    m_portMappingModel = new PortMappingTableModel(this);
    m_ui->portMappingTableView->setModel(m_portMappingModel);
    QHeaderView *header = m_ui->portMappingTableView->horizontalHeader();
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int section = 1; section <= 3; ++section)
        header->setSectionResizeMode(section, QHeaderView::ResizeToContents);
    m_ui->portMappingDeletePushButton->setEnabled(false);
    m_ui->portMappingRetryPushButton->setEnabled(false);
}

void MainWindow::loadSavedPortMappings()
{
    QSettings settings;
    settings.beginGroup(SettingsKeys::PortMappingEntries);
    const QStringList keys = SettingsKeys::inNumericOrder(settings.childKeys());
    for (const QString &key : keys) {
        const Entry entry = settings.value(key).toHash();
        if (!isUsableMapping(entry)) {
            qWarning("Saved port mapping %s is unreadable and left out", qPrintable(key));
            continue;
        }
        m_portMappingModel->addEntry(entry);
    }
}

void MainWindow::centerOnScreen()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect geometry = screen->geometry();
    move(geometry.width() / 2 - width() / 2, geometry.height() / 2 - height() / 2);
}

void MainWindow::setUpTrayMenu()
{
    m_trayMenu = new QMenu(this);
    m_connectionAction = m_trayMenu->addAction(tr("Connexion"));
    m_optionsAction = m_trayMenu->addAction(tr("Options"));
    m_quitAction = m_trayMenu->addAction(tr("Quitter"));
    connect(m_connectionAction, &QAction::triggered, this, &MainWindow::on_connectionPushButton_clicked);
    connect(m_optionsAction, &QAction::triggered, this, &MainWindow::displayOptions);
    connect(m_quitAction, &QAction::triggered, this, &MainWindow::terminate);
    m_trayIcon.setContextMenu(m_trayMenu);
    m_trayIcon.setIcon(QIcon(QStringLiteral(":/resources/icon.png")));
}

void MainWindow::makeConnections()
{
    connect(m_ui->optionsPushButton, &QPushButton::clicked, this, &MainWindow::displayOptions);
    connect(m_ui->quitPushButton, &QPushButton::clicked, this, &MainWindow::terminate);
    connect(m_ui->serversTreeView->selectionModel(), &QItemSelectionModel::currentChanged, this,
        &MainWindow::serversTreeViewCurrentChanged);
    connect(m_ui->portMappingTableView->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
        &MainWindow::portMappingTableViewCurrentRowChanged);
    connect(&m_trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::systemTrayIconActivated);

    AccountRefreshWork *account = m_accountRefreshWork.get();
    connect(account, &AccountRefreshWork::error, this, &MainWindow::accountRefreshError, Qt::BlockingQueuedConnection);
    connect(account, &AccountRefreshWork::proxyAuthenticationRequired, this, &MainWindow::proxyAuthenticationRequired,
        Qt::BlockingQueuedConnection);
    connect(account, &QThread::finished, this, &MainWindow::accountRefreshFinished);

    ServersRefreshWork *servers = m_serversRefreshWork.get();
    connect(servers, &ServersRefreshWork::proxyAuthenticationRequired, this, &MainWindow::proxyAuthenticationRequired,
        Qt::BlockingQueuedConnection);
    connect(
        servers, &ServersRefreshWork::updated, this, &MainWindow::serversRefreshUpdated, Qt::BlockingQueuedConnection);
    connect(servers, &ServersRefreshWork::latencyChanged, this, &MainWindow::serversRefreshLatencyChanged);
    connect(servers, &ServersRefreshWork::error, this, &MainWindow::serversRefreshError, Qt::BlockingQueuedConnection);
    connect(servers, &QThread::finished, this, &MainWindow::serversRefreshFinished);

    ConnectionWork *connection = m_connectionWork.get();
    connect(connection, &ConnectionWork::proxyAuthenticationRequired, this, &MainWindow::proxyAuthenticationRequired,
        Qt::BlockingQueuedConnection);
    connect(connection, &BackgroundWorker::progressChanged, m_ui->connectionProgressBar, &QProgressBar::setValue);
    connect(connection, &ConnectionWork::error, this, &MainWindow::connectionError, Qt::BlockingQueuedConnection);
    connect(connection, &ConnectionWork::log, this, &MainWindow::appendLog);
    connect(connection, &ConnectionWork::connected, this, &MainWindow::connected);
    connect(connection, &ConnectionWork::disconnected, this, &MainWindow::disconnected);
    connect(connection, &ConnectionWork::openvpnError, this, &MainWindow::openvpnError, Qt::BlockingQueuedConnection);
    connect(connection, &ConnectionWork::portMappingChanged, this, &MainWindow::portMappingChanged);
    connect(connection, &ConnectionWork::upnpError, this, &MainWindow::upnpError);
}

// The application object lives in app/, above this layer: it finds the window through this
// property of its own instance.
void MainWindow::registerWithApplication(QObject *mainWindow)
{
    qApp->setProperty(MainWindowProperty, QVariant::fromValue<QObject *>(mainWindow));
}

void MainWindow::show()
{
    if (!m_accountLoaded) {
        m_accountRefreshWork->start();
        return;
    }
    fitToContents();
    QWidget::show();
}

bool MainWindow::terminate()
{
    savePreferences();
    if (!stopConnection(true))
        return false;
    if (!anyWorkRunning())
        return closeAndQuit();
    m_quitPending = true;
    m_trayIcon.hide();
    return close();
}

void MainWindow::shutDown()
{
    savePreferences();
    // An open box may hold a work (its error waits for the answer), and the end with it: nobody is left to answer.
    const QList<QDialog *> dialogs = findChildren<QDialog *>();
    for (QDialog *dialog : dialogs) {
        if (dialog->isVisible())
            dialog->reject();
    }
    stopConnection(false);
    m_quitPending = true;
    m_trayIcon.hide();
    if (!anyWorkRunning())
        closeAndQuit();
    else
        close();
}

void MainWindow::retranslate()
{
    const QString connectionText = isConnected() ? tr("Déconnexion") : tr("Connexion");
    m_ui->connectionPushButton->setText(connectionText);
    m_connectionAction->setText(connectionText);
    m_optionsAction->setText(tr("Options"));
    m_quitAction->setText(tr("Quitter"));
    m_trayIcon.setToolTip(m_trafficBlocked ? tr("Nimbora : trafic bloqué") : QString());
    m_serversModel->retranslate();
}

void MainWindow::on_connectionPushButton_clicked()
{
    if (isConnected()) {
        enterState(Disconnecting);
        m_connectionWork->stop();
        return;
    }

    const int protocol = selectedProtocol();
    const ServersTreeItem *node = currentNode();
    if (!node)
        return;
    Entry server = node->record();
    if (node->type() != ServersTreeItem::Tunnel) {
        if (!node->contains(FastestKey)) {
            showCritical(tr("Serveur automatique"),
                tr("Impossible de trouver un serveur automatiquement pour le protocole choisi. Merci de "
                   "sélectionner un serveur manuellement."));
            return;
        }
        server = node->value(FastestKey).toHash();
    }
    if (server.value(TypeKey).toInt() == PremiumTunnel && !m_serversPremium) {
        showCritical(tr("Serveur premium"),
            tr("Le serveur que vous essayez de joindre est réservé aux utilisateurs ayants un abonnement actif. "
               "Vous pouvez gérer vos abonnements en cliquant sur le bouton \"Gérer vos abonnements\" dans "
               "l'onglet \"Compte\"."));
        return;
    }
    startConnection(server, protocol);
}

void MainWindow::on_unblockPushButton_clicked()
{
    QString reason;
    if (liftTrafficBlock(&reason)) {
        setTrafficBlocked(false);
        return;
    }
    QMessageBox box(QMessageBox::Warning, tr("Trafic bloqué"),
        tr("Le trafic n'a pas pu être débloqué : %1").arg(reason), QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    execMessageBox(&box);
}

void MainWindow::on_accountSubscriptionsPushButton_clicked()
{
    openUrl(QUrl(QStringLiteral("http://%1/nimbora/pricing").arg(QLatin1String(NIMBORA_ORGANIZATION_DOMAIN))));
}

void MainWindow::on_accountRefreshPushButton_clicked()
{
    m_ui->accountRefreshPushButton->setEnabled(false);
    m_accountRefreshWork->start();
}

void MainWindow::on_accountLogoutPushButton_clicked()
{
    savePreferences();
    if (!stopConnection(true))
        return;
    registerWithApplication(nullptr);
    QSettings settings;
    settings.setValue(SettingsKeys::AuthenticationAutoLogin, false);
    settings.remove(SettingsKeys::AuthenticationPassword);
    retire();
    openAuthentication();
}

void MainWindow::on_serversTreeView_activated(const QModelIndex &index)
{
    Q_UNUSED(index)
    if (isConnected())
        m_switchPending = true;
    m_ui->connectionPushButton->click();
}

void MainWindow::serversTreeViewCurrentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    Q_UNUSED(previous)
    const ServersTreeItem *node = m_serversModel->item(current);
    if (!node)
        return;
    const int remembered = selectedProtocol();
    const int allowed = node->type() == ServersTreeItem::Tunnel ? node->value(ProtocolsKey).toInt() : AllProtocols;

    QComboBox *protocols = m_ui->serversProtocolComboBox;
    const QSignalBlocker blocker(protocols);
    protocols->clear();
    if (allowed & ConnectionWork::OpenVpnProtocol)
        protocols->addItem(QIcon(), QStringLiteral("OpenVPN"), int(ConnectionWork::OpenVpnProtocol));
    if (allowed & ConnectionWork::HttpsProtocol)
        protocols->addItem(QIcon(), QStringLiteral("Https"), int(ConnectionWork::HttpsProtocol));
    if (allowed & ConnectionWork::HttpProtocol)
        protocols->addItem(QIcon(), QStringLiteral("Http"), int(ConnectionWork::HttpProtocol));
    const int index = protocols->findData(remembered, Qt::UserRole, Qt::MatchExactly);
    if (index >= 0)
        protocols->setCurrentIndex(index);
    // The fastest entries follow the protocol shown, or "Connexion" would send one they lack.
    if (selectedProtocol() != remembered)
        m_serversModel->updateFastest(selectedProtocol());
    m_ui->serversTunnelSettingsPushButton->setVisible(selectedProtocol() == ConnectionWork::HttpProtocol);
}

void MainWindow::on_serversRefreshPushButton_clicked()
{
    m_ui->serversRefreshPushButton->setEnabled(false);
    // Latencies measured while a connection runs would be measured through it: re-report the
    // cached ones instead.
    const int actions = m_connectionWork->isRunning() || isConnected()
        ? ServersRefreshWork::FetchList
        : ServersRefreshWork::FetchList | ServersRefreshWork::MeasureLatencies;
    m_serversRefreshWork->setActions(actions);
    m_serversRefreshWork->start();
}

void MainWindow::on_serversProtocolComboBox_currentIndexChanged(int index)
{
    Q_UNUSED(index)
    const int protocol = selectedProtocol();
    m_serversModel->updateFastest(protocol);
    m_ui->serversTunnelSettingsPushButton->setVisible(protocol == ConnectionWork::HttpProtocol);
}

void MainWindow::on_serversTunnelSettingsPushButton_clicked()
{
    execTunnelSettings(selectedProtocol());
}

// While disconnecting the gateway is going away: the buttons wait for the disconnection.
void MainWindow::portMappingTableViewCurrentRowChanged(const QModelIndex &current, const QModelIndex &previous)
{
    Q_UNUSED(previous)
    const bool usable = current.isValid() && m_state != Disconnecting;
    const Entry entry = usable ? m_portMappingModel->entries().value(current.row()) : Entry();
    m_ui->portMappingDeletePushButton->setEnabled(usable);
    m_ui->portMappingRetryPushButton->setEnabled(
        usable && entry.value(StateKey).toInt() == PortMappingTableModel::Offline);
}

void MainWindow::on_portMappingAddPushButton_clicked()
{
    if (portsExhausted())
        return;
    const Entry entry = execAddPortMapping();
    if (entry.isEmpty())
        return;
    if (!m_portMappingModel->addEntry(entry)) {
        showInformation(tr("Port existant"), tr("Vous avez déjà ajouté ce port à votre liste."));
        return;
    }
    if (gatewayReachable())
        invokeAddPortMapping(entry);
}

void MainWindow::on_portMappingDeletePushButton_clicked()
{
    const QModelIndex current = m_ui->portMappingTableView->currentIndex();
    if (!current.isValid())
        return;
    m_ui->portMappingDeletePushButton->setEnabled(false);
    m_ui->portMappingRetryPushButton->setEnabled(false);
    const Entry entry = m_portMappingModel->entries().value(current.row());
    if (m_portMappingModel->removeEntry(entry) && entry.value(StateKey).toInt() == PortMappingTableModel::Online
        && gatewayReachable())
        invokeDeletePortMapping(entry);
}

void MainWindow::on_portMappingRetryPushButton_clicked()
{
    const QModelIndex current = m_ui->portMappingTableView->currentIndex();
    if (!current.isValid())
        return;
    if (portsExhausted())
        return;
    const Entry entry = m_portMappingModel->entries().value(current.row());
    if (entry.value(StateKey).toInt() == PortMappingTableModel::Offline && gatewayReachable())
        invokeAddPortMapping(entry);
}

void MainWindow::portMappingChanged(QList<QHash<QString, QVariant>> entries)
{
    const Entry current = currentPortMapping();
    m_portMappingModel->setGatewayEntries(entries);
    int row = -1;
    if (!current.isEmpty()) {
        const QList<Entry> rows = m_portMappingModel->entries();
        for (int i = 0; i < rows.size() && row < 0; ++i) {
            if (PortMappingTableModel::isSameMapping(rows.at(i), current))
                row = i;
        }
    }
    selectPortMappingRow(row);

    if (!m_portMappingRestored && gatewayReachable()) {
        m_portMappingRestored = true;
        restoreSavedPortMappings(entries.size());
    }
}

// The gateway lost the connection's saved mappings at the last disconnection: they are asked
// for again once per connection, as far as the subscription's ports allow.
void MainWindow::restoreSavedPortMappings(int receivedCount)
{
    const int availablePorts = m_availablePorts;
    const QList<Entry> saved = m_portMappingModel->savedEntries();
    for (int i = 0; i < saved.size(); ++i) {
        if (receivedCount + i >= availablePorts) {
            showInformation(tr("Plus de ports disponibles"),
                tr("Vous utilisez déjà tous les ports disponibles avec votre abonnement."));
            return;
        }
        invokeAddPortMapping(saved.at(i));
    }
}

void MainWindow::upnpError(UPnPService::Error error)
{
    Q_UNUSED(error)
    const int row = m_ui->portMappingTableView->currentIndex().row();
    m_portMappingModel->setPendingOffline();
    selectPortMappingRow(row);
}

void MainWindow::systemTrayIconActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::Trigger)
        return;
    showNormal();
    raise();
    activateWindow();
}

// The options dialog keeps its own page between openings.
void MainWindow::displayOptions()
{
    raise();
    openOptions(CurrentOptionsPage);
}

void MainWindow::accountRefreshError(AccountRefreshWork::Error error)
{
    showRefreshError(int(error), m_accountLoaded);
}

void MainWindow::serversRefreshError(ServersRefreshWork::Error error)
{
    showRefreshError(int(error), m_serversLoaded);
}

// Both refresh works say 1 for no answer and 2 for a denied session; a first load that fails logs out.
void MainWindow::showRefreshError(int error, bool loaded)
{
    static_assert(int(AccountRefreshWork::ServerError) == int(ServersRefreshWork::ServerError)
            && int(AccountRefreshWork::DeniedError) == int(ServersRefreshWork::DeniedError),
        "the refresh works' errors must keep the same values");
    if (error == AccountRefreshWork::ServerError)
        showServerError();
    else if (error == AccountRefreshWork::DeniedError)
        showSessionExpired();
    if (!loaded)
        m_logoutPending = true;
}

void MainWindow::connectionError(ConnectionWork::Error error)
{
    switch (error) {
    case ConnectionWork::ServerError:
        showServerError();
        break;
    case ConnectionWork::DeniedError:
        showSessionExpired();
        break;
    case ConnectionWork::AlreadyConnectedError:
        showCritical(tr("Déjà connecté"),
            tr("Vous êtes déjà connecté à Nimbora depuis un autre ordinateur. Si ce n'est pas le cas, réessayez de "
               "vous connecter dans quelques instants."));
        break;
    case ConnectionWork::OfflineError:
        showCritical(tr("Serveur inaccessible"), tr("Le serveur que vous essayez de joindre n'est pas accessible."));
        break;
    case ConnectionWork::ForbiddenError:
        showCritical(tr("Serveur réservé"), tr("Vous n'êtes pas autorisé à rejoindre ce serveur."));
        break;
    case ConnectionWork::FullError:
        showCritical(tr("Serveur plein"), tr("Le serveur que vous essayez de joindre est plein."));
        break;
    case ConnectionWork::SaturatedError:
        showCritical(
            tr("Serveur plein"), tr("Le serveur que vous essayez de joindre a atteint son seuil de saturation."));
        break;
    case ConnectionWork::DefaultInterfaceError:
        showCritical(tr("Interface par défaut manquante"), tr("Impossible de trouver l'interface par défaut."));
        break;
    case ConnectionWork::SocksServerError:
        showCritical(tr("Serveur SOCKS"), tr("Le port du serveur SOCKS est déjà utilisé."));
        break;
    case ConnectionWork::DisconnectedError:
        if (QSettings().value(SettingsKeys::AutoReconnect, SettingsKeys::AutoReconnectDefault).toBool())
            m_reconnectPending = true;
        else
            showInformation(tr("Déconnexion", "message box title"), tr("Vous avez été déconnecté du serveur."));
        break;
    case ConnectionWork::FailedError:
        showInformation(tr("Erreur inconnue"), tr("Une erreur inconnue est survenue."));
        break;
    default:
        break;
    }
}

void MainWindow::openvpnError(OpenVPN::Error error)
{
    switch (error) {
    case OpenVPN::HostNotFoundError:
        showCritical(tr("Erreur dns"), tr("Impossible de résoudre le nom de domaine du serveur."));
        break;
    case OpenVPN::ConnectionRefusedError:
        showCritical(tr("Connection refusée"),
            tr("Impossible de se connecter au serveur. Veuillez essayer un autre serveur ou un autre protocole."));
        break;
    case OpenVPN::ConnectionTimeoutError:
        showCritical(tr("Pas de réponse"), tr("Le serveur ne répond pas."));
        break;
    case OpenVPN::ProxyError:
        showCritical(tr("Erreur proxy"), tr("Le serveur proxy a retourné une erreur."));
        break;
    case OpenVPN::ProxyTimeoutError:
        showCritical(tr("Erreur proxy"), tr("Le serveur proxy ne répond pas."));
        break;
    case OpenVPN::ProxyConnectionError:
        showCritical(tr("Erreur proxy"), tr("Impossible de se connecter au serveur proxy."));
        break;
    case OpenVPN::ProxyAuthenticationMethodError:
        chooseProxyAuthenticationMethod();
        break;
    case OpenVPN::AuthenticationError:
        showCritical(tr("Erreur d'authentification"), tr("L'authentification a été refusée par le serveur."));
        break;
    case OpenVPN::InterfaceBusyError:
        showCritical(tr("Interface occupée"),
            tr("L'interface réseau de Nimbora est désactivée ou occupée par un autre programme."));
        break;
    case OpenVPN::NoInterfaceError:
        showCritical(tr("Aucune interface"), tr("Aucune interface réseau Nimbora n'est installée. Relancez Nimbora."));
        break;
    default:
        break;
    }
}

void MainWindow::chooseProxyAuthenticationMethod()
{
    const QStringList methods { tr("Aucune"), tr("Automatique"), QStringLiteral("Basic"), QStringLiteral("NTLM") };
    const QString method = execItemChoice(tr("Méthode d'authentification du serveur proxy inconnue."),
        tr("La méthode d'authentification du serveur proxy est inconnue.\nVeuillez en choisir une :"), methods, 1);
    if (method.isEmpty())
        return;
    GlobalValues::setValue(GlobalValues::ProxyAuthMethod, method);
    m_reconnectPending = true;
}

void MainWindow::accountRefreshFinished()
{
    m_accountRefreshWork->wait();
    if (takePendingQuitOrLogout())
        return;
    showAccount();
    if (!m_accountLoaded) {
        m_accountLoaded = true;
        m_ui->serversRefreshPushButton->click();
    }
    m_ui->accountRefreshPushButton->setEnabled(true);
}

void MainWindow::showAccount()
{
    const AccountRefreshWork *account = m_accountRefreshWork.get();
    GlobalValues::setValue(GlobalValues::Username, account->username());
    m_ui->accountUsernameLabel->setText(account->username());
    m_ui->accountSubscriptionLabel->setText(account->subscription());
    const QString bandwidth = account->bandwidth();
    m_ui->accountBandwidthLabel->setText(
        bandwidth == QLatin1String("0") ? tr("illimitée") : bandwidth + QStringLiteral(" kbps"));
    m_ui->accountAvailablePortsLabel->setText(QString::number(account->ports()));
    m_availablePorts = account->ports();
    m_accountPremium = account->isPremium();
}

void MainWindow::serversRefreshUpdated()
{
    QStringList expanded;
    collectExpanded(QModelIndex(), &expanded);
    QString reselect;
    if (!m_serversLoaded) {
        reselect = QSettings().value(SettingsKeys::MainWindowPreferedServer).toString();
    } else if (const ServersTreeItem *node = currentNode()) {
        reselect = node->name();
    }

    // The work waits for this slot to return: its results can be read.
    m_serversPremium = m_serversRefreshWork->isPremium();
    m_serversModel->rebuild(m_serversRefreshWork->servers());
    attachLoadBars(QModelIndex());

    if (!m_serversLoaded) {
        m_serversLoaded = true;
        for (int row = 0; row < m_serversModel->rowCount(); ++row) {
            const QModelIndex index = m_serversModel->index(row, 0);
            if (m_serversModel->item(index)->type() == ServersTreeItem::Server)
                m_ui->serversTreeView->expand(index);
        }
        // Without a notification area a hidden window could not be brought back.
        if (!QSettings().value(SettingsKeys::StartMinimized, SettingsKeys::StartMinimizedDefault).toBool()
            || !QSystemTrayIcon::isSystemTrayAvailable())
            show();
        m_trayIcon.show();
        if (!m_accountPremium) {
            showInformation(tr("Mode gratuit"),
                tr("Votre abonnement actuel est en mode gratuit et est donc limité à %1. Pour obtenir une meilleure "
                   "bande-passante, cliquez sur le bouton '%2' et choisissez l'abonnement qui vous convient.")
                    .arg(m_ui->accountBandwidthLabel->text(), m_ui->accountSubscriptionsPushButton->text()));
        }
        if (QSettings().value(SettingsKeys::AutoConnect, SettingsKeys::AutoConnectDefault).toBool())
            holdForAutoConnect();
    }

    restoreTreeState(QModelIndex(), expanded, reselect);
    if (!m_ui->serversTreeView->selectionModel()->hasSelection())
        m_ui->serversTreeView->setCurrentIndex(m_serversModel->index(0, 0));
}

void MainWindow::collectExpanded(const QModelIndex &parent, QStringList *names) const
{
    for (int row = 0; row < m_serversModel->rowCount(parent); ++row) {
        const QModelIndex index = m_serversModel->index(row, 0, parent);
        if (m_ui->serversTreeView->isExpanded(index))
            *names << m_serversModel->item(index)->name();
        collectExpanded(index, names);
    }
}

void MainWindow::restoreTreeState(const QModelIndex &parent, const QStringList &expanded, const QString &current)
{
    for (int row = 0; row < m_serversModel->rowCount(parent); ++row) {
        const QModelIndex index = m_serversModel->index(row, 0, parent);
        const QString name = m_serversModel->item(index)->name();
        if (expanded.contains(name))
            m_ui->serversTreeView->expand(index);
        if (name == current)
            m_ui->serversTreeView->setCurrentIndex(index);
        restoreTreeState(index, expanded, current);
    }
}

void MainWindow::attachLoadBars(const QModelIndex &parent)
{
    for (int row = 0; row < m_serversModel->rowCount(parent); ++row) {
        const QModelIndex index = m_serversModel->index(row, 0, parent);
        const ServersTreeItem *node = m_serversModel->item(index);
        const QString name = node->value(NameKey).toString();
        if (node->type() == ServersTreeItem::Server) {
            const int bandwidth = node->value(BandwidthKey).toInt();
            m_ui->serversTreeView->setIndexWidget(index, loadBar(bandwidth, loadColour(bandwidth, 70, 90), name));
        } else if (node->type() == ServersTreeItem::Tunnel) {
            const int slotCount = node->value(SlotsKey).toInt();
            m_ui->serversTreeView->setIndexWidget(index, loadBar(slotCount, loadColour(slotCount, 80, 100), name));
        }
        attachLoadBars(index);
    }
}

// Until the first latencies are in, the automatic connection would not know the fastest server.
void MainWindow::holdForAutoConnect()
{
    m_ui->optionsPushButton->hide();
    m_ui->quitPushButton->hide();
    m_ui->connectionPushButton->hide();
    m_ui->connectionProgressBar->setMaximum(0);
    m_ui->connectionProgressBar->show();
}

void MainWindow::releaseAfterAutoConnect()
{
    m_ui->optionsPushButton->show();
    m_ui->quitPushButton->show();
    m_ui->connectionPushButton->show();
    m_ui->connectionProgressBar->hide();
    m_ui->connectionProgressBar->setMaximum(100);
}

// A connection the user starts while the window holds for the first latencies (a tunnel
// activated in the tree, "Connexion" in the tray) takes the place of the automatic one.
void MainWindow::forgoAutoConnect()
{
    if (m_autoConnectDone)
        return;
    m_autoConnectDone = true;
    m_ui->connectionProgressBar->setMaximum(100);
}

void MainWindow::serversRefreshLatencyChanged(const QString &name, int latency)
{
    m_serversModel->setLatency(name, latency, selectedProtocol());
}

void MainWindow::serversRefreshFinished()
{
    m_serversRefreshWork->wait();
    if (takePendingQuitOrLogout())
        return;
    if (!m_autoConnectDone) {
        m_autoConnectDone = true;
        if (QSettings().value(SettingsKeys::AutoConnect, SettingsKeys::AutoConnectDefault).toBool()) {
            releaseAfterAutoConnect();
            m_ui->connectionPushButton->click();
        }
    }
    m_ui->serversRefreshPushButton->setEnabled(true);
}

// The tunnel carries the traffic again: what still blocks the rest is the connection's own kill switch, nothing
// to lift.
void MainWindow::connected()
{
    enterState(Connected);
    if (m_trafficBlocked) {
        m_trafficBlocked = false;
        showTrafficBlock();
    }
}

void MainWindow::disconnected()
{
    m_connectionWork->wait();
    if (m_quitPending) {
        quitWhenIdle();
        return;
    }
    enterState(Disconnected);
    setTrafficBlocked(trafficBlockedAfterRun());
    m_portMappingRestored = false;
    m_portMappingModel->setAllPending();
    if (m_logoutPending) {
        m_logoutPending = false;
        on_accountLogoutPushButton_clicked();
        return;
    }
    if (m_reconnectPending) {
        m_reconnectPending = false;
        enterState(Connecting);
        m_connectionWork->start();
    }
    if (m_switchPending) {
        m_switchPending = false;
        // A reconnection already under way keeps its server.
        if (!m_connectionWork->isRunning())
            m_ui->connectionPushButton->click();
    }
}

void MainWindow::proxyAuthenticationRequired(const QNetworkProxy &proxy, QAuthenticator *authenticator)
{
    execProxyAuthentication(proxy, authenticator);
}

void MainWindow::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange) {
        m_ui->retranslateUi(this);
        retranslate();
    }
    QWidget::changeEvent(event);
}

// Without a notification area (some Linux desktops) a closed window could not be brought back
// and the program would run on unseen: closing it then means quitting.
void MainWindow::closeEvent(QCloseEvent *event)
{
    if (!QSystemTrayIcon::isSystemTrayAvailable() && !m_quitPending && !testAttribute(Qt::WA_DeleteOnClose)) {
        event->ignore();
        terminate();
        return;
    }
    QWidget::closeEvent(event);
}

bool MainWindow::isConnected() const
{
    return m_connectionWork->isConnected();
}

bool MainWindow::runLeftTrafficBlocked() const
{
    return m_connectionWork->isTrafficBlocked();
}

bool MainWindow::isTrafficBlockInPlace() const
{
    return TrafficBlock::isInPlace();
}

bool MainWindow::liftTrafficBlock(QString *errorString)
{
    return TrafficBlock::lift(errorString);
}

QAbstractButton *MainWindow::execMessageBox(QMessageBox *box)
{
    box->exec();
    return box->clickedButton();
}

QString MainWindow::execItemChoice(const QString &title, const QString &label, const QStringList &items, int current)
{
    bool accepted = false;
    const QString choice = QInputDialog::getItem(this, title, label, items, current, false, &accepted);
    return accepted ? choice : QString();
}

void MainWindow::execProxyAuthentication(const QNetworkProxy &proxy, QAuthenticator *authenticator)
{
    ProxyAuthentication dialog(this);
    dialog.setProxy(proxy);
    dialog.setAuthenticator(authenticator);
    dialog.exec();
}

void MainWindow::execTunnelSettings(int protocol)
{
    TunnelSettings dialog;
    dialog.setProtocol(protocol);
    dialog.exec();
}

QHash<QString, QVariant> MainWindow::execAddPortMapping()
{
    AddPortMapping dialog;
    if (dialog.exec() != QDialog::Accepted)
        return Entry();
    return dialog.portMapping();
}

void MainWindow::openOptions(int page)
{
    if (page != CurrentOptionsPage) {
        Options options(this);
        options.setPage(page);
        options.exec();
        return;
    }
    if (!m_options)
        m_options = new Options(this);
    if (!m_options->isVisible())
        m_options->exec();
}

void MainWindow::openAuthentication()
{
    auto *authentication = new Authentication;
    authentication->setAttribute(Qt::WA_DeleteOnClose);
    authentication->show();
}

void MainWindow::openUrl(const QUrl &url)
{
    QDesktopServices::openUrl(url);
}

void MainWindow::enterState(ConnectionState state)
{
    m_state = state;
    const bool idle = state == Disconnected || state == Connected;
    switch (state) {
    case Disconnected:
    case Connected:
        m_ui->connectionPushButton->setText(state == Connected ? tr("Déconnexion") : tr("Connexion"));
        m_ui->connectionPushButton->setEnabled(true);
        m_ui->connectionPushButton->show();
        m_ui->connectionProgressBar->hide();
        m_connectionAction->setText(state == Connected ? tr("Déconnexion") : tr("Connexion"));
        m_trayIcon.setIcon(QIcon(state == Connected ? QStringLiteral(":/resources/icon_connected.png")
                                                    : QStringLiteral(":/resources/icon_disconnected.png")));
        break;
    case Connecting:
        m_ui->connectionPushButton->hide();
        m_ui->connectionProgressBar->show();
        m_connectionAction->setText(tr("Connexion..."));
        m_trayIcon.setIcon(QIcon(QStringLiteral(":/resources/icon_connecting.png")));
        break;
    case Disconnecting:
        m_ui->connectionPushButton->setEnabled(false);
        m_ui->connectionPushButton->setText(tr("Patientez..."));
        break;
    }
    m_ui->optionsPushButton->setVisible(idle);
    m_ui->quitPushButton->setVisible(idle);
    m_trayMenu->setEnabled(idle);
    if (state != Disconnecting) {
        m_ui->accountLogoutPushButton->setEnabled(state != Connecting);
        m_ui->serversWidget->setEnabled(state != Connecting);
    }
    if (state == Disconnected || state == Disconnecting) {
        m_ui->portMappingDeletePushButton->setEnabled(false);
        m_ui->portMappingRetryPushButton->setEnabled(false);
    }
    m_ui->portMappingAddPushButton->setEnabled(state != Disconnecting);
    // A lift under a running connection would pull the block from under its work.
    m_ui->unblockPushButton->setEnabled(state == Disconnected);
}

void MainWindow::startConnection(const QHash<QString, QVariant> &server, int protocol)
{
    // A running work is never given another server: its thread reads it.
    if (m_connectionWork->isRunning())
        return;
    forgoAutoConnect();
    enterState(Connecting);
    m_ui->logTextEdit->clear();
    m_connectionWork->setServer(server);
    m_connectionWork->setProtocol(protocol);
    m_connectionWork->start();
}

int MainWindow::selectedProtocol() const
{
    return m_ui->serversProtocolComboBox->currentData().toInt();
}

ServersTreeItem *MainWindow::currentNode() const
{
    return m_serversModel->item(m_ui->serversTreeView->currentIndex());
}

// Log lines come from OpenVPN and the network: shown as they are, never read as HTML.
void MainWindow::appendLog(const QString &line)
{
    QTextEdit *log = m_ui->logTextEdit;
    QScrollBar *scrollBar = log->verticalScrollBar();
    const bool followEnd = scrollBar->value() == scrollBar->maximum();
    QTextCursor cursor(log->document());
    cursor.movePosition(QTextCursor::End);
    if (!log->document()->isEmpty())
        cursor.insertBlock();
    cursor.insertText(line);
    if (followEnd)
        scrollBar->setValue(scrollBar->maximum());
}

// The minimum size hint gives a wrapped text the height of one line: the window takes the height its texts need at
// its width.
void MainWindow::fitToContents()
{
    const QSize minimum = minimumSizeHint();
    int height = minimum.height();
    if (layout()->hasHeightForWidth())
        height = qMax(height, layout()->minimumHeightForWidth(minimum.width()));
    setFixedSize(minimum.width(), height);
}

// A block left by an earlier run that was killed outlives it, until the user lifts it or connects again.
void MainWindow::showBlockLeftEarlier()
{
    if (isTrafficBlockInPlace())
        setTrafficBlocked(true);
}

// A run that never reached the block leaves one found before it as it was: only the privileged side knows then.
bool MainWindow::trafficBlockedAfterRun() const
{
    if (runLeftTrafficBlocked())
        return true;
    return m_trafficBlocked && isTrafficBlockInPlace();
}

void MainWindow::setTrafficBlocked(bool blocked)
{
    if (blocked == m_trafficBlocked)
        return;
    m_trafficBlocked = blocked;
    appendLog(
        blocked ? QStringLiteral("Traffic outside the tunnel is blocked") : QStringLiteral("Traffic block lifted"));
    showTrafficBlock();
}

void MainWindow::showTrafficBlock()
{
    m_ui->blockedFrame->setVisible(m_trafficBlocked);
    m_trayIcon.setToolTip(m_trafficBlocked ? tr("Nimbora : trafic bloqué") : QString());
    // A window of fixed size grows and shrinks with the frame.
    if (minimumSize() == maximumSize())
        fitToContents();
}

QHash<QString, QVariant> MainWindow::currentPortMapping() const
{
    const QModelIndex current = m_ui->portMappingTableView->currentIndex();
    return current.isValid() ? m_portMappingModel->entries().value(current.row()) : Entry();
}

bool MainWindow::portsExhausted()
{
    if (m_availablePorts > m_portMappingModel->rowCount())
        return false;
    showInformation(
        tr("Plus de ports disponibles"), tr("Vous utilisez déjà tous les ports disponibles avec votre abonnement."));
    return true;
}

// Only while connected: the gateway lives as long as the connection.
bool MainWindow::gatewayReachable() const
{
    return m_state == Connected && isConnected();
}

// Handled on the connection work's thread when it next waits in its event loop. The window never
// waits for it: the work may be tearing down, or itself waiting for a box of this window.
void MainWindow::invokeAddPortMapping(const QHash<QString, QVariant> &entry)
{
    QMetaObject::invokeMethod(m_connectionWork.get(), "addPortMapping", Qt::QueuedConnection,
        Q_ARG(quint16, quint16(entry.value(ExternalPortKey).toUInt())),
        Q_ARG(QString, entry.value(ProtocolKey).toString()),
        Q_ARG(quint16, quint16(entry.value(InternalPortKey).toUInt())),
        Q_ARG(QString, entry.value(DescriptionKey).toString()));
}

void MainWindow::invokeDeletePortMapping(const QHash<QString, QVariant> &entry)
{
    QMetaObject::invokeMethod(m_connectionWork.get(), "deletePortMapping", Qt::QueuedConnection,
        Q_ARG(quint16, quint16(entry.value(ExternalPortKey).toUInt())),
        Q_ARG(QString, entry.value(ProtocolKey).toString()));
}

// Every model change is a reset, which loses the current row; the buttons follow the row made
// current again, or are disabled without one.
void MainWindow::selectPortMappingRow(int row)
{
    if (row >= 0 && row < m_portMappingModel->rowCount()) {
        m_ui->portMappingTableView->setCurrentIndex(m_portMappingModel->index(row, 0));
        return;
    }
    m_ui->portMappingDeletePushButton->setEnabled(false);
    m_ui->portMappingRetryPushButton->setEnabled(false);
}

bool MainWindow::anyWorkRunning() const
{
    return m_connectionWork->isRunning() || refreshWorkRunning();
}

bool MainWindow::refreshWorkRunning() const
{
    return m_accountRefreshWork->isRunning() || m_serversRefreshWork->isRunning();
}

bool MainWindow::takePendingQuitOrLogout()
{
    if (m_quitPending) {
        quitWhenIdle();
        return true;
    }
    if (m_logoutPending) {
        m_logoutPending = false;
        // Called, not clicked: the button is disabled while a connection comes up.
        on_accountLogoutPushButton_clicked();
        return true;
    }
    return false;
}

// While quitting nothing new starts: the window only waits for the last work to end.
bool MainWindow::quitWhenIdle()
{
    if (anyWorkRunning())
        return false;
    if (m_retiring) {
        deleteLater();
        return true;
    }
    return closeAndQuit();
}

bool MainWindow::closeAndQuit()
{
    // The icon would otherwise stay until the deferred deletion of the window.
    m_trayIcon.hide();
    setAttribute(Qt::WA_DeleteOnClose);
    QGuiApplication::setQuitOnLastWindowClosed(true);
    return close();
}

// A connection still coming up is stopped too: it would otherwise come up with nobody left to end it.
bool MainWindow::stopConnection(bool ask)
{
    if (ask && isConnected()) {
        QMessageBox box(QMessageBox::Question, tr("Etes vous sûr ?"),
            tr("Vous êtes toujours connecté, souhaitez vous vraiment quitter Nimbora ?"),
            QMessageBox::Ok | QMessageBox::Cancel, this);
        if (box.standardButton(execMessageBox(&box)) != QMessageBox::Ok)
            return false;
    }
    if (m_connectionWork->isRunning() || isConnected())
        m_connectionWork->stop();
    return true;
}

// Logged out, the window goes once its works have ended, and leaves the program alone: a new
// session may have begun meanwhile. Until then the program stays, whatever window closes, so that
// a teardown is never cut short; the last window closed before the end ends the program after it.
void MainWindow::retire()
{
    m_retiring = true;
    m_quitPending = true;
    m_quitLock = std::make_unique<QEventLoopLocker>();
    m_trayIcon.hide();
    hide();
    // A signal of the system may still end the event loop: the works end first.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { delete this; });
    quitWhenIdle();
}

void MainWindow::savePreferences()
{
    QSettings settings;
    if (const ServersTreeItem *node = currentNode())
        settings.setValue(SettingsKeys::MainWindowPreferedServer, node->name());
    settings.setValue(SettingsKeys::MainWindowProtocol, selectedProtocol());
    settings.remove(SettingsKeys::PortMappingEntries);
    settings.beginGroup(SettingsKeys::PortMappingEntries);
    const QList<Entry> saved = m_portMappingModel->savedEntries();
    for (int i = 0; i < saved.size(); ++i)
        settings.setValue(QString::number(i), saved.at(i));
    settings.endGroup();
}

void MainWindow::showCritical(const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok, this);
    execMessageBox(&box);
}

void MainWindow::showInformation(const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, this);
    // The free-mode text quotes the account's bandwidth as the main server wrote it.
    box.setTextFormat(Qt::PlainText);
    execMessageBox(&box);
}

void MainWindow::showServerError()
{
    QMessageBox box(QMessageBox::Critical, tr("Impossible de contacter le serveur principal"),
        tr("Impossible de contacter le serveur principal. Vérifiez que vous êtes bien connecté à Internet et que "
           "vos paramètres de connexion sont valides."),
        QMessageBox::Cancel, this);
    const QPushButton *options = box.addButton(tr("Modifier les paramètres de connexion"), QMessageBox::AcceptRole);
    if (execMessageBox(&box) == options)
        openOptions(ConnectionOptionsPage);
}

void MainWindow::showSessionExpired()
{
    showCritical(tr("Session expirée"), tr("Votre session a expirée, veuillez vous reconnecter."));
    m_logoutPending = true;
}
