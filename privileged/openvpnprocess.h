#ifndef NIMBORA_PRIVILEGED_OPENVPNPROCESS_H
#define NIMBORA_PRIVILEGED_OPENVPNPROCESS_H

#include <QProcess>

// The OpenVPN child process. It ends with the program, even one that is killed or crashes, so
// that no VPN process outlives the client that drives it.
class OpenVPNProcess : public QProcess
{
    Q_OBJECT

public:
    explicit OpenVPNProcess(QObject *parent = nullptr);
    ~OpenVPNProcess() override;

protected:
#ifndef Q_OS_WIN
    void setupChildProcess() override;
#endif

private:
#ifdef Q_OS_WIN
    void addToJob();

    void *m_job = nullptr; // closed with the program, it ends the child
#else
    qint64 m_programId = 0;
#endif
};

#endif
