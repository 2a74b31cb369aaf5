#include "app/launcherworker.h"

#include <QCoreApplication>

// The TAP-Windows driver build installed with the client.
QString LauncherWorker::driverName()
{
    return QStringLiteral("nimtap");
}

QString LauncherWorker::driverVersion()
{
    return QStringLiteral("9.0.0.22");
}

QString LauncherWorker::openvpnPath()
{
    return QCoreApplication::applicationDirPath() + QLatin1String("/openvpn.exe");
}
