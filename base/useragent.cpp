#include "base/useragent.h"

#include "base/settingskeys.h"

#include <QSettings>

namespace {

// CR, LF, tab, NUL, DEL and the C1 controls.
QString withoutControlCharacters(const QString &text)
{
    QString clean;
    clean.reserve(text.size());
    for (const QChar c : text) {
        if (c.category() != QChar::Other_Control)
            clean += c;
    }
    return clean;
}

} // namespace

namespace UserAgent {

QString configured()
{
    return withoutControlCharacters(
        QSettings().value(SettingsKeys::UserAgent, SettingsKeys::defaultUserAgent()).toString());
}

} // namespace UserAgent
