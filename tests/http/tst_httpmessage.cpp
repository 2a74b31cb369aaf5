#include "http/httprequest.h"
#include "http/httpresponse.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSet>

// The HTTP transport's messages: the exact bytes of requests, and responses parsed from reads
// cut anywhere. Arbitrary bytes are the fuzz target's (tests/fuzz/fuzz_http_response.cpp).
class TestHttpMessage : public QObject
{
    Q_OBJECT

private slots:
    void headerFields_data();
    void headerFields();
    void oversizedHeaderIsDropped();
    void everyReadSize();
    void buildRequest_data();
    void buildRequest();
    void randomString();
};

namespace {

QString joined(const QHash<QString, QString> &fields)
{
    QStringList lines;
    for (auto it = fields.cbegin(); it != fields.cend(); ++it)
        lines << it.key() + QLatin1Char('=') + it.value();
    lines.sort();
    return lines.join(QLatin1String(" | "));
}

} // namespace

void TestHttpMessage::headerFields_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected"); // version, status, 'reason', [headers], [cookies]; fields sorted

    QTest::newRow("names lower-cased, values kept")
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nX-Mixed: VaLuE: and: More\r\nX-Mixed: Last\r\n"
                      "Proxy-Authenticate: Basic realm=\"Nimbora\"\r\n\r\n")
        << "HTTP/1.1 200 'OK' [content-length=0 | proxy-authenticate=Basic realm=\"Nimbora\" | x-mixed=Last] []";
    QTest::newRow("cookies") << QByteArray(
        "HTTP/1.1 200 OK\r\nCookie: session=abc; beforeData=144; x=a=b; bare; \r\n\r\n")
                             << "HTTP/1.1 200 'OK' [cookie=session=abc; beforeData=144; x=a=b; bare; ] "
                                "[= | bare= | beforeData=144 | session=abc | x=a=b]";
    QTest::newRow("status line without a number")
        << QByteArray("HTTP/1.1 OK Fine\r\nA: b\r\n\r\n") << "HTTP/1.1 0 'Fine' [a=b] []";
    QTest::newRow("reason phrase with blanks")
        << QByteArray("HTTP/1.0 407 Proxy Authentication Required\r\nA: b\r\n\r\n")
        << "HTTP/1.0 407 'Proxy Authentication Required' [a=b] []";
    QTest::newRow("status line of one word") << QByteArray("HTTP/1.1\r\nA: b\r\n\r\n") << "HTTP/1.1 0 '' [a=b] []";
    QTest::newRow("header text ends at a NUL byte")
        << QByteArray("HTTP/1.1 200 OK\r\nA: b\0c\r\nD: e\r\n\r\n", 33) << "HTTP/1.1 200 'OK' [a=b] []";
    QTest::newRow("line without separator")
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length:3\r\n\r\n") << "HTTP/1.1 200 'OK' [content-length:3=] []";
}

void TestHttpMessage::headerFields()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);

    HttpResponse response;
    HttpResponse::parseResponse(bytes, &response);
    QCOMPARE(QStringLiteral("%1 %2 '%3' [%4] [%5]")
                 .arg(response.version)
                 .arg(response.statusCode)
                 .arg(response.reasonPhrase, joined(response.headers), joined(response.cookies)),
        expected);
}

// A header block that never ends must not grow memory: each piece that would take it past the limit is dropped,
// and a response stays without headers.
void TestHttpMessage::oversizedHeaderIsDropped()
{
    HttpResponse response;
    QByteArray first = "HTTP/1.1 200 OK\r\n" + QByteArray(500, 'a');
    HttpResponse::parseResponse(first, &response);
    const QByteArray kept = response.pendingHeader;
    QCOMPARE(kept.size(), 517);
    for (int i = 0; i < 1000; ++i) {
        QByteArray piece = "X-Long: " + QByteArray(600, 'b') + "\r\n";
        HttpResponse::parseResponse(piece, &response);
        QVERIFY(response.headers.isEmpty());
        QCOMPARE(response.pendingHeader, kept);
    }
    for (QByteArray piece : { QByteArray(HttpResponse::MaximumPendingHeader - kept.size(), 'c'), QByteArray("d") }) {
        HttpResponse::parseResponse(piece, &response);
        QCOMPARE(response.pendingHeader.size(), HttpResponse::MaximumPendingHeader);
    }
}

// Responses back to back, read in pieces of every size: each body comes out whole, once, and nothing is left over.
// Without a usable Content-Length a response ends with its header, and the next bytes begin the next one.
void TestHttpMessage::everyReadSize()
{
    using Response = QPair<int, QByteArray>;
    const QByteArray stream = "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc"
                              "HTTP/1.1 204 No Content\r\nServer: x\r\n\r\n"
                              "HTTP/1.1 201 R\r\nContent-Length: 38\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\n"
                              "HTTP/1.1 202 R\r\nContent-Length: -5\r\n\r\n"
                              "HTTP/1.1 203 R\r\nContent-Length: 12abc\r\n\r\n"
                              "HTTP/1.1 404 R\r\nContent-Length: 1500\r\n\r\n"
        + QByteArray(1500, 'x') + "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nz";
    const QList<Response> sent = { { 200, "abc" }, { 204, "" }, { 201, "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\n" },
        { 202, "" }, { 203, "" }, { 404, QByteArray(1500, 'x') }, { 200, "z" } };
    for (int size = 1; size <= stream.size(); ++size) {
        HttpResponse response;
        QList<Response> received;
        QByteArray body;
        for (int at = 0; at < stream.size(); at += size) {
            QByteArray read = stream.mid(at, size);
            // As a channel does: a complete response handled, then what the read left parsed as the next one.
            do {
                QCOMPARE(HttpResponse::parseResponse(read, &response), &response);
                QVERIFY(read.isEmpty());
                if (response.headers.isEmpty())
                    break;
                body += response.content;
                if (response.remainingContentLength() != 0)
                    break;
                received.append({ response.statusCode, body });
                body.clear();
            } while (!response.pendingHeader.isEmpty());
        }
        QVERIFY2(received == sent, qPrintable(QStringLiteral("reads of %1 bytes").arg(size)));
        QVERIFY(response.pendingHeader.isEmpty());
    }
}

void TestHttpMessage::buildRequest_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("upload"); // the file upload's cookies and headers, and a body of 7 bytes
    QTest::addColumn<int>("proxyType"); // an HTTP proxy comes with credentials
    QTest::addColumn<QByteArray>("expected"); // "{cookies}" stands for the upload cookies, in either order

    const QByteArray from = "Host: vpn.example\r\nUser-Agent: Agent/1.0\r\nCookie: session=S3ss";
    const QByteArray end = "Connection: keep-alive\r\n\r\n";
    const int none = QNetworkProxy::NoProxy;
    QTest::newRow("GET") << "GET"
                         << "index.php" << false << none << "GET /index.php HTTP/1.1\r\n" + from + "\r\n" + end;
    QTest::newRow("POST of the file upload") << "POST"
                                             << "index.php" << true << none
                                             << "POST /index.php HTTP/1.1\r\n" + from
            + "; {cookies}\r\nContent-Type: multipart/form-data; "
              "boundary=----WebKitFormBoundaryABC\r\nContent-Length: 7\r\n"
            + end + "payload";
    QTest::newRow("POST with the default headers") << "POST"
                                                   << "index.php" << false << none
                                                   << "POST /index.php HTTP/1.1\r\n" + from
            + "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: 0\r\n" + end;
    QTest::newRow("through an HTTP proxy: absolute form, credentials")
        << "GET"
        << "aB3dE.pdf" << false << int(QNetworkProxy::HttpProxy)
        << "GET http://vpn.example/aB3dE.pdf HTTP/1.1\r\n" + from + "\r\nProxy-Authorization: Basic dXNlcjpwYXNz\r\n"
            + end;
    QTest::newRow("through a SOCKS proxy: origin form")
        << "GET"
        << "x.pdf" << false << int(QNetworkProxy::Socks5Proxy) << "GET /x.pdf HTTP/1.1\r\n" + from + "\r\n" + end;
}

void TestHttpMessage::buildRequest()
{
    QFETCH(QString, method);
    QFETCH(QString, path);
    QFETCH(bool, upload);
    QFETCH(int, proxyType);
    QFETCH(QByteArray, expected);

    HttpRequest request(method, path);
    if (upload) {
        request.cookies.insert(QStringLiteral("beforeData"), QStringLiteral("144"));
        request.cookies.insert(QStringLiteral("afterData"), QStringLiteral("46"));
        request.headers.insert(
            QStringLiteral("content-type"), QStringLiteral("multipart/form-data; boundary=----WebKitFormBoundaryABC"));
        request.headers.insert(QStringLiteral("content-length"), QStringLiteral("7"));
        request.setContent("payload");
    }
    HttpRequest::Sender sender;
    sender.host = QStringLiteral("vpn.example");
    sender.userAgent = QStringLiteral("Agent/1.0");
    sender.session = QStringLiteral("S3ss");
    sender.proxyType = QNetworkProxy::ProxyType(proxyType);
    if (proxyType == QNetworkProxy::HttpProxy)
        sender.proxyAuthorization = "dXNlcjpwYXNz";

    QByteArray bytes = HttpRequest::buildRequest(request, sender);
    for (const char *cookies : { "beforeData=144; afterData=46", "afterData=46; beforeData=144" })
        bytes.replace(cookies, "{cookies}");
    QCOMPARE(bytes, expected);
    QCOMPARE(request.sent, qint64(upload ? 7 : 0));
}

// Names drawn anew each time, of letters and digits only.
void TestHttpMessage::randomString()
{
    QCOMPARE(HttpRequest::randomString(0), QString());
    QSet<QString> names;
    for (int i = 0; i < 100; ++i)
        names << HttpRequest::randomString(16);
    QCOMPARE(names.size(), 100);
    const QRegularExpression form(QStringLiteral("^[0-9A-Za-z]{16}$"));
    for (const QString &name : qAsConst(names))
        QVERIFY2(form.match(name).hasMatch(), qPrintable(name));
}

NIMBORA_TEST_MAIN(TestHttpMessage, QCoreApplication)
#include "tst_httpmessage.moc"
