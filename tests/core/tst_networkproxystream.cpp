#include "core/networkproxystream.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>

class TestNetworkProxyStream : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void roundTrip_data();
    void roundTrip();
    void wireFormat();
    void badInputLeavesProxyAlone_data();
    void badInputLeavesProxyAlone();
    void storedInSettings();
};

void TestNetworkProxyStream::initTestCase()
{
    registerNetworkProxyMetaType();
}

void TestNetworkProxyStream::roundTrip_data()
{
    QTest::addColumn<QNetworkProxy>("proxy");
    QTest::newRow("http with credentials")
            << QNetworkProxy(QNetworkProxy::HttpProxy, "proxy.example", 3128, "alice", "s3cret");
    QTest::newRow("socks 5") << QNetworkProxy(QNetworkProxy::Socks5Proxy, "198.18.0.2", 1080);
    QTest::newRow("no proxy") << QNetworkProxy(QNetworkProxy::NoProxy);
    QTest::newRow("empty host, top port") << QNetworkProxy(QNetworkProxy::HttpProxy, "", 65535);
    QTest::newRow("non-Latin host") << QNetworkProxy(QNetworkProxy::HttpProxy, QString::fromUtf8("prøxy.example"), 8080);
}

// Type, host and port travel; credentials never do, and the reader keeps its own.
void TestNetworkProxyStream::roundTrip()
{
    QFETCH(QNetworkProxy, proxy);

    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << proxy;

    QNetworkProxy read(QNetworkProxy::DefaultProxy, "old.example", 1, "bob", "kept");
    QDataStream in(bytes);
    in >> read;
    QCOMPARE(in.status(), QDataStream::Ok);
    QVERIFY(in.atEnd());
    QCOMPARE(read.type(), proxy.type());
    QCOMPARE(read.hostName(), proxy.hostName());
    QCOMPARE(read.port(), proxy.port());
    QCOMPARE(read.user(), QStringLiteral("bob"));
    QCOMPARE(read.password(), QStringLiteral("kept"));
    QVERIFY(!bytes.contains("s3cret"));
}

void TestNetworkProxyStream::wireFormat()
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << QNetworkProxy(QNetworkProxy::HttpProxy, "ab", 0x0c38, "u", "p");
    // qint32 type 3, QString "ab" as UTF-16 with a byte length, quint16 port.
    QCOMPARE(bytes.toHex(), QByteArray("00000003" "00000004" "00610062" "0c38"));
}

void TestNetworkProxyStream::badInputLeavesProxyAlone_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("type only") << QByteArray::fromHex("00000003");
    QTest::newRow("host length beyond the data") << QByteArray::fromHex("00000003" "000000ff" "0061");
    QTest::newRow("port cut short") << QByteArray::fromHex("00000003" "00000002" "0061" "0c");
    QTest::newRow("unknown type") << QByteArray::fromHex("00000063" "00000002" "0061" "0c38");
    QTest::newRow("negative type") << QByteArray::fromHex("ffffffff" "00000002" "0061" "0c38");
}

void TestNetworkProxyStream::badInputLeavesProxyAlone()
{
    QFETCH(QByteArray, bytes);

    const QNetworkProxy original(QNetworkProxy::Socks5Proxy, "keep.example", 1080);
    QNetworkProxy read = original;
    QDataStream in(bytes);
    in >> read;
    QVERIFY(in.status() != QDataStream::Ok);
    QCOMPARE(read, original);
}

// Settings and queued signals carry proxies as variants, through the registered operators.
void TestNetworkProxyStream::storedInSettings()
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << QVariant::fromValue(QNetworkProxy(QNetworkProxy::HttpProxy, "proxy.example", 3128, "u", "p"));
    QCOMPARE(out.status(), QDataStream::Ok);

    QVariant read;
    QDataStream in(bytes);
    in >> read;
    QCOMPARE(in.status(), QDataStream::Ok);
    QCOMPARE(read.userType(), qMetaTypeId<QNetworkProxy>());
    const auto proxy = read.value<QNetworkProxy>();
    QCOMPARE(proxy.type(), QNetworkProxy::HttpProxy);
    QCOMPARE(proxy.hostName(), QStringLiteral("proxy.example"));
    QCOMPARE(proxy.port(), quint16(3128));
    QVERIFY(proxy.user().isEmpty());
    QVERIFY(proxy.password().isEmpty());
}

NIMBORA_TEST_MAIN(TestNetworkProxyStream, QCoreApplication)
#include "tst_networkproxystream.moc"
