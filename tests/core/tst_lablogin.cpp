#include "base/globalvalues.h"
#include "base/settingskeys.h"
#include "buildconfig.h"
#include "core/accountrefreshwork.h"
#include "core/authenticationwork.h"
#include "core/md5.h"
#include "core/networkproxyfactory.h"
#include "tests/core/proxyenvironment.h"
#include "tests/core/workrecorder.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QFile>
#include <QSettings>

// Login, then account, against the lab's stand-in service by the built-in main-server host name,
// over each way to it: HTTPS, HTTP and HTTPS through the lab's tinyproxy with its credentials.
// Run only by the lab-login script, on the lab's client host.
class TestLabLogin : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void loginThenAccount_data();
    void loginThenAccount();
};

void TestLabLogin::initTestCase()
{
    // The built-in host name may be resolved only where the lab names it.
    QFile hosts(QStringLiteral("/etc/hosts"));
    const bool named = hosts.open(QIODevice::ReadOnly) && hosts.readAll().contains(NIMBORA_MAIN_SERVER_HOST);
    if (qEnvironmentVariable("NIMBORA_LAB_HOST") != QLatin1String("client") || !named)
        QSKIP("runs only on the lab's client host (tests/core/lab-login starts it there)");
    clearProxyEnvironment();
    QNetworkProxyFactory::setApplicationProxyFactory(new NetworkProxyFactory);
}

void TestLabLogin::loginThenAccount_data()
{
    QTest::addColumn<bool>("secure");
    QTest::addColumn<bool>("throughProxy");
    QTest::newRow("https") << true << false;
    QTest::newRow("http") << false << false;
    QTest::newRow("https through the lab's proxy") << true << true;
}

void TestLabLogin::loginThenAccount()
{
    QFETCH(bool, secure);
    QFETCH(bool, throughProxy);

    const QString user = qEnvironmentVariable("NIMBORA_LAB_USER");
    QVERIFY(!user.isEmpty());
    {
        QSettings settings;
        settings.clear();
        settings.setValue(SettingsKeys::MainServerSecure, secure);
        settings.setValue(SettingsKeys::Proxy, throughProxy ? QStringLiteral("manual") : QStringLiteral("none"));
        if (throughProxy) {
            settings.setValue(SettingsKeys::HttpProxyHost, qEnvironmentVariable("NIMBORA_LAB_PROXY_HOST"));
            settings.setValue(SettingsKeys::HttpProxyPort, qEnvironmentVariableIntValue("NIMBORA_LAB_PROXY_PORT"));
        }
    }
    GlobalValues::setValue(GlobalValues::ProxyUsername, qEnvironmentVariable("NIMBORA_LAB_PROXY_USER"));
    GlobalValues::setValue(GlobalValues::ProxyPassword, qEnvironmentVariable("NIMBORA_LAB_PROXY_PASSWORD"));
    GlobalValues::remove(GlobalValues::Session);

    AuthenticationWork login;
    login.setUsername(user);
    login.setPassword(md5Hex(qEnvironmentVariable("NIMBORA_LAB_PASSWORD")));
    WorkRecorder loginRecorder(&login);
    QVERIFY(loginRecorder.run());
    QCOMPARE(loginRecorder.events, QStringList({ QStringLiteral("finished") }));

    AccountRefreshWork account;
    WorkRecorder accountRecorder(&account);
    QVERIFY(accountRecorder.run());
    QCOMPARE(accountRecorder.events, QStringList({ QStringLiteral("finished") }));
    QCOMPARE(account.username(), user);
    QCOMPARE(account.isPremium(), qEnvironmentVariable("NIMBORA_LAB_PREMIUM") == QLatin1String("1"));
}

NIMBORA_TEST_MAIN(TestLabLogin, QCoreApplication)
#include "tst_lablogin.moc"
