// Starts a long-lived child the way the OpenVPN controller starts OpenVPN, prints its process id and
// waits: tst_openvpn kills this program and checks that the child did not outlive it.
#include "privileged/openvpnprocess.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    OpenVPNProcess child;
    child.start(QStringLiteral("sleep"), { QStringLiteral("600") });
    if (!child.waitForStarted(10000))
        return 1;
    std::printf("%lld\n", child.processId());
    std::fflush(stdout);
    return application.exec();
}
