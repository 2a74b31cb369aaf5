#ifndef NIMBORA_TESTS_CORE_PROXYENVIRONMENT_H
#define NIMBORA_TESTS_CORE_PROXYENVIRONMENT_H

#include "base/settingskeys.h"

#include <QSettings>
#include <QtGlobal>

// The machine's proxy environment must not decide where a test's requests go.
inline void clearProxyEnvironment()
{
    for (const char *name : { "http_proxy", "https_proxy", "ftp_proxy", "all_proxy", "no_proxy", "HTTP_PROXY",
             "HTTPS_PROXY", "ALL_PROXY", "NO_PROXY" })
        qunsetenv(name);
}

// The user's own HTTP proxy, as typed in the options.
inline void useHttpProxy(const QString &host, quint16 port)
{
    QSettings settings;
    settings.setValue(SettingsKeys::Proxy, QStringLiteral("manual"));
    settings.setValue(SettingsKeys::HttpProxyHost, host);
    settings.setValue(SettingsKeys::HttpProxyPort, port);
}

#endif
