#ifndef NIMBORA_TESTS_SUPPORT_FAKEOPENVPN_H
#define NIMBORA_TESTS_SUPPORT_FAKEOPENVPN_H

#include "base/globalvalues.h"

#include <QDir>
#include <QFile>
#include <QString>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The stand-in openvpn program (tests/privileged/fake-openvpn) as the program's OpenVPN, driven
// through files in a folder of the test's own: the steps of its next run, and a FIFO on which it
// waits for a go after each chunk it prints. Linux only.
class FakeOpenVpn
{
public:
    FakeOpenVpn() = default;
    FakeOpenVpn(const FakeOpenVpn &) = delete;
    FakeOpenVpn &operator=(const FakeOpenVpn &) = delete;
    ~FakeOpenVpn()
    {
        if (m_control >= 0)
            ::close(m_control);
    }

    bool prepare(const QString &program, const QString &folder)
    {
        const QDir dir(folder);
        m_steps = dir.filePath(QStringLiteral("steps"));
        const QByteArray control = QFile::encodeName(dir.filePath(QStringLiteral("control")));
        if (::mkfifo(control.constData(), 0600) != 0)
            return false;
        // Read and write: opening never blocks, and writes go through while the stand-in lives.
        m_control = ::open(control.constData(), O_RDWR | O_NONBLOCK);
        qputenv("NIMBORA_FAKE_OPENVPN_CONTROL", control);
        qputenv("NIMBORA_FAKE_OPENVPN_STEPS", QFile::encodeName(m_steps));
        GlobalValues::setValue(GlobalValues::OpenvpnPath, program);
        GlobalValues::setValue(GlobalValues::CertificatPath, dir.filePath(QStringLiteral("ca.crt")));
        return m_control >= 0;
    }

    // Steps apart with "|", for the next run; the goes a run before it left unread are dropped.
    bool setSteps(const QString &steps)
    {
        QFile file(m_steps);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        file.write(QString(steps).replace(QLatin1Char('|'), QLatin1Char('\n')).toUtf8() + '\n');
        char drain[256];
        while (::read(m_control, drain, sizeof drain) > 0) { }
        return true;
    }

    // Lets the stand-in print its next chunk.
    bool go() { return ::write(m_control, "go\n", 3) == 3; }

private:
    QString m_steps;
    int m_control = -1;
};

#endif
