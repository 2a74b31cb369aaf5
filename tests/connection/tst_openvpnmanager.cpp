#include "connection/openvpnmanager.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTcpSocket>

class TestOpenVPNManager : public QObject
{
    Q_OBJECT

private slots:
    void answers_data();
    void answers();
    void oneConnectionPerListen();
    void waitingConnectionIsDropped();
    void closeEndsConnectionAndListener();
};

namespace {

const QByteArray AuthPrompt = QByteArrayLiteral(">PASSWORD:Need 'Auth' username/password\r\n");
const QByteArray ProxyPrompt = QByteArrayLiteral(">PASSWORD:Need 'HTTP Proxy' username/password\r\n");
const QByteArray Greeting
    = QByteArrayLiteral(">INFO:OpenVPN Management Interface Version 5 -- type 'help' for more info\r\n");

bool connectTo(OpenVPNManager *manager, QTcpSocket *client)
{
    client->connectToHost(QHostAddress::LocalHost, manager->serverPort());
    return client->waitForConnected(5000);
}

} // namespace

void TestOpenVPNManager::answers_data()
{
    QTest::addColumn<QByteArray>("chunk");
    QTest::addColumn<QString>("username");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QNetworkProxy>("proxy");
    QTest::addColumn<QByteArray>("expected");

    const QNetworkProxy proxy(QNetworkProxy::HttpProxy, QStringLiteral("198.18.2.2"), 3128, QStringLiteral("proxyuser"),
        QStringLiteral("proxypass"));
    const QByteArray aliceLines = "username \"Auth\" alice\r\npassword \"Auth\" 0123456789abcdef\r\n";
    const QByteArray proxyLines = "username \"HTTP Proxy\" proxyuser\r\npassword \"HTTP Proxy\" proxypass\r\n";

    QTest::newRow("auth prompt after the greeting") << (Greeting + AuthPrompt) << "alice"
                                                    << "0123456789abcdef" << proxy << aliceLines;
    QTest::newRow("both prompts in one chunk, auth lines first")
        << (Greeting + ProxyPrompt + AuthPrompt) << "alice"
        << "0123456789abcdef" << proxy << (aliceLines + proxyLines);
    QTest::newRow("prompt twice in one chunk is answered once") << (AuthPrompt + AuthPrompt) << "alice"
                                                                << "0123456789abcdef" << proxy << aliceLines;
    QTest::newRow("empty proxy user keeps the space after the realm")
        << ProxyPrompt << "alice"
        << "token" << QNetworkProxy(QNetworkProxy::HttpProxy, "198.18.2.2", 3128)
        << QByteArray("username \"HTTP Proxy\" \r\npassword \"HTTP Proxy\" \r\n");
    QTest::newRow("values with spaces, quotes and backslashes go unquoted")
        << AuthPrompt << "al ice"
        << "pass word \"x\" \\" << proxy
        << QByteArray("username \"Auth\" al ice\r\npassword \"Auth\" pass word \"x\" \\\r\n");
    QTest::newRow("a line break ends the value: nothing passes for a command")
        << AuthPrompt << "alice\r\nsignal SIGTERM"
        << "token\nremote 198.18.9.9 443\r\n"
        << proxy << QByteArray("username \"Auth\" alice\r\npassword \"Auth\" token\r\n");
    QTest::newRow("NUL and high bytes around the prompt")
        << (QByteArray("\0\xff\xfe>PASSWORD:", 12) + AuthPrompt + QByteArray("\0\x80", 2)) << "alice"
        << "0123456789abcdef" << proxy << aliceLines;
    QTest::newRow("prompt in lower case is not one")
        << (QByteArray(">password:need 'auth' username/password\r\n") + ProxyPrompt) << "alice"
        << "token" << proxy << proxyLines;
}

// Each row ends with at least one answered prompt, so that the whole answer is known to be in
// when the channel closes; nothing else may have been sent.
void TestOpenVPNManager::answers()
{
    QFETCH(QByteArray, chunk);
    QFETCH(QString, username);
    QFETCH(QString, password);
    QFETCH(QNetworkProxy, proxy);
    QFETCH(QByteArray, expected);

    OpenVPNManager manager;
    manager.setUsername(username);
    manager.setPassword(password);
    manager.setProxy(proxy);
    QVERIFY(manager.listen(QHostAddress::LocalHost, 0));

    QTcpSocket client;
    QVERIFY(connectTo(&manager, &client));
    QTRY_VERIFY(!manager.isListening());
    client.write(chunk);
    QByteArray received;
    QTRY_VERIFY((received += client.readAll()).size() >= expected.size());

    QSignalSpy closed(&client, &QTcpSocket::disconnected);
    manager.closeConnection();
    QVERIFY(closed.count() == 1 || closed.wait(5000));
    received += client.readAll();
    QCOMPARE(received, expected);
}

void TestOpenVPNManager::oneConnectionPerListen()
{
    OpenVPNManager manager;
    manager.setUsername(QStringLiteral("alice"));
    manager.setPassword(QStringLiteral("token"));
    QVERIFY(manager.listen(QHostAddress::LocalHost, 0));
    const quint16 port = manager.serverPort();

    QTcpSocket first;
    QVERIFY(connectTo(&manager, &first));
    QTRY_VERIFY(!manager.isListening());

    // Another local program cannot take the channel over and prompt for the credentials.
    QTcpSocket second;
    QSignalSpy refused(&second, &QTcpSocket::errorOccurred);
    second.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(refused.count() == 1 || refused.wait(5000));
    QCOMPARE(refused.first().first().value<QAbstractSocket::SocketError>(), QAbstractSocket::ConnectionRefusedError);

    first.write(AuthPrompt);
    QByteArray received;
    const QByteArray expected = "username \"Auth\" alice\r\npassword \"Auth\" token\r\n";
    QTRY_COMPARE((received += first.readAll()), expected);

    // The next start listens again and takes a new connection.
    manager.closeConnection();
    QVERIFY(manager.listen(QHostAddress::LocalHost, 0));
    QTcpSocket next;
    QVERIFY(connectTo(&manager, &next));
    QTRY_VERIFY(!manager.isListening());
    next.write(AuthPrompt);
    received.clear();
    QTRY_COMPARE((received += next.readAll()), expected);
}

// Two connections queued before the manager accepts either: the first is served, the other dropped.
void TestOpenVPNManager::waitingConnectionIsDropped()
{
    OpenVPNManager manager;
    manager.setUsername(QStringLiteral("alice"));
    manager.setPassword(QStringLiteral("token"));
    QVERIFY(manager.listen(QHostAddress::LocalHost, 0));

    QTcpSocket first;
    QTcpSocket second;
    first.connectToHost(QHostAddress::LocalHost, manager.serverPort());
    second.connectToHost(QHostAddress::LocalHost, manager.serverPort());
    QVERIFY(first.waitForConnected(5000));
    QVERIFY(second.waitForConnected(5000));
    QSignalSpy dropped(&second, &QTcpSocket::disconnected);
    second.write(AuthPrompt);
    first.write(AuthPrompt);

    QByteArray received;
    QTRY_COMPARE((received += first.readAll()), QByteArray("username \"Auth\" alice\r\npassword \"Auth\" token\r\n"));
    QVERIFY(dropped.count() == 1 || dropped.wait(5000));
    QCOMPARE(second.readAll(), QByteArray());
}

void TestOpenVPNManager::closeEndsConnectionAndListener()
{
    OpenVPNManager manager;
    // Closing before anything connected is harmless.
    manager.closeConnection();
    QVERIFY(manager.listen(QHostAddress::LocalHost, 0));
    manager.closeConnection();
    QVERIFY(!manager.isListening());

    QVERIFY(manager.listen(QHostAddress::LocalHost, 0));
    QTcpSocket client;
    QVERIFY(connectTo(&manager, &client));
    QTRY_VERIFY(!manager.isListening());
    QSignalSpy closed(&client, &QTcpSocket::disconnected);
    manager.closeConnection();
    QVERIFY(closed.count() == 1 || closed.wait(5000));
}

NIMBORA_TEST_MAIN(TestOpenVPNManager, QCoreApplication)
#include "tst_openvpnmanager.moc"
