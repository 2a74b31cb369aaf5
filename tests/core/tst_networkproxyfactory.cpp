#include "base/globalvalues.h"
#include "base/settingskeys.h"
#include "core/networkproxyfactory.h"
#include "tests/core/proxyenvironment.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QSettings>

using SettingsMap = QMap<QString, QVariant>;
using EnvironmentMap = QMap<QByteArray, QByteArray>;

class TestNetworkProxyFactory : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void queryProxy_data();
    void queryProxy();
    void readsTheSettingsAtEveryQuery();
};

namespace {

// type host:port user:password, one text per entry, easy to compare and to read in a failure.
QStringList describe(const QList<QNetworkProxy> &proxies)
{
    QStringList texts;
    for (const auto &proxy : proxies) {
        texts << QStringLiteral("%1 %2:%3 %4:%5")
                     .arg(int(proxy.type()))
                     .arg(proxy.hostName())
                     .arg(proxy.port())
                     .arg(proxy.user(), proxy.password());
    }
    return texts;
}

} // namespace

void TestNetworkProxyFactory::initTestCase()
{
    clearProxyEnvironment();
}

void TestNetworkProxyFactory::queryProxy_data()
{
    QTest::addColumn<SettingsMap>("settings");
    QTest::addColumn<EnvironmentMap>("environment");
    QTest::addColumn<bool>("credentials");
    QTest::addColumn<QStringList>("expected");

    const QString direct = QStringLiteral("%1 :0 :").arg(int(QNetworkProxy::NoProxy));
    const int http = QNetworkProxy::HttpProxy;
    const int socks = QNetworkProxy::Socks5Proxy;

    QTest::newRow("none") << SettingsMap { { SettingsKeys::Proxy, "none" } } << EnvironmentMap() << true
                          << QStringList { direct };
    QTest::newRow("unknown mode is none")
        << SettingsMap { { SettingsKeys::Proxy, "Manual" } } << EnvironmentMap() << true << QStringList { direct };
    QTest::newRow("manual") << SettingsMap { { SettingsKeys::Proxy, "manual" },
        { SettingsKeys::HttpProxyHost, "198.18.5.1" }, { SettingsKeys::HttpProxyPort, 8080 },
        { SettingsKeys::SocksProxyHost, "198.18.5.2" }, { SettingsKeys::SocksProxyPort, 1081 } }
                            << EnvironmentMap() << true
                            << QStringList { QStringLiteral("%1 198.18.5.1:8080 alice:s3cret").arg(http),
                                   QStringLiteral("%1 198.18.5.2:1081 alice:s3cret").arg(socks), direct };
    QTest::newRow("manual with an empty socks host")
        << SettingsMap { { SettingsKeys::Proxy, "manual" }, { SettingsKeys::HttpProxyHost, "198.18.5.1" },
               { SettingsKeys::HttpProxyPort, 3128 }, { SettingsKeys::SocksProxyPort, 1080 } }
        << EnvironmentMap() << false
        << QStringList { QStringLiteral("%1 198.18.5.1:3128 :").arg(http), QStringLiteral("%1 :1080 :").arg(socks),
               direct };
    QTest::newRow("manual with no ports stored")
        << SettingsMap { { SettingsKeys::Proxy, "manual" } } << EnvironmentMap() << false
        << QStringList { QStringLiteral("%1 :0 :").arg(http), QStringLiteral("%1 :0 :").arg(socks), direct };
    QTest::newRow("manual with ports out of range")
        << SettingsMap { { SettingsKeys::Proxy, "manual" }, { SettingsKeys::HttpProxyPort, 70000 },
               { SettingsKeys::SocksProxyPort, "-1" } }
        << EnvironmentMap() << false
        << QStringList { QStringLiteral("%1 :0 :").arg(http), QStringLiteral("%1 :0 :").arg(socks), direct };
    QTest::newRow("system with only the direct connection")
        << SettingsMap { { SettingsKeys::Proxy, "system" } } << EnvironmentMap() << true << QStringList { direct };
    QTest::newRow("system is the default") << SettingsMap() << EnvironmentMap() << true << QStringList { direct };
    QTest::newRow("system proxy carries the credentials")
        << SettingsMap() << EnvironmentMap { { "http_proxy", "http://198.18.5.9:3129" } } << true
        << QStringList { QStringLiteral("%1 198.18.5.9:3129 alice:s3cret").arg(http), direct };
    QTest::newRow("system proxy, no credentials known")
        << SettingsMap() << EnvironmentMap { { "http_proxy", "socks5://198.18.5.9:1090" } } << false
        << QStringList { QStringLiteral("%1 198.18.5.9:1090 :").arg(socks), direct };
}

void TestNetworkProxyFactory::queryProxy()
{
    QFETCH(SettingsMap, settings);
    QFETCH(EnvironmentMap, environment);
    QFETCH(bool, credentials);
    QFETCH(QStringList, expected);

    {
        QSettings store;
        store.clear();
        for (auto it = settings.cbegin(); it != settings.cend(); ++it)
            store.setValue(it.key(), it.value());
    }
    for (auto it = environment.cbegin(); it != environment.cend(); ++it)
        qputenv(it.key(), it.value());
    GlobalValues::remove(GlobalValues::ProxyUsername);
    GlobalValues::remove(GlobalValues::ProxyPassword);
    if (credentials) {
        GlobalValues::setValue(GlobalValues::ProxyUsername, QStringLiteral("alice"));
        GlobalValues::setValue(GlobalValues::ProxyPassword, QStringLiteral("s3cret"));
    }

    NetworkProxyFactory factory;
    const auto proxies
        = factory.queryProxy(QNetworkProxyQuery(QUrl(QStringLiteral("http://198.18.0.10/client/check"))));
    for (auto it = environment.cbegin(); it != environment.cend(); ++it)
        qunsetenv(it.key());
    QCOMPARE(describe(proxies), expected);
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
    QCOMPARE(factory.queryProxy().size(), 3);
    GlobalValues::setValue(GlobalValues::ProxyUsername, QStringLiteral("bob"));
    QCOMPARE(factory.queryProxy().first().user(), QStringLiteral("bob"));
    GlobalValues::remove(GlobalValues::ProxyUsername);
}

NIMBORA_TEST_MAIN(TestNetworkProxyFactory, QCoreApplication)
#include "tst_networkproxyfactory.moc"
