#include "privileged/connectionlock.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

// One program at a time changes the machine: a second holder is refused while the first holds
// the lock, in this process or another, and gets it once the first lets go or dies.
class TestConnectionLock : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void oneHolderAtATime_data();
    void oneHolderAtATime();
    void notInheritedByChildren();
    void linkRefused_data();
    void linkRefused();

private:
    QTemporaryDir m_folder;
    QString m_path;
};

void TestConnectionLock::init()
{
    QVERIFY(m_folder.isValid());
    m_path = m_folder.filePath(QStringLiteral("state/undo-journal.lock"));
    QFile::remove(m_path);
}

void TestConnectionLock::oneHolderAtATime_data()
{
    QTest::addColumn<bool>("otherProcess");

    QTest::newRow("a lock of this process, then unlocked") << false;
    QTest::newRow("flock(1) in another process, then killed") << true;
}

void TestConnectionLock::oneHolderAtATime()
{
    QFETCH(bool, otherProcess);
    ConnectionLock first(m_path);
    QProcess holder;
    if (otherProcess) {
        QVERIFY(QDir().mkpath(m_folder.filePath(QStringLiteral("state"))));
        // The shell's own process holds it, so that killing that process is the holder's death.
        holder.start(QStringLiteral("sh"),
            { QStringLiteral("-c"), QStringLiteral("exec 9>>\"$0\" && flock -n 9 && echo held && exec sleep 30"),
                m_path });
        QVERIFY(holder.waitForReadyRead(10000));
        QCOMPARE(holder.readAllStandardOutput(), QByteArray("held\n"));
    } else {
        QCOMPARE(first.tryLock(), ConnectionLock::Taken);
        // Another user able to open the file could hold the lock and keep our program from connecting.
        const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
            | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
        QCOMPARE(QFile::permissions(m_path) & others, QFileDevice::Permissions());
    }

    ConnectionLock second(m_path);
    QCOMPARE(second.tryLock(), ConnectionLock::Held);
    QVERIFY(!second.isLocked());
    if (otherProcess) {
        holder.kill();
        QVERIFY(holder.waitForFinished());
    } else {
        first.unlock();
    }
    QCOMPARE(second.tryLock(), ConnectionLock::Taken);
    QVERIFY(second.isLocked());
}

// An OpenVPN that outlives the program must not keep the next start from undoing what it left.
void TestConnectionLock::notInheritedByChildren()
{
    ConnectionLock first(m_path);
    QCOMPARE(first.tryLock(), ConnectionLock::Taken);
    QProcess child;
    child.start(QStringLiteral("sleep"), { QStringLiteral("30") });
    QVERIFY(child.waitForStarted());
    first.unlock();
    ConnectionLock second(m_path);
    QCOMPARE(second.tryLock(), ConnectionLock::Taken);
    child.kill();
    child.waitForFinished();
}

void TestConnectionLock::linkRefused_data()
{
    QTest::addColumn<bool>("targetExists");

    QTest::newRow("a link to a file") << true;
    QTest::newRow("a link to nothing") << false;
}

// Another user plants a link where the lock goes: root must neither open nor create what it names.
void TestConnectionLock::linkRefused()
{
    QFETCH(bool, targetExists);
    const QString target = m_folder.filePath(QStringLiteral("target"));
    QFile::remove(target);
    if (targetExists) {
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QVERIFY(QDir().mkpath(m_folder.filePath(QStringLiteral("state"))));
    QVERIFY(QFile::link(target, m_path));

    ConnectionLock lock(m_path);
    QCOMPARE(lock.tryLock(), ConnectionLock::Failed);
    QVERIFY(!lock.isLocked());
    QVERIFY(lock.errorString().contains(m_path));
    QCOMPARE(QFile::exists(target), targetExists);
}

NIMBORA_TEST_MAIN(TestConnectionLock, QCoreApplication)

#include "tst_connectionlock.moc"
