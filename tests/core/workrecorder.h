#ifndef WORKRECORDER_H
#define WORKRECORDER_H

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
    template<typename Work>
    explicit WorkRecorder(Work *work)
    {
        connect(
                work, &Work::error, this,
                [this, work](typename Work::Error error) {
                    events << QStringLiteral("error %1%2").arg(int(error)).arg(work->isRunning() ? "" : " (not held)");
                },
                Qt::BlockingQueuedConnection);
        connect(work, &QThread::finished, this, [this]() { events << QStringLiteral("finished"); });
    }

    bool waitForFinished(int timeout = 20000)
    {
        return QTest::qWaitFor([this]() { return events.contains(QStringLiteral("finished")); }, timeout);
    }

    QStringList events;
};

#endif
