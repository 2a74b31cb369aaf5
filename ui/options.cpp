#include "ui/options.h"

#include "base/globalvalues.h"
#include "base/settingskeys.h"
#include "base/useragent.h"
#include "ui/exceptions.h"
#include "ui_options.h"

#include <QAction>
#include <QActionGroup>
#include <QLocale>
#include <QToolBar>
#include <QTranslator>

namespace {

constexpr int CustomUserAgentIndex = 3;

const char *const PredefinedUserAgents[] = { UserAgent::Default, UserAgent::InternetExplorer, UserAgent::IPhoneSafari };

int predefinedUserAgentIndex(const QString &text)
{
    for (int index = 0; index < CustomUserAgentIndex; ++index) {
        if (text == QLatin1String(PredefinedUserAgents[index]))
            return index;
    }
    return CustomUserAgentIndex;
}

void loadTranslator(const char *key, const QString &fileName)
{
    auto *translator = qobject_cast<QTranslator *>(GlobalValues::value(QString::fromLatin1(key)).value<QObject *>());
    // An installed translator that loads again makes Qt retranslate every window.
    if (translator)
        translator->load(fileName);
}

} // namespace

Options::Options(QWidget *parent, Qt::WindowFlags flags)
    : QDialog(parent, flags), m_ui(new Ui::Options), m_actionGroup(new QActionGroup(this))
{
    m_ui->setupUi(this);
    connect(m_actionGroup, &QActionGroup::triggered, this, &Options::actionGroupTriggered);
    addPageActions();
    addToolBar();

    {
        const QSignalBlocker blocker(m_ui->generalLanguageComboBox);
        m_ui->generalLanguageComboBox->addItem(QIcon(QStringLiteral(":/resources/servers/flags/fr.png")),
            QStringLiteral("Français"), QStringLiteral("fr"));
        m_ui->generalLanguageComboBox->addItem(
            QIcon(QStringLiteral(":/resources/servers/flags/uk.png")), QStringLiteral("English"), QStringLiteral("en"));
    }
    m_ui->networkWindowsIpMethodComboBox->addItem(QStringLiteral("DHCP"), QStringLiteral("dynamic"));
    m_ui->networkWindowsIpMethodComboBox->addItem(QStringLiteral("Netsh"), QStringLiteral("netsh"));
    m_ui->networkWindowsIpMethodComboBox->addItem(QStringLiteral("IPAPI"), QStringLiteral("ipapi"));
    applyPlatformLayout();
}

Options::~Options()
{
    delete m_ui;
}

void Options::addPageActions()
{
    const char *const icons[] = { ":/resources/general.png", ":/resources/connection.png", ":/resources/stealth.png",
        ":/resources/network.png" };
    for (const char *icon : icons) {
        auto *action = new QAction(QIcon(QString::fromLatin1(icon)), QString(), m_actionGroup);
        action->setCheckable(true);
        m_pageActions << action;
    }
    retranslatePageActions();
}

void Options::retranslatePageActions()
{
    m_pageActions.at(GeneralPage)->setText(tr("Général"));
    m_pageActions.at(ConnectionPage)->setText(tr("Connexion"));
    m_pageActions.at(StealthPage)->setText(tr("Camouflage"));
    m_pageActions.at(NetworkPage)->setText(tr("Réseau"));
}

void Options::addToolBar()
{
    auto *toolBar = new QToolBar(this);
    toolBar->setFloatable(false);
    toolBar->setMovable(false);
    toolBar->setIconSize(QSize(48, 48));
    toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolBar->setContextMenuPolicy(Qt::PreventContextMenu);
    layout()->setSpacing(15);

    auto *indent = new QWidget(toolBar);
    indent->setBaseSize(9, 0);
    toolBar->addWidget(indent);
    toolBar->addActions(m_pageActions);
    layout()->setMenuBar(toolBar);
    m_pageActions.first()->setChecked(true);
}

void Options::setPage(int index)
{
    if (index >= 0 && index < m_pageActions.size())
        m_pageActions.at(index)->trigger();
}

int Options::exec()
{
    load(FromStore);
    fitToContents();
    return QDialog::exec();
}

void Options::open()
{
    load(FromStore);
    fitToContents();
    QDialog::open();
}

void Options::accept()
{
    save();
    QDialog::accept();
}

void Options::reject()
{
    m_ui->generalLanguageComboBox->setCurrentIndex(m_loadedLanguageIndex);
    QDialog::reject();
}

// The minimum size hint leaves wrapped texts the height of their widest form, so a long one would run under the
// controls below it: the height is the one the texts of the tallest page need at the dialog's width, in whichever
// language is shown. Pages are asked one by one, since a hidden page does not count in its stack's height for a width.
void Options::fitToContents()
{
    const QSize minimum = minimumSizeHint();
    QStackedWidget *pages = m_ui->stackedWidget;
    const QMargins outside = layout()->contentsMargins();
    const QMargins frame = pages->contentsMargins();
    const int pageWidth = minimum.width() - outside.left() - outside.right() - frame.left() - frame.right();
    int pagesHeight = pages->minimumSizeHint().height();
    for (int index = 0; index < pages->count(); ++index) {
        const QWidget *page = pages->widget(index);
        if (page->hasHeightForWidth())
            pagesHeight = qMax(pagesHeight, page->heightForWidth(pageWidth) + frame.top() + frame.bottom());
    }
    setFixedSize(minimum.width(), minimum.height() + pagesHeight - pages->minimumSizeHint().height());
}

// Only a shown dialog has every page's texts in their final font and style.
void Options::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    fitToContents();
}

void Options::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange) {
        m_ui->retranslateUi(this);
        retranslatePageActions();
        if (isVisible())
            fitToContents();
    }
    QDialog::changeEvent(event);
}

QString Options::systemLocaleName() const
{
    return QLocale::system().name();
}

int Options::execExceptions()
{
    Exceptions exceptions;
    return exceptions.exec();
}

// The store is only cleared on OK: clearing it at the click would leave Cancel unable to give
// the user's settings, static redirections included, back.
void Options::on_defaultPushButton_clicked()
{
    load(FromDefaults);
    m_defaultsChosen = true;
    m_exceptionsEditedSinceDefaults = false;
}

void Options::on_generalLanguageComboBox_currentIndexChanged(int index)
{
    const QString language = m_ui->generalLanguageComboBox->itemData(index).toString();
    if (language.isEmpty())
        return;
    loadTranslator(GlobalValues::QtTranslator, QStringLiteral(":/translations/qt_") + language);
    loadTranslator(GlobalValues::AppTranslator, QStringLiteral(":/translations/Nimbora_") + language);
}

void Options::on_stealthPredefinedUserAgentsComboBox_currentIndexChanged(int index)
{
    QLineEdit *field = m_ui->stealthUserAgentLineEdit;
    const bool predefined = index >= 0 && index < CustomUserAgentIndex;
    field->setEnabled(!predefined);
    // Trying a predefined agent must not cost the one the user wrote: "Personnalisé..." brings it back.
    if (predefined) {
        if (predefinedUserAgentIndex(field->text()) == CustomUserAgentIndex)
            m_customUserAgent = field->text();
        field->setText(QLatin1String(PredefinedUserAgents[index]));
    } else if (!m_customUserAgent.isEmpty()) {
        field->setText(m_customUserAgent);
    }
}

void Options::on_stealthUserAgentLineEdit_textChanged(const QString &text)
{
    m_ui->stealthPredefinedUserAgentsComboBox->setCurrentIndex(predefinedUserAgentIndex(text));
}

void Options::on_networkExceptionsPushButton_clicked()
{
    // The list is written by its own dialog; a list edited after "Par défaut" survives the OK.
    if (execExceptions() == QDialog::Accepted && m_defaultsChosen)
        m_exceptionsEditedSinceDefaults = true;
}

void Options::actionGroupTriggered(QAction *action)
{
    m_ui->stackedWidget->setCurrentIndex(m_pageActions.indexOf(action));
}

void Options::load(Source source)
{
    const auto read = [this, source](const char *key, const QVariant &defaultValue) {
        return source == FromStore ? m_settings.value(QLatin1String(key), defaultValue) : defaultValue;
    };
    if (source == FromStore) {
        m_defaultsChosen = false;
        m_exceptionsEditedSinceDefaults = false;
        m_customUserAgent.clear();
    }
    loadLanguage(source);

    using namespace SettingsKeys;
    m_ui->generalLaunchAtStartupCheckBox->setChecked(read(LaunchAtStartup, LaunchAtStartupDefault).toBool());
    m_ui->generalStartMinimizedCheckBox->setChecked(read(StartMinimized, StartMinimizedDefault).toBool());
    m_ui->generalAutoConnectCheckBox->setChecked(read(AutoConnect, AutoConnectDefault).toBool());
    m_ui->generalAutoReconnectCheckBox->setChecked(read(AutoReconnect, AutoReconnectDefault).toBool());
    m_ui->generalCheckForUpdatesCheckBox->setChecked(read(CheckForUpdates, CheckForUpdatesDefault).toBool());

    m_ui->connectionMainServerAddressLineEdit->setText(read(MainServerAddress, defaultMainServerAddress()).toString());
    m_ui->connectionMainServerSecureCheckBox->setChecked(read(MainServerSecure, MainServerSecureDefault).toBool());
    loadProxyMode(read(Proxy, QLatin1String(ProxyDefault)).toString());
    m_ui->connectionHttpProxyHostLineEdit->setText(read(HttpProxyHost, QString()).toString());
    m_ui->connectionHttpProxyPortSpinBox->setValue(read(HttpProxyPort, HttpProxyPortDefault).toInt());
    m_ui->connectionSocksProxyHostLineEdit->setText(read(SocksProxyHost, QString()).toString());
    m_ui->connectionSocksProxyPortSpinBox->setValue(read(SocksProxyPort, SocksProxyPortDefault).toInt());

    m_ui->stealthUserAgentLineEdit->setText(read(SettingsKeys::UserAgent, defaultUserAgent()).toString());
    m_ui->stealthIpAddressCheckBox->setChecked(read(IpAddress, IpAddressDefault).toBool());
    m_ui->stealthDnsServerCheckBox->setChecked(read(DnsServer, DnsServerDefault).toBool());

    m_ui->networkRedirectCheckBox->setChecked(read(Redirect, RedirectDefault).toBool());
    m_ui->networkDisableSystemProxyCheckBox->setChecked(read(DisableSystemProxy, DisableSystemProxyDefault).toBool());
    m_ui->networkOverrideDefaultGatewayCheckBox->setChecked(
        read(OverrideDefaultGateway, OverrideDefaultGatewayDefault).toBool());
    m_ui->networkKillSwitchCheckBox->setChecked(read(KillSwitch, KillSwitchDefault).toBool());
    m_ui->networkAllowLocalNetworkCheckBox->setChecked(read(AllowLocalNetwork, AllowLocalNetworkDefault).toBool());
    m_ui->networkSocksServerCheckBox->setChecked(read(SocksServer, SocksServerDefault).toBool());
    m_ui->networkSocksServerPortSpinBox->setValue(read(SocksServerPort, SocksServerPortDefault).toInt());
    selectIpMethod(read(WindowsIpMethod, QLatin1String(WindowsIpMethodDefault)).toString());
}

void Options::loadLanguage(Source source)
{
    const QString systemLanguage = systemLocaleName().section(QLatin1Char('_'), 0, 0);
    QString language = systemLanguage;
    if (source == FromStore)
        language = m_settings.value(QLatin1String(SettingsKeys::Language), systemLanguage).toString();
    if (language != QLatin1String("fr"))
        language = QStringLiteral("en");

    const int index = m_ui->generalLanguageComboBox->findData(language);
    m_ui->generalLanguageComboBox->setCurrentIndex(index);
    // Cancel after "Par défaut" goes back to the language the dialog opened with.
    if (source == FromStore)
        m_loadedLanguageIndex = index;
}

// A mode the dialog does not know checks no button; it is then stored back unchanged.
void Options::loadProxyMode(const QString &mode)
{
    const QList<QPair<QRadioButton *, QString>> buttons {
        { m_ui->connectionNoProxyRadioButton, QStringLiteral("none") },
        { m_ui->connectionSystemProxyRadioButton, QStringLiteral("system") },
        { m_ui->connectionManualProxyRadioButton, QStringLiteral("manual") },
    };
    for (const auto &button : buttons) {
        // Exclusive buttons refuse to be unchecked one by one.
        button.first->setAutoExclusive(false);
        button.first->setChecked(button.second == mode);
        button.first->setAutoExclusive(true);
    }
    m_ui->frame->setEnabled(m_ui->connectionManualProxyRadioButton->isChecked());
}

void Options::selectIpMethod(const QString &method)
{
    m_ui->networkWindowsIpMethodComboBox->setCurrentIndex(m_ui->networkWindowsIpMethodComboBox->findData(method));
}

QString Options::proxyMode() const
{
    if (m_ui->connectionNoProxyRadioButton->isChecked())
        return QStringLiteral("none");
    if (m_ui->connectionSystemProxyRadioButton->isChecked())
        return QStringLiteral("system");
    if (m_ui->connectionManualProxyRadioButton->isChecked())
        return QStringLiteral("manual");
    return QString();
}

void Options::save()
{
    if (m_defaultsChosen)
        removeStoredOptions();

    using namespace SettingsKeys;
    const auto store
        = [this](const char *key, const QVariant &value) { m_settings.setValue(QLatin1String(key), value); };
    store(Language, m_ui->generalLanguageComboBox->currentData());
    store(LaunchAtStartup, m_ui->generalLaunchAtStartupCheckBox->isChecked());
    store(StartMinimized, m_ui->generalStartMinimizedCheckBox->isChecked());
    store(AutoConnect, m_ui->generalAutoConnectCheckBox->isChecked());
    store(AutoReconnect, m_ui->generalAutoReconnectCheckBox->isChecked());
    store(CheckForUpdates, m_ui->generalCheckForUpdatesCheckBox->isChecked());

    store(MainServerAddress, m_ui->connectionMainServerAddressLineEdit->text().trimmed());
    store(MainServerSecure, m_ui->connectionMainServerSecureCheckBox->isChecked());
    const QString mode = proxyMode();
    if (!mode.isEmpty())
        store(Proxy, mode);
    store(HttpProxyHost, m_ui->connectionHttpProxyHostLineEdit->text().trimmed());
    store(HttpProxyPort, m_ui->connectionHttpProxyPortSpinBox->value());
    store(SocksProxyHost, m_ui->connectionSocksProxyHostLineEdit->text().trimmed());
    store(SocksProxyPort, m_ui->connectionSocksProxyPortSpinBox->value());

    store(SettingsKeys::UserAgent, m_ui->stealthUserAgentLineEdit->text().trimmed());
    store(IpAddress, m_ui->stealthIpAddressCheckBox->isChecked());
    store(DnsServer, m_ui->stealthDnsServerCheckBox->isChecked());

    store(Redirect, m_ui->networkRedirectCheckBox->isChecked());
    store(DisableSystemProxy, m_ui->networkDisableSystemProxyCheckBox->isChecked());
    store(OverrideDefaultGateway, m_ui->networkOverrideDefaultGatewayCheckBox->isChecked());
    store(KillSwitch, m_ui->networkKillSwitchCheckBox->isChecked());
    store(AllowLocalNetwork, m_ui->networkAllowLocalNetworkCheckBox->isChecked());
    store(SocksServer, m_ui->networkSocksServerCheckBox->isChecked());
    store(SocksServerPort, m_ui->networkSocksServerPortSpinBox->value());
    savePlatformOptions();

    saveLaunchAtStartup(m_ui->generalLaunchAtStartupCheckBox->isChecked());
}

// Every option back to its default, except a list of static redirections written after the
// user chose the defaults.
void Options::removeStoredOptions()
{
    QList<QPair<QString, QVariant>> exceptions;
    if (m_exceptionsEditedSinceDefaults) {
        m_settings.beginGroup(QLatin1String(SettingsKeys::Exceptions));
        for (const QString &key : m_settings.childKeys())
            exceptions.append({ key, m_settings.value(key) });
        m_settings.endGroup();
    }
    m_settings.remove(QLatin1String(SettingsKeys::Options));
    m_settings.beginGroup(QLatin1String(SettingsKeys::Exceptions));
    for (const auto &exception : exceptions)
        m_settings.setValue(exception.first, exception.second);
    m_settings.endGroup();
}
