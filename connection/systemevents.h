#ifndef NIMBORA_CONNECTION_SYSTEMEVENTS_H
#define NIMBORA_CONNECTION_SYSTEMEVENTS_H

#include <QObject>
#include <QTimer>

// Waking from sleep and changes of the network, as this program hears them on Windows: the
// power messages its windows receive and IP Helper's notifications of interfaces and addresses.
// Bursts come as one changed() once things settle. On Linux the privileged helper watches the
// same events itself, and this object says nothing.
class SystemEvents : public QObject
{
    Q_OBJECT

public:
    static constexpr int SettleTime = 1000;

    explicit SystemEvents(QObject *parent = nullptr);
    ~SystemEvents() override;

    // From any thread: the system's notifications come on threads of its own.
    void noteChange();

signals:
    void changed();

private:
    void startWatching();
    void stopWatching();

    QTimer m_settle;
    void *m_platform = nullptr;
};

#endif
