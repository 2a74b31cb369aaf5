#include "privileged/machinechanges.h"
#include "privileged/undojournal.h"
#include "tests/netconfig/fakenetworksystem.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <signal.h>

// What a run that never reached its teardown leaves in the undo journal, undone at the next
// start, and a journal cut anywhere refused whole.
class TestUndoJournal : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void leftoversUndone_data();
    void leftoversUndone();
    void routeRestoredAsRead_data();
    void routeRestoredAsRead();
    void cutJournalKeptAside();
    void nextConnectionKeepsWhatIsThere_data();
    void nextConnectionKeepsWhatIsThere();

private:
    // The journal of a run that deleted a default route and added two, as it is on disk
    // while connected; nothing is left changed on the stand-in system.
    QByteArray connectedJournal(qint64 openvpn);

    QTemporaryDir m_folder;
    QString m_path;
};

namespace {

Route route(const QString &destination, const QString &mask, const QString &gateway, int metric)
{
    Route route;
    route.destination = QHostAddress(destination);
    route.mask = QHostAddress(mask);
    route.gateway = QHostAddress(gateway);
    route.adapter = NetworkAdapter(QNetworkInterface::interfaceFromName(QStringLiteral("lo")));
    route.metric = metric;
    return route;
}

QStringList rowTexts(const QList<NetworkSystem::ForwardRow> &rows)
{
    QStringList texts;
    for (const NetworkSystem::ForwardRow &row : rows)
        texts << QHostAddress(row.destination).toString() + QLatin1Char('/') + QString::number(row.metric);
    return texts;
}

} // namespace

void TestUndoJournal::initTestCase()
{
    QVERIFY(m_folder.isValid());
    m_path = m_folder.filePath(QStringLiteral("undo-journal"));
    qputenv("GSETTINGS_BACKEND", "memory");
}

QByteArray TestUndoJournal::connectedJournal(qint64 openvpn)
{
    FakeNetworkSystem system(NetworkSystem::Linux);
    system.model.forwarding = true;
    QByteArray contents;
    MachineChanges changes(m_path);
    changes.noteOpenVpn(openvpn);
    changes.disableWeakHost(NetworkAdapter(QNetworkInterface::interfaceFromName(QStringLiteral("lo"))));
    changes.changeRoutes({ route("0.0.0.0", "0.0.0.0", "198.18.1.1", 0) },
        { route("0.0.0.0", "0.0.0.0", "198.18.1.1", 9999), route("0.0.0.0", "0.0.0.0", "198.19.1.1", -1) });
    QFile file(m_path);
    if (file.open(QIODevice::ReadOnly))
        contents = file.readAll();
    changes.undo();
    changes.forgetOpenVpn();
    // All undone, the journal goes.
    if (QFile::exists(m_path))
        contents.clear();
    return contents;
}

void TestUndoJournal::leftoversUndone_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<bool>("ended");

    QTest::newRow("our OpenVPN ended") << QStringLiteral(SLEEPING_OPENVPN) << true;
    QTest::newRow("another program left alone") << QStringLiteral("sleep") << false;
}

void TestUndoJournal::leftoversUndone()
{
    QFETCH(QString, program);
    QProcess process;
    process.start(program,
        { QStringLiteral("30"), QStringLiteral("--management-client"),
            QStringLiteral("--management-query-passwords") });
    QVERIFY(process.waitForStarted());
    if (program == QLatin1String("sleep")) {
        // GNU sleep refuses the extra arguments: run it without them.
        process.waitForFinished();
        process.start(program, { QStringLiteral("30") });
        QVERIFY(process.waitForStarted());
    }
    const QByteArray journal = connectedJournal(process.processId());
    QVERIFY(!journal.isEmpty());

    // The run is gone without its teardown: its journal is all that is left.
    QFile file(m_path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(journal);
    file.close();
    FakeNetworkSystem system(NetworkSystem::Linux);
    const QStringList lines = MachineChanges::undoLeftovers(m_path);
    QVERIFY(!QFile::exists(m_path));
    // Newest first: the added routes deleted, the deleted one back, forwarding on again, then OpenVPN.
    QCOMPARE(rowTexts(system.deleted), QStringList({ "0.0.0.0/1", "0.0.0.0/9999" }));
    QCOMPARE(rowTexts(system.created), QStringList({ "0.0.0.0/0" }));
    QCOMPARE(system.calls, QStringList({ "forwarding lo" }));
    QCOMPARE(lines.size(), 5);
    QCOMPARE(lines.at(0), QStringLiteral("After an earlier run: Route 0.0.0.0 0.0.0.0 198.19.1.1 lo -1 deleted"));
    QCOMPARE(lines.at(3), QStringLiteral("After an earlier run: Forwarding and weak-host settings of lo restored"));
    QFETCH(bool, ended);
    QCOMPARE(lines.at(4).contains(QLatin1String("ended")), ended);
    QCOMPARE(process.waitForFinished(ended ? 10000 : 100), ended);
    if (!ended) {
        process.kill();
        process.waitForFinished();
    }
}

void TestUndoJournal::routeRestoredAsRead_data()
{
    QTest::addColumn<bool>("previousVersion");

    QTest::newRow("as journals are written now") << false;
    QTest::newRow("as the previous version wrote it, without attributes") << true;
}

// A default route of the network manager's, deleted by a run that was then killed, comes back
// with what the table said of it.
void TestUndoJournal::routeRestoredAsRead()
{
    QFETCH(bool, previousVersion);
    Route dhcp = route("0.0.0.0", "0.0.0.0", "198.18.1.1", 100);
    if (!previousVersion) {
        dhcp.attributes.protocol = 16;
        dhcp.attributes.scope = 0;
        dhcp.attributes.source = QHostAddress(QStringLiteral("198.18.1.2"));
        dhcp.attributes.tos = 16;
        dhcp.attributes.onLink = true;
        dhcp.attributes.realms = 2 << 16 | 5;
        dhcp.attributes.metrics = { { 1, 4 }, { 2, 1400 } };
    }
    QByteArray journal;
    if (previousVersion) {
        journal = "Nimbora undo journal 1\nroute-removed 0.0.0.0 0.0.0.0 198.18.1.1 lo 100\nend 1\n";
    } else {
        FakeNetworkSystem system(NetworkSystem::Linux);
        MachineChanges changes(m_path);
        changes.changeRoutes({ dhcp }, {});
        QFile file(m_path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        journal = file.readAll();
    }
    QFile file(m_path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(journal);
    file.close();

    FakeNetworkSystem system(NetworkSystem::Linux);
    const QStringList lines = MachineChanges::undoLeftovers(m_path);
    QCOMPARE(lines, QStringList { "After an earlier run: Route 0.0.0.0 0.0.0.0 198.18.1.1 lo 100 restored" });
    QCOMPARE(system.created.size(), 1);
    QCOMPARE(system.created.first().metric, 100);
    QVERIFY(system.created.first().attributes == dhcp.attributes);
}

void TestUndoJournal::cutJournalKeptAside()
{
    const QByteArray journal = connectedJournal(0);
    QVERIFY(!journal.isEmpty());
    FakeNetworkSystem system(NetworkSystem::Linux);
    for (int length = 0; length < journal.size(); ++length) {
        QFile file(m_path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(journal.left(length));
        file.close();
        const QStringList lines = MachineChanges::undoLeftovers(m_path);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().startsWith("The undo journal of an earlier run cannot be read; it is kept in "),
            qPrintable(lines.first()));
        QVERIFY(!QFile::exists(m_path));
        QVERIFY(QFile::remove(m_path + QStringLiteral(".unreadable")));
    }
    QVERIFY(system.created.isEmpty());
    QVERIFY(system.deleted.isEmpty());
    QVERIFY(system.calls.isEmpty());
}

void TestUndoJournal::nextConnectionKeepsWhatIsThere_data()
{
    QTest::addColumn<QByteArray>("left");
    QTest::addColumn<QStringList>("entries");

    // A teardown that could not put the resolver back leaves its entry for the next start.
    const QString resolver = QStringLiteral("resolver file Nimbora");
    QTest::newRow("an entry a teardown could not undo")
        << QByteArray("Nimbora undo journal 1\n" + resolver.toUtf8() + "\nend 1\n")
        << QStringList({ resolver, QStringLiteral("openvpn 42") });
    QTest::newRow("a journal that cannot be read") << QByteArray("Nimbora undo journal 1\nresolver") << QStringList();
}

void TestUndoJournal::nextConnectionKeepsWhatIsThere()
{
    QFETCH(QByteArray, left);
    QFETCH(QStringList, entries);
    QFile file(m_path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(left);
    file.close();

    UndoJournal journal(m_path);
    QCOMPARE(journal.add(QStringLiteral("openvpn 42")), !entries.isEmpty());
    QStringList read;
    if (entries.isEmpty()) {
        // Never written over: the next start keeps it aside for a person to read.
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), left);
        file.close();
    } else {
        QCOMPARE(UndoJournal::read(m_path, &read), UndoJournal::Read);
        QCOMPARE(read, entries);
        journal.remove(QStringLiteral("openvpn 42"));
        QCOMPARE(UndoJournal::read(m_path, &read), UndoJournal::Read);
        QCOMPARE(read, entries.mid(0, 1));
    }
    QVERIFY(QFile::remove(m_path));
}

NIMBORA_TEST_MAIN(TestUndoJournal, QCoreApplication)

#include "tst_undojournal.moc"
