#include "base/globalvalues.h"
#include "base/settingskeys.h"
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
};

void TestAuthenticationWork::initTestCase()
{
    clearProxyEnvironment();
    QNetworkProxyFactory::setApplicationProxyFactory(new NetworkProxyFactory);
}

void TestAuthenticationWork::digest_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("digest");
    QTest::newRow("empty password") << QString() << "d41d8cd98f00b204e9800998ecf8427e";
    QTest::newRow("ascii") << "password"
                           << "5f4dcc3b5aa765d61d8327deb882cf99";
    QTest::newRow("non-ASCII as UTF-8") << QStringLiteral("\u00e9") << "66ddcd97cfdeabb2f6fb8a999b4bc76f";
    QTest::newRow("query characters") << "motdepasse&=?"
                                      << "373857de5edf959e0d87b549aeb26cfb";
}

void TestAuthenticationWork::digest()
{
    QFETCH(QString, typed);
    QFETCH(QString, digest);
    QCOMPARE(md5Hex(typed), digest);
}

void TestAuthenticationWork::login_data()
{
    QTest::addColumn<int>("behaviour"); // -1: nobody listens
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("autoLogin");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("session");
    QTest::addColumn<QString>("storedPassword");

    const int answer = TestHttpServer::Answer;
    const QString digest = md5Hex(QStringLiteral("password"));
    const int server = AuthenticationWork::ServerError;
    QTest::newRow("ok with automatic login")
        << answer << QByteArray("<r><code>OK</code><session>s-1</session></r>") << true << 0 << "s-1" << digest;
    QTest::newRow("ok without automatic login")
        << answer << QByteArray("<r><code>OK</code><session>s-2</session></r>") << false << 0 << "s-2"
        << "";
    QTest::newRow("ok without session") << answer << QByteArray("<r><code>OK</code></r>") << true << 0 << "" << digest;
    QTest::newRow("ok in lower case") << answer << QByteArray("<r><code>ok</code><session>s</session></r>") << true
                                      << server << QString() << QString();
    QTest::newRow("ok with spaces") << answer << QByteArray("<r><code> OK </code><session>s</session></r>") << true
                                    << server << QString() << QString();
    QTest::newRow("denied") << answer << QByteArray("<r><code>DENIED</code></r>") << true
                            << int(AuthenticationWork::DeniedError) << QString() << QString();
    QTest::newRow("failed") << answer << QByteArray("<r><code>FAILED</code></r>") << true
                            << int(AuthenticationWork::FailedError) << QString() << QString();
    QTest::newRow("unknown code") << answer << QByteArray("<r><code>MAINTENANCE</code></r>") << true << server
                                  << QString() << QString();
    QTest::newRow("no code") << answer << QByteArray("<r><session>s</session></r>") << true << server << QString()
                             << QString();
    QTest::newRow("not xml") << answer << QByteArray("OK") << true << server << QString() << QString();
    QTest::newRow("connection dropped") << int(TestHttpServer::Drop) << QByteArray() << true << server << QString()
                                        << QString();
    QTest::newRow("endless body") << int(TestHttpServer::Flood) << QByteArray() << true << server << QString()
                                  << QString();
    QTest::newRow("nobody listens") << -1 << QByteArray() << true << server << QString() << QString();
}

// Every outcome: the one error before finished() at a receiver on the test's thread, the
// session, and what the settings keep for the next start.
void TestAuthenticationWork::login()
{
    QFETCH(int, behaviour);
    QFETCH(QByteArray, body);
    QFETCH(bool, autoLogin);
    QFETCH(int, error);
    QFETCH(QString, session);
    QFETCH(QString, storedPassword);

    TestHttpServer server;
    QVERIFY(server.start(true));
    server.setBehaviour(TestHttpServer::Behaviour(qMax(behaviour, 0)));
    server.setAnswer("login", body);
    {
        QSettings settings;
        settings.clear();
        settings.setValue(SettingsKeys::Proxy, QStringLiteral("none"));
        settings.setValue(SettingsKeys::MainServerAddress, server.address());
        settings.setValue(SettingsKeys::AuthenticationUsername, QStringLiteral("previous"));
        settings.setValue(SettingsKeys::AuthenticationPassword, QStringLiteral("0123456789abcdef0123456789abcdef"));
        settings.setValue(SettingsKeys::AuthenticationAutoLogin, true);
    }
    if (behaviour < 0)
        server.close();
    GlobalValues::setValue(GlobalValues::Session, QStringLiteral("old-session"));

    QObject owner;
    auto *work = new AuthenticationWork(&owner);
    work->setUsername(QStringLiteral("alice"));
    work->setPassword(md5Hex(QStringLiteral("password")));
    work->setAutoLogin(autoLogin);
    WorkRecorder recorder(work);
    QVERIFY(recorder.run());

    QSettings settings;
    if (error) {
        QCOMPARE(recorder.events, QStringList({ QStringLiteral("error %1").arg(error), QStringLiteral("finished") }));
        QCOMPARE(work->progress(), 0);
        QCOMPARE(GlobalValues::value(GlobalValues::Session).toString(), QStringLiteral("old-session"));
        QVERIFY(!settings.contains(SettingsKeys::AuthenticationPassword));
        QVERIFY(!settings.contains(SettingsKeys::AuthenticationAutoLogin));
        QCOMPARE(settings.value(SettingsKeys::AuthenticationUsername).toString(), QStringLiteral("previous"));
    } else {
        QCOMPARE(recorder.events, QStringList({ QStringLiteral("finished") }));
        QCOMPARE(work->progress(), 100);
        QCOMPARE(GlobalValues::value(GlobalValues::Session).toString(), session);
        QCOMPARE(settings.value(SettingsKeys::AuthenticationUsername).toString(), QStringLiteral("alice"));
        QVERIFY(settings.contains(SettingsKeys::AuthenticationPassword));
        QCOMPARE(settings.value(SettingsKeys::AuthenticationPassword).toString(), storedPassword);
        QCOMPARE(settings.value(SettingsKeys::AuthenticationAutoLogin).toBool(), autoLogin);
    }
    if (behaviour >= 0) {
        QVERIFY(!server.requests().isEmpty());
        QCOMPARE(server.requests().last().requestLine,
            QByteArray("GET /client/login?username=alice&password=5f4dcc3b5aa765d61d8327deb882cf99"
                       "&version=1.6.7 HTTP/1.1"));
    }
}

NIMBORA_TEST_MAIN(TestAuthenticationWork, QCoreApplication)
#include "tst_authenticationwork.moc"
