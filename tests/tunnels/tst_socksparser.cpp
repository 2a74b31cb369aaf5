#include "tunnels/socksparser.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QRandomGenerator>

Q_DECLARE_METATYPE(SocksParser::Result)

namespace {

enum Kind { Socks4Request, Socks5Greeting, Socks5Request, Datagram };

SocksParser::Result parse(int kind, const QByteArray &bytes, SocksParser::Request *request)
{
    switch (kind) {
    case Socks4Request:
        return SocksParser::parseSocks4Request(bytes, request);
    case Socks5Greeting: {
        QByteArray methods;
        const SocksParser::Result result = SocksParser::parseSocks5Greeting(bytes, &methods, &request->length);
        request->hostName = methods;
        return result;
    }
    case Socks5Request:
        return SocksParser::parseSocks5Request(bytes, request);
    default:
        return SocksParser::parseDatagramHeader(bytes, request) ? SocksParser::Complete : SocksParser::Incomplete;
    }
}

} // namespace

class TestSocksParser : public QObject
{
    Q_OBJECT

private slots:
    void wholeMessages_data();
    void wholeMessages();
    void refused_data();
    void refused();
    void randomBytes();
};

void TestSocksParser::wholeMessages_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("addressType");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QByteArray>("hostName");
    QTest::addColumn<int>("port");

    QTest::newRow("socks 4, empty user id") << int(Socks4Request) << QByteArray::fromHex("04010050c0a8000100") << 1 << 1
                                            << "192.168.0.1" << QByteArray() << 80;
    QTest::newRow("socks 4, user id") << int(Socks4Request) << QByteArray::fromHex("04021f907f000001616c69636500") << 2
                                      << 1 << "127.0.0.1" << QByteArray() << 8080;
    QTest::newRow("socks 4a") << int(Socks4Request) << QByteArray::fromHex("040100500000000175006c6f63616c686f737400")
                              << 1 << 3 << "" << QByteArray("localhost") << 80;
    QTest::newRow("socks 4a, empty name")
        << int(Socks4Request) << QByteArray::fromHex("04010050000000ff0000") << 1 << 3 << "" << QByteArray() << 80;
    QTest::newRow("socks 4, longest user id")
        << int(Socks4Request) << QByteArray::fromHex("040100507f000001") + QByteArray(255, 'u') + '\0' << 1 << 1
        << "127.0.0.1" << QByteArray() << 80;
    QTest::newRow("greeting, two methods")
        << int(Socks5Greeting) << QByteArray::fromHex("05020200") << 0 << 0 << "" << QByteArray::fromHex("0200") << 0;
    QTest::newRow("greeting, no method") << int(Socks5Greeting) << QByteArray::fromHex("0500") << 0 << 0 << ""
                                         << QByteArray() << 0;
    QTest::newRow("greeting, 255 methods") << int(Socks5Greeting) << QByteArray::fromHex("05ff") + QByteArray(255, 1)
                                           << 0 << 0 << "" << QByteArray(255, 1) << 0;
    QTest::newRow("request, ipv4") << int(Socks5Request) << QByteArray::fromHex("050100017f0000010050") << 1 << 1
                                   << "127.0.0.1" << QByteArray() << 80;
    QTest::newRow("request, name") << int(Socks5Request) << QByteArray::fromHex("05030003096c6f63616c686f7374ffff") << 3
                                   << 3 << "" << QByteArray("localhost") << 65535;
    QTest::newRow("request, empty name") << int(Socks5Request) << QByteArray::fromHex("05010003000050") << 1 << 3 << ""
                                         << QByteArray() << 80;
    QTest::newRow("request, ipv6") << int(Socks5Request)
                                   << QByteArray::fromHex("050100040000000000000000000000000000000101bb") << 1 << 4
                                   << "::1" << QByteArray() << 443;
    QTest::newRow("datagram, ipv4") << int(Datagram) << QByteArray::fromHex("000000017f0000010035") << 0 << 1
                                    << "127.0.0.1" << QByteArray() << 53;
    QTest::newRow("datagram, name, fragment 2")
        << int(Datagram) << QByteArray::fromHex("0000020301610007") << 2 << 3 << "" << QByteArray("a") << 7;
}

// A whole message is read as such whatever follows it, and no shorter part of it is ever taken as a message.
void TestSocksParser::wholeMessages()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, message);
    QFETCH(int, command);
    QFETCH(int, addressType);
    QFETCH(QString, address);
    QFETCH(QByteArray, hostName);
    QFETCH(int, port);

    const QByteArray followers[] = { QByteArray(), QByteArray("GET / HTTP/1.1\r\n"), QByteArray(300, '\0') };
    for (const QByteArray &follower : followers) {
        SocksParser::Request request;
        QCOMPARE(parse(kind, message + follower, &request), SocksParser::Complete);
        QCOMPARE(request.length, message.size());
        if (kind == Socks5Greeting) {
            QCOMPARE(request.hostName, hostName);
            continue;
        }
        QCOMPARE(int(request.command), command);
        QCOMPARE(int(request.addressType), addressType);
        QCOMPARE(request.address.isNull() ? QString() : request.address.toString(), address);
        QCOMPARE(request.hostName, hostName);
        QCOMPARE(int(request.port), port);
    }
    for (int length = 0; length < message.size(); ++length) {
        SocksParser::Request request;
        QVERIFY2(parse(kind, message.left(length), &request) == SocksParser::Incomplete,
            qPrintable(QStringLiteral("cut at %1").arg(length)));
    }
}

void TestSocksParser::refused_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<SocksParser::Result>("result");

    const QByteArray socks4 = QByteArray::fromHex("040100507f000001");
    const QByteArray socks4a = QByteArray::fromHex("0401005000000001");
    QTest::newRow("user id past its limit")
        << int(Socks4Request) << socks4 + QByteArray(256, 'u') << SocksParser::Malformed;
    QTest::newRow("user id past its limit, then NUL")
        << int(Socks4Request) << socks4 + QByteArray(256, 'u') + '\0' << SocksParser::Malformed;
    QTest::newRow("4a name past its limit")
        << int(Socks4Request) << socks4a + QByteArray("u\0", 2) + QByteArray(256, 'h') << SocksParser::Malformed;
    QTest::newRow("4a name without its NUL")
        << int(Socks4Request) << socks4a + QByteArray("u\0localhost", 11) << SocksParser::Incomplete;
    QTest::newRow("request, address type 0")
        << int(Socks5Request) << QByteArray::fromHex("05010000") << SocksParser::Malformed;
    QTest::newRow("request, address type 2")
        << int(Socks5Request) << QByteArray::fromHex("050100027f0000010050") << SocksParser::Malformed;
    QTest::newRow("request, address type 255")
        << int(Socks5Request) << QByteArray::fromHex("050100ff") << SocksParser::Malformed;
    QTest::newRow("request, name longer than what came")
        << int(Socks5Request) << QByteArray::fromHex("05010003ff") + QByteArray(200, 'a') << SocksParser::Incomplete;
    // Datagrams come whole or not at all: anything that does not parse is dropped.
    QTest::newRow("datagram, 3 bytes") << int(Datagram) << QByteArray::fromHex("000000") << SocksParser::Incomplete;
    QTest::newRow("datagram, ipv4 cut") << int(Datagram) << QByteArray::fromHex("000000017f00000100")
                                        << SocksParser::Incomplete;
    QTest::newRow("datagram, name longer than the datagram")
        << int(Datagram) << QByteArray::fromHex("00000003206162") << SocksParser::Incomplete;
    QTest::newRow("datagram, ipv6") << int(Datagram)
                                    << QByteArray::fromHex("00000004000000000000000000000000000000010035")
                                    << SocksParser::Incomplete;
    QTest::newRow("datagram, type 2") << int(Datagram) << QByteArray::fromHex("000000027f0000010035")
                                      << SocksParser::Incomplete;
}

void TestSocksParser::refused()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, bytes);
    QFETCH(SocksParser::Result, result);

    SocksParser::Request request;
    QCOMPARE(parse(kind, bytes, &request), result);
}

// Under the sanitizers this is where a read past the end would show; the checks hold for any input.
void TestSocksParser::randomBytes()
{
    QRandomGenerator random(20261206);
    for (int round = 0; round < 20000; ++round) {
        QByteArray bytes(int(random.bounded(300)), Qt::Uninitialized);
        for (char &byte : bytes)
            byte = char(random.bounded(256));
        // Make the interesting first bytes common.
        if (!bytes.isEmpty() && random.bounded(2))
            bytes[0] = char(4 + random.bounded(2));
        if (bytes.size() > 3 && random.bounded(2))
            bytes[3] = char(random.bounded(5));
        if (bytes.size() > 7 && random.bounded(4) == 0)
            bytes.replace(4, 3, QByteArray(3, '\0'));

        for (int kind = Socks4Request; kind <= Datagram; ++kind) {
            SocksParser::Request request;
            const SocksParser::Result result = parse(kind, bytes, &request);
            if (result != SocksParser::Complete)
                continue;
            QVERIFY(request.length > 0);
            QVERIFY(request.length <= bytes.size());
            // The same message alone reads the same.
            if (kind != Datagram) {
                SocksParser::Request alone;
                QCOMPARE(parse(kind, bytes.left(request.length), &alone), SocksParser::Complete);
                QCOMPARE(alone.length, request.length);
                QCOMPARE(alone.hostName, request.hostName);
                QCOMPARE(alone.port, request.port);
            }
        }
    }
}

NIMBORA_TEST_MAIN(TestSocksParser, QCoreApplication)
#include "tst_socksparser.moc"
