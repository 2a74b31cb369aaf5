#ifndef NIMBORA_TESTS_CORE_WORKRECORDER_H
#define NIMBORA_TESTS_CORE_WORKRECORDER_H

#include <QObject>
#include <QStringList>
#include <QTest>
#include <QThread>

// Receives a work's outcome on the test's thread the way the windows do: error through a
// blocking queued connection, finished() queued. Records the order in which they arrive and
// whether the work was still held in its run() while its error was being handled.
class WorkRecorder : public QObject
{
public:
    template <typename Work>
    explicit WorkRecorder(Work *work) : m_work(work)
    {
        connect(
            work, &Work::error, this,
            [this, work](typename Work::Error error) {
                events << QStringLiteral("error %1%2").arg(int(error)).arg(work->isRunning() ? "" : " (not held)");
            },
            Qt::BlockingQueuedConnection);
        connect(work, &QThread::finished, this, [this]() { events << QStringLiteral("finished"); });
    }

    // Starts the work and waits until its finished() has arrived and its thread has ended.
    bool run(int timeout = 20000)
    {
        events.clear();
        m_work->start();
        return QTest::qWaitFor([this]() { return events.contains(QStringLiteral("finished")); }, timeout)
            && m_work->wait(5000);
    }

    QStringList events;

private:
    QThread *m_work;
};

#endif
