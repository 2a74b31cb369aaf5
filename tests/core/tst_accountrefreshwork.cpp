#include "base/globalvalues.h"
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
    TestHttpServer m_server;
};

void TestAccountRefreshWork::initTestCase()
{
    clearProxyEnvironment();
    QNetworkProxyFactory::setApplicationProxyFactory(new NetworkProxyFactory);
    QVERIFY(m_server.start(false));
    m_server.useAsMainServer();
    GlobalValues::setValue(GlobalValues::Session, QStringLiteral("4f2a-session"));
}

// The main server's reply handling is tested with the main-server access; here, how the work
// maps it to its own errors and what it reads from an "OK" reply.
void TestAccountRefreshWork::refresh_data()
{
    QTest::addColumn<int>("behaviour");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("error");
    QTest::addColumn<QStringList>("account"); // user name, subscription, bandwidth, ports, premium

    const int answer = TestHttpServer::Answer;
    const QStringList none { "", "", "", "0", "false" };
    QTest::newRow("full account") << answer
                                  << QByteArray("<r><code>OK</code><username>alice</username><subscription>Premium 12 "
                                                "mois</subscription><bandwidth>100 Go</bandwidth><ports>5</ports>"
                                                "<premium>1</premium></r>")
                                  << 0 << QStringList { "alice", "Premium 12 mois", "100 Go", "5", "true" };
    // A port count beyond 16 bits must not wrap round; premium is "1" and nothing else.
    QTest::newRow("odd values") << answer
                                << QByteArray("<r><code>OK</code><ports>70000</ports><premium>true</premium></r>") << 0
                                << none;
    QTest::newRow("missing elements") << answer << QByteArray("<r><code>OK</code></r>") << 0 << none;
    QTest::newRow("denied") << answer << QByteArray("<r><code>DENIED</code></r>")
                            << int(AccountRefreshWork::DeniedError) << none;
    QTest::newRow("another code") << answer << QByteArray("<r><code>FAILED</code></r>")
                                  << int(AccountRefreshWork::UnknownError) << none;
    QTest::newRow("no reply") << int(TestHttpServer::Drop) << QByteArray() << int(AccountRefreshWork::ServerError)
                              << none;
}

void TestAccountRefreshWork::refresh()
{
    QFETCH(int, behaviour);
    QFETCH(QByteArray, body);
    QFETCH(int, error);
    QFETCH(QStringList, account);

    m_server.setBehaviour(TestHttpServer::Behaviour(behaviour));
    m_server.setAnswer("account", body);
    AccountRefreshWork work;
    WorkRecorder recorder(&work);
    QVERIFY(recorder.run());

    QStringList expected { QStringLiteral("finished") };
    if (error)
        expected.prepend(QStringLiteral("error %1").arg(error));
    QCOMPARE(recorder.events, expected);
    QCOMPARE(m_server.requests().last().requestLine, QByteArray("GET /client/account?session=4f2a-session HTTP/1.1"));
    QCOMPARE(QStringList({ work.username(), work.subscription(), work.bandwidth(), QString::number(work.ports()),
                 work.isPremium() ? "true" : "false" }),
        account);
}

void TestAccountRefreshWork::failureKeepsTheLastAccount()
{
    m_server.setBehaviour(TestHttpServer::Answer);
    m_server.setAnswer(
        "account", "<r><code>OK</code><username>alice</username><ports>3</ports><premium>1</premium></r>");
    AccountRefreshWork work;
    WorkRecorder recorder(&work);
    QVERIFY(recorder.run());
    QCOMPARE(work.username(), QStringLiteral("alice"));

    m_server.setAnswer("account", "<r><code>DENIED</code><username>mallory</username></r>");
    QVERIFY(recorder.run());
    QCOMPARE(recorder.events, QStringList({ QStringLiteral("error 2"), QStringLiteral("finished") }));
    QCOMPARE(work.username(), QStringLiteral("alice"));
    QCOMPARE(int(work.ports()), 3);
    QVERIFY(work.isPremium());
}

NIMBORA_TEST_MAIN(TestAccountRefreshWork, QCoreApplication)
#include "tst_accountrefreshwork.moc"
