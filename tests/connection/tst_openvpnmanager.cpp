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
};

namespace {

const QByteArray AuthPrompt = QByteArrayLiteral(">PASSWORD:Need 'Auth' username/password\r\n");
const QByteArray ProxyPrompt = QByteArrayLiteral(">PASSWORD:Need 'HTTP Proxy' username/password\r\n");
const QByteArray Greeting = QByteArrayLiteral(">INFO:OpenVPN Management Interface Version 5\r\n");
const QByteArray AliceLines = "username \"Auth\" \"alice\"\r\npassword \"Auth\" \"token\"\r\n";
const QByteArray ProxyLines = "username \"HTTP Proxy\" \"proxyuser\"\r\npassword \"HTTP Proxy\" \"proxypass\"\r\n";

bool connectTo(OpenVPNManager *manager, QTcpSocket *client)
{
    client->connectToHost(QHostAddress::LocalHost, manager->serverPort());
    return client->waitForConnected(5000);
}

bool closed(QTcpSocket *client)
{
    QSignalSpy disconnected(client, &QTcpSocket::disconnected);
    return client->state() == QAbstractSocket::UnconnectedState || disconnected.wait(5000);
}

} // namespace

void TestOpenVPNManager::answers_data()
{
    QTest::addColumn<QByteArray>("chunk");
    QTest::addColumn<QString>("username");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("proxyUser");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray alice = AliceLines;
    const QByteArray noise("\0\xff>PASSWORD:", 11);
    QTest::newRow("greeting, then auth") << Greeting + AuthPrompt << "alice" << "token" << "proxyuser" << alice;
    QTest::newRow("both, auth first") << ProxyPrompt + AuthPrompt << "alice" << "token" << "proxyuser"
                                      << alice + ProxyLines;
    QTest::newRow("repeated prompt") << AuthPrompt + AuthPrompt << "alice" << "token" << "proxyuser" << alice;
    QTest::newRow("empty proxy user")
        << ProxyPrompt << "alice" << "token" << ""
        << QByteArray("username \"HTTP Proxy\" \"\"\r\npassword \"HTTP Proxy\" \"proxypass\"\r\n");
    // OpenVPN splits an answer at spaces outside quotes and takes a backslash as an escape.
    QTest::newRow("space") << AuthPrompt << "al ice" << "pa ss" << ""
                           << QByteArray(R"(username "Auth" "al ice")" "\r\n" R"(password "Auth" "pa ss")" "\r\n");
    QTest::newRow("double quote")
        << AuthPrompt << "al\"ice" << "\"" << ""
        << QByteArray(R"(username "Auth" "al\"ice")" "\r\n" R"(password "Auth" "\"")" "\r\n");
    QTest::newRow("backslash")
        << AuthPrompt << "al\\ice" << "token\\" << ""
        << QByteArray(R"(username "Auth" "al\\ice")" "\r\n" R"(password "Auth" "token\\")" "\r\n");
    // A line break would let the rest of a value pass for a management command of its own.
    QTest::newRow("line break ends the value") << AuthPrompt << "alice\r\nsignal SIGTERM"
                                               << "token\nremote 198.18.9.9 443" << "" << alice;
    QTest::newRow("NUL and high bytes") << noise + AuthPrompt + noise << "alice" << "token" << "" << alice;
}

// Each row ends with an answered prompt, so the whole answer is in once the channel closes;
// nothing else may have been sent.
void TestOpenVPNManager::answers()
{
    QFETCH(QByteArray, chunk);
    QFETCH(QString, username);
    QFETCH(QString, password);
    QFETCH(QString, proxyUser);
    QFETCH(QByteArray, expected);

    OpenVPNManager manager;
    manager.setUsername(username);
    manager.setPassword(password);
    manager.setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, "198.18.2.2", 3128, proxyUser, "proxypass"));
    QVERIFY(manager.listen(QHostAddress::LocalHost, 0));
    QTcpSocket client;
    QVERIFY(connectTo(&manager, &client));
    client.write(chunk);
    QByteArray received;
    QTRY_VERIFY((received += client.readAll()).size() >= expected.size());

    manager.closeConnection();
    QVERIFY(closed(&client));
    QCOMPARE(received + client.readAll(), expected);
}

// The channel belongs to the first comer of a listen: another local program that connects
// meanwhile is dropped, and the listener is gone once the first is taken.
void TestOpenVPNManager::oneConnectionPerListen()
{
    OpenVPNManager manager;
    manager.setUsername(QStringLiteral("alice"));
    manager.setPassword(QStringLiteral("token"));
    manager.closeConnection(); // harmless before anything connected
    QVERIFY(manager.listen(QHostAddress::LocalHost, 0));

    // Both queued before the manager accepts either.
    QTcpSocket first;
    QTcpSocket second;
    QVERIFY(connectTo(&manager, &first));
    QVERIFY(connectTo(&manager, &second));
    second.write(AuthPrompt);
    first.write(AuthPrompt);
    QByteArray received;
    QTRY_COMPARE((received += first.readAll()), AliceLines);
    QVERIFY(closed(&second));
    QCOMPARE(second.readAll(), QByteArray());
    QVERIFY(!manager.isListening());

    // The next start listens again and takes a new connection.
    manager.closeConnection();
    QVERIFY(closed(&first));
    QVERIFY(manager.listen(QHostAddress::LocalHost, 0));
    QTcpSocket next;
    QVERIFY(connectTo(&manager, &next));
    next.write(AuthPrompt);
    received.clear();
    QTRY_COMPARE((received += next.readAll()), AliceLines);
    QVERIFY(!manager.isListening());
}

NIMBORA_TEST_MAIN(TestOpenVPNManager, QCoreApplication)
#include "tst_openvpnmanager.moc"
