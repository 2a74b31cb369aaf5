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
    void storedAsVariant();
};

void TestNetworkProxyStream::initTestCase()
{
    registerNetworkProxyMetaType();
}

void TestNetworkProxyStream::roundTrip_data()
{
    QTest::addColumn<QNetworkProxy>("proxy");
    QTest::newRow("http with credentials")
        << QNetworkProxy(QNetworkProxy::HttpProxy, "proxy.example", 3128, "al", "s3");
    QTest::newRow("no proxy, empty host") << QNetworkProxy(QNetworkProxy::NoProxy);
    QTest::newRow("non-Latin host, top port") << QNetworkProxy(QNetworkProxy::Socks5Proxy, "pr\u00f8xy.example", 65535);
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
    QCOMPARE(read, QNetworkProxy(proxy.type(), proxy.hostName(), proxy.port(), "bob", "kept"));
    QVERIFY(!bytes.contains("s3"));
}

// What settings stored by earlier versions hold.
void TestNetworkProxyStream::wireFormat()
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << QNetworkProxy(QNetworkProxy::HttpProxy, "ab", 0x0c38, "u", "p");
    // qint32 type 3, QString "ab" as UTF-16 with a byte length, quint16 port.
    QCOMPARE(bytes, QByteArray::fromHex("00000003 00000004 00610062 0c38"));
}

void TestNetworkProxyStream::badInputLeavesProxyAlone_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("type only") << QByteArray::fromHex("00000003");
    QTest::newRow("host length beyond the data") << QByteArray::fromHex("00000003 000000ff 0061");
    QTest::newRow("port cut short") << QByteArray::fromHex("00000003 00000002 0061 0c");
    QTest::newRow("unknown type") << QByteArray::fromHex("00000063 00000002 0061 0c38");
    QTest::newRow("negative type") << QByteArray::fromHex("ffffffff 00000002 0061 0c38");
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
void TestNetworkProxyStream::storedAsVariant()
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << QVariant::fromValue(QNetworkProxy(QNetworkProxy::HttpProxy, "proxy.example", 3128, "u", "p"));
    QVariant read;
    QDataStream in(bytes);
    in >> read;
    QCOMPARE(in.status(), QDataStream::Ok);
    QCOMPARE(read.userType(), qMetaTypeId<QNetworkProxy>());
    QCOMPARE(read.value<QNetworkProxy>(), QNetworkProxy(QNetworkProxy::HttpProxy, "proxy.example", 3128));
}

NIMBORA_TEST_MAIN(TestNetworkProxyStream, QCoreApplication)
#include "tst_networkproxystream.moc"
