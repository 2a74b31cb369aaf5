#ifndef NIMBORA_APP_TRANSLATIONS_H
#define NIMBORA_APP_TRANSLATIONS_H

#include <QString>

// The user-interface language: which one, and the translators that carry it. Both translators
// are kept in GlobalValues so that the options dialog can swap languages later.
class Translations
{
public:
    // The stored language, or the system's, reduced to one the program has: "fr" or "en".
    static QString language(const QString &systemLocaleName);
    static QString supportedLanguage(const QString &language);

    static void install(const QString &language);
    static void remove();
};

#endif
