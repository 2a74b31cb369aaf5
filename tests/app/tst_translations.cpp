#include "app/translations.h"
#include "base/globalvalues.h"
#include "base/settingskeys.h"

#include "tests/support/testmain.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>

class TestTranslations : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void language_data();
    void language();
    void installedTranslators_data();
    void installedTranslators();
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

    QTest::newRow("German system") << QVariant() << "de_DE" << "en";
    QTest::newRow("Canadian French system") << QVariant() << "fr_CA" << "fr";
    QTest::newRow("stored it: unsupported") << QVariant("it") << "fr_FR" << "en";
    QTest::newRow("stored en beats a French system") << QVariant("en") << "fr_FR" << "en";
    QTest::newRow("stored fr beats a German system") << QVariant("fr") << "de_DE" << "fr";
    QTest::newRow("stored empty is no language") << QVariant("") << "fr_FR" << "en";
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

NIMBORA_TEST_MAIN(TestTranslations, QApplication)
#include "tst_translations.moc"
