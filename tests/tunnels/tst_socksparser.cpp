#include "tunnels/socksparser.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>

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

// Greetings: the methods in hex. Requests and datagrams: command (or fragment), address type, address or
// name, port.
QString describe(int kind, const SocksParser::Request &request)
{
    if (kind == Socks5Greeting)
        return QString::fromLatin1(request.hostName.toHex());
    const QString address
        = request.address.isNull() ? QString::fromLatin1(request.hostName) : request.address.toString();
    return QStringLiteral("%1 %2 %3 %4").arg(request.command).arg(request.addressType).arg(address).arg(request.port);
}

} // namespace

// Arbitrary bytes are the fuzz target's (tests/fuzz/fuzz_socks_request.cpp); here are the named cases.
class TestSocksParser : public QObject
{
    Q_OBJECT

private slots:
    void wholeMessages_data();
    void wholeMessages();
    void refused_data();
    void refused();
};

void TestSocksParser::wholeMessages_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("expected"); // see describe()

    const auto hex = [](const char *text) { return QByteArray::fromHex(text); };
    const int S4 = Socks4Request, G = Socks5Greeting, S5 = Socks5Request, D = Datagram;
    QTest::newRow("socks 4, empty user id") << S4 << hex("04010050c0a8000100") << "1 1 192.168.0.1 80";
    QTest::newRow("socks 4, user id") << S4 << hex("04021f907f000001616c69636500") << "2 1 127.0.0.1 8080";
    QTest::newRow("socks 4, longest user id")
        << S4 << hex("040100507f000001") + QByteArray(255, 'u') + '\0' << "1 1 127.0.0.1 80";
    QTest::newRow("socks 4a") << S4 << hex("040100500000000175006c6f63616c686f737400") << "1 3 localhost 80";
    QTest::newRow("socks 4a, empty name") << S4 << hex("04010050000000ff0000") << "1 3  80";
    QTest::newRow("greeting, two methods") << G << hex("05020200") << "0200";
    QTest::newRow("greeting, no method") << G << hex("0500") << "";
    QTest::newRow("greeting, 255 methods")
        << G << hex("05ff") + QByteArray(255, 1) << QStringLiteral("01").repeated(255);
    QTest::newRow("request, ipv4") << S5 << hex("050100017f0000010050") << "1 1 127.0.0.1 80";
    QTest::newRow("request, name") << S5 << hex("05030003096c6f63616c686f7374ffff") << "3 3 localhost 65535";
    QTest::newRow("request, empty name") << S5 << hex("05010003000050") << "1 3  80";
    QTest::newRow("request, ipv6") << S5 << hex("050100040000000000000000000000000000000101bb") << "1 4 ::1 443";
    QTest::newRow("datagram, ipv4") << D << hex("000000017f0000010035") << "0 1 127.0.0.1 53";
    QTest::newRow("datagram, reserved bytes ignored") << D << hex("abcd00017f0000010035") << "0 1 127.0.0.1 53";
    QTest::newRow("datagram, name, fragment 2") << D << hex("0000020301610007") << "2 3 a 7";
}

// A whole message is read as such whatever follows it, and no shorter part of it is ever taken as a message.
void TestSocksParser::wholeMessages()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, message);
    QFETCH(QString, expected);

    for (const QByteArray &follower : { QByteArray(), QByteArray("GET / HTTP/1.1\r\n"), QByteArray(300, '\0') }) {
        SocksParser::Request request;
        QCOMPARE(parse(kind, message + follower, &request), SocksParser::Complete);
        QCOMPARE(request.length, message.size());
        QCOMPARE(describe(kind, request), expected);
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
    const QByteArray socks4a = QByteArray::fromHex("0401005000000001") + QByteArray("u\0", 2);
    const auto hex = [](const char *text) { return QByteArray::fromHex(text); };
    const int S4 = Socks4Request, S5 = Socks5Request, D = Datagram;
    const auto Malformed = SocksParser::Malformed, Incomplete = SocksParser::Incomplete;
    QTest::newRow("user id past its limit") << S4 << socks4 + QByteArray(256, 'u') << Malformed;
    QTest::newRow("user id past its limit, then NUL") << S4 << socks4 + QByteArray(256, 'u') + '\0' << Malformed;
    QTest::newRow("4a name past its limit") << S4 << socks4a + QByteArray(256, 'h') << Malformed;
    QTest::newRow("4a name without its NUL") << S4 << socks4a + "localhost" << Incomplete;
    QTest::newRow("request, address type 0") << S5 << hex("05010000") << Malformed;
    QTest::newRow("request, address type 2") << S5 << hex("050100027f0000010050") << Malformed;
    QTest::newRow("request, address type 255") << S5 << hex("050100ff") << Malformed;
    QTest::newRow("request, name longer than what came")
        << S5 << hex("05010003ff") + QByteArray(200, 'a') << Incomplete;
    // Datagrams come whole or not at all: anything that does not parse is dropped.
    QTest::newRow("datagram, 3 bytes") << D << hex("000000") << Incomplete;
    QTest::newRow("datagram, ipv4 cut") << D << hex("000000017f00000100") << Incomplete;
    QTest::newRow("datagram, name longer than the datagram") << D << hex("00000003206162") << Incomplete;
    QTest::newRow("datagram, ipv6") << D << hex("00000004000000000000000000000000000000010035") << Incomplete;
    QTest::newRow("datagram, type 2") << D << hex("000000027f0000010035") << Incomplete;
}

void TestSocksParser::refused()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, bytes);
    QFETCH(SocksParser::Result, result);

    SocksParser::Request request;
    QCOMPARE(parse(kind, bytes, &request), result);
}

NIMBORA_TEST_MAIN(TestSocksParser, QCoreApplication)
#include "tst_socksparser.moc"
