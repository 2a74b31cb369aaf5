#include "ui/networkcheckwork.h"

#include "base/settingskeys.h"
#include "buildconfig.h"
#include "core/mainservercall.h"

#include <QNetworkProxyFactory>
#include <QSettings>

namespace {

// An entry without a host is a manual proxy left blank: nothing would go through it.
bool isProxy(const QNetworkProxy &proxy)
{
    return proxy.type() != QNetworkProxy::NoProxy && !proxy.hostName().isEmpty();
}

} // namespace

NetworkCheckWork::NetworkCheckWork(QObject *parent) : BackgroundWorker(parent)
{
    qRegisterMetaType<NetworkCheckWork::LogLevel>("NetworkCheckWork::LogLevel");
}

bool NetworkCheckWork::found() const
{
    return m_found;
}

void NetworkCheckWork::run()
{
    m_found = false;
    const QString currentDomain
        = QSettings().value(SettingsKeys::MainServerAddress, SettingsKeys::defaultMainServerAddress()).toString();

    MainServerAccess access;
    connect(&access, &MainServerAccess::proxyAuthenticationRequired, this,
        &NetworkCheckWork::proxyAuthenticationRequired, Qt::DirectConnection);

    const QList<QPair<QString, QString>> modes { { tr("Sans proxy"), QStringLiteral("none") },
        { tr("Proxy système"), QStringLiteral("system") }, { tr("Proxy manuel"), QStringLiteral("manual") } };
    for (const auto &mode : modes) {
        if (!selectProxyMode(mode.second))
            continue;
        for (const ServerName &name : serverNames(currentDomain)) {
            if (isInterruptionRequested())
                return;
            if (tryServer(access, mode.first, name)) {
                m_found = true;
                return;
            }
        }
    }
}

QList<NetworkCheckWork::ServerName> NetworkCheckWork::serverNames(const QString &currentDomain) const
{
    const QString host = SettingsKeys::defaultMainServerAddress();
    const QString address = QStringLiteral(NIMBORA_MAIN_SERVER_IP);
    QList<ServerName> names { { tr("Domaine par défaut"), host }, { tr("Adresse IP par défaut"), address } };
    // Host names compare without case: "Main.Example" is the same server as "main.example".
    if (!currentDomain.isEmpty() && currentDomain.compare(host, Qt::CaseInsensitive) != 0 && currentDomain != address)
        names.append({ tr("Domaine courant"), currentDomain });
    return names;
}

// Stores the mode; false when the mode would reach the main server the same way as no proxy.
bool NetworkCheckWork::selectProxyMode(const QString &mode) const
{
    QSettings().setValue(SettingsKeys::Proxy, mode);
    if (mode == QLatin1String("none"))
        return true;
    const QList<QNetworkProxy> proxies
        = QNetworkProxyFactory::proxyForQuery(QNetworkProxyQuery(SettingsKeys::defaultMainServerAddress(), 80));
    return isProxy(proxies.value(0, QNetworkProxy(QNetworkProxy::NoProxy)));
}

bool NetworkCheckWork::tryServer(MainServerAccess &access, const QString &modeLabel, const ServerName &name)
{
    QSettings().setValue(SettingsKeys::MainServerAddress, name.address);
    emit log(modeLabel + QStringLiteral(" / ") + name.label + QStringLiteral("....."), Normal);

    const QDomElement root = access.request(MainServerAccess::Check, QString());
    const MainServerReply reply = MainServerCall::reply(access, root);
    if (reply.status == MainServerReply::Ok) {
        emit log(tr("OK"), Success);
        return true;
    }
    // The error text may come from the proxy or the server (a reason phrase): never markup.
    const QString reason
        = reply.status == MainServerReply::NoReply ? access.errorString().toHtmlEscaped() : tr("Contenu invalide");
    emit log(tr("ECHEC") + QStringLiteral(" (") + reason + QLatin1Char(')'), Failure);
    emit log(QStringLiteral("<br />"), Normal);
    return false;
}
