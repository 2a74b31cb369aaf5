#include "app/singleapplicationprivate.h"

#include "tests/support/testhttpserver.h"
#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QSettings>
#include <QSharedMemory>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUuid>

#include <cstring>
#include <memory>
#include <unistd.h>

namespace {

constexpr int ProbeTimeout = 10000;
const SingleApplication::Options ClientOptions = SingleApplication::User | SingleApplication::ExcludeAppVersion
        | SingleApplication::ExcludeAppPath;

QString probePath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/singleinstanceprobe");
}

// One probe process: the real application object under a domain of the test's own.
class Probe
{
public:
    Probe(const QString &domain, const QString &program = probePath(), const QStringList &wrapper = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("NIMBORA_PROBE_DOMAIN"), domain);
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        if (wrapper.isEmpty())
            process.start(program, QStringList());
        else
            process.start(wrapper.first(), wrapper.mid(1) << program);
    }
    ~Probe()
    {
        if (process.state() != QProcess::NotRunning) {
            process.closeWriteChannel();
            if (!process.waitForFinished(ProbeTimeout))
                process.kill();
        }
    }

    // Next line of the probe's report, or an empty text when none came in time.
    QString nextLine(int timeout = ProbeTimeout)
    {
        QElapsedTimer timer;
        timer.start();
        while (!process.canReadLine()) {
            if (process.state() == QProcess::NotRunning || timer.elapsed() > timeout
                || !process.waitForReadyRead(int(timeout - timer.elapsed())))
                break;
        }
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

QString keyFor(const QString &domain, const QString &userName = SingleApplicationPrivate::userName())
{
    return SingleApplicationPrivate::makeBlockServerName(QStringLiteral("Nimbora"), QStringLiteral("Ostrelle"),
                                                         domain, QStringLiteral("1.6.7"), probePath(), userName,
                                                         ClientOptions);
}

QByteArray blockWith(quint8 primary, qint64 pid, bool validChecksum)
{
    QByteArray block(SingleApplicationPrivate::BlockSize, '\0');
    block[0] = char(primary);
    std::memcpy(block.data() + 8, &pid, sizeof pid);
    quint16 checksum = qChecksum(block.constData(), SingleApplicationPrivate::ChecksummedSize);
    if (!validChecksum)
        checksum ^= 0x5a5a;
    std::memcpy(block.data() + 16, &checksum, sizeof checksum);
    return block;
}

} // namespace

class TestSingleApplication : public QObject
{
    Q_OBJECT

private slots:
    void blockServerName_data();
    void blockServerName();
    void secondStartExits();
    void copiedProgramIsRefused();
    void otherUserRuns();
    void primaryEndsCleanly();
    void connectionMessages_data();
    void connectionMessages();
    void damagedBlockIsReset();
    void deadPrimaryIsReplaced();
    void realClientRunsOnce();
};

void TestSingleApplication::blockServerName_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("user");
    QTest::addColumn<bool>("sameKey");

    QTest::newRow("same everything") << "/opt/nimbora/nimbora" << "1.6.7" << "alice" << true;
    QTest::newRow("other folder") << "/home/alice/nimbora" << "1.6.7" << "alice" << true;
    QTest::newRow("other version") << "/opt/nimbora/nimbora" << "1.7.0" << "alice" << true;
    QTest::newRow("other user") << "/opt/nimbora/nimbora" << "1.6.7" << "bob" << false;
}

void TestSingleApplication::blockServerName()
{
    QFETCH(QString, path);
    QFETCH(QString, version);
    QFETCH(QString, user);
    QFETCH(bool, sameKey);

    auto key = [](const QString &path, const QString &version, const QString &user) {
        return SingleApplicationPrivate::makeBlockServerName("Nimbora", "Ostrelle", "ostrelle.example", version,
                                                             path, user, ClientOptions);
    };
    const QString reference = key("/opt/nimbora/nimbora", "1.6.7", "alice");
    const QString other = key(path, version, user);
    QCOMPARE(other == reference, sameKey);
    // Names a file and a shared block: Base64 of a SHA-256 without any "/".
    QCOMPARE(other.size(), 44);
    QVERIFY(!other.contains(QLatin1Char('/')));

    // Path and version do count when the options let them in.
    const QString withPath = SingleApplicationPrivate::makeBlockServerName(
            "Nimbora", "Ostrelle", "ostrelle.example", "1.6.7", "/OPT/Nimbora/nimbora", "alice",
            SingleApplication::User | SingleApplication::ExcludeAppVersion);
    QCOMPARE(withPath,
             SingleApplicationPrivate::makeBlockServerName("Nimbora", "Ostrelle", "ostrelle.example", "2.0",
                                                           "/opt/nimbora/NIMBORA", "alice",
                                                           SingleApplication::User
                                                                   | SingleApplication::ExcludeAppVersion));
    QVERIFY(withPath != reference);
}

void TestSingleApplication::secondStartExits()
{
    const QString domain = freshDomain();
    Probe first(domain);
    QCOMPARE(first.nextLine(), QStringLiteral("primary"));

    Probe second(domain);
    QVERIFY(second.process.waitForFinished(ProbeTimeout));
    QCOMPARE(second.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.process.exitCode(), 0);
    QVERIFY(second.process.readAll().isEmpty());

    // The guard heard the announcement and the first instance runs on.
    QCOMPARE(first.nextLine(), QStringLiteral("instanceStarted"));
    QCOMPARE(first.process.state(), QProcess::Running);
    QVERIFY(first.stop());
}

void TestSingleApplication::copiedProgramIsRefused()
{
    QTemporaryDir elsewhere;
    const QString copy = elsewhere.filePath(QStringLiteral("nimbora-copy"));
    QVERIFY(QFile::copy(probePath(), copy));
    QVERIFY(QFile::setPermissions(copy, QFile::permissions(probePath())));

    const QString domain = freshDomain();
    Probe first(domain);
    QCOMPARE(first.nextLine(), QStringLiteral("primary"));
    Probe second(domain, copy);
    QVERIFY(second.process.waitForFinished(ProbeTimeout));
    QCOMPARE(second.process.exitCode(), 0);
    QVERIFY(second.process.readAll().isEmpty());
    QVERIFY(first.stop());
}

void TestSingleApplication::otherUserRuns()
{
    if (::geteuid() != 0)
        QSKIP("Starting as another user needs root");
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (setpriv.isEmpty())
        QSKIP("setpriv (util-linux) is not installed");
    const QStringList asNobody { setpriv, "--reuid=65534", "--regid=65534", "--clear-groups" };
    {
        QProcess access;
        access.start(setpriv, QStringList(asNobody.mid(1)) << "test" << "-x" << probePath());
        if (!access.waitForFinished(ProbeTimeout) || access.exitCode() != 0)
            QSKIP("The test programs are not reachable by an unprivileged user in this build folder");
    }

    const QString domain = freshDomain();
    Probe first(domain);
    QCOMPARE(first.nextLine(), QStringLiteral("primary"));
    Probe other(domain, probePath(), asNobody);
    QCOMPARE(other.nextLine(), QStringLiteral("primary"));
    QVERIFY(other.stop());
    QVERIFY(first.stop());
}

// After a clean end the block records no primary, so the next start is primary again.
void TestSingleApplication::primaryEndsCleanly()
{
    const QString domain = freshDomain();
    {
        Probe first(domain);
        QCOMPARE(first.nextLine(), QStringLiteral("primary"));
        QVERIFY(first.stop());
    }
    Probe next(domain);
    QCOMPARE(next.nextLine(), QStringLiteral("primary"));
    QVERIFY(next.stop());
}

void TestSingleApplication::connectionMessages_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<bool>("accepted");

    // The key is only known per test run, so rows describe the damage and the test applies it.
    QTest::newRow("valid new instance") << QByteArray("valid") << true;
    QTest::newRow("bad checksum") << QByteArray("checksum") << false;
    QTest::newRow("other instance's name") << QByteArray("name") << false;
    QTest::newRow("invalid type") << QByteArray("type0") << false;
    QTest::newRow("length below 2") << QByteArray("length1") << false;
    QTest::newRow("huge length") << QByteArray("hugeLength") << false;
    QTest::newRow("body cut short") << QByteArray("truncated") << false;
    QTest::newRow("header cut short") << QByteArray("shortHeader") << false;
    QTest::newRow("nothing sent") << QByteArray("silent") << false;
}

void TestSingleApplication::connectionMessages()
{
    QFETCH(QByteArray, message);
    QFETCH(bool, accepted);

    const QString domain = freshDomain();
    const QString key = keyFor(domain);
    Probe primary(domain);
    QCOMPARE(primary.nextLine(), QStringLiteral("primary"));

    using Private = SingleApplicationPrivate;
    QByteArray bytes = Private::makeConnectionMessage(key, Private::NewInstance, 0);
    if (message == "checksum")
        bytes[bytes.size() - 1] = char(bytes.at(bytes.size() - 1) ^ 0x01);
    else if (message == "name")
        bytes = Private::makeConnectionMessage(keyFor(freshDomain()), Private::NewInstance, 0);
    else if (message == "type0")
        bytes = Private::makeConnectionMessage(key, Private::InvalidConnection, 0);
    else if (message == "length1")
        bytes = QByteArray::fromHex("0000000000000001") + "x";
    else if (message == "hugeLength")
        bytes = QByteArray::fromHex("7fffffffffffffff") + bytes.mid(8);
    else if (message == "truncated")
        bytes.chop(3);
    else if (message == "shortHeader")
        bytes = bytes.left(5);
    else if (message == "silent")
        bytes.clear();

    QLocalSocket socket;
    socket.connectToServer(key);
    QVERIFY(socket.waitForConnected(ProbeTimeout));
    socket.write(bytes);
    QVERIFY(bytes.isEmpty() || socket.waitForBytesWritten(ProbeTimeout));

    if (accepted) {
        QCOMPARE(primary.nextLine(), QStringLiteral("instanceStarted"));
        QCOMPARE(socket.state(), QLocalSocket::ConnectedState);
    } else {
        QVERIFY(socket.state() == QLocalSocket::UnconnectedState || socket.waitForDisconnected(ProbeTimeout));
        // Connections are served in order: a valid one now is the first the primary reports.
        QLocalSocket valid;
        valid.connectToServer(key);
        QVERIFY(valid.waitForConnected(ProbeTimeout));
        valid.write(Private::makeConnectionMessage(key, Private::NewInstance, 0));
        QVERIFY(valid.waitForBytesWritten(ProbeTimeout));
        QCOMPARE(primary.nextLine(), QStringLiteral("instanceStarted"));
    }
    QVERIFY(primary.stop());
    QVERIFY(primary.process.readAll().isEmpty());
}

// A block whose checksum never holds is taken over after the guard's five seconds.
void TestSingleApplication::damagedBlockIsReset()
{
    const QString domain = freshDomain();
    QSharedMemory memory(keyFor(domain));
    QVERIFY2(memory.create(SingleApplicationPrivate::BlockSize), qPrintable(memory.errorString()));
    const QByteArray damaged = blockWith(1, QCoreApplication::applicationPid(), false);
    std::memcpy(memory.data(), damaged.constData(), size_t(damaged.size()));

    QElapsedTimer timer;
    timer.start();
    Probe probe(domain);
    QCOMPARE(probe.nextLine(ProbeTimeout), QStringLiteral("primary"));
    QVERIFY2(timer.elapsed() < 9000, "start-up hung on the damaged block");

    const auto *block = static_cast<const char *>(memory.constData());
    QVERIFY(SingleApplicationPrivate::blockIsConsistent(block));
    QCOMPARE(block[0], char(1));
    QVERIFY(probe.stop());
}

// A primary killed without cleaning up leaves its record behind; that must not lock the user out.
void TestSingleApplication::deadPrimaryIsReplaced()
{
    QProcess gone;
    gone.start(QStringLiteral("true"), QStringList());
    QVERIFY(gone.waitForStarted());
    const qint64 deadPid = gone.processId();
    QVERIFY(gone.waitForFinished());

    const QString domain = freshDomain();
    QSharedMemory memory(keyFor(domain));
    QVERIFY2(memory.create(SingleApplicationPrivate::BlockSize), qPrintable(memory.errorString()));
    const QByteArray stale = blockWith(1, deadPid, true);
    std::memcpy(memory.data(), stale.constData(), size_t(stale.size()));

    Probe probe(domain);
    QCOMPARE(probe.nextLine(), QStringLiteral("primary"));
    QVERIFY(probe.stop());
}

// The shipped program: a second start leaves at once and the first goes on showing only its
// launcher until it is asked to end.
void TestSingleApplication::realClientRunsOnce()
{
    const QString client = QStringLiteral(NIMBORA_CLIENT_PATH);
    if (!QFile::exists(client))
        QSKIP("The client program is not built");

    QTemporaryDir home;
    // Its start-up checks ask a main server of the test's own, which never answers: the
    // launcher stays up and the built-in main-server name is never looked up here.
    TestHttpServer silentServer;
    QVERIFY(silentServer.start());
    silentServer.setBehaviour(TestHttpServer::Silent);
    {
        QSettings clientSettings(home.filePath(QStringLiteral("config/Ostrelle/Nimbora.conf")), QSettings::IniFormat);
        clientSettings.setValue(QStringLiteral("options/connection/mainServerAddress"), silentServer.address());
        clientSettings.setValue(QStringLiteral("options/connection/mainServerSecure"), false);
        clientSettings.setValue(QStringLiteral("options/connection/proxy"), QStringLiteral("none"));
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("NIMBORA_SCREENSHOT_DIR"), home.filePath(QStringLiteral("shots")));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    QProcess first;
    first.setProcessEnvironment(environment);
    first.setProcessChannelMode(QProcess::ForwardedChannels);
    first.start(client, QStringList());
    QVERIFY(first.waitForStarted());
    const QString launcherShot = home.filePath(QStringLiteral("shots/01-Launcher.png"));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(launcherShot), ProbeTimeout);

    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(client, QStringList());
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
