#include "app/launcherworker.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStandardPaths>

// The kernel's tun driver, as ethtool reports it for every tun device.
QString LauncherWorker::driverName()
{
    return QStringLiteral("tun");
}

QString LauncherWorker::driverVersion()
{
    return QStringLiteral("1.6");
}

// A copy shipped beside the program comes first, else the system's.
QString LauncherWorker::openvpnPath()
{
    const QString beside = QCoreApplication::applicationDirPath() + QLatin1String("/openvpn");
    if (QFileInfo(beside).isExecutable())
        return beside;
    const QString installed = QStandardPaths::findExecutable(QStringLiteral("openvpn"));
    return installed.isEmpty() ? beside : installed;
}
