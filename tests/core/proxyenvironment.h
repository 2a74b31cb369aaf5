#ifndef NIMBORA_TESTS_CORE_PROXYENVIRONMENT_H
#define NIMBORA_TESTS_CORE_PROXYENVIRONMENT_H

#include <QtGlobal>

// The machine's proxy environment must not decide where a test's requests go.
inline void clearProxyEnvironment()
{
    for (const char *name : { "http_proxy", "https_proxy", "ftp_proxy", "all_proxy", "no_proxy", "HTTP_PROXY",
             "HTTPS_PROXY", "ALL_PROXY", "NO_PROXY" })
        qunsetenv(name);
}

#endif
