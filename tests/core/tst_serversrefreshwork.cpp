#include "base/globalvalues.h"
#include "base/settingskeys.h"
#include "buildconfig.h"
#include "core/authenticationwork.h"
#include "core/md5.h"
#include "core/networkproxyfactory.h"
#include "core/serversrefreshwork.h"
#include "tests/core/proxyenvironment.h"
#include "tests/core/workrecorder.h"
#include "tests/support/privatenetwork.h"
#include "tests/support/testhttpserver.h"
#include "tests/support/tinyproxy.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace {

// A latency responder, or an HTTP proxy standing in front of several, on port 80 of a loopback
// address. It records the request heads it receives and the peers they come from.
class Responder : public QTcpServer
{
public:
    enum Behaviour {
        Pong, // 200 and "pong"
        PongNewline, // 200 and "pong\n"
        SplitPong, // 200 and "pong", its body in two writes
        NotFound, // 404 and "pong"
        Silent, // reads the request and never answers
        EndlessBody, // a header, then a body that never ends
        BasicProxy, // 407 asking for Basic until a Proxy-Authorization header comes, then "pong"
        RefusingProxy, // 407 asking for Basic, always
        DigestProxy // 407 asking for Digest
    };

    explicit Responder(Behaviour behaviour) : m_behaviour(behaviour) { }

    QList<QByteArray> requests;
    QList<QHostAddress> peers;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QTcpSocket(this);
        socket->setSocketDescriptor(descriptor);
        peers << socket->peerAddress();
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::bytesWritten, this, [this, socket]() {
            if (m_endless.contains(socket) && socket->bytesToWrite() < 65536)
                socket->write(m_endless.value(socket));
        });
        connect(socket, &QTcpSocket::readyRead, this, [this, socket]() {
            QByteArray &buffer = m_buffers[socket];
            buffer += socket->readAll();
            for (int end; (end = buffer.indexOf("\r\n\r\n")) >= 0; buffer.remove(0, end + 4)) {
                requests << buffer.left(end + 4);
                answer(socket, requests.last());
            }
        });
    }

private:
    void answer(QTcpSocket *socket, const QByteArray &head)
    {
        QByteArray status = "200 OK", body = "pong", extra;
        switch (m_behaviour) {
        case Pong:
            break;
        case PongNewline:
            body += '\n';
            break;
        case SplitPong:
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\npo");
            socket->flush();
            // The rest a little later, so that it comes in a read of its own.
            QTimer::singleShot(30, socket, [socket]() { socket->write("ng"); });
            return;
        case NotFound:
            status = "404 Not Found";
            break;
        case Silent:
            return;
        case EndlessBody:
            m_endless.insert(socket, QByteArray(16384, 'b'));
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: 4000000000\r\n\r\n");
            return;
        case BasicProxy:
        case RefusingProxy:
        case DigestProxy:
            if (m_behaviour == BasicProxy && head.contains("\r\nProxy-Authorization: "))
                break;
            status = "407 Proxy Authentication Required";
            extra = m_behaviour == DigestProxy ? "Proxy-Authenticate: Digest realm=\"probe\", nonce=\"1\"\r\n"
                                               : "Proxy-Authenticate: Basic realm=\"probe\"\r\n";
            break;
        }
        socket->write("HTTP/1.1 " + status + "\r\n" + extra + "Content-Length: " + QByteArray::number(body.size())
            + "\r\n\r\n" + body);
    }

    Behaviour m_behaviour;
    QHash<QTcpSocket *, QByteArray> m_buffers;
    QHash<QTcpSocket *, QByteArray> m_endless;
};

// A stored line break must not add a header line to the probe.
const char StoredUserAgent[] = "ProbeAgent/2.0\r\nX-Injected: 1";
const char UserAgent[] = "ProbeAgent/2.0X-Injected: 1";
const char ProxyUser[] = "alice";
const char ProxyPassword[] = "s3cret";
// Qt never sends a loopback destination through a proxy: the endpoints reached through one
// get addresses of the test range on the loopback interface of this process's own namespace.
const QStringList ProxiedAddresses({ "198.18.200.21", "198.18.200.22" });

// Run by tests/core/lab-servers on the lab's client host, only the function "lab" runs.
const bool inLab = qEnvironmentVariable("NIMBORA_LAB_HOST") == QLatin1String("client");

// Before main(): every thread started later inherits the namespace. Port 80 needs root anyway.
const bool privateNetwork = !inLab && PrivateNetwork::enter();

QByteArray tunnelXml(
    const QString &name, const QString &address, const QString &hostname = QString(), int slotCount = 0, int state = 1)
{
    return QStringLiteral("<tunnel><id>5</id><type>0</type><name>%1</name><hostname>%2</hostname><address>%3</address>"
                          "<protocols>7</protocols><slots>%4</slots><state>%5</state></tunnel>")
        .arg(name, hostname, address)
        .arg(slotCount)
        .arg(state)
        .toUtf8();
}

QByteArray serverXml(const QString &name, const QByteArray &tunnels, const QString &state = "1", int bandwidth = 10)
{
    return QStringLiteral("<server><id>1</id><name>%1</name><state>%2</state><bandwidth>%3</bandwidth>"
                          "<country><code>fr</code>")
               .arg(name, state)
               .arg(bandwidth)
               .toUtf8()
        + tunnels + "</country></server>";
}

QByteArray listXml(const QByteArray &servers)
{
    return "<servers><code>OK</code><premium>0</premium>" + servers + "</servers>";
}

// One list of the endpoints "S/fr/t<i>", at the given addresses.
QByteArray simpleList(const QStringList &addresses)
{
    QByteArray tunnels;
    for (int i = 0; i < addresses.size(); ++i)
        tunnels += tunnelXml(QStringLiteral("t%1").arg(i), addresses.at(i));
    return listXml(serverXml(QStringLiteral("S"), tunnels));
}

} // namespace

class TestServersRefreshWork : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void probes();
    void timeLimit();
    void usableTunnels_data();
    void usableTunnels();
    void cachedLatencies();
    void unexpectedList();
    void fetchErrors_data();
    void fetchErrors();
    void httpProxy_data();
    void httpProxy();
    void realProxies_data();
    void realProxies();
    void lab();

private:
    struct Run
    {
        QStringList latencies;
        QStringList events;
        int updates = 0;
    };
    Run run(ServersRefreshWork &work);
    Responder *respond(const QString &address, Responder::Behaviour behaviour);

    TestHttpServer m_server;
    std::vector<std::unique_ptr<Responder>> m_responders;
};

void TestServersRefreshWork::initTestCase()
{
    if (inLab)
        return;
    if (!privateNetwork)
        QSKIP("needs root: the probes go to port 80, in a network namespace of the test's own");
    QString error;
    for (const QString &address : ProxiedAddresses)
        QVERIFY2(PrivateNetwork::addAddress(address, &error), qPrintable(error));
    clearProxyEnvironment();
    QVERIFY(m_server.start());
    QNetworkProxyFactory::setApplicationProxyFactory(new NetworkProxyFactory);
}

void TestServersRefreshWork::init()
{
    if (inLab)
        return;
    QSettings().clear();
    m_server.useAsMainServer();
    QSettings().setValue(SettingsKeys::UserAgent, QLatin1String(StoredUserAgent));
    GlobalValues::setValue(GlobalValues::Session, QStringLiteral("probe-session"));
    GlobalValues::setValue(GlobalValues::ProxyUsername, QLatin1String(ProxyUser));
    GlobalValues::setValue(GlobalValues::ProxyPassword, QLatin1String(ProxyPassword));
    m_server.setBehaviour(TestHttpServer::Answer);
}

void TestServersRefreshWork::cleanup()
{
    m_responders.clear();
    qunsetenv("all_proxy");
}

Responder *TestServersRefreshWork::respond(const QString &address, Responder::Behaviour behaviour)
{
    m_responders.emplace_back(new Responder(behaviour));
    Responder *responder = m_responders.back().get();
    if (!responder->listen(QHostAddress(address), ServersRefreshWork::ProbePort))
        qWarning() << "cannot listen on" << address << responder->errorString();
    return responder;
}

TestServersRefreshWork::Run TestServersRefreshWork::run(ServersRefreshWork &work)
{
    Run result;
    WorkRecorder recorder(&work);
    QObject receiver;
    connect(&work, &ServersRefreshWork::latencyChanged, &receiver,
        [&result](const QString &name, int latency) { // every measured time written as "ms"
            result.latencies << name + '=' + (latency >= 0 ? QStringLiteral("ms") : QString::number(latency));
        });
    connect(
        &work, &ServersRefreshWork::updated, &receiver, [&result]() { ++result.updates; },
        Qt::BlockingQueuedConnection);
    if (!recorder.run(60000))
        qWarning("the work did not finish");
    // Queued latencies arrive before the queued finished().
    result.events = recorder.events;
    return result;
}

// Each endpoint is measured alone, whatever the one before it did.
void TestServersRefreshWork::probes()
{
    const QList<int> behaviours { -1, Responder::Pong, Responder::PongNewline, Responder::SplitPong,
        Responder::NotFound };
    QStringList addresses;
    QList<Responder *> responders;
    for (int i = 0; i < behaviours.size(); ++i) {
        addresses << QStringLiteral("127.0.0.%1").arg(i + 2);
        responders << (behaviours.at(i) < 0 ? nullptr
                                            : respond(addresses.last(), Responder::Behaviour(behaviours.at(i))));
    }
    m_server.setAnswer("servers", simpleList(addresses));

    ServersRefreshWork work;
    const Run result = run(work);
    QCOMPARE(result.events, QStringList({ "finished" }));
    QCOMPARE(result.updates, 1);
    // Refused, pong, pong and a line break, pong in two reads, status 404.
    QCOMPARE(result.latencies, QStringList({ "S/fr/t0=-1", "S/fr/t1=ms", "S/fr/t2=-2", "S/fr/t3=ms", "S/fr/t4=-2" }));
    for (int i = 1; i < responders.size(); ++i) {
        QCOMPARE(responders.at(i)->requests,
            QList<QByteArray>({ "GET /ping HTTP/1.1\r\nHost: " + addresses.at(i).toUtf8()
                + "\r\nUser-Agent: " + UserAgent + "\r\n\r\n" }));
    }
    QVERIFY(m_server.requests().last().requestLine.contains("/client/servers?session=probe-session"));
}

// The one wait for the 1000 ms limit: two works, each with one endpoint that never completes its
// answer, measured at the same time; bytes that keep coming do not put the limit off.
void TestServersRefreshWork::timeLimit()
{
    const QList<Responder::Behaviour> behaviours({ Responder::Silent, Responder::EndlessBody });
    std::vector<std::unique_ptr<ServersRefreshWork>> works;
    QStringList latencies;
    QObject receiver;
    int finished = 0;
    QElapsedTimer elapsed;
    elapsed.start();
    for (int i = 0; i < behaviours.size(); ++i) {
        const QString address = QStringLiteral("127.0.0.%1").arg(i + 2);
        respond(address, behaviours.at(i));
        m_server.setAnswer("servers", simpleList({ address }));
        works.emplace_back(new ServersRefreshWork);
        ServersRefreshWork *work = works.back().get();
        bool fetched = false;
        // The next work may get another list once this one holds its own.
        connect(
            work, &ServersRefreshWork::updated, &receiver, [&fetched]() { fetched = true; },
            Qt::BlockingQueuedConnection);
        connect(
            work, &ServersRefreshWork::latencyChanged, &receiver, [&latencies, address](const QString &, int latency) {
                latencies << address + QLatin1Char('=') + QString::number(latency);
            });
        connect(work, &QThread::finished, &receiver, [&finished]() { ++finished; });
        work->start();
        QTRY_VERIFY(fetched);
    }
    QTRY_COMPARE_WITH_TIMEOUT(finished, 2, 10000);
    for (auto &work : works)
        QVERIFY(work->wait(5000));
    const qint64 time = elapsed.elapsed();
    latencies.sort();
    QCOMPARE(latencies, QStringList({ "127.0.0.2=-3", "127.0.0.3=-3" }));
    // A coarse timer may end up to 5 % early.
    QVERIFY2(time >= ServersRefreshWork::ProbeTimeLimit * 9 / 10, QByteArray::number(time));
    QVERIFY2(time < 5 * ServersRefreshWork::ProbeTimeLimit, QByteArray::number(time));
}

void TestServersRefreshWork::usableTunnels_data()
{
    QTest::addColumn<bool>("byAddress");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("by address") << true << QStringList({ "Busy-89/fr/slots-99=ms", "Busy-89/de/address-only=ms" });
    QTest::newRow("by host name") << false << QStringList({ "Busy-89/fr/slots-99=ms", "Busy-89/fr/hostname-only=ms" });
}

// Only usable endpoints are measured (all of them answer, so any other measured would show), yet
// every server is listed.
void TestServersRefreshWork::usableTunnels()
{
    QFETCH(bool, byAddress);
    QFETCH(QStringList, expected);

    for (int i = 2; i <= 7; ++i)
        respond(QStringLiteral("127.0.0.%1").arg(i), Responder::Pong);
    QSettings().setValue(SettingsKeys::IpAddress, byAddress);
    m_server.setAnswer("servers",
        listXml(serverXml("Full-90", tunnelXml("t", "127.0.0.2", "127.0.0.2"), "1", 90)
            + serverXml("Busy-89",
                tunnelXml("slots-99", "127.0.0.3", "127.0.0.3", 99)
                    + tunnelXml("slots-100", "127.0.0.4", "127.0.0.4", 100)
                    + tunnelXml("offline", "127.0.0.4", "127.0.0.4", 0, 0)
                    + tunnelXml("hostname-only", QString(), "127.0.0.6") + tunnelXml("nothing", QString(), QString()),
                "1", 89)
                  .replace("</server>",
                      "<country><code>de</code>" + tunnelXml("address-only", "127.0.0.7") + "</country></server>")
            + serverXml("Maintenance", tunnelXml("t", "127.0.0.5", "127.0.0.5"), "2")
            + serverXml("Not-a-number", tunnelXml("t", "127.0.0.5", "127.0.0.5"), "x")));

    ServersRefreshWork work;
    const Run result = run(work);
    QCOMPARE(result.events, QStringList({ "finished" }));
    QCOMPARE(result.latencies, expected);
    QStringList names;
    const QList<QVariant> servers = work.servers();
    for (const QVariant &server : servers)
        names << server.toHash().value(QStringLiteral("name")).toString();
    QCOMPARE(names, QStringList({ "Full-90", "Busy-89", "Maintenance", "Not-a-number" }));
}

// Without the measuring bit the cached values are reported again, 0 for an endpoint never
// measured; without the fetching bit the list of the earlier run is measured again.
void TestServersRefreshWork::cachedLatencies()
{
    Responder *pong = respond(QStringLiteral("127.0.0.2"), Responder::Pong);
    m_server.setAnswer("servers", simpleList({ "127.0.0.2", "127.0.0.3" }));

    ServersRefreshWork work;
    Run result = run(work);
    QCOMPARE(result.latencies, QStringList({ "S/fr/t0=ms", "S/fr/t1=-1" }));
    QCOMPARE(pong->requests.size(), 1);

    QStringList exact;
    QObject receiver;
    connect(&work, &ServersRefreshWork::latencyChanged, &receiver,
        [&exact](const QString &name, int latency) { exact << name + QLatin1Char('=') + QString::number(latency); });
    result = run(work);
    QCOMPARE(pong->requests.size(), 2);
    const QStringList measured = exact;

    m_server.setAnswer("servers", simpleList({ "127.0.0.2", "127.0.0.3", "127.0.0.4" }));
    exact.clear();
    work.setActions(ServersRefreshWork::FetchList);
    result = run(work);
    QCOMPARE(result.updates, 1);
    QCOMPARE(exact, measured + QStringList({ "S/fr/t2=0" }));
    QCOMPARE(pong->requests.size(), 2);

    const int fetches = m_server.requests().size();
    work.setActions(ServersRefreshWork::MeasureLatencies);
    result = run(work);
    QCOMPARE(result.updates, 0);
    QCOMPARE(m_server.requests().size(), fetches);
    QCOMPARE(result.latencies, QStringList({ "S/fr/t0=ms", "S/fr/t1=-1", "S/fr/t2=-1" }));
    QCOMPARE(pong->requests.size(), 3);
}

// Odd lists load without a crash: missing texts are empty, numbers that are not numbers 0,
// and the siblings after the first entry are read as entries whatever their names.
void TestServersRefreshWork::unexpectedList()
{
    m_server.setAnswer("servers",
        "<servers><code>OK</code><premium>1</premium><junk><name>before</name></junk>"
        "<server><id>x7</id><name>A</name><state>1</state><bandwidth>12.5</bandwidth>"
        "<country><code>fr</code><tunnel><name>t</name><slots>abc</slots><protocols>-4</protocols></tunnel>"
        "<extra><name>e</name></extra></country><note>n</note></server>"
        "<other><name>o</name><country/></other><server/></servers>");

    ServersRefreshWork work;
    const Run result = run(work);
    QCOMPARE(result.events, QStringList({ "finished" }));
    QVERIFY(result.latencies.isEmpty());
    QVERIFY(work.isPremium());

    QStringList tree; // name(country:tunnel/slots ...)
    for (const QVariant &server : work.servers()) {
        QStringList countries;
        for (const QVariant &country : server.toHash().value("countries").toList()) {
            QStringList tunnels;
            for (const QVariant &tunnel : country.toHash().value("tunnels").toList())
                tunnels << tunnel.toHash().value("name").toString() + '/' + tunnel.toHash().value("slots").toString();
            countries << country.toHash().value("code").toString() + ':' + tunnels.join(',');
        }
        tree << server.toHash().value("name").toString() + '(' + countries.join(' ') + ')';
    }
    QCOMPARE(tree, QStringList({ "A(fr:t/0,e/0 :)", "o(:)", "()" }));
}

void TestServersRefreshWork::fetchErrors_data()
{
    QTest::addColumn<int>("behaviour");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("error");

    // The main server's reply handling is tested with the main-server access; here, the work's
    // own errors, and no probe without a list.
    const int answer = TestHttpServer::Answer;
    QTest::newRow("denied") << answer << QByteArray("<r><code>DENIED</code></r>")
                            << int(ServersRefreshWork::DeniedError);
    QTest::newRow("another code") << answer << QByteArray("<r><code>FAILED</code></r>")
                                  << int(ServersRefreshWork::UnknownError);
    QTest::newRow("no reply") << int(TestHttpServer::Drop) << QByteArray() << int(ServersRefreshWork::ServerError);
}

void TestServersRefreshWork::fetchErrors()
{
    QFETCH(int, behaviour);
    QFETCH(QByteArray, reply);
    QFETCH(int, error);

    Responder *pong = respond(QStringLiteral("127.0.0.2"), Responder::Pong);
    m_server.setBehaviour(TestHttpServer::Behaviour(behaviour));
    m_server.setAnswer("servers", reply);
    ServersRefreshWork work;
    const Run result = run(work);
    QCOMPARE(result.events, QStringList({ QStringLiteral("error %1").arg(error), QStringLiteral("finished") }));
    QCOMPARE(result.updates, 0);
    QVERIFY(result.latencies.isEmpty());
    QVERIFY(pong->requests.isEmpty());
}

void TestServersRefreshWork::httpProxy_data()
{
    QTest::addColumn<int>("behaviour");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QStringList>("requests"); // at the proxy, "+" with the credentials

    const QStringList once { "198.18.200.21", "198.18.200.21+", "198.18.200.22+" };
    QTest::newRow("Basic answered once, then sent from the start")
        << int(Responder::BasicProxy) << QStringList({ "S/fr/t0=ms", "S/fr/t1=ms" }) << once;
    QTest::newRow("credentials refused") << int(Responder::RefusingProxy) << QStringList({ "S/fr/t0=-2", "S/fr/t1=-2" })
                                         << once;
    QTest::newRow("another scheme") << int(Responder::DigestProxy) << QStringList({ "S/fr/t0=-2", "S/fr/t1=-2" })
                                    << QStringList({ "198.18.200.21", "198.18.200.22" });
}

// A scripted HTTP proxy shows the exact requests: absolute form, and the Basic credentials.
void TestServersRefreshWork::httpProxy()
{
    QFETCH(int, behaviour);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, requests);

    Responder *proxy = respond(QStringLiteral("127.0.0.1"), Responder::Behaviour(behaviour));
    useHttpProxy(QStringLiteral("127.0.0.1"), ServersRefreshWork::ProbePort);
    m_server.setAnswer("servers", simpleList(ProxiedAddresses));

    ServersRefreshWork work;
    Run result = run(work);
    QCOMPARE(result.latencies, expected);
    const QByteArray credentials = "Proxy-Authorization: Basic " + QByteArray("alice:s3cret").toBase64() + "\r\n";
    QStringList seen;
    for (const QByteArray &request : qAsConst(proxy->requests)) {
        const QByteArray host = request.mid(11, request.indexOf("/ping") - 11);
        const bool withCredentials = request.contains(credentials);
        QCOMPARE(request,
            "GET http://" + host + "/ping HTTP/1.1\r\nHost: " + host + "\r\nUser-Agent: " + UserAgent + "\r\n"
                + (withCredentials ? credentials : QByteArray()) + "\r\n");
        seen << host + (withCredentials ? "+" : "");
    }
    QCOMPARE(seen, requests);

    if (behaviour != Responder::BasicProxy)
        return;
    // The credentials last from run to run; a new list fetch forgets them.
    work.setActions(ServersRefreshWork::MeasureLatencies);
    result = run(work);
    QCOMPARE(result.latencies, expected);
    QCOMPARE(proxy->requests.size(), 5);
    QVERIFY(proxy->requests.at(3).contains(credentials));
    work.setActions(ServersRefreshWork::FetchList | ServersRefreshWork::MeasureLatencies);
    result = run(work);
    QCOMPARE(proxy->requests.size(), 8);
    QVERIFY(!proxy->requests.at(5).contains("Proxy-Authorization"));
}

void TestServersRefreshWork::realProxies_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("tinyproxy asking for Basic credentials") << int(TestProxy::Tinyproxy);
    QTest::newRow("dante given by the system settings") << int(TestProxy::Dante);
}

void TestServersRefreshWork::realProxies()
{
    QFETCH(int, kind);
    if (TestProxy::program(TestProxy::Kind(kind)).isEmpty())
        QSKIP("not installed (packages/core.txt lists tinyproxy, packages/servers.txt dante-server)");
    TestProxy proxy { TestProxy::Kind(kind) };
    QVERIFY2(proxy.start(QLatin1String(ProxyUser), QLatin1String(ProxyPassword)), qPrintable(proxy.errorString()));
    Responder *pong = respond(ProxiedAddresses.at(0), Responder::Pong);
    if (kind == TestProxy::Tinyproxy) {
        useHttpProxy(QStringLiteral("127.0.0.1"), proxy.port());
    } else {
        // The socket applies a SOCKS proxy itself. With credentials Qt offers only the user name
        // and password method, which this dante refuses.
        QSettings().setValue(SettingsKeys::Proxy, QStringLiteral("system"));
        qputenv("all_proxy", "socks5://127.0.0.1:" + QByteArray::number(proxy.port()));
        GlobalValues::remove(GlobalValues::ProxyUsername);
        GlobalValues::remove(GlobalValues::ProxyPassword);
    }
    m_server.setAnswer("servers", simpleList(ProxiedAddresses.mid(0, 1)));

    ServersRefreshWork work;
    const Run result = run(work);
    QVERIFY2(result.latencies == QStringList({ "S/fr/t0=ms" }), proxy.output().right(2000).constData());
    QCOMPARE(pong->requests.size(), 1);
    // The proxy's side of the connection, not the work's.
    QCOMPARE(pong->peers, QList<QHostAddress>({ QHostAddress(QHostAddress::LocalHost) }));
}

// The stand-in's list fetched from the lab's client host by the built-in main-server name, and
// every endpoint measured; the endpoints answer after different delays, which the order of
// the latencies must show.
void TestServersRefreshWork::lab()
{
    // The built-in host name may be resolved only where the lab names it.
    QFile hosts(QStringLiteral("/etc/hosts"));
    const bool named = hosts.open(QIODevice::ReadOnly) && hosts.readAll().contains(NIMBORA_MAIN_SERVER_HOST);
    if (!inLab || !named)
        QSKIP("runs only on the lab's client host (tests/core/lab-servers starts it there)");
    const QStringList endpoints
        = qEnvironmentVariable("NIMBORA_LAB_ENDPOINTS").split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QVERIFY(!endpoints.isEmpty());
    QSettings().clear();
    QSettings().setValue(SettingsKeys::Proxy, QStringLiteral("none"));
    QNetworkProxyFactory::setApplicationProxyFactory(new NetworkProxyFactory);

    AuthenticationWork login;
    login.setUsername(qEnvironmentVariable("NIMBORA_LAB_USER"));
    login.setPassword(md5Hex(qEnvironmentVariable("NIMBORA_LAB_PASSWORD")));
    WorkRecorder recorder(&login);
    QVERIFY(recorder.run());
    QCOMPARE(recorder.events, QStringList({ "finished" }));

    // Three rounds, and the fastest of each endpoint's: a loaded machine may hold a probe back
    // once, not every time.
    ServersRefreshWork work;
    QHash<QString, QList<int>> latencies;
    QObject receiver;
    connect(&work, &ServersRefreshWork::latencyChanged, &receiver,
        [&latencies](const QString &name, int latency) { latencies[name] << latency; });
    const Run result = run(work);
    QCOMPARE(result.events, QStringList({ "finished" }));
    QCOMPARE(result.updates, 1);
    work.setActions(ServersRefreshWork::MeasureLatencies);
    QCOMPARE(run(work).events, QStringList({ "finished" }));
    QCOMPARE(run(work).events, QStringList({ "finished" }));
    QStringList report;
    QList<int> fastest;
    for (const QString &endpoint : endpoints) {
        QList<int> measured = latencies.value(endpoint);
        std::sort(measured.begin(), measured.end());
        fastest << (measured.size() == 3 ? measured.first() : -100);
        report << endpoint + QLatin1Char('=') + QString::number(fastest.last());
    }
    QList<int> ordered = fastest;
    std::sort(ordered.begin(), ordered.end());
    QVERIFY2(ordered.first() >= 0 && fastest == ordered, qPrintable(report.join(QLatin1String(", "))));
}

NIMBORA_TEST_MAIN(TestServersRefreshWork, QCoreApplication)
#include "tst_serversrefreshwork.moc"
