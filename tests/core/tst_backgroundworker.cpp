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
    void deletedWithItsOwner();
    void deletedBeforeItsOwner();
};

void TestBackgroundWorker::progressEmitsEveryTime()
{
    ProbeWork work;
    QCOMPARE(work.progress(), 0);
    QSignalSpy spy(&work, &BackgroundWorker::progressChanged);
    work.setProgress(50);
    work.setProgress(50);
    work.setProgress(0);
    QCOMPARE(spy.size(), 3);
    QCOMPARE(spy.at(0).at(0).toInt(), 50);
    QCOMPARE(spy.at(1).at(0).toInt(), 50);
    QCOMPARE(spy.at(2).at(0).toInt(), 0);
    QCOMPARE(work.progress(), 0);
}

void TestBackgroundWorker::queuedCallsRunOnTheWorkThread()
{
    QObject owner;
    auto *work = new ProbeWork(&owner);
    QCOMPARE(work->thread(), static_cast<QThread *>(work));

    QSignalSpy finished(work, &QThread::finished);
    QMetaObject::invokeMethod(work, "probe", Qt::QueuedConnection);
    work->start();
    QVERIFY(finished.wait(10000));
    QVERIFY(work->wait(10000));
    QCOMPARE(work->probedThread, static_cast<QThread *>(work));

    // Restarted after finished(), the same object works again.
    work->probedThread = nullptr;
    QMetaObject::invokeMethod(work, "probe", Qt::QueuedConnection);
    work->start();
    QVERIFY(finished.wait(10000));
    QVERIFY(work->wait(10000));
    QCOMPARE(work->probedThread, static_cast<QThread *>(work));
}

void TestBackgroundWorker::deletedWithItsOwner()
{
    auto *owner = new QObject;
    QPointer<ProbeWork> work = new ProbeWork(owner);
    delete owner;
    QVERIFY(work.isNull());
}

void TestBackgroundWorker::deletedBeforeItsOwner()
{
    QObject owner;
    QPointer<ProbeWork> work = new ProbeWork(&owner);
    delete work.data();
    QVERIFY(work.isNull());
    // The owner's end must not reach the deleted work (the sanitizer would tell).
}

NIMBORA_TEST_MAIN(TestBackgroundWorker, QCoreApplication)
#include "tst_backgroundworker.moc"
