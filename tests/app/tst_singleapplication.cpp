#include "app/singleapplicationprivate.h"

#include "tests/support/testhttpserver.h"
#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QSharedMemory>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUuid>

#include <cstring>
#include <memory>
#ifndef Q_OS_WIN
#include <signal.h>
#include <unistd.h>
#endif

namespace {

using Private = SingleApplicationPrivate;
// Generous: sanitized programs start slowly on a loaded machine, and waits end on the event.
constexpr int ProbeTimeout = 20000;

#ifdef Q_OS_WIN
const QString ProgramSuffix = QStringLiteral(".exe");
#else
const QString ProgramSuffix;
#endif

QString probePath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/singleinstanceprobe") + ProgramSuffix;
}

// One probe process: the real application object under a domain of the test's own.
class Probe
{
public:
    explicit Probe(const QString &domain, const QString &program = probePath(), const QStringList &wrapper = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("NIMBORA_PROBE_DOMAIN"), domain);
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const QStringList command = wrapper + QStringList(program);
        process.start(command.first(), command.mid(1));
    }
    ~Probe()
    {
        if (process.state() != QProcess::NotRunning && !stop())
            process.kill();
    }

    // Next line of the probe's report, or an empty text when none came in time.
    QString nextLine()
    {
        QElapsedTimer timer;
        timer.start();
        while (!process.canReadLine() && process.state() != QProcess::NotRunning && timer.elapsed() < ProbeTimeout)
            process.waitForReadyRead(int(ProbeTimeout - timer.elapsed()));
        return QString::fromLatin1(process.readLine()).trimmed();
    }

    bool stop()
    {
        process.closeWriteChannel();
        return process.waitForFinished(ProbeTimeout) && process.exitStatus() == QProcess::NormalExit
            && process.exitCode() == 0;
    }

    QProcess process;
};

QString freshDomain()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces) + QStringLiteral(".test.example");
}

// The key of the probe's instances, with the options of the program's application object.
QString keyFor(const QString &domain, const QString &path = probePath(), const QString &version = "1.6.7",
    const QString &user = Private::userName())
{
    return Private::makeBlockServerName(QStringLiteral("Nimbora"), QStringLiteral("Ostrelle"), domain, version, path,
        user, SingleApplication::User | SingleApplication::ExcludeAppVersion | SingleApplication::ExcludeAppPath);
}

QByteArray blockWith(quint8 primary, qint64 pid, bool validChecksum)
{
    QByteArray block(Private::BlockSize, '\0');
    block[0] = char(primary);
    std::memcpy(block.data() + 8, &pid, sizeof pid);
    const quint16 checksum = qChecksum(block.constData(), Private::ChecksummedSize) ^ (validChecksum ? 0 : 0x5a5a);
    std::memcpy(block.data() + 16, &checksum, sizeof checksum);
    return block;
}

// Holds a probe still for its lifetime: connections wait in its backlog, so its 100 ms read
// window opens only once the sender's whole message is there, however a loaded machine
// schedules the sender. Not on Windows: under Wine a pipe's write completes only once the
// primary has read it, so a held primary would never get the message. There the message
// follows the connection at once.
struct Held
{
#ifdef Q_OS_WIN
    explicit Held(const Probe &) { }
#else
    explicit Held(const Probe &probe) : pid(pid_t(probe.process.processId())) { ::kill(pid, SIGSTOP); }
    ~Held() { ::kill(pid, SIGCONT); }
    const pid_t pid;
#endif
};

// Connects to the held primary and gives the whole message in one write, written out before
// anything else; what went wrong otherwise.
QByteArray send(QLocalSocket *socket, const Probe &primary, const QString &key, const QByteArray &bytes)
{
    const Held held(primary);
    socket->connectToServer(key);
    if (socket->state() != QLocalSocket::ConnectedState)
        return "no connection: " + socket->errorString().toUtf8();
    if (socket->write(bytes) != bytes.size())
        return "not written: " + socket->errorString().toUtf8();
    // A Windows pipe writes in the background and says so through the event loop.
    socket->flush();
    while (socket->bytesToWrite() > 0) {
        if (!socket->waitForBytesWritten(ProbeTimeout))
            return "not written out: " + socket->errorString().toUtf8();
    }
    return QByteArray();
}

} // namespace

class TestSingleApplication : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void blockServerName();
    void laterStartsLeave();
    void otherUserRuns();
    void connectionMessages_data();
    void connectionMessages();
    void leftBlockIsTakenOver_data();
    void leftBlockIsTakenOver();
    void realClientRunsOnce();

private:
    // One primary serves every row of the connection messages.
    QString m_domain;
    QString m_key;
    std::unique_ptr<Probe> m_primary;
};

void TestSingleApplication::initTestCase()
{
    m_domain = freshDomain();
    m_key = keyFor(m_domain);
}

void TestSingleApplication::cleanupTestCase()
{
    if (m_primary) {
        QVERIFY(m_primary->stop());
        QVERIFY(m_primary->process.readAll().isEmpty());
    }
}

// One key per user and domain, whatever the program's folder or version. It names a file and
// a shared block: Base64 of a SHA-256 without any "/".
void TestSingleApplication::blockServerName()
{
    const QString domain = QStringLiteral("ostrelle.example");
    const QString reference = keyFor(domain, "/opt/nimbora/nimbora", "1.6.7", "alice");
    QCOMPARE(keyFor(domain, "/home/alice/nimbora", "1.6.7", "alice"), reference);
    QCOMPARE(keyFor(domain, "/opt/nimbora/nimbora", "1.7.0", "alice"), reference);
    QVERIFY(keyFor(domain, "/opt/nimbora/nimbora", "1.6.7", "bob") != reference);
    for (int i = 0; i < 32; ++i) {
        const QString key = keyFor(domain, "/opt/nimbora/nimbora", "1.6.7", QString::number(i));
        QCOMPARE(key.size(), 44);
        QVERIFY2(!key.contains(QLatin1Char('/')), qPrintable(key));
    }
}

// A later start of the same program, or of a copy elsewhere, tells the first and leaves
// quietly; once the first ends cleanly, the next start is the primary.
void TestSingleApplication::laterStartsLeave()
{
    QTemporaryDir elsewhere;
    const QString copy = elsewhere.filePath(QStringLiteral("nimbora-copy") + ProgramSuffix);
    QVERIFY(QFile::copy(probePath(), copy));
    QVERIFY(QFile::setPermissions(copy, QFile::permissions(probePath())));

    const QString domain = freshDomain();
    {
        Probe first(domain);
        QCOMPARE(first.nextLine(), QStringLiteral("primary"));
        for (const QString &program : { probePath(), copy }) {
            {
                const Held held(first);
                Probe later(domain, program);
                QVERIFY(later.process.waitForFinished(ProbeTimeout));
                QCOMPARE(later.process.exitStatus(), QProcess::NormalExit);
                QCOMPARE(later.process.exitCode(), 0);
                QVERIFY(later.process.readAll().isEmpty());
            }
            QCOMPARE(first.nextLine(), QStringLiteral("instanceStarted"));
        }
        QVERIFY(first.stop());
    }
    Probe next(domain);
    QCOMPARE(next.nextLine(), QStringLiteral("primary"));
    QVERIFY(next.stop());
}

void TestSingleApplication::otherUserRuns()
{
#ifdef Q_OS_WIN
    QSKIP("Starting as another user needs that user's password on Windows");
#else
    if (::geteuid() != 0)
        QSKIP("Starting as another user needs root");
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (setpriv.isEmpty())
        QSKIP("setpriv (util-linux) is not installed");
    const QStringList asNobody { setpriv, "--reuid=65534", "--regid=65534", "--clear-groups" };
    if (QProcess::execute(setpriv, asNobody.mid(1) + QStringList { "test", "-x", probePath() }) != 0)
        QSKIP("The test programs are not reachable by an unprivileged user in this build folder");

    const QString domain = freshDomain();
    Probe first(domain);
    QCOMPARE(first.nextLine(), QStringLiteral("primary"));
    Probe other(domain, probePath(), asNobody);
    QCOMPARE(other.nextLine(), QStringLiteral("primary"));
    QVERIFY(other.stop());
    QVERIFY(first.stop());
#endif
}

void TestSingleApplication::connectionMessages_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("accepted");

    const QByteArray valid = Private::makeConnectionMessage(m_key, Private::NewInstance, 0);
    QByteArray badChecksum = valid;
    badChecksum[badChecksum.size() - 1] = char(badChecksum.at(badChecksum.size() - 1) ^ 0x01);
    QTest::newRow("new instance") << valid << true;
    QTest::newRow("wrong checksum") << badChecksum << false;
    const QString otherKey = keyFor(freshDomain());
    QTest::newRow("other instance's name")
        << Private::makeConnectionMessage(otherKey, Private::NewInstance, 0) << false;
    QTest::newRow("type 0") << Private::makeConnectionMessage(m_key, Private::InvalidConnection, 0) << false;
    QTest::newRow("huge length") << QByteArray::fromHex("7fffffffffffffff") + valid.mid(8) << false;
    // Left open: the rest never comes within the primary's 100 ms.
    QTest::newRow("cut body") << valid.left(valid.size() - 3) << false;
    QTest::newRow("cut header") << valid.left(5) << false;
}

void TestSingleApplication::connectionMessages()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, accepted);

    if (!m_primary) {
        m_primary.reset(new Probe(m_domain));
        QCOMPARE(m_primary->nextLine(), QStringLiteral("primary"));
    }
    QLocalSocket socket;
    QCOMPARE(send(&socket, *m_primary, m_key, bytes), QByteArray());
    if (accepted) {
        QCOMPARE(m_primary->nextLine(), QStringLiteral("instanceStarted"));
        QCOMPARE(socket.state(), QLocalSocket::ConnectedState);
    } else {
        QVERIFY(socket.state() == QLocalSocket::UnconnectedState || socket.waitForDisconnected(ProbeTimeout));
    }

    // Connections are served in order: a valid one now, with bytes after its message, is the
    // next the primary reports, and nothing of the row came before it.
    QLocalSocket valid;
    const QByteArray tag = QTest::currentDataTag();
    QCOMPARE(send(&valid, *m_primary, m_key, Private::makeConnectionMessage(m_key, Private::NewInstance, 0) + tag),
        QByteArray());
    QCOMPARE(m_primary->nextLine(), QStringLiteral("instanceStarted"));
    QCOMPARE(m_primary->nextLine(), QStringLiteral("message ") + tag);
}

// A block left behind must not lock the user out: one whose checksum never holds is taken
// over after the guard's five seconds (the one wait on that limit), and the record of a
// primary killed without cleaning up is dropped at once.
void TestSingleApplication::leftBlockIsTakenOver_data()
{
    QTest::addColumn<bool>("validChecksum");
    QTest::addColumn<bool>("deadPrimary");

    QTest::newRow("damaged") << false << false;
    QTest::newRow("dead primary") << true << true;
}

void TestSingleApplication::leftBlockIsTakenOver()
{
    QFETCH(bool, validChecksum);
    QFETCH(bool, deadPrimary);

    qint64 pid = QCoreApplication::applicationPid();
    if (deadPrimary) {
        QProcess gone;
#ifdef Q_OS_WIN
        gone.start(QStringLiteral("cmd.exe"), { QStringLiteral("/c"), QStringLiteral("exit") });
#else
        gone.start(QStringLiteral("true"), QStringList());
#endif
        QVERIFY(gone.waitForStarted());
        pid = gone.processId();
        QVERIFY(gone.waitForFinished());
    }
    const QString domain = freshDomain();
    QSharedMemory memory(keyFor(domain));
    QVERIFY2(memory.create(Private::BlockSize), qPrintable(memory.errorString()));
    const QByteArray left = blockWith(1, pid, validChecksum);
    std::memcpy(memory.data(), left.constData(), size_t(left.size()));

    Probe probe(domain);
    QCOMPARE(probe.nextLine(), QStringLiteral("primary"));
    const auto *block = static_cast<const char *>(memory.constData());
    QVERIFY(Private::blockIsConsistent(block));
    QCOMPARE(block[0], char(1));
    QVERIFY(probe.stop());
}

// The shipped program: a second start leaves at once and the first goes on showing only its
// launcher until it is asked to end.
void TestSingleApplication::realClientRunsOnce()
{
#ifdef Q_OS_WIN
    QSKIP("The client's settings are in the user's registry, which tests leave alone: it would ask "
          "the built-in main server");
#endif
    const QString client = QStringLiteral(NIMBORA_CLIENT_PATH);
    if (!QFile::exists(client))
        QSKIP("The client program is not built");

    // It shares this test's private settings store, where its start-up checks are sent to a
    // main server of the test's own that never answers: the launcher stays up and the built-in
    // main-server name is never looked up here.
    TestHttpServer silentServer;
    QVERIFY(silentServer.start());
    silentServer.setBehaviour(TestHttpServer::Silent);
    silentServer.useAsMainServer();
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("NIMBORA_SCREENSHOT_DIR"), home.filePath(QStringLiteral("shots")));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    QProcess first;
    first.setProcessEnvironment(environment);
    first.setProcessChannelMode(QProcess::ForwardedChannels);
    // Run as root it changes the machine itself: its journal goes here, not to /var/lib/nimbora.
    const QStringList arguments { QStringLiteral("--state-dir"), home.filePath(QStringLiteral("state")) };
    first.start(client, arguments);
    QVERIFY(first.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(home.filePath(QStringLiteral("shots/01-Launcher.png"))), ProbeTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(!silentServer.requests().isEmpty(), ProbeTimeout);

    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(client, arguments);
    QVERIFY(second.waitForFinished(ProbeTimeout));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(first.state(), QProcess::Running);

    first.terminate();
    QVERIFY(first.waitForFinished(ProbeTimeout));
    QCOMPARE(first.exitStatus(), QProcess::NormalExit);
    QCOMPARE(first.exitCode(), 0);
    QCOMPARE(QDir(home.filePath(QStringLiteral("shots"))).entryList({ QStringLiteral("*.png") }, QDir::Files),
        QStringList { QStringLiteral("01-Launcher.png") });
}

NIMBORA_TEST_MAIN(TestSingleApplication, QCoreApplication)
#include "tst_singleapplication.moc"
