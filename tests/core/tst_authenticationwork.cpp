#include "base/globalvalues.h"
#include "base/settingskeys.h"
#include "buildconfig.h"
#include "core/authenticationwork.h"
#include "core/md5.h"
#include "core/networkproxyfactory.h"
#include "tests/core/proxyenvironment.h"
#include "tests/core/workrecorder.h"
#include "tests/support/testhttpserver.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QSettings>

class TestAuthenticationWork : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void digest_data();
    void digest();
    void login_data();
    void login();

private:
    TestHttpServer m_server;
};

void TestAuthenticationWork::initTestCase()
{
    clearProxyEnvironment();
    QNetworkProxyFactory::setApplicationProxyFactory(new NetworkProxyFactory);
    QVERIFY(m_server.start(true));
}

void TestAuthenticationWork::digest_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("digest");
    QTest::newRow("ascii") << QStringLiteral("password") << "5f4dcc3b5aa765d61d8327deb882cf99";
    QTest::newRow("non-ASCII as UTF-8") << QStringLiteral("\u00e9") << "66ddcd97cfdeabb2f6fb8a999b4bc76f";
}

void TestAuthenticationWork::digest()
{
    QFETCH(QString, typed);
    QFETCH(QString, digest);
    QCOMPARE(md5Hex(typed), digest);
}

// The main server's reply handling is tested with the main-server access; here, how the login
// maps it to its own errors and what it keeps.
void TestAuthenticationWork::login_data()
{
    QTest::addColumn<int>("behaviour");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("autoLogin");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("username");
    QTest::addColumn<QByteArray>("sentUsername");

    const QString alice = QStringLiteral("alice");
    const int answer = TestHttpServer::Answer;
    const QByteArray ok("<r><code>OK</code><session>s-1</session></r>");
    const int server = AuthenticationWork::ServerError;
    QTest::newRow("automatic login") << answer << ok << true << 0 << alice << QByteArray("alice");
    QTest::newRow("no automatic login") << answer << ok << false << 0 << alice << QByteArray("alice");
    QTest::newRow("denied") << answer << QByteArray("<r><code>DENIED</code></r>") << true
                            << int(AuthenticationWork::DeniedError) << alice << QByteArray("alice");
    QTest::newRow("failed") << answer << QByteArray("<r><code>FAILED</code></r>") << true
                            << int(AuthenticationWork::FailedError) << alice << QByteArray("alice");
    QTest::newRow("another code") << answer << QByteArray("<r><code>MAINTENANCE</code></r>") << true << server << alice
                                  << QByteArray("alice");
    QTest::newRow("no reply") << int(TestHttpServer::Drop) << QByteArray() << true << server << alice
                              << QByteArray("alice");
    // Sent as they are, these would end the value, start another or become a space.
    QTest::newRow("query characters in the user name")
        << answer << ok << true << 0 << QStringLiteral("a&b+c=d e\u00e9") << QByteArray("a%26b%2Bc%3Dd%20e%C3%A9");
}

// The one error before finished() at a receiver on the test's thread, the session, and what
// the settings keep for the next start: a failed attempt leaves automatic login off.
void TestAuthenticationWork::login()
{
    QFETCH(int, behaviour);
    QFETCH(QByteArray, body);
    QFETCH(bool, autoLogin);
    QFETCH(int, error);
    QFETCH(QString, username);
    QFETCH(QByteArray, sentUsername);

    m_server.setBehaviour(TestHttpServer::Behaviour(behaviour));
    m_server.setAnswer("login", body);
    QSettings().clear();
    m_server.useAsMainServer();
    QSettings().setValue(SettingsKeys::AuthenticationUsername, QStringLiteral("previous"));
    QSettings().setValue(SettingsKeys::AuthenticationPassword, QStringLiteral("0123456789abcdef0123456789abcdef"));
    QSettings().setValue(SettingsKeys::AuthenticationAutoLogin, true);
    GlobalValues::setValue(GlobalValues::Session, QStringLiteral("old-session"));

    QObject owner;
    auto *work = new AuthenticationWork(&owner);
    work->setUsername(username);
    work->setPassword(md5Hex(QStringLiteral("password")));
    work->setAutoLogin(autoLogin);
    WorkRecorder recorder(work);
    QVERIFY(recorder.run());

    QCOMPARE(m_server.requests().last().requestLine,
        "GET /client/login?username=" + sentUsername
            + "&password=5f4dcc3b5aa765d61d8327deb882cf99&version=" + NIMBORA_VERSION + " HTTP/1.1");
    QSettings settings;
    if (error) {
        QCOMPARE(recorder.events, QStringList({ QStringLiteral("error %1").arg(error), QStringLiteral("finished") }));
        QCOMPARE(work->progress(), 0);
        QCOMPARE(GlobalValues::value(GlobalValues::Session).toString(), QStringLiteral("old-session"));
        QVERIFY(!settings.contains(SettingsKeys::AuthenticationPassword));
        QVERIFY(!settings.contains(SettingsKeys::AuthenticationAutoLogin));
        QCOMPARE(settings.value(SettingsKeys::AuthenticationUsername).toString(), QStringLiteral("previous"));
        return;
    }
    QCOMPARE(recorder.events, QStringList({ QStringLiteral("finished") }));
    QCOMPARE(work->progress(), 100);
    QCOMPARE(GlobalValues::value(GlobalValues::Session).toString(), QStringLiteral("s-1"));
    QCOMPARE(settings.value(SettingsKeys::AuthenticationUsername).toString(), username);
    QVERIFY(settings.contains(SettingsKeys::AuthenticationPassword));
    QCOMPARE(settings.value(SettingsKeys::AuthenticationPassword).toString(),
        autoLogin ? md5Hex(QStringLiteral("password")) : QString());
    QCOMPARE(settings.value(SettingsKeys::AuthenticationAutoLogin).toBool(), autoLogin);
}

NIMBORA_TEST_MAIN(TestAuthenticationWork, QCoreApplication)
#include "tst_authenticationwork.moc"
