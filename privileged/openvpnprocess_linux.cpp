#include "privileged/openvpnprocess.h"

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

OpenVPNProcess::OpenVPNProcess(QObject *parent) : QProcess(parent), m_programId(::getpid()) { }

OpenVPNProcess::~OpenVPNProcess() = default;

// In the child, between fork and exec: only async-signal-safe calls here. The kernel sends the
// signal when the thread that started the child ends, so the controller starts and stops OpenVPN
// from the one thread that owns it for the whole connection.
void OpenVPNProcess::setupChildProcess()
{
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    // The program may have gone before the line above took effect: then no signal would ever come.
    if (::getppid() != m_programId)
        ::_exit(1);
}
