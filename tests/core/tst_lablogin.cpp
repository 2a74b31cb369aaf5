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

// Login, then account, against the lab's stand-in service, by the built-in main-server host
// name, from the lab's client host. Run only by the lab-login script, inside that host.
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
    const QString password = qEnvironmentVariable("NIMBORA_LAB_PASSWORD");
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

    // A wrong password first: refused, and no session.
    {
        AuthenticationWork login;
        login.setUsername(user);
        login.setPassword(md5Hex(password + QLatin1String("-wrong")));
        WorkRecorder recorder(&login);
        QVERIFY(recorder.run());
        QCOMPARE(recorder.events,
            QStringList(
                { QStringLiteral("error %1").arg(int(AuthenticationWork::DeniedError)), QStringLiteral("finished") }));
        QVERIFY(!GlobalValues::contains(GlobalValues::Session));
    }

    AuthenticationWork login;
    login.setUsername(user);
    login.setPassword(md5Hex(password));
    login.setAutoLogin(true);
    WorkRecorder loginRecorder(&login);
    QVERIFY(loginRecorder.run());
    QCOMPARE(loginRecorder.events, QStringList({ QStringLiteral("finished") }));
    QCOMPARE(login.progress(), 100);
    const QString session = GlobalValues::value(GlobalValues::Session).toString();
    QVERIFY2(session.size() >= 16, qPrintable(session));
    QCOMPARE(QSettings().value(SettingsKeys::AuthenticationPassword).toString(), md5Hex(password));

    AccountRefreshWork account;
    WorkRecorder accountRecorder(&account);
    QVERIFY(accountRecorder.run());
    QCOMPARE(accountRecorder.events, QStringList({ QStringLiteral("finished") }));
    QCOMPARE(account.username(), user);
    QCOMPARE(account.isPremium(), qEnvironmentVariable("NIMBORA_LAB_PREMIUM") == QLatin1String("1"));

    // A session the service never gave is refused.
    GlobalValues::setValue(GlobalValues::Session, QStringLiteral("00000000000000000000000000000000"));
    AccountRefreshWork refused;
    WorkRecorder refusedRecorder(&refused);
    QVERIFY(refusedRecorder.run());
    QCOMPARE(refusedRecorder.events,
        QStringList(
            { QStringLiteral("error %1").arg(int(AccountRefreshWork::DeniedError)), QStringLiteral("finished") }));
}

NIMBORA_TEST_MAIN(TestLabLogin, QCoreApplication)
#include "tst_lablogin.moc"
