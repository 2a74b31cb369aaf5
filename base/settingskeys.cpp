#include "base/settingskeys.h"

#include "base/globalvalues.h"
#include "buildconfig.h"

#include <QLocale>

#include <algorithm>

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

QStringList inNumericOrder(QStringList keys)
{
    std::stable_sort(keys.begin(), keys.end(), [](const QString &first, const QString &second) {
        bool firstIsNumber = false;
        bool secondIsNumber = false;
        const qulonglong firstNumber = first.toULongLong(&firstIsNumber);
        const qulonglong secondNumber = second.toULongLong(&secondIsNumber);
        if (firstIsNumber != secondIsNumber)
            return firstIsNumber;
        return firstIsNumber && firstNumber < secondNumber;
    });
    return keys;
}

} // namespace SettingsKeys
