#include "privatesettings.h"

#include <QSettings>
#include <QTemporaryDir>

namespace PrivateSettings {

void use()
{
    static QTemporaryDir folder;
    if (!folder.isValid())
        qFatal("Cannot create a temporary settings folder");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder.path());
}

} // namespace PrivateSettings
