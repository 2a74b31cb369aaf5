#ifndef NIMBORA_HELPER_NETWORKWATCH_H
#define NIMBORA_HELPER_NETWORKWATCH_H

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class QDBusPendingCallWatcher;
class QSocketNotifier;

// Tells when the connection may need repairing: the kernel's link, address and route changes
// (rtnetlink), logind's PrepareForSleep and a jump of the wall clock (a resume that logind did
// not announce). Every trigger restarts one settle timer, so that a burst of changes gives one
// changed(); a burst that never ends still gives one every MaximumDelay. Before sleep logind
// waits for our delay inhibitor, which is let go once aboutToSleep()'s slots have run.
class NetworkWatch : public QObject
{
    Q_OBJECT

public:
    // Quiet time after the last trigger before changed().
    static constexpr int SettleTime = 1000;
    // Longest time from a trigger to changed(), however long the triggers go on.
    static constexpr int MaximumDelay = 2 * SettleTime;
    static constexpr int ClockCheckInterval = 2000;
    // Wall time that ran ahead of (or behind) the monotonic clock by more than this was a sleep
    // or a clock change.
    static constexpr qint64 ClockJumpTolerance = 5000;
    // Messages read per wake-up of the netlink socket; the rest wait for the next turn.
    static constexpr int MessagesPerRead = 64;

    explicit NetworkWatch(const QDBusConnection &bus, QObject *parent = nullptr);
    ~NetworkWatch() override;

    // False with the reason when the kernel's changes cannot be watched. Without logind the
    // watch goes on without it, and says so once.
    bool start(QString *errorString);

signals:
    // The machine is about to sleep: the slots run before logind is let go.
    void aboutToSleep();
    // Something changed since the last changed(), or the machine woke up.
    void changed();
    void log(const QString &line);

private slots:
    void readNetlink();
    void prepareForSleep(bool sleeping);
    void logindAppeared();
    void inhibitorTaken(QDBusPendingCallWatcher *call);
    void checkClock();

private:
    bool openNetlink(QString *errorString);
    void watchLogind();
    void takeInhibitor();
    void trigger();
    void settle();

    QDBusConnection m_bus;
    int m_netlink = -1;
    QSocketNotifier *m_netlinkNotifier = nullptr;
    QTimer m_settleTimer;
    QElapsedTimer m_pendingSince;
    QTimer m_clockTimer;
    QElapsedTimer m_monotonic;
    qint64 m_wallAtCheck = 0;
    QDBusUnixFileDescriptor m_inhibitor;
    bool m_sleeping = false;
    bool m_logindMissingSaid = false;
};

#endif
