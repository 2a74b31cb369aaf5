#ifndef NIMBORA_BASE_TERMINATIONWATCHER_H
#define NIMBORA_BASE_TERMINATIONWATCHER_H

#include <QObject>

class QSocketNotifier;

// Turns the system's polite requests to end (SIGTERM, SIGINT, SIGHUP on Linux) into a signal
// on the GUI thread, so that the program ends through its normal path and undoes its changes.
// On Windows the session manager talks to the windows instead, and there is nothing to watch.
// SIGUSR1 asks for a record of what is on screen (the demo's pictures) and ends nothing.
class TerminationWatcher : public QObject
{
    Q_OBJECT

public:
    explicit TerminationWatcher(QObject *parent = nullptr);
    ~TerminationWatcher() override;

signals:
    void terminationRequested();
    void picturesRequested();

private:
    void readSignal();

    QSocketNotifier *m_notifier = nullptr;
};

#endif
