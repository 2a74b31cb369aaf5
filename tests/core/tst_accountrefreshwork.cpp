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

namespace {

const QByteArray FullAccount("<r><code>OK</code><username>alice</username><subscription>Premium 12 mois</subscription>"
                             "<bandwidth>100 Go</bandwidth><ports>5</ports><premium>1</premium></r>");

} // namespace

// The main server's reply handling is tested with the main-server access; here, how the work
// maps it to its own errors and what it reads from an "OK" reply.
void TestAccountRefreshWork::refresh_data()
{
    QTest::addColumn<int>("behaviour");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("error");
    QTest::addColumn<QStringList>("account"); // user name, subscription, bandwidth, ports, premium

    const int answer = TestHttpServer::Answer;
    const QStringList full { "alice", "Premium 12 mois", "100 Go", "5", "true" };
    const QStringList none { "", "", "", "0", "false" };
    QTest::newRow("full account") << answer << FullAccount << 0 << full;
    // A port count beyond 16 bits must not wrap round; premium is "1" and nothing else.
    QTest::newRow("odd values") << answer
                                << QByteArray("<r><code>OK</code><ports>70000</ports><premium>true</premium></r>") << 0
                                << none;
    QTest::newRow("missing elements") << answer << QByteArray("<r><code>OK</code></r>") << 0 << none;
    // A failed refresh keeps the last account.
    QTest::newRow("denied") << answer << QByteArray("<r><code>DENIED</code><username>mallory</username></r>")
                            << int(AccountRefreshWork::DeniedError) << full;
    QTest::newRow("another code") << answer << QByteArray("<r><code>FAILED</code></r>")
                                  << int(AccountRefreshWork::UnknownError) << full;
    QTest::newRow("no reply") << int(TestHttpServer::Drop) << QByteArray() << int(AccountRefreshWork::ServerError)
                              << full;
}

// Each reply comes after a first refresh that gave the full account.
void TestAccountRefreshWork::refresh()
{
    QFETCH(int, behaviour);
    QFETCH(QByteArray, body);
    QFETCH(int, error);
    QFETCH(QStringList, account);

    AccountRefreshWork work;
    WorkRecorder recorder(&work);
    m_server.setBehaviour(TestHttpServer::Answer);
    m_server.setAnswer("account", FullAccount);
    QVERIFY(recorder.run());
    m_server.setBehaviour(TestHttpServer::Behaviour(behaviour));
    m_server.setAnswer("account", body);
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

NIMBORA_TEST_MAIN(TestAccountRefreshWork, QCoreApplication)
#include "tst_accountrefreshwork.moc"
