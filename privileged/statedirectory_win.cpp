#include "privileged/statedirectory.h"

#include "netconfig/resolverswitch.h"

#include <QDir>
#include <QStandardPaths>

// Made writable by administrators only; the program runs elevated.
QString StateDirectory::defaultPath()
{
    const QString programData = QString::fromLocal8Bit(qgetenv("ProgramData"));
    return QDir::fromNativeSeparators(programData) + QStringLiteral("/Ostrelle/Nimbora");
}

bool StateDirectory::prepare(QString *errorString)
{
    if (!QDir().mkpath(path())) {
        *errorString = QStringLiteral("%1 cannot be made").arg(path());
        return false;
    }
    ResolverSwitch::setStateFolder(path());
    return true;
}

bool StateDirectory::changesInProcess()
{
    return true;
}
