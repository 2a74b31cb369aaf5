#include "base/globalvalues.h"
#include "base/settingskeys.h"
#include "core/networkproxyfactory.h"
#include "tests/core/proxyenvironment.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QSettings>

using SettingsMap = QMap<QString, QVariant>;

class TestNetworkProxyFactory : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void queryProxy_data();
    void queryProxy();
    void readsTheSettingsAtEveryQuery();
};

void TestNetworkProxyFactory::initTestCase()
{
    clearProxyEnvironment();
    GlobalValues::setValue(GlobalValues::ProxyUsername, QStringLiteral("alice"));
    GlobalValues::setValue(GlobalValues::ProxyPassword, QStringLiteral("s3cret"));
}

void TestNetworkProxyFactory::queryProxy_data()
{
    QTest::addColumn<SettingsMap>("settings");
    QTest::addColumn<QByteArray>("httpProxyVariable");
    QTest::addColumn<QStringList>("expected"); // type host:port user:password

    const QString direct = QStringLiteral("%1 :0 :").arg(int(QNetworkProxy::NoProxy));
    const QString http = QString::number(QNetworkProxy::HttpProxy);
    const QString socks = QString::number(QNetworkProxy::Socks5Proxy);

    QTest::newRow("none") << SettingsMap { { SettingsKeys::Proxy, "none" } } << QByteArray() << QStringList { direct };
    QTest::newRow("unknown mode is none")
        << SettingsMap { { SettingsKeys::Proxy, "Manual" } } << QByteArray() << QStringList { direct };
    QTest::newRow("manual") << SettingsMap {
        { SettingsKeys::Proxy, "manual" }, { SettingsKeys::HttpProxyHost, "198.18.5.1" },
        { SettingsKeys::HttpProxyPort, 8080 }, { SettingsKeys::SocksProxyHost, "198.18.5.2" },
        { SettingsKeys::SocksProxyPort, 1081 }
    } << QByteArray() << QStringList { http + " 198.18.5.1:8080 alice:s3cret", socks + " 198.18.5.2:1081 :", direct };
    // A port that is not a 16-bit number must not wrap round.
    QTest::newRow("manual with ports out of range")
        << SettingsMap { { SettingsKeys::Proxy, "manual" }, { SettingsKeys::HttpProxyHost, "198.18.5.1" },
               { SettingsKeys::HttpProxyPort, 70000 }, { SettingsKeys::SocksProxyHost, "198.18.5.2" },
               { SettingsKeys::SocksProxyPort, "-1" } }
        << QByteArray() << QStringList { http + " 198.18.5.1:0 alice:s3cret", socks + " 198.18.5.2:0 :", direct };
    // Qt would take a proxy without a host for the way out, and fail.
    QTest::newRow("manual with only a SOCKS host") << SettingsMap { { SettingsKeys::Proxy, "manual" },
        { SettingsKeys::HttpProxyHost, " " }, { SettingsKeys::SocksProxyHost, "198.18.5.2" } }
                                                   << QByteArray() << QStringList { socks + " 198.18.5.2:0 :", direct };
    QTest::newRow("system is the default") << SettingsMap() << QByteArray() << QStringList { direct };
    QTest::newRow("system proxy carries the credentials")
        << SettingsMap() << QByteArray("http://198.18.5.9:3129")
        << QStringList { http + " 198.18.5.9:3129 alice:s3cret", direct };
    QTest::newRow("system SOCKS proxy without credentials") << SettingsMap() << QByteArray("socks5://198.18.5.9:1081")
                                                            << QStringList { socks + " 198.18.5.9:1081 :", direct };
}

void TestNetworkProxyFactory::queryProxy()
{
    QFETCH(SettingsMap, settings);
    QFETCH(QByteArray, httpProxyVariable);
    QFETCH(QStringList, expected);

    QSettings store;
    store.clear();
    for (auto it = settings.cbegin(); it != settings.cend(); ++it)
        store.setValue(it.key(), it.value());
    qputenv("http_proxy", httpProxyVariable);
    NetworkProxyFactory factory;
    const auto proxies
        = factory.queryProxy(QNetworkProxyQuery(QUrl(QStringLiteral("http://198.18.0.10/client/check"))));
    qunsetenv("http_proxy");
    QStringList texts;
    for (const auto &proxy : proxies)
        texts << QStringLiteral("%1 %2:%3 %4:%5")
                     .arg(proxy.type())
                     .arg(proxy.hostName())
                     .arg(proxy.port())
                     .arg(proxy.user(), proxy.password());
    QCOMPARE(texts, expected);
}

// The options dialog's changes apply to the next connection without a restart.
void TestNetworkProxyFactory::readsTheSettingsAtEveryQuery()
{
    NetworkProxyFactory factory;
    QSettings settings;
    settings.clear();
    settings.setValue(SettingsKeys::Proxy, QStringLiteral("none"));
    QCOMPARE(factory.queryProxy().size(), 1);
    settings.setValue(SettingsKeys::Proxy, QStringLiteral("manual"));
    settings.setValue(SettingsKeys::HttpProxyHost, QStringLiteral("198.18.5.1"));
    QCOMPARE(factory.queryProxy().size(), 2);
    GlobalValues::setValue(GlobalValues::ProxyUsername, QStringLiteral("bob"));
    QCOMPARE(factory.queryProxy().first().user(), QStringLiteral("bob"));
}

NIMBORA_TEST_MAIN(TestNetworkProxyFactory, QCoreApplication)
#include "tst_networkproxyfactory.moc"
