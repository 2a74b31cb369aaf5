#ifndef NIMBORA_APP_SINGLEAPPLICATION_H
#define NIMBORA_APP_SINGLEAPPLICATION_H

#include <QApplication>
#include <QByteArray>

class SingleApplicationPrivate;

// An application object that lets one instance run per key. A later start finds the running
// one through a named shared-memory block, tells it over a local socket that it was started,
// and ends at once.
class SingleApplication : public QApplication
{
    Q_OBJECT

public:
    enum Mode {
        User = 1 << 0,
        System = 1 << 1,
        SecondaryNotification = 1 << 2,
        ExcludeAppVersion = 1 << 3,
        ExcludeAppPath = 1 << 4
    };
    Q_DECLARE_FLAGS(Options, Mode)

    SingleApplication(int &argc, char *argv[], bool allowSecondary = false, Options options = User, int timeout = 1000);
    ~SingleApplication() override;

    bool isPrimary() const;
    bool isSecondary() const;
    quint32 instanceId() const;
    qint64 primaryPid() const;
    bool sendMessage(const QByteArray &message, int timeout = 100);

signals:
    void instanceStarted();
    void receivedMessage(quint32 instanceId, QByteArray message);

private:
    friend class SingleApplicationPrivate;
    SingleApplicationPrivate *m_d;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(SingleApplication::Options)

#endif
