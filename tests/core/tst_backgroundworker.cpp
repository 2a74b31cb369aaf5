#include "core/backgroundworker.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QPointer>

// A work whose run() serves queued calls until one of them ends it.
class ProbeWork : public BackgroundWorker
{
    Q_OBJECT

public:
    using BackgroundWorker::BackgroundWorker;

    QThread *probedThread = nullptr;

public slots:
    void probe()
    {
        probedThread = QThread::currentThread();
        quit();
    }

protected:
    void run() override { exec(); }
};

class TestBackgroundWorker : public QObject
{
    Q_OBJECT

private slots:
    void progressEmitsEveryTime();
    void queuedCallsRunOnTheWorkThread();
    void deletedWithItsOwnerOrBefore();
};

void TestBackgroundWorker::progressEmitsEveryTime()
{
    ProbeWork work;
    QCOMPARE(work.progress(), 0);
    QSignalSpy spy(&work, &BackgroundWorker::progressChanged);
    work.setProgress(50);
    work.setProgress(50);
    work.setProgress(0);
    QCOMPARE(spy, QList<QList<QVariant>>({ { 50 }, { 50 }, { 0 } }));
    QCOMPARE(work.progress(), 0);
}

void TestBackgroundWorker::queuedCallsRunOnTheWorkThread()
{
    QObject owner;
    auto *work = new ProbeWork(&owner);
    QCOMPARE(work->thread(), static_cast<QThread *>(work));

    QSignalSpy finished(work, &QThread::finished);
    // Restarted after finished(), the same object works again.
    for (int run = 1; run <= 2; ++run) {
        work->probedThread = nullptr;
        QMetaObject::invokeMethod(work, "probe", Qt::QueuedConnection);
        work->start();
        // Counted rather than waited for: the work may be done before a wait would begin.
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), run, 10000);
        QVERIFY(work->wait(10000));
        QCOMPARE(work->probedThread, static_cast<QThread *>(work));
    }
}

void TestBackgroundWorker::deletedWithItsOwnerOrBefore()
{
    auto *owner = new QObject;
    QPointer<ProbeWork> work = new ProbeWork(owner);
    delete owner;
    QVERIFY(work.isNull());

    QObject keptOwner;
    work = new ProbeWork(&keptOwner);
    delete work.data();
    // The owner's end must not reach the deleted work (the sanitizer would tell).
}

NIMBORA_TEST_MAIN(TestBackgroundWorker, QCoreApplication)
#include "tst_backgroundworker.moc"
