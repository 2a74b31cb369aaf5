#ifndef NIMBORA_CORE_BACKGROUNDWORKER_H
#define NIMBORA_CORE_BACKGROUNDWORKER_H

#include <QThread>

#include <atomic>

// The base of every work: an object that is its own thread and does its whole job in run().
// It lives on that thread, so queued calls to its slots are handled there.
class BackgroundWorker : public QThread
{
    Q_OBJECT

public:
    // The owner is not made the QObject parent (an object with a parent cannot move to another
    // thread); the work is deleted with its owner all the same.
    explicit BackgroundWorker(QObject *parent = nullptr);
    ~BackgroundWorker() override;

    // Emits progressChanged every time, also when the value did not change.
    void setProgress(int value);
    int progress() const;

signals:
    void progressChanged(int progress);

private:
    std::atomic<int> m_progress { 0 };
    QMetaObject::Connection m_ownerConnection;
};

#endif
