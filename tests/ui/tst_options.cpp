#include "base/globalvalues.h"
#include "base/settingskeys.h"
#include "base/useragent.h"
#include "ui/options.h"

#include "tests/support/testmain.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTranslator>

namespace {

// The options on a machine of a chosen locale; its list of static redirections, when opened,
// stores the test's list and is accepted.
class TestedOptions : public Options
{
public:
    QString locale = QStringLiteral("fr_FR");
    QStringList redirection { "home", "nas.lan" };

protected:
    QString systemLocaleName() const override { return locale; }
    int execExceptions() override
    {
        QSettings settings;
        settings.remove(SettingsKeys::Exceptions);
        settings.setValue(QString(SettingsKeys::Exceptions) + "/0", redirection);
        return QDialog::Accepted;
    }
};

template <typename T>
T *child(const QDialog &dialog, const char *name)
{
    T *widget = dialog.findChild<T *>(name);
    if (!widget)
        qFatal("No widget %s", name);
    return widget;
}

QString storedValue(const char *key)
{
    QSettings settings;
    return settings.contains(key) ? settings.value(key).toString() : QStringLiteral("absent");
}

QString storedExceptions()
{
    QSettings settings;
    settings.beginGroup(SettingsKeys::Exceptions);
    QStringList entries;
    for (const QString &key : settings.childKeys())
        entries << settings.value(key).toStringList().join(' ');
    return entries.join(", ");
}

void store(const char *key, const QVariant &value)
{
    if (value.isValid())
        QSettings().setValue(key, value);
}

QTranslator *translator(const char *key)
{
    return qobject_cast<QTranslator *>(GlobalValues::value(key).value<QObject *>());
}

// What the running program speaks: Qt's text for the Cancel button and the program's catalogue.
QString interfaceLanguage(const QDialog &dialog)
{
    const QString cancel = child<QDialogButtonBox>(dialog, "buttonBox")->button(QDialogButtonBox::Cancel)->text();
    return cancel + ' ' + QFileInfo(translator(GlobalValues::AppTranslator)->filePath()).fileName();
}

void pick(QComboBox *box, const QString &item)
{
    const int index = box->findText(item);
    if (index < 0)
        qFatal("No item %s", qPrintable(item));
    box->setCurrentIndex(index);
}

QString autostartEntryPath()
{
    return qEnvironmentVariable("XDG_CONFIG_HOME") + "/autostart/nimbora.desktop";
}

const QString French = QStringLiteral("Annuler Nimbora_fr.qm");
const QString English = QStringLiteral("Cancel Nimbora_en.qm");

} // namespace

class TestOptions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();
    void language_data();
    void language();
    void userAgent_data();
    void userAgent();
    void proxy_data();
    void proxy();
    void localNetwork_data();
    void localNetwork();
    void defaults_data();
    void defaults();
    void keepsWhatIsStored();
    void pages_data();
    void pages();
    void textsShownWhole_data();
    void textsShownWhole();
    void autostart_data();
    void autostart();
    void autostartExec_data();
    void autostartExec();
};

// The two translators installed as the program installs them at start-up.
void TestOptions::initTestCase()
{
    for (const char *key : { GlobalValues::QtTranslator, GlobalValues::AppTranslator }) {
        auto *installed = new QTranslator;
        QCoreApplication::installTranslator(installed);
        GlobalValues::setValue(key, QVariant::fromValue<QObject *>(installed));
    }
    GlobalValues::setValue(GlobalValues::DefaultUserAgent, QString(UserAgent::Default));
}

void TestOptions::init()
{
    QVERIFY(translator(GlobalValues::QtTranslator)->load(":/translations/qt_fr"));
    QVERIFY(translator(GlobalValues::AppTranslator)->load(":/translations/Nimbora_fr"));
}

void TestOptions::cleanup()
{
    QSettings().clear();
}

void TestOptions::cleanupTestCase()
{
    for (const char *key : { GlobalValues::QtTranslator, GlobalValues::AppTranslator }) {
        QTranslator *installed = translator(key);
        QCoreApplication::removeTranslator(installed);
        delete installed;
    }
    GlobalValues::clear();
}

void TestOptions::language_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QString>("during");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("after");
    QTest::addColumn<QString>("storedAfter");

    QTest::newRow("German system") << QVariant() << "de_DE"
                                   << "English"
                                   << "" << English << false << English << "absent";
    QTest::newRow("Canadian French system") << QVariant() << "fr_CA"
                                            << "Français"
                                            << "" << French << false << French << "absent";
    QTest::newRow("unknown stored language") << QVariant("de") << "fr_FR"
                                             << "English"
                                             << "" << English << true << English << "en";
    QTest::newRow("English, cancel") << QVariant("fr") << "de_DE"
                                     << "Français"
                                     << "English" << English << false << French << "fr";
    QTest::newRow("English, ok") << QVariant("fr") << "de_DE"
                                 << "Français"
                                 << "English" << English << true << English << "en";
    QTest::newRow("defaults, cancel") << QVariant("fr") << "de_DE"
                                      << "Français"
                                      << "defaultPushButton" << English << false << French << "fr";
}

// The language box switches the whole interface at once; Cancel switches it back.
void TestOptions::language()
{
    QFETCH(QVariant, stored);
    QFETCH(QString, locale);
    QFETCH(QString, shown);
    QFETCH(QString, choice);
    QFETCH(QString, during);
    QFETCH(bool, ok);
    QFETCH(QString, after);
    QFETCH(QString, storedAfter);

    store(SettingsKeys::Language, stored);
    TestedOptions dialog;
    dialog.locale = locale;
    dialog.open();
    auto *box = child<QComboBox>(dialog, "generalLanguageComboBox");
    QCOMPARE(box->currentText(), shown);

    if (choice == "defaultPushButton")
        child<QPushButton>(dialog, "defaultPushButton")->click();
    else if (!choice.isEmpty())
        pick(box, choice);
    QTRY_COMPARE(interfaceLanguage(dialog), during);
    ok ? dialog.accept() : dialog.reject();
    QTRY_COMPARE(interfaceLanguage(dialog), after);
    QCOMPARE(storedValue(SettingsKeys::Language), storedAfter);
}

void TestOptions::userAgent_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("item");
    QTest::addColumn<bool>("editable");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("storedAfter");

    const QString firefox = UserAgent::Default;
    const QString safari = UserAgent::IPhoneSafari;
    QTest::newRow("nothing stored") << "" << QStringList() << "Mozilla Firefox" << false << firefox << firefox;
    QTest::newRow("custom") << "Agent/1" << QStringList() << "Personnalisé..." << true << "Agent/1"
                            << "Agent/1";
    QTest::newRow("Firefox typed") << "Agent/1" << QStringList { "type:" + firefox } << "Mozilla Firefox" << false
                                   << firefox << firefox;
    QTest::newRow("Safari picked") << "Agent/1" << QStringList { "pick:iPhone Safari" } << "iPhone Safari" << false
                                   << safari << safari;
    QTest::newRow("custom back after a predefined one")
        << "Agent/1" << QStringList { "pick:Internet Explorer", "pick:Personnalisé..." } << "Personnalisé..." << true
        << "Agent/1"
        << "Agent/1";
    QTest::newRow("trimmed") << " Agent/1 " << QStringList() << "Personnalisé..." << true << " Agent/1 "
                             << "Agent/1";
}

// The predefined agents and the custom field follow each other.
void TestOptions::userAgent()
{
    QFETCH(QString, stored);
    QFETCH(QStringList, steps);
    QFETCH(QString, item);
    QFETCH(bool, editable);
    QFETCH(QString, text);
    QFETCH(QString, storedAfter);

    if (!stored.isEmpty())
        store(SettingsKeys::UserAgent, stored);
    TestedOptions dialog;
    dialog.open();
    auto *box = child<QComboBox>(dialog, "stealthPredefinedUserAgentsComboBox");
    auto *field = child<QLineEdit>(dialog, "stealthUserAgentLineEdit");
    for (const QString &step : steps) {
        if (step.startsWith("pick:"))
            pick(box, step.mid(5));
        else {
            field->clear();
            QTest::keyClicks(field, step.mid(5));
        }
    }

    QCOMPARE(box->currentText(), item);
    QCOMPARE(field->isEnabled(), editable);
    QCOMPARE(field->text(), text);
    dialog.accept();
    QCOMPARE(storedValue(SettingsKeys::UserAgent), storedAfter);
}

void TestOptions::proxy_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QString>("click");
    QTest::addColumn<QString>("checked");
    QTest::addColumn<bool>("fieldsEnabled");
    QTest::addColumn<QString>("storedAfter");

    QTest::newRow("none keeps the manual fields") << QVariant("none") << ""
                                                  << "connectionNoProxyRadioButton" << false << "none";
    QTest::newRow("nothing stored") << QVariant() << ""
                                    << "connectionSystemProxyRadioButton" << false << "system";
    QTest::newRow("manual") << QVariant("manual") << ""
                            << "connectionManualProxyRadioButton" << true << "manual";
    QTest::newRow("manual to none") << QVariant("manual") << "connectionNoProxyRadioButton"
                                    << "connectionNoProxyRadioButton" << false << "none";
    QTest::newRow("system to manual") << QVariant("system") << "connectionManualProxyRadioButton"
                                      << "connectionManualProxyRadioButton" << true << "manual";
    QTest::newRow("unknown mode kept") << QVariant("socks") << ""
                                       << "" << false << "socks";
}

// The manual proxy fields follow the mode but always keep, and save, what they hold.
void TestOptions::proxy()
{
    QFETCH(QVariant, stored);
    QFETCH(QString, click);
    QFETCH(QString, checked);
    QFETCH(bool, fieldsEnabled);
    QFETCH(QString, storedAfter);

    store(SettingsKeys::Proxy, stored);
    store(SettingsKeys::HttpProxyHost, " http.lan ");
    store(SettingsKeys::HttpProxyPort, 8080);
    store(SettingsKeys::SocksProxyHost, "socks.lan");
    TestedOptions dialog;
    dialog.open();
    if (!click.isEmpty())
        child<QRadioButton>(dialog, qPrintable(click))->click();

    QStringList checkedButtons;
    for (QRadioButton *button : dialog.findChildren<QRadioButton *>()) {
        if (button->isChecked())
            checkedButtons << button->objectName();
    }
    QCOMPARE(checkedButtons.join(' '), checked);
    QCOMPARE(child<QLineEdit>(dialog, "connectionHttpProxyHostLineEdit")->isEnabled(), fieldsEnabled);
    QCOMPARE(child<QLineEdit>(dialog, "connectionHttpProxyHostLineEdit")->text(), QString(" http.lan "));
    dialog.accept();
    QCOMPARE(storedValue(SettingsKeys::Proxy), storedAfter);
    QCOMPARE(QStringList({ storedValue(SettingsKeys::HttpProxyHost), storedValue(SettingsKeys::HttpProxyPort),
                 storedValue(SettingsKeys::SocksProxyHost), storedValue(SettingsKeys::SocksProxyPort) }),
        QStringList({ "http.lan", "8080", "socks.lan", "1080" }));
}

void TestOptions::localNetwork_data()
{
    QTest::addColumn<QVariant>("killSwitch");
    QTest::addColumn<bool>("redirect");
    QTest::addColumn<bool>("toggle");
    QTest::addColumn<QString>("shown");

    QTest::newRow("nothing stored") << QVariant() << true << false << "block on, local off enabled";
    QTest::newRow("block off") << QVariant(false) << true << false << "block off, local off disabled";
    QTest::newRow("block turned off") << QVariant(true) << true << true << "block off, local off disabled";
    QTest::newRow("block turned on") << QVariant(false) << true << true << "block on, local off enabled";
    QTest::newRow("no redirection") << QVariant(true) << false << false << "block on, local off disabled";
}

// The local network is only a choice while everything is redirected and blocked outside the tunnel.
void TestOptions::localNetwork()
{
    QFETCH(QVariant, killSwitch);
    QFETCH(bool, redirect);
    QFETCH(bool, toggle);
    QFETCH(QString, shown);

    store(SettingsKeys::KillSwitch, killSwitch);
    store(SettingsKeys::Redirect, redirect);
    TestedOptions dialog;
    dialog.open();
    auto *block = child<QCheckBox>(dialog, "networkKillSwitchCheckBox");
    auto *local = child<QCheckBox>(dialog, "networkAllowLocalNetworkCheckBox");
    if (toggle)
        block->click();
    QCOMPARE(QString("block %1, local %2 %3")
                 .arg(block->isChecked() ? "on" : "off", local->isChecked() ? "on" : "off",
                     local->isEnabled() ? "enabled" : "disabled"),
        shown);
}

void TestOptions::defaults_data()
{
    QTest::addColumn<bool>("editRedirections");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QStringList>("storedAfter");

    const QStringList before { "true", "4000", "manual", "netsh", "false", "true", "work intranet.lan" };
    QTest::newRow("cancel") << false << false << before;
    QTest::newRow("ok") << false << true << QStringList { "false", "1080", "system", "absent", "true", "false", "" };
    QTest::newRow("ok, redirections written afterwards")
        << true << true << QStringList { "false", "1080", "system", "absent", "true", "false", "home nas.lan" };
}

// "Par défaut" only resets the controls; the store follows on OK, the static redirections with it.
void TestOptions::defaults()
{
    QFETCH(bool, editRedirections);
    QFETCH(bool, ok);
    QFETCH(QStringList, storedAfter);

    store(SettingsKeys::AutoConnect, true);
    store(SettingsKeys::SocksServerPort, 4000);
    store(SettingsKeys::Proxy, "manual");
    store(SettingsKeys::WindowsIpMethod, "netsh");
    store(SettingsKeys::KillSwitch, false);
    store(SettingsKeys::AllowLocalNetwork, true);
    QSettings().setValue(QString(SettingsKeys::Exceptions) + "/0", QStringList { "work", "intranet.lan" });
    const auto stored = [] {
        return QStringList { storedValue(SettingsKeys::AutoConnect), storedValue(SettingsKeys::SocksServerPort),
            storedValue(SettingsKeys::Proxy), storedValue(SettingsKeys::WindowsIpMethod),
            storedValue(SettingsKeys::KillSwitch), storedValue(SettingsKeys::AllowLocalNetwork), storedExceptions() };
    };
    const QStringList before = stored();

    TestedOptions dialog;
    dialog.open();
    child<QPushButton>(dialog, "defaultPushButton")->click();
    QVERIFY(!child<QCheckBox>(dialog, "generalAutoConnectCheckBox")->isChecked());
    QCOMPARE(child<QSpinBox>(dialog, "networkSocksServerPortSpinBox")->value(), 1080);
    QVERIFY(child<QRadioButton>(dialog, "connectionSystemProxyRadioButton")->isChecked());
    QCOMPARE(stored(), before);

    if (editRedirections)
        child<QPushButton>(dialog, "networkExceptionsPushButton")->click();
    ok ? dialog.accept() : dialog.reject();
    QCOMPARE(stored(), storedAfter);
}

// OK without a change writes back every stored option as it was; the Windows-only IP method is
// neither shown nor written here.
void TestOptions::keepsWhatIsStored()
{
    using namespace SettingsKeys;
    const QList<QPair<const char *, QVariant>> options { { StartMinimized, true }, { AutoConnect, true },
        { AutoReconnect, false }, { CheckForUpdates, false }, { MainServerAddress, "main.lan" },
        { MainServerSecure, false }, { Proxy, "manual" }, { HttpProxyHost, "http.lan" }, { HttpProxyPort, 8080 },
        { SocksProxyHost, "socks.lan" }, { SocksProxyPort, 1081 }, { SettingsKeys::UserAgent, "Agent/2" },
        { IpAddress, false }, { DnsServer, false }, { Redirect, false }, { DisableSystemProxy, false },
        { OverrideDefaultGateway, false }, { KillSwitch, false }, { AllowLocalNetwork, true }, { SocksServer, false },
        { SocksServerPort, 4000 }, { WindowsIpMethod, "ipapi" } };
    QStringList before;
    for (const auto &option : options) {
        store(option.first, option.second);
        before << QString(option.first) + '=' + option.second.toString();
    }

    TestedOptions dialog;
    dialog.open();
    QVERIFY(!child<QWidget>(dialog, "networkWindowsIpMethodGroupBox")->isVisibleTo(&dialog));
    dialog.accept();
    QStringList after;
    for (const auto &option : options)
        after << QString(option.first) + '=' + storedValue(option.first);
    QCOMPARE(after, before);
}

void TestOptions::pages_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("shown");

    QTest::newRow("connection") << 1 << "connectionWidget Connexion";
    QTest::newRow("network") << 3 << "networkWidget Réseau";
    QTest::newRow("out of range") << 4 << "generalWidget Général";
}

// The page selector shows the page and checks its tool bar button.
void TestOptions::pages()
{
    QFETCH(int, page);
    QFETCH(QString, shown);

    TestedOptions dialog;
    dialog.setPage(page);
    QString checked;
    for (QAction *action : dialog.findChildren<QAction *>()) {
        if (action->isChecked())
            checked += action->text();
    }
    QCOMPARE(child<QStackedWidget>(dialog, "stackedWidget")->currentWidget()->objectName() + ' ' + checked, shown);
}

void TestOptions::textsShownWhole_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("spoken");

    QTest::newRow("French") << "Français" << French;
    QTest::newRow("English") << "English" << English;
}

// Every wrapped text of every page gets the height it needs at the dialog's size, after a live switch of language
// too: none runs under the controls below it.
void TestOptions::textsShownWhole()
{
    QFETCH(QString, language);
    QFETCH(QString, spoken);

    TestedOptions dialog;
    // Opened on a page without wrapped texts: the others must fit all the same.
    dialog.setPage(1);
    dialog.open();
    pick(child<QComboBox>(dialog, "generalLanguageComboBox"), language);
    QTRY_COMPARE(interfaceLanguage(dialog), spoken);
    for (int page = 0; page < 4; ++page) {
        dialog.setPage(page);
        QWidget *shown = child<QStackedWidget>(dialog, "stackedWidget")->currentWidget();
        shown->layout()->activate();
        for (QLabel *label : shown->findChildren<QLabel *>()) {
            if (label->wordWrap() && label->isVisible()) {
                QVERIFY2(label->height() >= label->heightForWidth(label->width()),
                    qPrintable(QString("%1: %2 high, %3 needed").arg(label->objectName()).arg(label->height())
                        .arg(label->heightForWidth(label->width()))));
            }
        }
    }
    dialog.reject();
}

void TestOptions::autostart_data()
{
    QTest::addColumn<bool>("launch");
    QTest::addColumn<QByteArray>("entry");

    QTest::newRow("checked") << true
                             << "[Desktop Entry]\nType=Application\nName=Nimbora\nExec=\""
            + QCoreApplication::applicationFilePath().toUtf8() + "\"\nX-GNOME-Autostart-enabled=true\n";
    QTest::newRow("unchecked") << false << QByteArray();
}

// Starting with the computer is an autostart entry of the user's desktop session.
void TestOptions::autostart()
{
    QFETCH(bool, launch);
    QFETCH(QByteArray, entry);

    store(SettingsKeys::LaunchAtStartup, !launch);
    if (!launch) {
        QVERIFY(QDir().mkpath(QFileInfo(autostartEntryPath()).path()));
        QFile leftover(autostartEntryPath());
        QVERIFY(leftover.open(QIODevice::WriteOnly));
    }
    TestedOptions dialog;
    dialog.open();
    child<QCheckBox>(dialog, "generalLaunchAtStartupCheckBox")->setChecked(launch);
    dialog.accept();

    QFile file(autostartEntryPath());
    QCOMPARE(file.exists(), launch);
    if (launch) {
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), entry);
        QVERIFY(file.remove());
    }
}

void TestOptions::autostartExec_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("exec");

    QTest::newRow("space") << "/opt/My Apps/nimbora"
                           << "\"/opt/My Apps/nimbora\"";
    QTest::newRow("shell characters") << "/opt/a$b\"c`d/nimbora"
                                      << "\"/opt/a\\\\$b\\\\\"c\\\\`d/nimbora\"";
    QTest::newRow("backslash") << "/opt/a\\b/nimbora"
                               << "\"/opt/a\\\\\\\\b/nimbora\"";
    QTest::newRow("percent") << "/opt/100%/nimbora"
                             << "\"/opt/100%%/nimbora\"";
}

// The program's path survives the desktop entry's quoting and escaping rules.
void TestOptions::autostartExec()
{
    QFETCH(QString, path);
    QFETCH(QString, exec);

    QCOMPARE(Options::autostartExec(path), exec);
}

NIMBORA_TEST_MAIN(TestOptions, QApplication)

#include "tst_options.moc"
