#include "tools/service/httprequestparser.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>

class TestHttpRequestParser : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void splitAcrossReads();
    void queryValue_data();
    void queryValue();
};

void TestHttpRequestParser::parse_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("query");
    QTest::addColumn<qint64>("contentLength");
    QTest::addColumn<QByteArray>("rest");
    QTest::addColumn<QString>("error");

    const int ok = HttpRequestParser::Complete;
    const int more = HttpRequestParser::NeedMore;
    const int bad = HttpRequestParser::Malformed;

    QTest::newRow("command") << QByteArray("GET /client/check HTTP/1.1\r\nHost: main\r\n\r\n") << ok << "/client/check"
                             << "" << qint64(0) << QByteArray() << "";
    QTest::newRow("query kept raw") << QByteArray("GET /client/login?username=a&b&password=x HTTP/1.1\r\n\r\n") << ok
                                    << "/client/login"
                                    << "username=a&b&password=x" << qint64(0) << QByteArray() << "";
    QTest::newRow("absolute form from a proxy")
        << QByteArray("GET http://198.18.0.11/ping HTTP/1.1\r\nHost: 198.18.0.11\r\n\r\n") << ok << "/ping"
        << "" << qint64(0) << QByteArray() << "";
    QTest::newRow("body stays in the buffer")
        << QByteArray("POST /index.php HTTP/1.1\r\nContent-Length: 5\r\n\r\nhelloGET") << ok << "/index.php"
        << "" << qint64(5) << QByteArray("helloGET") << "";
    QTest::newRow("blank lines before the request") << QByteArray("\r\n\r\nGET /ping HTTP/1.0\r\n\r\n") << ok << "/ping"
                                                    << "" << qint64(0) << QByteArray() << "";
    QTest::newRow("same Content-Length twice")
        << QByteArray("POST /index.php HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 3\r\n\r\n") << ok
        << "/index.php"
        << "" << qint64(3) << QByteArray() << "";
    QTest::newRow("header not complete") << QByteArray("GET /ping HTTP/1.1\r\nHost: x\r\n") << more << ""
                                         << "" << qint64(0) << QByteArray("GET /ping HTTP/1.1\r\nHost: x\r\n") << "";
    QTest::newRow("nothing yet") << QByteArray() << more << ""
                                 << "" << qint64(0) << QByteArray() << "";

    QTest::newRow("garbage") << QByteArray("GARBAGE\r\n\r\n") << bad << ""
                             << "" << qint64(0) << QByteArray() << "request line";
    QTest::newRow("no version") << QByteArray("GET /ping\r\n\r\n") << bad << ""
                                << "" << qint64(0) << QByteArray() << "request line";
    QTest::newRow("two blanks") << QByteArray("GET  /ping HTTP/1.1\r\n\r\n") << bad << ""
                                << "" << qint64(0) << QByteArray() << "request line";
    QTest::newRow("HTTP/2") << QByteArray("GET /ping HTTP/2.0\r\n\r\n") << bad << ""
                            << "" << qint64(0) << QByteArray() << "version";
    QTest::newRow("target without slash") << QByteArray("GET ping HTTP/1.1\r\n\r\n") << bad << ""
                                          << "" << qint64(0) << QByteArray() << "target";
    QTest::newRow("absolute form without path") << QByteArray("GET http://host HTTP/1.1\r\n\r\n") << bad << ""
                                                << "" << qint64(0) << QByteArray() << "target";
    QTest::newRow("bare LF line") << QByteArray("GET /ping HTTP/1.1\nHost: x\r\n\r\n") << bad << ""
                                  << "" << qint64(0) << QByteArray() << "CR LF";
    QTest::newRow("header without colon") << QByteArray("GET /ping HTTP/1.1\r\nHost x\r\n\r\n") << bad << ""
                                          << "" << qint64(0) << QByteArray() << "header line";
    QTest::newRow("blank in header name") << QByteArray("GET /ping HTTP/1.1\r\nHo st: x\r\n\r\n") << bad << ""
                                          << "" << qint64(0) << QByteArray() << "header line";
    QTest::newRow("folded header") << QByteArray("GET /ping HTTP/1.1\r\nA: b\r\n c\r\n\r\n") << bad << ""
                                   << "" << qint64(0) << QByteArray() << "folded";
    QTest::newRow("NUL in a value") << QByteArray("GET /ping HTTP/1.1\r\nA: b") + QByteArray(1, '\0') + "c\r\n\r\n"
                                    << bad << ""
                                    << "" << qint64(0) << QByteArray() << "NUL";
    QTest::newRow("negative length") << QByteArray("POST /index.php HTTP/1.1\r\nContent-Length: -5\r\n\r\n") << bad
                                     << ""
                                     << "" << qint64(0) << QByteArray() << "Content-Length";
    QTest::newRow("length with letters") << QByteArray("POST /index.php HTTP/1.1\r\nContent-Length: 5x\r\n\r\n") << bad
                                         << ""
                                         << "" << qint64(0) << QByteArray() << "Content-Length";
    QTest::newRow("length overflowing") << QByteArray("POST / HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n")
                                        << bad << ""
                                        << "" << qint64(0) << QByteArray() << "Content-Length";
    QTest::newRow("length above the bound")
        << QByteArray("POST / HTTP/1.1\r\nContent-Length: 67108865\r\n\r\n") << bad << ""
        << "" << qint64(0) << QByteArray() << "above";
    QTest::newRow("conflicting lengths") << QByteArray(
        "POST / HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\n")
                                         << bad << ""
                                         << "" << qint64(0) << QByteArray() << "conflicting";
    QTest::newRow("chunked body") << QByteArray("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n") << bad << ""
                                  << "" << qint64(0) << QByteArray() << "Transfer-Encoding";
    QTest::newRow("endless header") << QByteArray("GET /ping HTTP/1.1\r\nX: ") + QByteArray(17000, 'a') << bad << ""
                                    << "" << qint64(0) << QByteArray() << "longer than";
    QByteArray many = "GET /ping HTTP/1.1\r\n";
    for (int i = 0; i < 65; ++i)
        many += "X" + QByteArray::number(i) + ": y\r\n";
    QTest::newRow("too many header lines") << many + "\r\n"
                                           << bad << ""
                                           << "" << qint64(0) << QByteArray() << "header lines";
}

void TestHttpRequestParser::parse()
{
    QFETCH(QByteArray, input);
    QFETCH(int, status);

    QFETCH(QString, error);

    QByteArray buffer = input;
    HttpRequest request;
    QString reason;
    QCOMPARE(int(HttpRequestParser::parse(buffer, &request, &reason)), status);
    if (status == HttpRequestParser::Malformed) {
        QVERIFY2(reason.contains(error), qPrintable(reason));
        return;
    }
    QTEST(buffer, "rest");
    if (status != HttpRequestParser::Complete)
        return;
    QTEST(request.path, "path");
    QTEST(request.query, "query");
    QTEST(request.contentLength, "contentLength");
}

// A header cut in the middle of a line parses once its end arrives; cookies and header names
// come out as the handlers read them.
void TestHttpRequestParser::splitAcrossReads()
{
    const QByteArray whole
        = "POST /index.php HTTP/1.1\r\nHost: 198.18.0.11\r\nCookie: session=abc; beforeData=144; "
          "afterData=46\r\nContent-Type: multipart/form-data; boundary=x\r\nContent-Length: 4\r\n\r\n"
          "data";
    QByteArray buffer;
    HttpRequest request;
    QString error;
    for (int cut = 1; cut < whole.indexOf("\r\n\r\n") + 3; cut += 7) {
        buffer = whole.left(cut);
        QCOMPARE(HttpRequestParser::parse(buffer, &request, &error), HttpRequestParser::NeedMore);
    }
    buffer = whole;
    QCOMPARE(HttpRequestParser::parse(buffer, &request, &error), HttpRequestParser::Complete);
    QCOMPARE(buffer, QByteArray("data"));
    QCOMPARE(request.method, QStringLiteral("POST"));
    QCOMPARE(request.header("Content-Type"), QStringLiteral("multipart/form-data; boundary=x"));
    QCOMPARE(request.cookie("session"), QStringLiteral("abc"));
    QCOMPARE(request.cookie("beforeData"), QStringLiteral("144"));
    QCOMPARE(request.cookie("afterData"), QStringLiteral("46"));
    QVERIFY(!request.hasCookie("other"));
    QVERIFY(request.keepAlive());
}

void TestHttpRequestParser::queryValue_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("found");
    QTest::newRow("plain") << "username=alice&password=x"
                           << "username"
                           << "alice" << true;
    QTest::newRow("percent-encoded") << "username=al%20ice"
                                     << "username"
                                     << "al ice" << true;
    QTest::newRow("first wins") << "session=a&session=b"
                                << "session"
                                << "a" << true;
    QTest::newRow("no value") << "session"
                              << "session"
                              << "" << true;
    QTest::newRow("absent") << "username=alice"
                            << "session"
                            << "" << false;
    QTest::newRow("ampersand splits a user name") << "username=a&b&password=x"
                                                  << "username"
                                                  << "a" << true;
    QTest::newRow("empty query") << ""
                                 << "session"
                                 << "" << false;
}

void TestHttpRequestParser::queryValue()
{
    QFETCH(QString, query);
    QFETCH(QString, name);
    HttpRequest request;
    request.query = query;
    bool found = false;
    QTEST(request.queryValue(name, &found), "value");
    QTEST(found, "found");
}

NIMBORA_TEST_MAIN(TestHttpRequestParser, QCoreApplication)
#include "tst_httprequestparser.moc"
