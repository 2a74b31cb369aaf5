#include "privileged/openvpnmanager.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>

#include <sys/stat.h>
#include <unistd.h>

class TestOpenVPNManager : public QObject
{
    Q_OBJECT

private slots:
    void answers_data();
    void answers();
    void onlyTheChildIsTaken_data();
    void onlyTheChildIsTaken();
    void oneConnectionPerListen();
};

namespace {

const QByteArray AuthPrompt = QByteArrayLiteral(">PASSWORD:Need 'Auth' username/password\r\n");
const QByteArray ProxyPrompt = QByteArrayLiteral(">PASSWORD:Need 'HTTP Proxy' username/password\r\n");
const QByteArray Greeting = QByteArrayLiteral(">INFO:OpenVPN Management Interface Version 5\r\n");
const QByteArray AliceLines = "username \"Auth\" \"alice\"\r\npassword \"Auth\" \"token\"\r\n";
const QByteArray ProxyLines = "username \"HTTP Proxy\" \"proxyuser\"\r\npassword \"HTTP Proxy\" \"proxypass\"\r\n";

// Connects to the socket named first, says "connected", sends the Auth prompt and prints all
// it gets back until the channel closes.
const QString Intruder = QStringLiteral(R"(
    $| = 1;
    my $socket = IO::Socket::UNIX->new(Peer => $ARGV[0]) or exit 98;
    print "connected\n";
    print $socket ">PASSWORD:Need 'Auth' username/password\r\n";
    local $/;
    print scalar <$socket>;
)");

// The test process itself plays OpenVPN.
void listenForThisProcess(OpenVPNManager *manager)
{
    manager->setUsername(QStringLiteral("alice"));
    manager->setPassword(QStringLiteral("token"));
    manager->setPeerProcessId(QCoreApplication::applicationPid());
    QVERIFY(manager->listen());
}

bool connectTo(OpenVPNManager *manager, QLocalSocket *client)
{
    client->connectToServer(manager->serverName());
    return client->waitForConnected(5000);
}

bool closed(QLocalSocket *client)
{
    QSignalSpy disconnected(client, &QLocalSocket::disconnected);
    return client->state() == QLocalSocket::UnconnectedState || disconnected.wait(5000);
}

bool isPrivateDirectory(const QString &path)
{
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISDIR(status.st_mode)
        && status.st_uid == ::geteuid() && (status.st_mode & 07777) == 0700;
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
    listenForThisProcess(&manager);
    manager.setUsername(username);
    manager.setPassword(password);
    manager.setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, "198.18.2.2", 3128, proxyUser, "proxypass"));
    QLocalSocket client;
    QVERIFY(connectTo(&manager, &client));
    client.write(chunk);
    QByteArray received;
    QTRY_VERIFY((received += client.readAll()).size() >= expected.size());

    manager.closeConnection();
    QVERIFY(closed(&client));
    QCOMPARE(received + client.readAll(), expected);
}

// A local program that reaches the channel before OpenVPN gets no answer and does not keep
// OpenVPN out.
void TestOpenVPNManager::onlyTheChildIsTaken_data()
{
    QTest::addColumn<QStringList>("runAs");
    QTest::addColumn<bool>("reachesChannel");

    QTest::newRow("another process of the same user") << QStringList() << true;
    QTest::newRow("another user") << QStringList { "setpriv", "--reuid=65534", "--regid=65534", "--clear-groups" }
                                  << false;
}

void TestOpenVPNManager::onlyTheChildIsTaken()
{
    QFETCH(QStringList, runAs);
    QFETCH(bool, reachesChannel);
    if (!runAs.isEmpty() && ::geteuid() != 0)
        QSKIP("playing another user needs root");

    OpenVPNManager manager;
    QSignalSpy logs(&manager, &OpenVPNManager::log);
    listenForThisProcess(&manager);

    QProcess intruder;
    const QStringList command
        = runAs + QStringList { "perl", "-MIO::Socket::UNIX", "-e", Intruder, manager.serverName() };
    intruder.start(command.first(), command.mid(1));
    QVERIFY(intruder.waitForStarted(5000));
    const qint64 intruderId = intruder.processId();
    QByteArray said;
    if (reachesChannel)
        QTRY_COMPARE((said += intruder.readAllStandardOutput()), QByteArray("connected\n"));
    else
        QTRY_COMPARE(intruder.state(), QProcess::NotRunning);

    QLocalSocket openvpn;
    QVERIFY(connectTo(&manager, &openvpn));
    openvpn.write(AuthPrompt);
    QByteArray received;
    QTRY_COMPARE((received += openvpn.readAll()), AliceLines);

    QTRY_COMPARE(intruder.state(), QProcess::NotRunning);
    QCOMPARE(intruder.readAllStandardOutput(), QByteArray());
    QCOMPARE(logs.size(), reachesChannel ? 1 : 0);
    if (reachesChannel) {
        QCOMPARE(logs.first().first().toString(),
            QStringLiteral("Management connection refused: process %1 of user %2 is not OpenVPN")
                .arg(intruderId)
                .arg(::geteuid()));
    }
}

// The channel belongs to the first connection of the child: a second one is dropped, and the
// socket and its private directory are gone once the first is taken.
void TestOpenVPNManager::oneConnectionPerListen()
{
    OpenVPNManager manager;
    manager.closeConnection(); // harmless before anything connected
    listenForThisProcess(&manager);
    const QString directory = QFileInfo(manager.serverName()).path();
    QVERIFY(isPrivateDirectory(directory));

    // Both queued before the manager accepts either.
    QLocalSocket first;
    QLocalSocket second;
    QByteArray secondReceived;
    connect(&second, &QLocalSocket::readyRead, this, [&] { secondReceived += second.readAll(); });
    QVERIFY(connectTo(&manager, &first));
    QVERIFY(connectTo(&manager, &second));
    second.write(AuthPrompt);
    first.write(AuthPrompt);
    QByteArray received;
    QTRY_COMPARE((received += first.readAll()), AliceLines);
    QVERIFY(closed(&second));
    QCOMPARE(secondReceived, QByteArray());
    QVERIFY(!manager.isListening());
    QVERIFY(!QFileInfo::exists(directory));

    // The next start listens again, elsewhere, and takes a new connection.
    manager.closeConnection();
    QVERIFY(closed(&first));
    QVERIFY(manager.listen());
    QVERIFY(QFileInfo(manager.serverName()).path() != directory);
    QLocalSocket next;
    QVERIFY(connectTo(&manager, &next));
    next.write(AuthPrompt);
    received.clear();
    QTRY_COMPARE((received += next.readAll()), AliceLines);
    QVERIFY(!manager.isListening());
}

NIMBORA_TEST_MAIN(TestOpenVPNManager, QCoreApplication)
#include "tst_openvpnmanager.moc"
