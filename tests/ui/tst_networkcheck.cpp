#include "base/settingskeys.h"
#include "buildconfig.h"
#include "core/networkproxyfactory.h"
#include "tests/core/proxyenvironment.h"
#include "tests/support/ports.h"
#include "tests/support/privatenetwork.h"
#include "tests/support/testhttpserver.h"
#include "ui/networkcheck.h"

#include "tests/support/testmain.h"

#include <QApplication>
#include <QPushButton>
#include <QSettings>
#include <QTcpSocket>
#include <QTextBlock>
#include <QTextEdit>

#include <memory>

namespace {

// Before main(): every thread started later inherits the namespace. Only lo is in it, with the
// built-in address of the main server: the built-in host name cannot resolve, and no lookup or
// request can leave.
const bool privateNetwork = PrivateNetwork::enter();

const QString BuiltInHost = QStringLiteral(NIMBORA_MAIN_SERVER_HOST);
const QString BuiltInAddress = QStringLiteral(NIMBORA_MAIN_SERVER_IP);
const QByteArray Invalid = "<nimbora><code>NO</code></nimbora>";

// The log as the user reads it, each coloured stretch as "{colour:text}".
QString transcript(const NetworkCheck &dialog)
{
    const QTextDocument *document = dialog.findChild<QTextEdit *>("textEdit")->document();
    QString text;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        if (block != document->begin())
            text += QLatin1Char('\n');
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat format = fragment.charFormat();
            if (!format.hasProperty(QTextFormat::ForegroundBrush))
                text += fragment.text();
            else if (format.foreground().color() == QColor(Qt::red))
                text += QStringLiteral("{red:%1}").arg(fragment.text());
            else
                text += QStringLiteral("{%1:%2}").arg(format.foreground().color().name(), fragment.text());
        }
    }
    return text.replace(QChar::LineSeparator, QLatin1Char('\n')).replace(QStringLiteral("{#008000:"), "{green:");
}

QPushButton *button(const NetworkCheck &dialog, const char *name)
{
    return dialog.findChild<QPushButton *>(name);
}

QString stored(const char *key)
{
    QSettings settings;
    return settings.contains(key) ? settings.value(key).toString() : QStringLiteral("absent");
}

QString attempt(const QString &mode, const QString &name, const QString &outcome)
{
    return mode + " / " + name + "....." + outcome;
}

} // namespace

class TestNetworkCheck : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void attempts_data();
    void attempts();
    void closing_data();
    void closing();

private:
    void answerHeldRequest(const QByteArray &body);

    std::unique_ptr<TestHttpServer> m_server;
    std::unique_ptr<RefusingPort> m_refusingPort;
};

void TestNetworkCheck::initTestCase()
{
    if (!privateNetwork)
        QSKIP("needs root: the main server's built-in address, port 80, in a network namespace of the test's own");
    QString error;
    QVERIFY2(PrivateNetwork::addAddress(BuiltInAddress, &error), qPrintable(error));
    m_refusingPort.reset(new RefusingPort);
    QNetworkProxyFactory::setApplicationProxyFactory(new NetworkProxyFactory);
}

void TestNetworkCheck::init()
{
    clearProxyEnvironment();
    QSettings().clear();
    QSettings().setValue(SettingsKeys::MainServerSecure, false);
    m_server.reset(new TestHttpServer);
    QVERIFY2(m_server->listen(QHostAddress(BuiltInAddress), 80), qPrintable(m_server->errorString()));
}

void TestNetworkCheck::cleanup()
{
    m_server.reset();
}

void TestNetworkCheck::attempts_data()
{
    QTest::addColumn<QString>("currentDomain");
    QTest::addColumn<bool>("proxies"); // a system and a manual proxy, both refusing
    QTest::addColumn<QByteArray>("raw"); // the server's whole answer, else "check" is answered with the body
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QStringList>("settingsLeft"); // address and proxy mode after the run

    const QString none = QStringLiteral("Sans proxy");
    const QString system = QStringLiteral("Proxy système");
    const QString manual = QStringLiteral("Proxy manuel");
    const QString host = QStringLiteral("Domaine par défaut");
    const QString address = QStringLiteral("Adresse IP par défaut");
    const QString current = QStringLiteral("Domaine courant");
    const QString unknownHost = QStringLiteral("{red:ECHEC (Host %1 not found)}").arg(BuiltInHost);
    const QString invalid = QStringLiteral("{red:ECHEC (Contenu invalide)}");
    const QString refused = QStringLiteral("{red:ECHEC (Connection refused)}");
    const QString foundLine = QStringLiteral("{green:Une configuration a été trouvée, veuillez cliquer sur "
                                             "'Sauvegarder les modifications' pour la mettre en place.}");
    const QString nothingLine
        = QStringLiteral("{red:Aucune configuration n'a été trouvée, veuillez contacter le support.}");

    QTest::newRow("built-in address answers")
        << QString() << false << QByteArray() << QByteArray("<nimbora><code>OK</code></nimbora>")
        << QStringList { attempt(none, host, unknownHost), attempt(none, address, "{green:OK}"), "", foundLine }
        << QStringList { BuiltInAddress, "none" };
    QTest::newRow("current domain is the built-in host")
        << BuiltInHost.toUpper() << false << QByteArray() << Invalid
        << QStringList { attempt(none, host, unknownHost), attempt(none, address, invalid), "", "", nothingLine }
        << QStringList { BuiltInAddress, "manual" };
    QTest::newRow("current domain is the built-in address")
        << BuiltInAddress << false << QByteArray() << Invalid
        << QStringList { attempt(none, host, unknownHost), attempt(none, address, invalid), "", "", nothingLine }
        << QStringList { BuiltInAddress, "manual" };
    QTest::newRow("every mode and name") << "198.18.0.10:80" << true << QByteArray() << Invalid
                                         << QStringList { attempt(none, host, unknownHost),
                                                attempt(none, address, invalid), attempt(none, current, invalid),
                                                attempt(system, host, refused), attempt(system, address, refused),
                                                attempt(system, current, refused), attempt(manual, host, refused),
                                                attempt(manual, address, refused), attempt(manual, current, refused),
                                                "", "", nothingLine }
                                         << QStringList { "198.18.0.10:80", "manual" };
    QTest::newRow("markup in the server's error")
        << QString() << false << QByteArray("HTTP/1.1 502 <b>Bad</b> gateway\r\nContent-Length: 0\r\n\r\n")
        << QByteArray()
        << QStringList { attempt(none, host, unknownHost),
               attempt(none, address,
                   "{red:ECHEC (Error transferring http://198.18.0.10/client/check - server replied: <b>Bad</b> "
                   "gateway)}"),
               "", "", nothingLine }
        << QStringList { BuiltInAddress, "manual" };
}

// One run from the main button to its end: which combinations are tried, in which order, what
// each one logs, and where the settings are left.
void TestNetworkCheck::attempts()
{
    QFETCH(QString, currentDomain);
    QFETCH(bool, proxies);
    QFETCH(QByteArray, raw);
    QFETCH(QByteArray, body);
    QFETCH(QStringList, log);
    QFETCH(QStringList, settingsLeft);

    const QString refusing = QStringLiteral("127.0.0.1:%1").arg(m_refusingPort->port());
    if (proxies) {
        qputenv("http_proxy", "http://" + refusing.toLatin1());
        useHttpProxy(QStringLiteral("127.0.0.1"), m_refusingPort->port());
    }
    if (!currentDomain.isEmpty())
        QSettings().setValue(SettingsKeys::MainServerAddress, currentDomain);
    if (!raw.isEmpty()) {
        m_server->setBehaviour(TestHttpServer::Raw);
        m_server->setRawAnswer(raw);
    }
    m_server->setAnswer("check", body);

    NetworkCheck dialog;
    dialog.show();
    QPushButton *main = button(dialog, "mainPushButton");
    QTest::mouseClick(main, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(main->isEnabled(), 30000);

    QCOMPARE(transcript(dialog).split(QLatin1Char('\n')), log);
    QCOMPARE(QStringList({ stored(SettingsKeys::MainServerAddress), stored(SettingsKeys::Proxy) }), settingsLeft);
    const bool found = log.last().startsWith(QLatin1String("{green:"));
    QCOMPARE(main->text(), found ? QStringLiteral("Sauvegarder les modifications") : QStringLiteral("Quitter"));
    QCOMPARE(button(dialog, "cancelPushButton")->isVisible(), found);
}

void TestNetworkCheck::closing_data()
{
    QTest::addColumn<QString>("way");
    QTest::addColumn<QByteArray>("reply"); // to the held request; none: the user leaves before starting
    QTest::addColumn<QStringList>("settingsAfter"); // address and proxy mode once closed

    const QByteArray ok = "<nimbora><code>OK</code></nimbora>";
    const QStringList untouched { "saved.example", "manual" };
    QTest::newRow("found, main button") << "main" << ok << QStringList { BuiltInAddress, "none" };
    QTest::newRow("found, cancel button") << "cancel" << ok << untouched;
    QTest::newRow("found, title bar") << "title bar" << ok << untouched;
    QTest::newRow("found, escape") << "escape" << ok << untouched;
    QTest::newRow("nothing found, main button") << "main" << Invalid << untouched;
    QTest::newRow("not started, cancel button") << "cancel" << QByteArray() << untouched;
}

// The dialog stays while the work runs, whatever the user does; afterwards only the main button
// of a success keeps what was found.
void TestNetworkCheck::closing()
{
    QFETCH(QString, way);
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, settingsAfter);

    QSettings().setValue(SettingsKeys::MainServerAddress, QStringLiteral("saved.example"));
    QSettings().setValue(SettingsKeys::Proxy, QStringLiteral("manual"));
    m_server->setBehaviour(TestHttpServer::Silent);

    NetworkCheck dialog;
    dialog.show();
    QPushButton *main = button(dialog, "mainPushButton");
    QPushButton *cancel = button(dialog, "cancelPushButton");
    if (!reply.isEmpty()) {
        QTest::mouseClick(main, Qt::LeftButton);
        QTRY_COMPARE(m_server->requests().size(), 1);
        QVERIFY(!cancel->isVisible());
        QVERIFY(!main->isEnabled());
        QCOMPARE(main->text(), QStringLiteral("Patientez..."));
        QVERIFY(!dialog.close());
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(dialog.isVisible());

        answerHeldRequest(reply);
        QTRY_VERIFY_WITH_TIMEOUT(main->isEnabled(), 30000);
    }
    if (way == "main")
        QTest::mouseClick(main, Qt::LeftButton);
    else if (way == "cancel")
        QTest::mouseClick(cancel, Qt::LeftButton);
    else if (way == "escape")
        QTest::keyClick(&dialog, Qt::Key_Escape);
    else
        dialog.close();

    QVERIFY(!dialog.isVisible());
    QCOMPARE(QStringList({ stored(SettingsKeys::MainServerAddress), stored(SettingsKeys::Proxy) }), settingsAfter);
    QCOMPARE(stored(SettingsKeys::MainServerSecure), QStringLiteral("false"));
}

void TestNetworkCheck::answerHeldRequest(const QByteArray &body)
{
    const QList<QTcpSocket *> sockets = m_server->findChildren<QTcpSocket *>();
    QCOMPARE(sockets.size(), 1);
    sockets.first()->write("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    sockets.first()->disconnectFromHost();
}

NIMBORA_TEST_MAIN(TestNetworkCheck, QApplication)
#include "tst_networkcheck.moc"
