#include "base/globalvalues.h"
#include "privileged/openvpn.h"
#include "tests/privileged/openvpnevents.h"

#include "tests/support/fakeopenvpn.h"
#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include <signal.h>

// The controller against a stand-in openvpn program (fake-openvpn) that prints the chunks a row
// chooses, one read each, talks to the management listener and ends as told.
class TestOpenVPN : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void output_data();
    void output();
    void stop_data();
    void stop();
    void restart_data();
    void restart();
    void destroyedWhileRunning();
    void childEndsWithProgram();

private:
    // Steps apart with "|"; the stand-in's chunks are acknowledged as they arrive.
    bool start(OpenVPN *openvpn, const QString &steps);

    QTemporaryDir m_folder;
    FakeOpenVpn m_fake;
    QStringList m_events;
    QStringList m_logs;
};

namespace {
const QString Completed = QStringLiteral("print Initialization Sequence Completed\\n");
}

void TestOpenVPN::initTestCase()
{
    QVERIFY(m_folder.isValid());
    QVERIFY(m_fake.prepare(QStringLiteral(FAKE_OPENVPN), m_folder.path()));
    GlobalValues::setValue(GlobalValues::Interface, QStringLiteral("Nimbora"));
}

bool TestOpenVPN::start(OpenVPN *openvpn, const QString &steps)
{
    if (!m_fake.setSteps(steps))
        return false;
    m_events.clear();
    m_logs.clear();
    recordOpenVPNEvents(openvpn, this, &m_events);
    connect(openvpn, &OpenVPN::log, this, [this](const QString &line) {
        m_logs << line;
        // The first line is the command line; every later one is a chunk the stand-in waits on.
        if (m_logs.size() > 1)
            QVERIFY(m_fake.go());
    });
    openvpn->setHost(QStringLiteral("198.18.0.11"));
    openvpn->setPort(443);
    openvpn->setUsername(QStringLiteral("alice"));
    openvpn->setPassword(QStringLiteral("0123456789abcdef"));
    openvpn->start();
    return openvpn->state() == OpenVPN::Connecting;
}

void TestOpenVPN::output_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("events"); // then "gateway ADDRESS" when one was pushed

    const QString push = QStringLiteral("print PUSH: Received control message: 'PUSH_REPLY,route-gateway ");
    QTest::newRow("the table's last reason wins, not the last printed")
        << "print AUTH: Received control message: AUTH_FAILED\\nRESOLVE: Cannot resolve host address\\n|exit 1"
        << "error 8, disconnected";
    QTest::newRow("prompts answered, then AUTH_FAILED")
        << "connect|prompt >INFO:OpenVPN Management Interface Version 5\\r\\n"
           "|prompt >PASSWORD:Need 'Auth' username/password\\r\\n|answer 2|print AUTH_FAILED\\n|exit 1"
        << "error 8, disconnected";
    QTest::newRow("progress steps in one chunk")
        << "print LZO compression initialized\\nTCP connection established with [AF_INET]198.18.0.11:443\\n"
           "Peer Connection Initiated with [AF_INET]198.18.0.11:443\\nSuccessful ARP Flush on interface [7]\\n|exit 1"
        << "progress 20, progress 40, progress 60, progress 80, error 2, disconnected";
    QTest::newRow("failure before the tunnel came up is forgotten")
        << "print Connection refused\\n|" + Completed + "|exit 0"
        << "progress 100, connected, disconnected";
    QTest::newRow("failure after it is reported") << Completed + "|print Connection timed out\\n|exit 1"
                                                  << "progress 100, connected, error 3, disconnected";
    QTest::newRow("completed again after a restart") << Completed + "|" + Completed + "|exit 0"
                                                     << "progress 100, connected, progress 100, disconnected";
    QTest::newRow("pushed route gateway") << push + "198.19.0.1,topology subnet'\\n|" + Completed + "|exit 0"
                                          << "progress 100, connected, disconnected, gateway 198.19.0.1";
    QTest::newRow("bad gateway text") << push + "999.1..'\\n|" + Completed + "|exit 0"
                                      << "progress 100, connected, disconnected";
    QTest::newRow("route-gateway without the push line")
        << "print OPTIONS IMPORT: route-gateway 198.19.0.1 option\\n|" + Completed + "|exit 0"
        << "progress 100, connected, disconnected";
    QTest::newRow("watched text split across two chunks") << "print Initialization Sequ|print ence Completed\\n|exit 0"
                                                          << "error 2, disconnected";
    QTest::newRow("SIGUSR1 while connecting stops the program")
        << "connect|print SIGUSR1[soft,connection-reset] received, process restarting\\n|serve|exit 0"
        << "error 2, disconnected";
    QTest::newRow("SIGUSR1 while connected is left to OpenVPN")
        << Completed + "|print SIGUSR1[soft,ping-restart] received, process restarting\\n|exit 0"
        << "progress 100, connected, disconnected";
    QTest::newRow("NUL byte hides what follows it")
        << "print garbage \\xff\\xfe\\x80 caf\\xc3\\xa9\\0AUTH_FAILED\\n|exit 1"
        << "error 2, disconnected";
    QTest::newRow("standard error is not parsed") << "error AUTH_FAILED Initialization Sequence Completed\\n|exit 1"
                                                  << "error 2, disconnected";
    QTest::newRow("silent end while connecting") << "exit 0"
                                                 << "error 2, disconnected";
}

void TestOpenVPN::output()
{
    QFETCH(QString, steps);
    QFETCH(QString, events);

    OpenVPN openvpn;
    QVERIFY(start(&openvpn, steps));
    QTRY_VERIFY_WITH_TIMEOUT(m_events.contains(QStringLiteral("disconnected")), 20000);
    if (!openvpn.gateway().isNull())
        m_events << QStringLiteral("gateway ") + openvpn.gateway().toString();
    QCOMPARE(m_events.join(QStringLiteral(", ")), events);
    QCOMPARE(openvpn.state(), OpenVPN::Idle);

    // The command line names the program and the management listener the stand-in reached.
    QVERIFY(m_logs.first().startsWith(QStringLiteral(FAKE_OPENVPN " --client --dev Nimbora --dev-type tun ")));
    QVERIFY(m_logs.first().contains(QRegularExpression(QStringLiteral(" --management /\\S+/openvpn unix "))));
    if (steps.contains(QStringLiteral("answer 2"))) {
        QVERIFY(m_logs.contains(
            QStringLiteral("management: username \"Auth\" \"alice\"\nmanagement: password \"Auth\" \"0123456789abcdef\"\n")));
    }
}

// Each stop step is a management close, then SIGTERM, then SIGKILL, 5 s apart.
void TestOpenVPN::stop_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("stopAfter"); // a signal or a printed chunk
    QTest::addColumn<int>("stepsPassed"); // the 5 s steps the program lets pass
    QTest::addColumn<QString>("events");

    QTest::newRow("ended by the management close") << "connect|" + Completed + "|serve|print closed\\n|exit 0"
                                                   << "connected" << 0 << "progress 100, connected, disconnected";
    // Once per run: the management close and SIGTERM go unheeded.
    QTest::newRow("stubborn program killed") << "ignore|connect|" + Completed + "|hang"
                                             << "connected" << 2 << "progress 100, connected, disconnected";
    // The tunnel comes up while the stop waits for the program: it is not announced.
    QTest::newRow("completed while stopping") << "connect|print managed\\n|serve|" + Completed + "|exit 0"
                                              << "managed\n"
                                              << 0 << "progress 100, disconnected";
}

void TestOpenVPN::stop()
{
    QFETCH(QString, steps);
    QFETCH(QString, stopAfter);
    QFETCH(int, stepsPassed);
    QFETCH(QString, events);

    OpenVPN openvpn;
    QVERIFY(start(&openvpn, steps));
    QTRY_VERIFY_WITH_TIMEOUT(m_events.contains(stopAfter) || m_logs.contains(stopAfter), 20000);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(openvpn.stop());
    const qint64 elapsed = timer.elapsed();
    QVERIFY2(elapsed >= stepsPassed * OpenVPN::StopStepTimeout - 100, qPrintable(QString::number(elapsed)));
    QVERIFY2(elapsed < (stepsPassed + 1) * OpenVPN::StopStepTimeout, qPrintable(QString::number(elapsed)));
    QCOMPARE(m_events.join(QStringLiteral(", ")), events);
    QCOMPARE(openvpn.state(), OpenVPN::Idle);

    // Stopping an ended program changes nothing.
    QVERIFY(openvpn.stop());
    QCOMPARE(openvpn.state(), OpenVPN::Idle);
    QCOMPARE(m_events.join(QStringLiteral(", ")), events);
}

void TestOpenVPN::restart_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("restartAfter"); // a signal or a printed chunk
    QTest::addColumn<bool>("restarted");

    QTest::newRow("connected: told to reconnect, up again")
        << "connect|" + Completed + "|answer 1|" + Completed + "|serve|exit 0" << "connected" << true;
    // SIGUSR1 then would end the attempt: the controller takes it for a failure.
    QTest::newRow("still connecting: nothing sent") << "connect|print managed\\n|serve|exit 0" << "managed\n"
                                                    << false;
}

// The reconnection in the same process that a network change asks for, through the management channel.
void TestOpenVPN::restart()
{
    QFETCH(QString, steps);
    QFETCH(QString, restartAfter);
    QFETCH(bool, restarted);

    OpenVPN openvpn;
    QVERIFY(start(&openvpn, steps));
    QTRY_VERIFY_WITH_TIMEOUT(m_events.contains(restartAfter) || m_logs.contains(restartAfter), 20000);
    QCOMPARE(openvpn.restart(), restarted);
    if (restarted) {
        QVERIFY(!openvpn.isTunnelUp());
        QVERIFY(openvpn.isRestartPending());
        QTRY_VERIFY_WITH_TIMEOUT(m_logs.join(QString()).contains(QLatin1String("management: signal SIGUSR1\n")), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(openvpn.isTunnelUp(), 20000);
        QVERIFY(!openvpn.isRestartPending());
    } else {
        QVERIFY(!m_logs.contains(QStringLiteral("Management channel: signal SIGUSR1")));
    }
    QVERIFY(openvpn.stop());
    // The tunnel that comes back is the same connection: announced once.
    QCOMPARE(m_events.count(QStringLiteral("connected")), restarted ? 1 : 0);
}

// A controller deleted with its program running ends the program and reports nothing more.
void TestOpenVPN::destroyedWhileRunning()
{
    auto openvpn = new OpenVPN;
    QVERIFY(start(openvpn, "ignore|connect|" + Completed + "|hang"));
    QTRY_VERIFY_WITH_TIMEOUT(m_events.contains(QStringLiteral("connected")), 20000);
    delete openvpn;
    QCOMPARE(m_events, QStringList({ "progress 100", "connected" }));
}

// A killed program leaves no OpenVPN behind: its child ends with it.
void TestOpenVPN::childEndsWithProgram()
{
    // Running, not a zombie that nobody reaps.
    const auto running = [](qint64 id) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(id));
        return stat.open(QIODevice::ReadOnly) && !stat.readAll().contains(") Z ");
    };
    QProcess holder;
    holder.start(QStringLiteral(OPENVPN_HOLDER), QStringList());
    QVERIFY(holder.waitForReadyRead(20000));
    const qint64 child = holder.readLine().trimmed().toLongLong();
    QVERIFY(child > 0 && running(child));
    // Whatever the outcome, the child does not outlive the test.
    const struct Reaper
    {
        qint64 id;
        ~Reaper() { ::kill(pid_t(id), SIGKILL); }
    } reaper { child };
    ::kill(pid_t(holder.processId()), SIGKILL);
    QVERIFY(holder.waitForFinished(10000));
    QTRY_VERIFY_WITH_TIMEOUT(!running(child), 10000);
}

NIMBORA_TEST_MAIN(TestOpenVPN, QCoreApplication)
#include "tst_openvpn.moc"
