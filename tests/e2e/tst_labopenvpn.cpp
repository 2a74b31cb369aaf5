#include "base/globalvalues.h"
#include "base/settingskeys.h"
#include "privileged/openvpn.h"
#include "tests/privileged/openvpnevents.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>

// The OpenVPN controller with Debian's real openvpn against the lab's OpenVPN servers, from the
// lab's client host. Run only by the openvpn-controller script, inside that host.
class TestLabOpenVPN : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void connectThenStop_data();
    void connectThenStop();
    void failures_data();
    void failures();
    void droppedByServer();

private:
    void record(OpenVPN *openvpn);
    void configure(OpenVPN *openvpn, const QString &host, int port, const QString &password);

    QStringList m_events;
    QFile m_log;
};

namespace {
QString environment(const char *name)
{
    return qEnvironmentVariable(name);
}
} // namespace

void TestLabOpenVPN::initTestCase()
{
    if (environment("NIMBORA_LAB_HOST") != QLatin1String("client"))
        QSKIP("runs only on the lab's client host (tests/e2e/openvpn-controller starts it there)");
    const QString program = QStandardPaths::findExecutable(QStringLiteral("openvpn"));
    QVERIFY2(!program.isEmpty(), "openvpn is not installed");
    GlobalValues::setValue(GlobalValues::OpenvpnPath, program);
    GlobalValues::setValue(GlobalValues::CertificatPath, environment("NIMBORA_LAB_CA"));
    GlobalValues::setValue(GlobalValues::Interface, environment("NIMBORA_LAB_TUN"));
    m_log.setFileName(environment("NIMBORA_LAB_OPENVPN_LOG"));
    QVERIFY(m_log.open(QIODevice::WriteOnly | QIODevice::Append));
}

void TestLabOpenVPN::record(OpenVPN *openvpn)
{
    m_events.clear();
    recordOpenVPNEvents(openvpn, this, &m_events);
    connect(openvpn, &OpenVPN::log, this, [this](const QString &line) {
        m_log.write(line.toLocal8Bit());
        m_log.write("\n");
        m_log.flush();
    });
}

void TestLabOpenVPN::configure(OpenVPN *openvpn, const QString &host, int port, const QString &password)
{
    m_log.write(QStringLiteral("=== %1\n").arg(QString::fromLatin1(QTest::currentDataTag())).toLocal8Bit());
    record(openvpn);
    OpenVpnRequest request;
    request.host = host;
    request.port = quint16(port);
    request.username = environment("NIMBORA_LAB_USER");
    request.password = password;
    // The rows choose them in the settings and the process-wide values, as the connection work reads them.
    request.proxyAuthMethod
        = GlobalValues::value(GlobalValues::ProxyAuthMethod, QStringLiteral("Automatique")).toString();
    request.autoReconnect
        = QSettings().value(SettingsKeys::AutoReconnect, SettingsKeys::AutoReconnectDefault).toBool();
    openvpn->setRequest(request);
}

void TestLabOpenVPN::connectThenStop_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("gateway");
    QTest::addColumn<QNetworkProxy>("proxy");

    QTest::newRow("direct") << environment("NIMBORA_LAB_ENDPOINT_1") << environment("NIMBORA_LAB_GATEWAY_1")
                            << QNetworkProxy(QNetworkProxy::NoProxy);
    // tinyproxy asks for Basic credentials, which the management channel gives.
    QTest::newRow("through tinyproxy, Basic")
        << environment("NIMBORA_LAB_ENDPOINT_3") << environment("NIMBORA_LAB_GATEWAY_3")
        << QNetworkProxy(QNetworkProxy::HttpProxy, environment("NIMBORA_LAB_PROXY_HOST"),
               quint16(qEnvironmentVariableIntValue("NIMBORA_LAB_PROXY_PORT")), environment("NIMBORA_LAB_PROXY_USER"),
               environment("NIMBORA_LAB_PROXY_PASSWORD"));
}

void TestLabOpenVPN::connectThenStop()
{
    QFETCH(QString, host);
    QFETCH(QString, gateway);
    QFETCH(QNetworkProxy, proxy);

    QSettings().setValue(SettingsKeys::AutoReconnect, true);
    GlobalValues::setValue(GlobalValues::ProxyAuthMethod, QStringLiteral("Basic"));
    OpenVPN openvpn;
    configure(&openvpn, host, 443, environment("NIMBORA_LAB_SESSION"));
    openvpn.setProxy(proxy);
    openvpn.start();
    QCOMPARE(openvpn.state(), OpenVPN::Connecting);
    QTRY_VERIFY_WITH_TIMEOUT(
        m_events.contains(QStringLiteral("connected")) || m_events.contains("disconnected"), 60000);
    QCOMPARE(openvpn.state(), OpenVPN::Connected);
    QCOMPARE(m_events, QStringList({ "progress 40", "progress 60", "progress 100", "connected" }));
    QCOMPARE(openvpn.progress(), 100);
    QCOMPARE(openvpn.gateway(), QHostAddress(gateway));
    const NetworkAdapter adapter = openvpn.tapAdapter();
    QVERIFY(adapter.isValid());
    QCOMPARE(adapter.networkInterface().name(), environment("NIMBORA_LAB_TUN"));

    // The management close alone brings it down.
    QVERIFY(openvpn.stop());
    QCOMPARE(m_events.mid(4), QStringList({ "disconnected" }));
    QCOMPARE(openvpn.state(), OpenVPN::Idle);
}

void TestLabOpenVPN::failures_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("username");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("error");

    const QString user = environment("NIMBORA_LAB_USER");
    const QString session = environment("NIMBORA_LAB_SESSION");
    QTest::newRow("wrong session token") << 443 << user << QStringLiteral("00000000000000000000000000000000")
                                         << int(OpenVPN::AuthenticationError);
    // The server must see the name whole: a space or a quote must not cut it on the management channel.
    QTest::newRow("user name with a space and a quote")
        << 443 << QStringLiteral("al ice\"q") << session << int(OpenVPN::AuthenticationError);
    QTest::newRow("closed port") << 444 << user << session << int(OpenVPN::ConnectionRefusedError);
}

void TestLabOpenVPN::failures()
{
    QFETCH(int, port);
    QFETCH(QString, username);
    QFETCH(QString, password);
    QFETCH(int, error);

    // One attempt only: with automatic reconnection OpenVPN would retry a closed port forever.
    QSettings().setValue(SettingsKeys::AutoReconnect, false);
    QFile verified(environment("NIMBORA_LAB_VERIFIED_USERS"));
    verified.remove();
    OpenVPN openvpn;
    configure(&openvpn, environment("NIMBORA_LAB_ENDPOINT_1"), port, password);
    openvpn.setUsername(username);
    openvpn.setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
    openvpn.start();
    QTRY_VERIFY_WITH_TIMEOUT(m_events.contains(QStringLiteral("disconnected")), 60000);
    QVERIFY(!m_events.contains(QStringLiteral("connected")));
    QCOMPARE(m_events.mid(m_events.size() - 2), QStringList({ QStringLiteral("error %1").arg(error), "disconnected" }));
    QCOMPARE(openvpn.state(), OpenVPN::Idle);
    if (error == OpenVPN::AuthenticationError) {
        QVERIFY(verified.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(verified.readAll()), username + QLatin1Char('\n'));
    }
}

// The server drops its client, as when it restarts: without automatic reconnection OpenVPN ends,
// which ends a connected tunnel without an error.
void TestLabOpenVPN::droppedByServer()
{
    QSettings().setValue(SettingsKeys::AutoReconnect, false);
    OpenVPN openvpn;
    configure(&openvpn, environment("NIMBORA_LAB_ENDPOINT_2"), 443, environment("NIMBORA_LAB_SESSION"));
    openvpn.setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
    openvpn.start();
    QTRY_VERIFY_WITH_TIMEOUT(
        m_events.contains(QStringLiteral("connected")) || m_events.contains("disconnected"), 60000);
    QCOMPARE(openvpn.state(), OpenVPN::Connected);

    QCOMPARE(QProcess::execute(environment("NIMBORA_LAB_COMMAND"), { QStringLiteral("kick"), QStringLiteral("2") }), 0);
    QTRY_VERIFY_WITH_TIMEOUT(m_events.contains(QStringLiteral("disconnected")), 20000);
    QCOMPARE(m_events.mid(m_events.indexOf(QStringLiteral("connected"))), QStringList({ "connected", "disconnected" }));
    QCOMPARE(openvpn.state(), OpenVPN::Idle);
}

NIMBORA_TEST_MAIN(TestLabOpenVPN, QCoreApplication)
#include "tst_labopenvpn.moc"
