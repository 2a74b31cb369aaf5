#include "http/httprequest.h"
#include "http/httpresponse.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QSet>

// The HTTP transport's messages: the exact bytes of requests, and responses parsed from reads
// cut anywhere.
class TestHttpMessage : public QObject
{
    Q_OBJECT

private slots:
    void parseReads_data();
    void parseReads();
    void headerFields_data();
    void headerFields();
    void oversizedHeaderIsDropped();
    void randomStreamsKeepEveryByte();
    void randomBytesKeepCountersConsistent();
    void buildRequest_data();
    void buildRequest();
    void randomString();
};

namespace {

// One line per read: status, number of headers, this read's body, received, remaining, and
// the size of the bytes kept for the next response.
QString describe(const HttpResponse &response)
{
    return QStringLiteral("%1 h%2 '%3' r%4 m%5 p%6")
        .arg(response.statusCode)
        .arg(response.headers.size())
        .arg(QString::fromLatin1(response.content))
        .arg(response.received)
        .arg(response.remainingContentLength())
        .arg(response.pendingHeader.size());
}

// A read of no bytes stands for "parse what is kept" after a complete response.
const QByteArray Drain;

} // namespace

void TestHttpMessage::parseReads_data()
{
    QTest::addColumn<QList<QByteArray>>("reads");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("header split in the Content-Length line")
        << QList<QByteArray>({ "HTTP/1.1 200 OK\r\nContent-Le", "ngth: 3\r\n\r\nabc" })
        << QStringList({ "0 h0 '' r0 m0 p27", "200 h1 'abc' r3 m0 p0" });
    QTest::newRow("body over three reads, then a new response")
        << QList<QByteArray>({ "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\n", "abc", "de", "fghi",
               "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n" })
        << QStringList({ "200 h1 '' r0 m9 p0", "200 h1 'abc' r3 m6 p0", "200 h1 'de' r5 m4 p0",
               "200 h1 'fghi' r9 m0 p0", "404 h1 '' r0 m0 p0" });
    QTest::newRow("no Content-Length: complete with its header") << QList<QByteArray>(
        { "HTTP/1.1 204 No Content\r\nServer: x\r\n\r\n" }) << QStringList({ "204 h1 '' r0 m0 p0" });
    QTest::newRow("surplus after the body read with the header starts the next response") << QList<QByteArray>(
        { "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nabHTTP/1.1 201 Next\r\nContent-Length: 3\r\n\r\ncd", Drain,
            "e" }) << QStringList({ "200 h1 'ab' r2 m0 p42", "201 h1 'cd' r2 m1 p0", "201 h1 'e' r3 m0 p0" });
    QTest::newRow("surplus after a body read alone")
        << QList<QByteArray>({ "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n", "abcHTTP/1.1 200 OK\r\nContent", Drain,
               "-Length: 1\r\n\r\nz" })
        << QStringList({ "200 h1 '' r0 m3 p0", "200 h1 'abc' r3 m0 p24", "0 h0 '' r0 m0 p24", "200 h1 'z' r1 m0 p0" });
    QTest::newRow("body without Content-Length is the start of the next response")
        << QList<QByteArray>(
               { "HTTP/1.1 200 OK\r\nServer: x\r\n\r\nHTTP/1.1 202 A\r\nContent-Length: 1\r\n\r\nq", Drain })
        << QStringList({ "200 h1 '' r0 m0 p38", "202 h1 'q' r1 m0 p0" });
    QTest::newRow("more body than declared never drives the count below zero")
        << QList<QByteArray>({ "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\n", "xyz" })
        << QStringList({ "200 h1 '' r0 m1 p0", "200 h1 'x' r1 m0 p2" });
    QTest::newRow("negative Content-Length counts as none") << QList<QByteArray>(
        { "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n" }) << QStringList({ "200 h1 '' r0 m0 p0" });
    QTest::newRow("Content-Length not a number counts as none") << QList<QByteArray>(
        { "HTTP/1.1 200 OK\r\nContent-Length: 12abc\r\n\r\n" }) << QStringList({ "200 h1 '' r0 m0 p0" });
}

void TestHttpMessage::parseReads()
{
    QFETCH(QList<QByteArray>, reads);
    QFETCH(QStringList, expected);

    HttpResponse response;
    QStringList seen;
    for (QByteArray read : qAsConst(reads)) {
        QCOMPARE(HttpResponse::parseResponse(read, &response), &response);
        QVERIFY(read.isEmpty());
        seen << describe(response);
    }
    QCOMPARE(seen, expected);
}

void TestHttpMessage::headerFields_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("version");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QStringList>("headers"); // sorted "name=value"
    QTest::addColumn<QStringList>("cookies"); // sorted "name=value"

    QTest::newRow("names lower-cased, values kept")
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nX-Mixed: VaLuE: and: More\r\nX-Mixed: Last\r\n"
                      "Proxy-Authenticate: Basic realm=\"Nimbora\"\r\n\r\n")
        << "HTTP/1.1" << 200 << "OK"
        << QStringList({ "content-length=0", "proxy-authenticate=Basic realm=\"Nimbora\"", "x-mixed=Last" })
        << QStringList();
    QTest::newRow("cookies") << QByteArray(
        "HTTP/1.1 200 OK\r\nCookie: session=abc; beforeData=144; x=a=b; bare; \r\n\r\n")
                             << "HTTP/1.1" << 200 << "OK"
                             << QStringList({ "cookie=session=abc; beforeData=144; x=a=b; bare; " })
                             << QStringList({ "=", "bare=", "beforeData=144", "session=abc", "x=a=b" });
    QTest::newRow("status line without a number") << QByteArray("HTTP/1.1 OK Fine\r\nA: b\r\n\r\n") << "HTTP/1.1" << 0
                                                  << "Fine" << QStringList({ "a=b" }) << QStringList();
    QTest::newRow("reason phrase with blanks")
        << QByteArray("HTTP/1.0 407 Proxy Authentication Required\r\nA: b\r\n\r\n") << "HTTP/1.0" << 407
        << "Proxy Authentication Required" << QStringList({ "a=b" }) << QStringList();
    QTest::newRow("status line of one word")
        << QByteArray("HTTP/1.1\r\nA: b\r\n\r\n") << "HTTP/1.1" << 0 << "" << QStringList({ "a=b" }) << QStringList();
    QTest::newRow("header text ends at a NUL byte")
        << QByteArray("HTTP/1.1 200 OK\r\nA: b\0c\r\nD: e\r\n\r\n", 33) << "HTTP/1.1" << 200 << "OK"
        << QStringList({ "a=b" }) << QStringList();
    QTest::newRow("line without separator") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length:3\r\n\r\n") << "HTTP/1.1"
                                            << 200 << "OK" << QStringList({ "content-length:3=" }) << QStringList();
}

void TestHttpMessage::headerFields()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, version);
    QFETCH(int, status);
    QFETCH(QString, reason);
    QFETCH(QStringList, headers);
    QFETCH(QStringList, cookies);

    HttpResponse response;
    HttpResponse::parseResponse(bytes, &response);
    QCOMPARE(response.version, version);
    QCOMPARE(response.statusCode, status);
    QCOMPARE(response.reasonPhrase, reason);
    QStringList seenHeaders;
    for (auto it = response.headers.cbegin(); it != response.headers.cend(); ++it)
        seenHeaders << it.key() + QLatin1Char('=') + it.value();
    seenHeaders.sort();
    QCOMPARE(seenHeaders, headers);
    QStringList seenCookies;
    for (auto it = response.cookies.cbegin(); it != response.cookies.cend(); ++it)
        seenCookies << it.key() + QLatin1Char('=') + it.value();
    seenCookies.sort();
    QCOMPARE(seenCookies, cookies);
}

// A header block that never ends must not grow memory: each piece that would take it past
// the limit is dropped, and a response stays without headers.
void TestHttpMessage::oversizedHeaderIsDropped()
{
    HttpResponse response;
    QByteArray first = "HTTP/1.1 200 OK\r\n" + QByteArray(500, 'a');
    HttpResponse::parseResponse(first, &response);
    QCOMPARE(response.pendingHeader.size(), 517);
    const QByteArray kept = response.pendingHeader;
    for (int i = 0; i < 1000; ++i) {
        QByteArray piece = "X-Long: " + QByteArray(600, 'b') + "\r\n";
        HttpResponse::parseResponse(piece, &response);
        QVERIFY(response.headers.isEmpty());
        QCOMPARE(response.pendingHeader, kept);
    }
    QByteArray small = QByteArray(HttpResponse::MaximumPendingHeader - kept.size(), 'c');
    HttpResponse::parseResponse(small, &response);
    QCOMPARE(response.pendingHeader.size(), HttpResponse::MaximumPendingHeader);
    QByteArray one("d");
    HttpResponse::parseResponse(one, &response);
    QCOMPARE(response.pendingHeader.size(), HttpResponse::MaximumPendingHeader);
}

namespace {

struct Parsed
{
    int status = 0;
    QByteArray body;
    bool operator==(const Parsed &other) const { return status == other.status && body == other.body; }
};

// Feeds one read the way a channel does: handle each complete response, then parse what the
// read left for the next one.
void feed(HttpResponse &response, QByteArray data, Parsed &current, QList<Parsed> &done)
{
    HttpResponse::parseResponse(data, &response);
    while (!response.headers.isEmpty()) {
        current.status = response.statusCode;
        current.body += response.content;
        if (response.remainingContentLength() != 0)
            return;
        done << current;
        current = Parsed();
        if (response.pendingHeader.isEmpty())
            return;
        QByteArray none;
        HttpResponse::parseResponse(none, &response);
    }
}

QByteArray randomBytes(QRandomGenerator &random, int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(random.bounded(256));
    return bytes;
}

} // namespace

// Responses back to back, cut into reads at random places: every body comes out whole, once.
void TestHttpMessage::randomStreamsKeepEveryByte()
{
    const quint32 seed = QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    for (int round = 0; round < 300; ++round) {
        QByteArray stream;
        QList<Parsed> sent;
        const int count = random.bounded(1, 8);
        for (int i = 0; i < count; ++i) {
            Parsed response;
            response.status = random.bounded(100, 600);
            response.body = randomBytes(random, random.bounded(0, 3000));
            stream += "HTTP/1.1 " + QByteArray::number(response.status) + " Reason\r\nServer: test\r\n";
            stream += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n\r\n" + response.body;
            sent << response;
        }

        HttpResponse parser;
        Parsed current;
        QList<Parsed> received;
        for (int at = 0; at < stream.size();) {
            const int size = random.bounded(1, 1500);
            feed(parser, stream.mid(at, size), current, received);
            QVERIFY(parser.remainingContentLength() >= 0);
            at += size;
        }
        QVERIFY2(received == sent, qPrintable(QStringLiteral("seed %1, round %2").arg(seed).arg(round)));
        QVERIFY(parser.pendingHeader.isEmpty());
    }
}

// Garbage, truncated responses and huge declared lengths: no crash, counters stay sane.
void TestHttpMessage::randomBytesKeepCountersConsistent()
{
    const quint32 seed = QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    const QList<QByteArray> pieces({ "HTTP/1.1 200 OK\r\n", "Content-Length: ", "99999999999999999999", "-1", "7",
        "\r\n", "\r\n\r\n", "Cookie: a=b; c", QByteArray(1, '\0'), ": " });
    HttpResponse response;
    for (int i = 0; i < 20000; ++i) {
        QByteArray read;
        const int parts = random.bounded(0, 6);
        for (int p = 0; p < parts; ++p) {
            read += random.bounded(2) ? pieces.at(random.bounded(pieces.size()))
                                      : randomBytes(random, random.bounded(0, 600));
        }
        const bool inBody = response.remainingContentLength() != 0;
        const qint64 receivedBefore = response.received;
        const int size = read.size();
        HttpResponse::parseResponse(read, &response);
        const QString context = QStringLiteral("seed %1, read %2").arg(seed).arg(i);
        QVERIFY2(response.remainingContentLength() >= 0, qPrintable(context));
        QVERIFY2(response.received >= response.content.size(), qPrintable(context));
        QVERIFY2(response.pendingHeader.size() <= HttpResponse::MaximumPendingHeader
                || response.pendingHeader.contains("\r\n\r\n"),
            qPrintable(context));
        if (inBody) {
            // Body bytes are counted once: what went to the body plus what was kept is the read.
            QCOMPARE(response.received - receivedBefore, qint64(response.content.size()));
            QVERIFY2(response.content.size() + response.pendingHeader.size() <= size, qPrintable(context));
        }
        if (random.bounded(10) == 0)
            response = HttpResponse();
    }
}

void TestHttpMessage::buildRequest_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("cookies");
    QTest::addColumn<QStringList>("headers");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("proxyType");
    QTest::addColumn<QByteArray>("proxyAuthorization");
    QTest::addColumn<QByteArray>("expected"); // "{cookies}" stands for the extra cookies, in any order

    const int none = QNetworkProxy::NoProxy;
    QTest::newRow("GET") << "GET"
                         << "index.php" << QStringList() << QStringList() << QByteArray() << none << QByteArray()
                         << QByteArray("GET /index.php HTTP/1.1\r\nHost: vpn.example\r\nUser-Agent: Agent/1.0\r\n"
                                       "Cookie: session=S3ss\r\nConnection: keep-alive\r\n\r\n");
    QTest::newRow("POST with the upload cookies")
        << "POST"
        << "index.php" << QStringList({ "beforeData=144", "afterData=46" })
        << QStringList({ "content-type=multipart/form-data; boundary=----WebKitFormBoundaryABC", "content-length=7" })
        << QByteArray("payload") << none << QByteArray()
        << QByteArray("POST /index.php HTTP/1.1\r\nHost: vpn.example\r\nUser-Agent: Agent/1.0\r\n"
                      "Cookie: session=S3ss; {cookies}\r\n"
                      "Content-Type: multipart/form-data; boundary=----WebKitFormBoundaryABC\r\n"
                      "Content-Length: 7\r\nConnection: keep-alive\r\n\r\npayload");
    QTest::newRow("POST with the default headers")
        << "POST"
        << "index.php" << QStringList() << QStringList() << QByteArray() << none << QByteArray()
        << QByteArray("POST /index.php HTTP/1.1\r\nHost: vpn.example\r\nUser-Agent: Agent/1.0\r\n"
                      "Cookie: session=S3ss\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                      "Content-Length: 0\r\nConnection: keep-alive\r\n\r\n");
    QTest::newRow("through an HTTP proxy")
        << "GET"
        << "aB3dE.pdf" << QStringList() << QStringList() << QByteArray() << int(QNetworkProxy::HttpProxy)
        << QByteArray("dXNlcjpwYXNz")
        << QByteArray("GET http://vpn.example/aB3dE.pdf HTTP/1.1\r\nHost: vpn.example\r\nUser-Agent: Agent/1.0\r\n"
                      "Cookie: session=S3ss\r\nProxy-Authorization: Basic dXNlcjpwYXNz\r\n"
                      "Connection: keep-alive\r\n\r\n");
    QTest::newRow("through a SOCKS proxy: origin form")
        << "GET"
        << "x.pdf" << QStringList() << QStringList() << QByteArray() << int(QNetworkProxy::Socks5Proxy) << QByteArray()
        << QByteArray("GET /x.pdf HTTP/1.1\r\nHost: vpn.example\r\nUser-Agent: Agent/1.0\r\n"
                      "Cookie: session=S3ss\r\nConnection: keep-alive\r\n\r\n");
    QTest::newRow("a method other than exactly POST sends no body headers")
        << "post"
        << "index.php" << QStringList() << QStringList() << QByteArray() << none << QByteArray()
        << QByteArray("post /index.php HTTP/1.1\r\nHost: vpn.example\r\nUser-Agent: Agent/1.0\r\n"
                      "Cookie: session=S3ss\r\nConnection: keep-alive\r\n\r\n");
}

void TestHttpMessage::buildRequest()
{
    QFETCH(QString, method);
    QFETCH(QString, path);
    QFETCH(QStringList, cookies);
    QFETCH(QStringList, headers);
    QFETCH(QByteArray, content);
    QFETCH(int, proxyType);
    QFETCH(QByteArray, proxyAuthorization);
    QFETCH(QByteArray, expected);

    HttpRequest request(method, path);
    for (const QString &cookie : qAsConst(cookies))
        request.cookies.insert(cookie.section(QLatin1Char('='), 0, 0), cookie.section(QLatin1Char('='), 1));
    for (const QString &header : qAsConst(headers))
        request.headers.insert(header.section(QLatin1Char('='), 0, 0), header.section(QLatin1Char('='), 1));
    request.setContent(content);
    HttpRequest::Sender sender;
    sender.host = QStringLiteral("vpn.example");
    sender.userAgent = QStringLiteral("Agent/1.0");
    sender.session = QStringLiteral("S3ss");
    sender.proxyType = QNetworkProxy::ProxyType(proxyType);
    sender.proxyAuthorization = proxyAuthorization;

    QByteArray bytes = HttpRequest::buildRequest(request, sender);
    const int placeholder = expected.indexOf("{cookies}");
    if (placeholder >= 0) {
        const int end = bytes.indexOf("\r\n", placeholder);
        QVERIFY(end > placeholder);
        const QList<QByteArray> sentCookies = bytes.mid(placeholder, end - placeholder).split(';');
        QSet<QString> seen;
        for (const QByteArray &cookie : sentCookies)
            seen << QString::fromUtf8(cookie.trimmed());
        QCOMPARE(seen, QSet<QString>(cookies.cbegin(), cookies.cend()));
        QVERIFY(bytes.mid(placeholder, end - placeholder).contains("; "));
        bytes.replace(placeholder, end - placeholder, "{cookies}");
    }
    QCOMPARE(bytes, expected);
    QCOMPARE(request.sent, qint64(content.size()));
}

void TestHttpMessage::randomString()
{
    const QString alphabet = QStringLiteral("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    QCOMPARE(HttpRequest::randomString(0), QString());
    QSet<QString> names;
    for (int i = 0; i < 200; ++i) {
        const QString name = HttpRequest::randomString(16);
        QCOMPARE(name.size(), 16);
        for (const QChar c : name)
            QVERIFY(alphabet.contains(c));
        names << name;
    }
    QVERIFY(names.size() > 190);
}

NIMBORA_TEST_MAIN(TestHttpMessage, QCoreApplication)
#include "tst_httpmessage.moc"
