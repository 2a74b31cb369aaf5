#include "app/translations.h"
#include "base/globalvalues.h"
#include "base/settingskeys.h"

#include "tests/support/testmain.h"
#include "ui/authentication.h"
#include "ui/exceptions.h"
#include "ui/mainwindow.h"
#include "ui/options.h"
#include "ui/proxyauthentication.h"
#include "ui/tunnelsettings.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTranslator>

class TestTranslations : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void language_data();
    void language();
    void installedTranslators_data();
    void installedTranslators();
    void openWindowsFollowTheLanguage();
};

void TestTranslations::cleanup()
{
    Translations::remove();
    QSettings().clear();
}

void TestTranslations::language_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QString>("systemLocale");
    QTest::addColumn<QString>("expected");

    QTest::newRow("German system") << QVariant() << "de_DE"
                                   << "en";
    QTest::newRow("Canadian French system") << QVariant() << "fr_CA"
                                            << "fr";
    QTest::newRow("stored it: unsupported") << QVariant("it") << "fr_FR"
                                            << "en";
    QTest::newRow("stored en beats a French system") << QVariant("en") << "fr_FR"
                                                     << "en";
    QTest::newRow("stored fr beats a German system") << QVariant("fr") << "de_DE"
                                                     << "fr";
    QTest::newRow("stored empty is no language") << QVariant("") << "fr_FR"
                                                 << "en";
}

void TestTranslations::language()
{
    QFETCH(QVariant, stored);
    QFETCH(QString, systemLocale);
    QFETCH(QString, expected);

    if (stored.isValid())
        QSettings().setValue(SettingsKeys::Language, stored);
    QCOMPARE(Translations::language(systemLocale), expected);
}

void TestTranslations::installedTranslators_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("launcherTitle");
    QTest::addColumn<QString>("cancelText");

    QTest::newRow("en") << "en"
                        << "Loading Nimbora..."
                        << "Cancel";
    QTest::newRow("fr") << "fr"
                        << "Chargement de Nimbora..."
                        << "Annuler";
}

// The program's own texts and Qt's standard buttons both follow the chosen language, and
// removing the translators brings the source texts back.
void TestTranslations::installedTranslators()
{
    QFETCH(QString, language);
    QFETCH(QString, launcherTitle);
    QFETCH(QString, cancelText);

    const char source[] = "Chargement de Nimbora...";
    Translations::install(language);
    QCOMPARE(QCoreApplication::translate("Launcher", source), launcherTitle);
    QMessageBox box;
    QCOMPARE(box.addButton(QMessageBox::Cancel)->text(), cancelText);

    Translations::remove();
    QVERIFY(!GlobalValues::contains(GlobalValues::AppTranslator));
    QVERIFY(!GlobalValues::contains(GlobalValues::QtTranslator));
    QCOMPARE(QCoreApplication::translate("Launcher", source), QString::fromUtf8(source));
}

// A language chosen in the options reaches every window already open, as the options dialog
// switches it: by loading the other catalogue into the installed translators.
void TestTranslations::openWindowsFollowTheLanguage()
{
    QSettings().setValue(SettingsKeys::MainServerAddress, QStringLiteral("127.0.0.1:9")); // never asked here
    Translations::install(QStringLiteral("fr"));
    Authentication authentication;
    MainWindow mainWindow;
    Options options;
    ProxyAuthentication proxyAuthentication;
    TunnelSettings tunnelSettings;
    Exceptions exceptions;
    const auto text = [](QWidget *window, const char *name) {
        return window->findChild<QAbstractButton *>(QLatin1String(name))
            ? window->findChild<QAbstractButton *>(QLatin1String(name))->text()
            : window->findChild<QLabel *>(QLatin1String(name))->text();
    };
    const auto texts = [&] {
        return QStringList { text(&authentication, "usernameLabel"), text(&mainWindow, "connectionPushButton"),
            text(&options, "connectionMainServerSecureCheckBox"), proxyAuthentication.windowTitle(),
            tunnelSettings.windowTitle(), exceptions.windowTitle() };
    };
    QCOMPARE(texts(),
        QStringList({ "Nom d'utilisateur :", "Connexion", "Connexion sécurisée", "Authentification Proxy", "Paramètres",
            "Redirections statiques" }));

    auto *translator = qobject_cast<QTranslator *>(GlobalValues::value(GlobalValues::AppTranslator).value<QObject *>());
    QVERIFY(translator->load(QStringLiteral(":/translations/Nimbora_en")));
    QTRY_COMPARE(texts(),
        QStringList({ "User name:", "Connect", "Secure connection", "Proxy Authentication", "Settings",
            "Static redirections" }));
}

NIMBORA_TEST_MAIN(TestTranslations, QApplication)
#include "tst_translations.moc"
