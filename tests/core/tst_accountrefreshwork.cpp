#include "base/globalvalues.h"
#include "base/settingskeys.h"
#include "core/accountrefreshwork.h"
#include "core/networkproxyfactory.h"
#include "tests/core/proxyenvironment.h"
#include "tests/core/workrecorder.h"
#include "tests/support/testhttpserver.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QSettings>

class TestAccountRefreshWork : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void refresh_data();
    void refresh();
    void failureKeepsTheLastAccount();

private:
    void useServer(const TestHttpServer &server);
};

void TestAccountRefreshWork::initTestCase()
{
    clearProxyEnvironment();
    QNetworkProxyFactory::setApplicationProxyFactory(new NetworkProxyFactory);
}

void TestAccountRefreshWork::useServer(const TestHttpServer &server)
{
    QSettings settings;
    settings.clear();
    settings.setValue(SettingsKeys::Proxy, QStringLiteral("none"));
    settings.setValue(SettingsKeys::MainServerAddress, server.address());
    settings.setValue(SettingsKeys::MainServerSecure, false);
}

void TestAccountRefreshWork::refresh_data()
{
    QTest::addColumn<int>("behaviour");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("error");
    QTest::addColumn<QStringList>("texts"); // username, subscription, bandwidth
    QTest::addColumn<int>("ports");
    QTest::addColumn<bool>("premium");

    const int answer = TestHttpServer::Answer;
    const QStringList none { QString(), QString(), QString() };
    QTest::newRow("full account")
        << answer
        << QByteArray("<r><code>OK</code><username>alice</username><subscription>Premium 12 mois</subscription>"
                      "<bandwidth>100 Go</bandwidth><ports>5</ports><premium>1</premium></r>")
        << 200 << 0 << QStringList { "alice", "Premium 12 mois", "100 Go" } << 5 << true;
    QTest::newRow("ports beyond 16 bits")
        << answer << QByteArray("<r><code>OK</code><ports>70000</ports></r>") << 200 << 0 << none << 0 << false;
    QTest::newRow("largest port count") << answer << QByteArray("<r><code>OK</code><ports>65535</ports></r>") << 200
                                        << 0 << none << 65535 << false;
    QTest::newRow("ports not a number") << answer << QByteArray("<r><code>OK</code><ports>five</ports></r>") << 200 << 0
                                        << none << 0 << false;
    QTest::newRow("negative ports") << answer << QByteArray("<r><code>OK</code><ports>-1</ports></r>") << 200 << 0
                                    << none << 0 << false;
    QTest::newRow("premium as true") << answer << QByteArray("<r><code>OK</code><premium>true</premium></r>") << 200
                                     << 0 << none << 0 << false;
    QTest::newRow("missing elements") << answer << QByteArray("<r><code>OK</code></r>") << 200 << 0 << none << 0
                                      << false;
    QTest::newRow("denied") << answer << QByteArray("<r><code>DENIED</code></r>") << 200
                            << int(AccountRefreshWork::DeniedError) << none << 0 << false;
    QTest::newRow("ok in lower case") << answer << QByteArray("<r><code>ok</code><username>x</username></r>") << 200
                                      << int(AccountRefreshWork::UnknownError) << none << 0 << false;
    QTest::newRow("failed is unknown here") << answer << QByteArray("<r><code>FAILED</code></r>") << 200
                                            << int(AccountRefreshWork::UnknownError) << none << 0 << false;
    QTest::newRow("no code") << answer << QByteArray("<r><username>x</username></r>") << 200
                             << int(AccountRefreshWork::UnknownError) << none << 0 << false;
    QTest::newRow("garbage") << answer << QByteArray("\x00\xff garbage", 10) << 200
                             << int(AccountRefreshWork::UnknownError) << none << 0 << false;
    QTest::newRow("html error page") << answer << QByteArray("<html><body>Bad gateway</body></html>") << 200
                                     << int(AccountRefreshWork::UnknownError) << none << 0 << false;
    QTest::newRow("http error status") << answer << QByteArray("<r><code>OK</code></r>") << 500
                                       << int(AccountRefreshWork::ServerError) << none << 0 << false;
    QTest::newRow("connection dropped") << int(TestHttpServer::Drop) << QByteArray() << 200
                                        << int(AccountRefreshWork::ServerError) << none << 0 << false;
    QTest::newRow("endless body") << int(TestHttpServer::Flood) << QByteArray() << 200
                                  << int(AccountRefreshWork::ServerError) << none << 0 << false;
}

void TestAccountRefreshWork::refresh()
{
    QFETCH(int, behaviour);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(int, error);
    QFETCH(QStringList, texts);
    QFETCH(int, ports);
    QFETCH(bool, premium);

    TestHttpServer server;
    QVERIFY(server.start(false));
    useServer(server);
    server.setBehaviour(TestHttpServer::Behaviour(behaviour));
    server.setAnswer("account", body, "text/xml", status);
    GlobalValues::setValue(GlobalValues::Session, QStringLiteral("4f2a-session"));

    AccountRefreshWork work;
    WorkRecorder recorder(&work);
    QVERIFY(recorder.run());

    if (error)
        QCOMPARE(recorder.events, QStringList({ QStringLiteral("error %1").arg(error), QStringLiteral("finished") }));
    else
        QCOMPARE(recorder.events, QStringList({ QStringLiteral("finished") }));
    QCOMPARE(server.requests().last().requestLine, QByteArray("GET /client/account?session=4f2a-session HTTP/1.1"));
    QCOMPARE(work.username(), texts.at(0));
    QCOMPARE(work.subscription(), texts.at(1));
    QCOMPARE(work.bandwidth(), texts.at(2));
    QCOMPARE(int(work.ports()), ports);
    QCOMPARE(work.isPremium(), premium);
}

void TestAccountRefreshWork::failureKeepsTheLastAccount()
{
    TestHttpServer server;
    QVERIFY(server.start(false));
    useServer(server);
    server.setAnswer("account", "<r><code>OK</code><username>alice</username><ports>3</ports><premium>1</premium></r>");

    AccountRefreshWork work;
    WorkRecorder recorder(&work);
    QVERIFY(recorder.run());
    QCOMPARE(work.username(), QStringLiteral("alice"));

    server.setAnswer("account", "<r><code>DENIED</code><username>mallory</username></r>");
    QVERIFY(recorder.run());
    QCOMPARE(recorder.events, QStringList({ QStringLiteral("error 2"), QStringLiteral("finished") }));
    QCOMPARE(work.username(), QStringLiteral("alice"));
    QCOMPARE(int(work.ports()), 3);
    QVERIFY(work.isPremium());
}

NIMBORA_TEST_MAIN(TestAccountRefreshWork, QCoreApplication)
#include "tst_accountrefreshwork.moc"
