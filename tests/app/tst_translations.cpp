#include "app/launcher.h"
#include "app/translations.h"
#include "base/globalvalues.h"
#include "base/settingskeys.h"

#include "tests/support/testhttpserver.h"
#include "tests/support/testmain.h"

#include <QApplication>
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
    void removeUninstalls();
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

    QTest::newRow("de_DE, nothing stored") << QVariant() << "de_DE" << "en";
    QTest::newRow("fr_CA, nothing stored") << QVariant() << "fr_CA" << "fr";
    QTest::newRow("fr_FR, nothing stored") << QVariant() << "fr_FR" << "fr";
    QTest::newRow("en_US, nothing stored") << QVariant() << "en_US" << "en";
    QTest::newRow("C locale") << QVariant() << "C" << "en";
    QTest::newRow("stored it") << QVariant("it") << "fr_FR" << "en";
    QTest::newRow("stored en beats a French system") << QVariant("en") << "fr_FR" << "en";
    QTest::newRow("stored fr beats a German system") << QVariant("fr") << "de_DE" << "fr";
    QTest::newRow("stored FR is not fr") << QVariant("FR") << "fr_FR" << "en";
    QTest::newRow("stored empty") << QVariant("") << "fr_FR" << "en";
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

    QTest::newRow("en") << "en" << "Loading Nimbora..." << "Cancel";
    QTest::newRow("fr") << "fr" << "Chargement de Nimbora..." << "Annuler";
}

// The program's own texts and Qt's standard buttons both follow the chosen language.
void TestTranslations::installedTranslators()
{
    QFETCH(QString, language);
    QFETCH(QString, launcherTitle);
    QFETCH(QString, cancelText);

    Translations::install(language);
    auto *qtTranslator = qobject_cast<QTranslator *>(GlobalValues::value(GlobalValues::QtTranslator).value<QObject *>());
    auto *appTranslator = qobject_cast<QTranslator *>(GlobalValues::value(GlobalValues::AppTranslator).value<QObject *>());
    QVERIFY(qtTranslator);
    QVERIFY(appTranslator);
    if (language == QLatin1String("en"))
        QVERIFY(!appTranslator->isEmpty());
    else
        QVERIFY(!qtTranslator->isEmpty());

    // The launcher starts its checks: they wait on a local main server that never answers.
    TestHttpServer silentServer;
    QVERIFY(silentServer.start());
    silentServer.setBehaviour(TestHttpServer::Silent);
    silentServer.useAsMainServer();

    Launcher launcher;
    QCOMPARE(launcher.windowTitle(), launcherTitle);

    QMessageBox box;
    QAbstractButton *cancel = box.addButton(QMessageBox::Cancel);
    QCOMPARE(cancel->text(), cancelText);
}

void TestTranslations::removeUninstalls()
{
    Translations::install(QStringLiteral("en"));
    Translations::remove();
    QVERIFY(!GlobalValues::contains(GlobalValues::AppTranslator));
    QVERIFY(!GlobalValues::contains(GlobalValues::QtTranslator));
    QCOMPARE(QCoreApplication::translate("Launcher", "Chargement de Nimbora..."),
             QStringLiteral("Chargement de Nimbora..."));
}

NIMBORA_TEST_MAIN(TestTranslations, QApplication)
#include "tst_translations.moc"
