#include "base/settingskeys.h"

#include "base/globalvalues.h"
#include "buildconfig.h"

#include <QLocale>

namespace SettingsKeys {

QString defaultLanguage()
{
    return QLocale::system().name().section(QLatin1Char('_'), 0, 0);
}

QString defaultMainServerAddress()
{
    return QStringLiteral(NIMBORA_MAIN_SERVER_HOST);
}

QString defaultUserAgent()
{
    return GlobalValues::value(GlobalValues::DefaultUserAgent).toString();
}

} // namespace SettingsKeys
