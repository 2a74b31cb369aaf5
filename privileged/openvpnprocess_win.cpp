#include "privileged/openvpnprocess.h"

#include <windows.h>

// The child joins a job that ends its processes when its last handle closes: this program's, at
// its end whatever the cause.
OpenVPNProcess::OpenVPNProcess(QObject *parent) : QProcess(parent)
{
    m_job = CreateJobObjectW(nullptr, nullptr);
    if (m_job) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(m_job, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
    }
    connect(this, &QProcess::started, this, &OpenVPNProcess::addToJob);
}

OpenVPNProcess::~OpenVPNProcess()
{
    if (m_job)
        CloseHandle(m_job);
}

void OpenVPNProcess::addToJob()
{
    if (!m_job)
        return;
    HANDLE process = OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE, FALSE, DWORD(processId()));
    if (!process)
        return;
    AssignProcessToJobObject(m_job, process);
    CloseHandle(process);
}
