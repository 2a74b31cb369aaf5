#include "app/translations.h"

#include "base/globalvalues.h"
#include "base/settingskeys.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTranslator>

namespace {

QTranslator *installedTranslator(const char *key)
{
    return qobject_cast<QTranslator *>(GlobalValues::value(QString::fromLatin1(key)).value<QObject *>());
}

QTranslator *loadTranslator(const QString &fileName)
{
    auto *translator = new QTranslator;
    // A catalogue that does not load leaves the French source texts in place.
    translator->load(fileName);
    QCoreApplication::installTranslator(translator);
    return translator;
}

} // namespace

QString Translations::language(const QString &systemLocaleName)
{
    QSettings settings;
    const QString systemLanguage = systemLocaleName.section(QLatin1Char('_'), 0, 0);
    return supportedLanguage(settings.value(SettingsKeys::Language, systemLanguage).toString());
}

QString Translations::supportedLanguage(const QString &language)
{
    if (language == QLatin1String("fr"))
        return language;
    return QStringLiteral("en");
}

void Translations::install(const QString &language)
{
    QTranslator *qtTranslator = loadTranslator(QStringLiteral(":/translations/qt_") + language);
    QTranslator *appTranslator = loadTranslator(QStringLiteral(":/translations/Nimbora_") + language);
    GlobalValues::setValue(GlobalValues::QtTranslator, QVariant::fromValue<QObject *>(qtTranslator));
    GlobalValues::setValue(GlobalValues::AppTranslator, QVariant::fromValue<QObject *>(appTranslator));
}

void Translations::remove()
{
    for (const char *key : { GlobalValues::QtTranslator, GlobalValues::AppTranslator }) {
        QTranslator *translator = installedTranslator(key);
        if (translator) {
            QCoreApplication::removeTranslator(translator);
            delete translator;
        }
        GlobalValues::remove(QString::fromLatin1(key));
    }
}
