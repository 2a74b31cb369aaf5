#include "netconfig/socketowner.h"

#include "tests/support/foreignclient.h"
#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>

#include <cerrno>
#include <cstring>
#include <memory>

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

namespace {

const QHostAddress Loopback(QStringLiteral("127.0.0.1"));
const quint32 Sequence = 7;
const quint16 PeerPort = 40001;
const quint16 ListenerPort = 40002;

QByteArray netlinkMessage(quint16 type, quint32 sequence, const QByteArray &payload)
{
    nlmsghdr header;
    std::memset(&header, 0, sizeof header);
    header.nlmsg_len = quint32(NLMSG_HDRLEN + payload.size());
    header.nlmsg_type = type;
    header.nlmsg_seq = sequence;
    QByteArray message(reinterpret_cast<const char *>(&header), sizeof header);
    message += payload;
    return message.leftJustified(int(NLMSG_ALIGN(message.size())), '\0');
}

QByteArray diagnosticAnswer(quint16 sourcePort, quint32 userId)
{
    inet_diag_msg answer;
    std::memset(&answer, 0, sizeof answer);
    answer.idiag_family = AF_INET;
    answer.idiag_state = 1;
    answer.id.idiag_sport = htons(sourcePort);
    answer.id.idiag_dport = htons(ListenerPort);
    answer.id.idiag_src[0] = htonl(Loopback.toIPv4Address());
    answer.id.idiag_dst[0] = htonl(Loopback.toIPv4Address());
    answer.idiag_uid = userId;
    answer.idiag_inode = 99;
    return netlinkMessage(
        SOCK_DIAG_BY_FAMILY, Sequence, QByteArray(reinterpret_cast<const char *>(&answer), sizeof answer));
}

QByteArray errorAnswer(int error)
{
    nlmsgerr body;
    std::memset(&body, 0, sizeof body);
    body.error = -error;
    return netlinkMessage(NLMSG_ERROR, Sequence, QByteArray(reinterpret_cast<const char *>(&body), sizeof body));
}

} // namespace

class TestSocketOwner : public QObject
{
    Q_OBJECT

private slots:
    void peer_data();
    void peer();
    void reply_data();
    void reply();
};

void TestSocketOwner::peer_data()
{
    QTest::addColumn<QString>("listenAddress");
    QTest::addColumn<QString>("clientAddress");
    QTest::addColumn<bool>("foreign");
    QTest::addColumn<bool>("clientCloses");
    QTest::addColumn<int>("status");

    const QString ipv4 = Loopback.toString();
    const QString ipv6 = QStringLiteral("::1");
    QTest::newRow("own client") << ipv4 << ipv4 << false << false << int(SocketOwner::Found);
    QTest::newRow("another user's client") << ipv4 << ipv4 << true << false << int(SocketOwner::Found);
    QTest::newRow("another user's client over IPv6") << ipv6 << ipv6 << true << false << int(SocketOwner::Found);
    // The accepted socket then shows ::ffff:127.0.0.1 on both ends.
    QTest::newRow("another user's IPv4 client of a dual-stack listener")
        << QStringLiteral("any") << ipv4 << true << false << int(SocketOwner::Found);
    // Its socket waits out the close with no process behind it, and the kernel reports root for it.
    QTest::newRow("client that closed its end") << ipv4 << ipv4 << false << true << int(SocketOwner::NotFound);
}

// The lookup names the user of the other end's socket, not the listener's own socket.
void TestSocketOwner::peer()
{
    QFETCH(QString, listenAddress);
    QFETCH(QString, clientAddress);
    QFETCH(bool, foreign);
    QFETCH(bool, clientCloses);
    QFETCH(int, status);

    QString reason;
    if (foreign && !ForeignClient::available(&reason))
        QSKIP(qPrintable(reason));
    QTcpServer server;
    const QHostAddress listenOn
        = listenAddress == "any" ? QHostAddress(QHostAddress::Any) : QHostAddress(listenAddress);
    QVERIFY2(server.listen(listenOn, 0), qPrintable(server.errorString()));
    ForeignClient foreignClient;
    QTcpSocket ownClient;
    quint16 clientPort = 0;
    if (foreign) {
        QVERIFY2(foreignClient.start(QHostAddress(clientAddress), server.serverPort(), QByteArray(), &reason),
            qPrintable(reason));
        clientPort = foreignClient.localPort();
    } else {
        ownClient.connectToHost(QHostAddress(clientAddress), server.serverPort());
        QVERIFY(ownClient.waitForConnected(5000));
        clientPort = ownClient.localPort();
    }
    QVERIFY(server.waitForNewConnection(5000));
    std::unique_ptr<QTcpSocket> accepted(server.nextPendingConnection());
    QCOMPARE(accepted->peerPort(), clientPort);
    if (clientCloses) {
        ownClient.disconnectFromHost();
        // Without the event loop, which would close the accepted socket on the client's close.
        pollfd closed = { int(accepted->socketDescriptor()), POLLRDHUP, 0 };
        QCOMPARE(poll(&closed, 1, 5000), 1);
    }

    const SocketOwner owner = SocketOwner::ofPeer(accepted->socketDescriptor());
    QCOMPARE(int(owner.status()), status);
    if (status == SocketOwner::Found) {
        QCOMPARE(owner.userId(), qint64(foreign ? ForeignClient::UserId : geteuid()));
        QVERIFY(owner.inode() != 0);
        QVERIFY(owner.isOwnedBy(owner.userId(), -1));
        QVERIFY(!owner.isOwnedBy(owner.userId() + 1, -1));
    }
}

void TestSocketOwner::reply_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("status");
    QTest::addColumn<qint64>("userId");

    const QByteArray answer = diagnosticAnswer(PeerPort, 1234);
    QTest::newRow("answer") << answer << int(SocketOwner::Found) << qint64(1234);
    QTest::newRow("no such socket") << errorAnswer(ENOENT) << int(SocketOwner::NotFound) << qint64(-1);
    QTest::newRow("request refused") << errorAnswer(EPERM) << int(SocketOwner::LookupFailed) << qint64(-1);
    QTest::newRow("no answer") << QByteArray() << int(SocketOwner::LookupFailed) << qint64(-1);
    QTest::newRow("answer about another connection")
        << diagnosticAnswer(PeerPort + 1, 1234) << int(SocketOwner::LookupFailed) << qint64(-1);
    QByteArray otherRequest = answer;
    otherRequest[int(offsetof(nlmsghdr, nlmsg_seq))] = char(Sequence + 1);
    QTest::newRow("answer to another request") << otherRequest << int(SocketOwner::LookupFailed) << qint64(-1);
    QTest::newRow("length past the end") << answer.left(answer.size() - 8) << int(SocketOwner::LookupFailed)
                                         << qint64(-1);
    const QByteArray cut = netlinkMessage(SOCK_DIAG_BY_FAMILY, Sequence, answer.mid(NLMSG_HDRLEN, 20));
    QTest::newRow("answer cut short") << cut << int(SocketOwner::LookupFailed) << qint64(-1);
}

// Whatever the kernel's answer holds, it is read within its bounds and only a whole answer about
// the connection asked for names an owner.
void TestSocketOwner::reply()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, status);
    QFETCH(qint64, userId);

    // A copy of exactly the reply's size, so that the sanitizer sees a read past it.
    const QByteArray exact(reply.constData(), reply.size());
    const SocketOwner owner
        = SocketOwner::fromDiagnosticReply(exact, Sequence, Loopback, PeerPort, Loopback, ListenerPort);
    QCOMPARE(int(owner.status()), status);
    QCOMPARE(owner.userId(), userId);
}

NIMBORA_TEST_MAIN(TestSocketOwner, QCoreApplication)
#include "tst_socketowner.moc"
