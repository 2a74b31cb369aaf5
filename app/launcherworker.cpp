#include "app/launcherworker.h"

#include "base/globalvalues.h"
#include "base/settingskeys.h"
#include "base/useragent.h"
#include "core/mainservercall.h"
#include "core/networkproxyfactory.h"
#include "netconfig/networkconfiguration.h"
#include "netconfig/tapadapters.h"

#include <QCoreApplication>
#include <QDomElement>
#include <QNetworkProxy>
#include <QRandomGenerator>
#include <QSettings>

namespace {

constexpr char InterfaceNameValue[] = "Nimbora";
constexpr int ComparedVersionParts = 4;

void migrateProxy(QSettings &settings, const char *legacyKey, const char *hostKey, const char *portKey)
{
    if (!settings.contains(QLatin1String(legacyKey)))
        return;
    const QVariant value = settings.value(QLatin1String(legacyKey));
    // A value that does not read back as a proxy has nothing to give; the keys it would
    // overwrite are kept.
    if (value.userType() == qMetaTypeId<QNetworkProxy>()) {
        const QNetworkProxy proxy = value.value<QNetworkProxy>();
        settings.setValue(QLatin1String(hostKey), proxy.hostName());
        settings.setValue(QLatin1String(portKey), proxy.port());
    }
    settings.remove(QLatin1String(legacyKey));
}

} // namespace

LauncherWorker::LauncherWorker(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<LauncherWorker::State>("LauncherWorker::State");
}

LauncherWorker::State LauncherWorker::state() const
{
    return m_state;
}

int LauncherWorker::error() const
{
    return m_error;
}

quint8 LauncherWorker::progress() const
{
    return m_progress;
}

void LauncherWorker::setState(State state)
{
    if (m_state.exchange(state) != state)
        emit stateChanged(state);
}

void LauncherWorker::setError(int error)
{
    m_error = error;
}

void LauncherWorker::setProgress(quint8 progress)
{
    m_progress = progress;
    emit progressChanged(progress);
}

bool LauncherWorker::isNewerVersion(const QString &version, const QString &programVersion)
{
    const QStringList given = version.split(QLatin1Char('.'));
    const QStringList current = programVersion.split(QLatin1Char('.'));
    auto part = [](const QStringList &parts, int index) -> qulonglong {
        if (index >= parts.size())
            return 0;
        bool ok = false;
        const qulonglong value = parts.at(index).toULongLong(&ok);
        return ok ? value : 0;
    };
    for (int index = 0; index < ComparedVersionParts; ++index) {
        const qulonglong a = part(given, index);
        const qulonglong b = part(current, index);
        if (a != b)
            return a > b;
    }
    return false;
}

void LauncherWorker::migrateSettings()
{
    QSettings settings;
    migrateProxy(settings, SettingsKeys::LegacyHttpProxy, SettingsKeys::HttpProxyHost, SettingsKeys::HttpProxyPort);
    migrateProxy(settings, SettingsKeys::LegacySocksProxy, SettingsKeys::SocksProxyHost, SettingsKeys::SocksProxyPort);
    if (settings.contains(QLatin1String(SettingsKeys::LegacyProxyMode))) {
        bool isNumber = false;
        const int mode = settings.value(QLatin1String(SettingsKeys::LegacyProxyMode)).toInt(&isNumber);
        if (isNumber) {
            const char *proxy = mode == 1 ? "system" : mode == 2 ? "manual" : "none";
            settings.setValue(QLatin1String(SettingsKeys::Proxy), QString::fromLatin1(proxy));
        }
        settings.remove(QLatin1String(SettingsKeys::LegacyProxyMode));
    }
    settings.remove(QLatin1String(SettingsKeys::LegacyConnectionMode));
}

void LauncherWorker::start()
{
    setState(Running);
    setError(NoError);
    setProgress(0);

    const QString programDirectory = QCoreApplication::applicationDirPath();
    GlobalValues::setValue(GlobalValues::DefaultUserAgent, QString::fromLatin1(UserAgent::Default));
    GlobalValues::setValue(GlobalValues::OpenvpnPath, openvpnPath());
    // Beside the program unless the environment names another: the lab's servers have a CA of their own.
    GlobalValues::setValue(GlobalValues::CertificatPath,
        qEnvironmentVariable("NIMBORA_CA_CERTIFICATE", programDirectory + QLatin1String("/ca.crt")));
    GlobalValues::setValue(GlobalValues::DriverName, driverName());
    GlobalValues::setValue(GlobalValues::DriverVersion, driverVersion());
    GlobalValues::setValue(GlobalValues::InterfaceName, QString::fromLatin1(InterfaceNameValue));

    QSettings().setValue(QLatin1String(SettingsKeys::ApplicationVersion), QCoreApplication::applicationVersion());
    migrateSettings();

    bool checkForUpdates = SettingsKeys::CheckForUpdatesDefault;
    {
        QSettings settings;
        checkForUpdates = settings.value(QLatin1String(SettingsKeys::CheckForUpdates), checkForUpdates).toBool();
        if (settings.value(QLatin1String(SettingsKeys::ProxyAutoAuth), SettingsKeys::ProxyAutoAuthDefault).toBool()) {
            GlobalValues::setValue(
                GlobalValues::ProxyUsername, settings.value(QLatin1String(SettingsKeys::ProxyUsername)).toString());
            GlobalValues::setValue(
                GlobalValues::ProxyPassword, settings.value(QLatin1String(SettingsKeys::ProxyPassword)).toString());
        }
    }

    QNetworkProxyFactory::setApplicationProxyFactory(new NetworkProxyFactory);

    setProgress(20);

    // The random token keeps every request apart from the ones before it.
    const QString token = QString::number(QRandomGenerator::global()->bounded(10000));
    const MainServerReply version = MainServerCall::call(this, &LauncherWorker::proxyAuthenticationRequired,
        MainServerAccess::Version, { { QStringLiteral("token"), token } });
    if (version.status != MainServerReply::Ok) {
        setError(ServerError);
        setState(Failed);
        return;
    }
    const QDomElement &reply = version.root;

    const QString programVersion = QCoreApplication::applicationVersion();
    const QString optional = reply.firstChildElement(QStringLiteral("optional")).text();
    const QString mandatory = reply.firstChildElement(QStringLiteral("mandatory")).text();
    if (isNewerVersion(mandatory, programVersion)) {
        setError(MandatoryUpdateError);
        setState(Failed);
        return;
    }
    // The launcher offers the update while the checks go on.
    if (isNewerVersion(optional, programVersion) && checkForUpdates) {
        setError(OptionalUpdateError);
        setState(Failed);
    }

    setProgress(40);
    const QList<NetworkAdapter> adapters = tapAdapters();
    if (adapters.isEmpty()) {
        setError(InterfaceNotFoundError);
        setState(Failed);
        return;
    }

    setProgress(60);
    const QString interfaceName = QString::fromLatin1(InterfaceNameValue);
    NetworkAdapter chosen;
    for (const NetworkAdapter &adapter : adapters) {
        if (adapter.networkInterface().humanReadableName() == interfaceName)
            chosen = adapter;
    }
    if (!chosen.isValid()) {
        const QNetworkInterface last = adapters.last().networkInterface();
        renameInterface(last, interfaceName);
        // Where the name is the guid, the renamed adapter has a new one.
        chosen = NetworkAdapter(QNetworkInterface::interfaceFromIndex(last.index()));
        if (!chosen.isValid())
            chosen = adapters.last();
    }
    GlobalValues::setValue(GlobalValues::Interface, chosen.guid());

    setState(Finished);
    setProgress(100);
}
