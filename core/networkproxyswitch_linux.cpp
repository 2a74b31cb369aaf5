#include "core/networkproxyswitch.h"

#include <QProcess>
#include <QStandardPaths>

// GNOME keeps the desktop's proxy choice in org.gnome.system.proxy "mode": "none", "manual"
// or "auto". Without gsettings or that schema there is no system proxy to switch.
namespace {

const char Schema[] = "org.gnome.system.proxy";
const char Key[] = "mode";
const int ToolTimeout = 5000;

bool runGsettings(const QStringList &arguments, QByteArray *output)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("gsettings"));
    if (program.isEmpty())
        return false;
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(program, arguments, QIODevice::ReadOnly);
    if (!process.waitForFinished(ToolTimeout)) {
        process.kill();
        process.waitForFinished(ToolTimeout);
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return false;
    if (output)
        *output = process.readAllStandardOutput().left(64).trimmed();
    return true;
}

} // namespace

bool NetworkProxySwitch::readSystemFlags(quint32 *flags)
{
    QByteArray mode;
    if (!runGsettings({ QStringLiteral("get"), QLatin1String(Schema), QLatin1String(Key) }, &mode))
        return false;
    if (mode == "'none'")
        *flags = ProxyTypeDirect;
    else if (mode == "'manual'")
        *flags = ProxyTypeProxy;
    else if (mode == "'auto'")
        *flags = ProxyTypeAutoProxyUrl;
    else
        return false; // a mode we could not put back
    return true;
}

bool NetworkProxySwitch::writeSystemFlags(quint32 flags)
{
    QString mode;
    if (flags == ProxyTypeDirect)
        mode = QStringLiteral("none");
    else if (flags & ProxyTypeAutoProxyUrl)
        mode = QStringLiteral("auto");
    else if (flags & ProxyTypeProxy)
        mode = QStringLiteral("manual");
    else
        return false;
    return runGsettings({ QStringLiteral("set"), QLatin1String(Schema), QLatin1String(Key), mode }, nullptr);
}
