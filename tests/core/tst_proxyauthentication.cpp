#include "base/globalvalues.h"
#include "base/settingskeys.h"
#include "core/accountrefreshwork.h"
#include "core/mainserveraccess.h"
#include "core/networkproxyfactory.h"
#include "tests/core/proxyenvironment.h"
#include "tests/core/workrecorder.h"
#include "tests/support/privatenetwork.h"
#include "tests/support/testhttpserver.h"
#include "tests/support/tinyproxy.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSettings>
#include <QTimer>

// The main server reached through a real proxy: an HTTP proxy that asks for Basic credentials, a
// SOCKS 5 proxy without authentication and one that asks for a user name and password, with the
// owner of the work answering the way the proxy credentials dialog does.
class TestProxyAuthentication : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void credentials_data();
    void credentials();
    void timeLimitCountsFromTheAnswer();

private:
    TestProxy &proxy(TestProxy::Kind kind);

    TinyProxy m_proxy;
    TestProxy m_dante { TestProxy::Dante };
    TestProxy m_microsocks { TestProxy::Microsocks };
    TestHttpServer m_server;
};

namespace {

const char ProxyUser[] = "alice";
const char ProxyPassword[] = "s3cret";
const char SocksUser[] = "socksuser";
const char SocksPassword[] = "sockspass";
// Qt never sends a loopback destination through a proxy, so the main server gets an address
// of the test range on the loopback interface of a namespace of this process's own.
const char ServerAddress[] = "198.18.200.10";
// Long enough that a limit counted from the request would end the wait well before the check.
const int Typing = 1500;

// Before main(): every thread started later inherits the namespace.
const bool privateNetwork = PrivateNetwork::enter();

} // namespace

void TestProxyAuthentication::initTestCase()
{
    if (TinyProxy::program().isEmpty())
        QSKIP("tinyproxy is not installed (packages/core.txt lists it)");
    if (!privateNetwork)
        QSKIP("needs root, to give itself a network namespace");
    QString error;
    QVERIFY2(PrivateNetwork::addAddress(QLatin1String(ServerAddress), &error), qPrintable(error));
    clearProxyEnvironment();
    QVERIFY2(m_proxy.start(QLatin1String(ProxyUser), QLatin1String(ProxyPassword)), qPrintable(m_proxy.errorString()));
    if (!TestProxy::program(TestProxy::Dante).isEmpty())
        QVERIFY2(m_dante.start(), qPrintable(m_dante.errorString()));
    if (!TestProxy::program(TestProxy::Microsocks).isEmpty()) {
        QVERIFY2(m_microsocks.start(QLatin1String(SocksUser), QLatin1String(SocksPassword)),
            qPrintable(m_microsocks.errorString()));
    }
    QVERIFY(m_server.start(false, QHostAddress(QLatin1String(ServerAddress))));
    QNetworkProxyFactory::setApplicationProxyFactory(new NetworkProxyFactory);
}

void TestProxyAuthentication::init()
{
    QSettings().clear();
    m_server.useAsMainServer();
    useHttpProxy(QStringLiteral("127.0.0.1"), m_proxy.port());
    GlobalValues::remove(GlobalValues::ProxyUsername);
    GlobalValues::remove(GlobalValues::ProxyPassword);
    GlobalValues::setValue(GlobalValues::Session, QStringLiteral("proxied-session"));
    m_server.setBehaviour(TestHttpServer::Answer);
    m_server.setAnswer("account", "<r><code>OK</code><username>alice</username></r>");
}

TestProxy &TestProxyAuthentication::proxy(TestProxy::Kind kind)
{
    return kind == TestProxy::Dante ? m_dante : kind == TestProxy::Microsocks ? m_microsocks : m_proxy;
}

void TestProxyAuthentication::credentials_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("known"); // user:password already in GlobalValues, or empty
    QTest::addColumn<QString>("answer"); // user:password the owner gives, or empty to give nothing
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("asked");

    const int server = AccountRefreshWork::ServerError;
    const int http = TestProxy::Tinyproxy;
    QTest::newRow("right credentials") << http << QString() << "alice:s3cret" << 0 << true;
    QTest::newRow("wrong credentials") << http << QString() << "alice:wrong" << server << true;
    QTest::newRow("left unanswered") << http << QString() << QString() << server << true;
    QTest::newRow("credentials known beforehand") << http << "alice:s3cret" << QString() << 0 << false;
    // A SOCKS proxy is the only one set, and the credentials known are not for it, or are.
    QTest::newRow("SOCKS without authentication, credentials known")
        << int(TestProxy::Dante) << "alice:s3cret" << QString() << 0 << false;
    QTest::newRow("SOCKS credentials known beforehand")
        << int(TestProxy::Microsocks) << "socksuser:sockspass" << QString() << 0 << false;
    QTest::newRow("SOCKS, other credentials known") << int(TestProxy::Microsocks) << "alice:s3cret"
                                                    << "socksuser:sockspass" << 0 << true;
}

void TestProxyAuthentication::credentials()
{
    QFETCH(int, kind);
    QFETCH(QString, known);
    QFETCH(QString, answer);
    QFETCH(int, error);
    QFETCH(bool, asked);

    if (TestProxy::program(TestProxy::Kind(kind)).isEmpty())
        QSKIP("not installed (packages/core.txt lists it)");
    const quint16 port = proxy(TestProxy::Kind(kind)).port();
    if (kind != TestProxy::Tinyproxy) {
        QSettings settings;
        settings.remove(SettingsKeys::HttpProxyHost);
        settings.setValue(SettingsKeys::SocksProxyHost, QStringLiteral("127.0.0.1"));
        settings.setValue(SettingsKeys::SocksProxyPort, port);
    }
    if (!known.isEmpty()) {
        GlobalValues::setValue(GlobalValues::ProxyUsername, known.section(QLatin1Char(':'), 0, 0));
        GlobalValues::setValue(GlobalValues::ProxyPassword, known.section(QLatin1Char(':'), 1));
    }
    const int requestsBefore = m_server.requests().size();

    AccountRefreshWork work;
    WorkRecorder recorder(&work);
    QStringList questions;
    QObject owner;
    connect(
        &work, &AccountRefreshWork::proxyAuthenticationRequired, &owner,
        [&](const QNetworkProxy &proxy, QAuthenticator *authenticator) {
            // The work is held while its owner answers, and nothing has reached the server.
            questions << QStringLiteral("%1:%2 held=%3 requests=%4")
                             .arg(proxy.hostName())
                             .arg(proxy.port())
                             .arg(work.isRunning())
                             .arg(m_server.requests().size() - requestsBefore);
            if (!answer.isEmpty() && questions.size() <= 3) {
                authenticator->setUser(answer.section(QLatin1Char(':'), 0, 0));
                authenticator->setPassword(answer.section(QLatin1Char(':'), 1));
            }
        },
        Qt::BlockingQueuedConnection);
    QVERIFY(recorder.run());

    const QString expectedQuestion = QStringLiteral("127.0.0.1:%1 held=1 requests=0").arg(port);
    QCOMPARE(!questions.isEmpty(), asked);
    for (const QString &question : qAsConst(questions))
        QCOMPARE(question, expectedQuestion);
    QStringList events { QStringLiteral("finished") };
    if (error)
        events.prepend(QStringLiteral("error %1").arg(error));
    QCOMPARE(recorder.events, events);
    QCOMPARE(m_server.requests().size(), requestsBefore + (error ? 0 : 1));
}

// The one test here that waits for the product's 10 s limit. The owner takes a while to answer,
// as a user typing would; the limit must count from the answer, not from the request.
void TestProxyAuthentication::timeLimitCountsFromTheAnswer()
{
    m_server.setBehaviour(TestHttpServer::Silent);
    const int requestsBefore = m_server.requests().size();

    AccountRefreshWork work;
    QElapsedTimer sinceAnswer;
    QElapsedTimer sinceStart;
    qint64 errorAfterAnswer = -1;
    QObject owner;
    connect(
        &work, &AccountRefreshWork::proxyAuthenticationRequired, &owner,
        [&](const QNetworkProxy &, QAuthenticator *authenticator) {
            QEventLoop typing;
            QTimer::singleShot(Typing, Qt::PreciseTimer, &typing, &QEventLoop::quit);
            typing.exec();
            authenticator->setUser(QLatin1String(ProxyUser));
            authenticator->setPassword(QLatin1String(ProxyPassword));
            sinceAnswer.start();
        },
        Qt::BlockingQueuedConnection);
    connect(
        &work, &AccountRefreshWork::error, &owner,
        [&](AccountRefreshWork::Error error) {
            QCOMPARE(error, AccountRefreshWork::ServerError);
            errorAfterAnswer = sinceAnswer.isValid() ? sinceAnswer.elapsed() : -1;
        },
        Qt::BlockingQueuedConnection);
    QSignalSpy finished(&work, &QThread::finished);
    sinceStart.start();
    work.start();
    QVERIFY(finished.wait(30000));
    QVERIFY(work.wait(5000));

    QVERIFY2(errorAfterAnswer >= MainServerAccess::TimeLimit - 100, QByteArray::number(errorAfterAnswer));
    QVERIFY2(errorAfterAnswer < MainServerAccess::TimeLimit + 3000, QByteArray::number(errorAfterAnswer));
    QVERIFY(sinceStart.elapsed() >= Typing + MainServerAccess::TimeLimit - 100);
    QCOMPARE(m_server.requests().size(), requestsBefore + 1);
}

NIMBORA_TEST_MAIN(TestProxyAuthentication, QCoreApplication)
#include "tst_proxyauthentication.moc"
