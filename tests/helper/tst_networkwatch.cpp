#include "helper/networkwatch.h"

#include "tests/support/commands.h"
#include "tests/support/privatenetwork.h"
#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

// The watch on a bus of the test's own, with the stand-in logind owning logind's name there, and
// the kernel's changes inside a network namespace of the test's own.
namespace {

// Made before the first thread starts; every later one inherits it.
const bool privateNetwork = PrivateNetwork::enter();

const QString LogindPath = QStringLiteral("/org/freedesktop/login1");
const QString LogindManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString LogindService = QStringLiteral("org.freedesktop.login1");

// A session-type bus that lets everyone own and send: only the sender checks are the bus's own.
const char BusConfiguration[]
    = "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
      " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
      "<busconfig><type>session</type><listen>unix:path=%1</listen><auth>EXTERNAL</auth>\n"
      "<policy context=\"default\"><allow send_destination=\"*\"/><allow receive_sender=\"*\"/>\n"
      "<allow own=\"*\"/></policy>\n"
      "</busconfig>\n";

} // namespace

class TestNetworkWatch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void sleepAndWake_data();
    void sleepAndWake();
    void forgedSleepIgnored();
    void linkStorm();

private:
    bool startLogind();
    QStringList logindLines(const QString &prefix) const;
    uint heldInhibitors();

    QTemporaryDir m_folder;
    QProcess m_bus;
    QString m_address;
    QProcess m_logind;
    QStringList m_logindLines;
    int m_connections = 0;
};

void TestNetworkWatch::initTestCase()
{
    QVERIFY(m_folder.isValid());
    QFile configuration(m_folder.filePath(QStringLiteral("bus.conf")));
    QVERIFY(configuration.open(QIODevice::WriteOnly));
    configuration.write(QString::fromLatin1(BusConfiguration).arg(m_folder.filePath(QStringLiteral("bus"))).toUtf8());
    configuration.close();
    m_bus.start(QStringLiteral("dbus-daemon"),
        { QStringLiteral("--nofork"), QStringLiteral("--print-address"),
            QStringLiteral("--config-file=") + configuration.fileName() });
    QVERIFY2(m_bus.waitForReadyRead(10000), "dbus-daemon did not start");
    m_address = QString::fromLocal8Bit(m_bus.readLine().trimmed());
    QVERIFY(!m_address.isEmpty());
}

void TestNetworkWatch::cleanupTestCase()
{
    for (int i = 1; i <= m_connections; ++i)
        QDBusConnection::disconnectFromBus(QStringLiteral("watch%1").arg(i));
    QDBusConnection::disconnectFromBus(QStringLiteral("probe"));
    QDBusConnection::disconnectFromBus(QStringLiteral("forger"));
    m_bus.terminate();
    m_bus.waitForFinished(10000);
}

void TestNetworkWatch::init()
{
    m_logindLines.clear();
}

void TestNetworkWatch::cleanup()
{
    if (m_logind.state() != QProcess::NotRunning) {
        m_logind.closeWriteChannel(); // it ends at the end of its input
        if (!m_logind.waitForFinished(10000)) {
            m_logind.kill();
            m_logind.waitForFinished(10000);
        }
    }
    m_logind.disconnect(this);
}

bool TestNetworkWatch::startLogind()
{
    connect(&m_logind, &QProcess::readyReadStandardOutput, this, [this] {
        while (m_logind.canReadLine())
            m_logindLines << QString::fromUtf8(m_logind.readLine().trimmed());
    });
    m_logind.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_logind.start(QStringLiteral(FAKE_LOGIND), { m_address });
    return QTest::qWaitFor([this] { return m_logindLines.contains(QStringLiteral("ready")); }, 10000);
}

QStringList TestNetworkWatch::logindLines(const QString &prefix) const
{
    QStringList lines;
    for (const QString &line : m_logindLines) {
        if (line.startsWith(prefix))
            lines << line;
    }
    return lines;
}

uint TestNetworkWatch::heldInhibitors()
{
    QDBusConnection probe = QDBusConnection::connectToBus(m_address, QStringLiteral("probe"));
    const QDBusReply<uint> reply = probe.call(
        QDBusMessage::createMethodCall(LogindService, LogindPath, LogindManager, QStringLiteral("HeldInhibitors")));
    return reply.isValid() ? reply.value() : 99;
}

void TestNetworkWatch::sleepAndWake_data()
{
    QTest::addColumn<QByteArray>("commands");
    QTest::addColumn<int>("sleeps");

    QTest::newRow("sleep, then wake") << QByteArray("sleep\nwake\n") << 1;
    QTest::newRow("a second sleep before the first is handled") << QByteArray("sleep\nsleep\nwake\n") << 2;
    QTest::newRow("twice in quick succession") << QByteArray("sleep\nwake\nsleep\nwake\n") << 2;
}

// logind waits for the delay inhibitor until aboutToSleep()'s slots have run; after the resume
// the inhibitor is taken again, once, and changed() follows.
void TestNetworkWatch::sleepAndWake()
{
    QFETCH(QByteArray, commands);
    QFETCH(int, sleeps);
    QVERIFY(startLogind());
    QDBusConnection bus = QDBusConnection::connectToBus(m_address, QStringLiteral("watch%1").arg(++m_connections));
    NetworkWatch watch(bus);
    QList<uint> heldWhileSlotsRun;
    connect(&watch, &NetworkWatch::aboutToSleep, this, [&] { heldWhileSlotsRun << heldInhibitors(); });
    QString reason;
    QVERIFY2(watch.start(&reason), qPrintable(reason));
    QTRY_COMPARE_WITH_TIMEOUT(logindLines(QStringLiteral("inhibit ")).size(), 1, 10000);
    QCOMPARE(logindLines(QStringLiteral("inhibit ")).first(),
        QStringLiteral("inhibit sleep|Nimbora|the kill switch's block is checked before sleep|delay"));
    QTRY_COMPARE(heldInhibitors(), 1u);

    QSignalSpy changed(&watch, &NetworkWatch::changed);
    m_logind.write(commands);
    QTRY_COMPARE_WITH_TIMEOUT(heldWhileSlotsRun.size(), sleeps, 10000);
    QCOMPARE(heldWhileSlotsRun.first(), 1u);
    QTRY_VERIFY_WITH_TIMEOUT(!logindLines(QStringLiteral("released")).isEmpty(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!changed.isEmpty(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(heldInhibitors(), 1u, 10000);
}

// Only logind's name may say the machine sleeps: the same signal from another client is nothing.
void TestNetworkWatch::forgedSleepIgnored()
{
    QVERIFY(startLogind());
    QDBusConnection bus = QDBusConnection::connectToBus(m_address, QStringLiteral("watch%1").arg(++m_connections));
    NetworkWatch watch(bus);
    QSignalSpy sleeps(&watch, &NetworkWatch::aboutToSleep);
    QString reason;
    QVERIFY2(watch.start(&reason), qPrintable(reason));
    QTRY_COMPARE_WITH_TIMEOUT(logindLines(QStringLiteral("inhibit ")).size(), 1, 10000);

    QDBusConnection forger = QDBusConnection::connectToBus(m_address, QStringLiteral("forger"));
    QDBusMessage forged = QDBusMessage::createSignal(LogindPath, LogindManager, QStringLiteral("PrepareForSleep"));
    forged << true;
    QVERIFY(forger.send(forged));
    // A round trip on the forger's connection: the bus has routed the signal before it answers.
    QVERIFY(forger.interface()->serviceOwner(LogindService).isValid());
    // Logind's own wake comes after it: once it is handled, the forged sleep would have been too.
    m_logind.write("wake\n");
    QTRY_COMPARE_WITH_TIMEOUT(logindLines(QStringLiteral("inhibit ")).size(), 2, 10000);
    QCOMPARE(sleeps.size(), 0);
    QTRY_COMPARE(heldInhibitors(), 1u);
}

// Hundreds of link changes a second, for as long as it takes: changed() comes while they go on,
// at most one per settle time, and once more after the last. No logind on this bus: said once.
void TestNetworkWatch::linkStorm()
{
    if (!privateNetwork)
        QSKIP("needs root: the link storm runs in a network namespace of the test's own (unshare)");
    QVERIFY(ip(QStringLiteral("link add nimw0 type veth peer name nimw1")));
    QVERIFY(ip(QStringLiteral("link set nimw1 up")));
    QFile batch(m_folder.filePath(QStringLiteral("storm")));
    QVERIFY(batch.open(QIODevice::WriteOnly));
    for (int i = 0; i < 100; ++i)
        batch.write("link set nimw0 up\nlink set nimw0 down\n");
    batch.close();

    QDBusConnection bus = QDBusConnection::connectToBus(m_address, QStringLiteral("watch%1").arg(++m_connections));
    NetworkWatch watch(bus);
    QSignalSpy logs(&watch, &NetworkWatch::log);
    QElapsedTimer clock;
    QList<qint64> changedAt;
    connect(&watch, &NetworkWatch::changed, this, [&] { changedAt << clock.elapsed(); });
    QString reason;
    QVERIFY2(watch.start(&reason), qPrintable(reason));

    QProcess storm;
    bool storming = true;
    connect(&storm, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this, [&](int status) {
        QCOMPARE(status, 0);
        if (storming)
            storm.start();
    });
    storm.setProgram(QStringLiteral("ip"));
    storm.setArguments({ QStringLiteral("-batch"), batch.fileName() });
    clock.start();
    storm.start();
    QTRY_VERIFY_WITH_TIMEOUT(changedAt.size() >= 2, 20000);
    storming = false;
    QVERIFY(storm.state() == QProcess::NotRunning || storm.waitForFinished(10000));
    const qint64 stormEnd = clock.elapsed();
    QTRY_VERIFY_WITH_TIMEOUT(changedAt.last() >= stormEnd, 10000);
    QVERIFY2(changedAt.size() <= stormEnd / NetworkWatch::SettleTime + 2,
        qPrintable(QStringLiteral("%1 changes in %2 ms").arg(changedAt.size()).arg(stormEnd)));

    QCOMPARE(logs.size(), 1);
    QVERIFY2(logs.first().first().toString().startsWith(QStringLiteral("No delay before sleep from logind")),
        qPrintable(logs.first().first().toString()));
    QVERIFY(ip(QStringLiteral("link del nimw0")));
}

NIMBORA_TEST_MAIN(TestNetworkWatch, QCoreApplication)
#include "tst_networkwatch.moc"
