#include "netconfig/resolverswitch.h"
#include "tests/netconfig/fakenetworksystem.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <memory>

// The resolver switch against a stand-in system and a private resolver file: nothing here runs
// resolvectl or resolvconf, and the machine's own resolver file is never opened.
namespace {

const char MethodVariable[] = "NIMBORA_RESOLVER_METHOD";
const char Servers[] = "198.18.0.53 2001:db8::53";

QNetworkInterface loopback()
{
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &networkInterface : interfaces) {
        if (networkInterface.flags().testFlag(QNetworkInterface::IsLoopBack))
            return networkInterface;
    }
    return QNetworkInterface();
}

QList<QHostAddress> addresses(const QString &text)
{
    QList<QHostAddress> list;
    const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString &word : words)
        list << QHostAddress(word);
    return list;
}

QString onLoopback(QString text)
{
    return text.replace(QStringLiteral("%1"), loopback().name());
}

// Calls separated by "|", with %1 for the loopback adapter's name.
QStringList calls(const QString &text)
{
    return onLoopback(text).split(QLatin1Char('|'), Qt::SkipEmptyParts);
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

void write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    QCOMPARE(file.write(bytes), bytes.size());
}

// Its programs reach the stand-in system; the command that starts with failingCall fails.
class ScriptedSwitch : public ResolverSwitch
{
public:
    explicit ScriptedSwitch(FakeNetworkSystem *system) : m_system(system) { }

    QString failingCall;
    bool failureEnds = true; // false: the program does not end in time
    QByteArray input;

protected:
    NetworkSystem::ProgramResult runProgram(
        const QString &program, const QStringList &arguments, const QByteArray &programInput) override
    {
        input += programInput;
        NetworkSystem::ProgramResult result = ResolverSwitch::runProgram(program, arguments, programInput);
        if (!failingCall.isEmpty() && m_system->calls.constLast().startsWith(failingCall)) {
            result.finished = failureEnds;
            result.exitCode = failureEnds ? 1 : -1;
        }
        return result;
    }

private:
    FakeNetworkSystem *m_system;
};

} // namespace

class TestResolverSwitch : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void methodChoice_data();
    void methodChoice();
    void programs_data();
    void programs();
    void resolverFile_data();
    void resolverFile();
    void refusedFile_data();
    void refusedFile();

private:
    QString resolverPath() const { return m_home->filePath(QStringLiteral("resolv.conf")); }

    std::unique_ptr<QTemporaryDir> m_home;
};

void TestResolverSwitch::init()
{
    // The saved copy goes to the state folder: a fresh one for every row.
    m_home.reset(new QTemporaryDir);
    QVERIFY(m_home->isValid());
    qputenv("HOME", QFile::encodeName(m_home->path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_home->filePath(QStringLiteral("share"))));
    QVERIFY(ResolverSwitch::savedCopyPath().startsWith(m_home->path()));
}

void TestResolverSwitch::cleanup()
{
    qunsetenv(MethodVariable);
}

void TestResolverSwitch::methodChoice_data()
{
    QTest::addColumn<QString>("forced");
    QTest::addColumn<bool>("resolved");
    QTest::addColumn<bool>("resolvconf");
    QTest::addColumn<int>("method");

    QTest::newRow("resolved first") << "" << true << true << int(ResolverSwitch::Resolvectl);
    QTest::newRow("resolvconf without resolved") << "" << false << true << int(ResolverSwitch::Resolvconf);
    QTest::newRow("the file when nothing else") << "" << false << false << int(ResolverSwitch::ResolvConfFile);
    QTest::newRow("forced over what runs") << "file" << true << true << int(ResolverSwitch::ResolvConfFile);
}

void TestResolverSwitch::methodChoice()
{
    QFETCH(QString, forced);
    QFETCH(bool, resolved);
    QFETCH(bool, resolvconf);
    QFETCH(int, method);
    QCOMPARE(int(ResolverSwitch::chooseMethod(forced, resolved, resolvconf)), method);
}

void TestResolverSwitch::programs_data()
{
    QTest::addColumn<QByteArray>("forced");
    QTest::addColumn<QString>("servers");
    QTest::addColumn<QString>("failingCall");
    QTest::addColumn<bool>("failureEnds");
    QTest::addColumn<bool>("applied"); // what apply() answers
    QTest::addColumn<QString>("applyCalls");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("restored");
    QTest::addColumn<QString>("restoreCalls");
    QTest::addColumn<QString>("reason");

    const QByteArray lines = "nameserver 198.18.0.53\nnameserver 2001:db8::53\n";
    QTest::newRow("resolvectl") << QByteArray("resolvectl") << Servers << "" << true << true
                                << "resolvectl dns %1 198.18.0.53 2001:db8::53|resolvectl domain %1 ~." << QByteArray()
                                << true << "resolvectl revert %1"
                                << "";
    QTest::newRow("resolvectl domain refused")
        << QByteArray("resolvectl") << Servers << "resolvectl domain" << true << false
        << "resolvectl dns %1 198.18.0.53 2001:db8::53|resolvectl domain %1 ~.|resolvectl revert %1" << QByteArray()
        << true << ""
        << "resolvectl domain %1 ~. ended with status 1";
    QTest::newRow("resolvectl does not end")
        << QByteArray("resolvectl") << Servers << "resolvectl dns" << false << false
        << "resolvectl dns %1 198.18.0.53 2001:db8::53|resolvectl revert %1" << QByteArray() << true << ""
        << "did not end within 5 s";
    QTest::newRow("resolvectl revert refused")
        << QByteArray("resolvectl") << Servers << "resolvectl revert" << true << true
        << "resolvectl dns %1 198.18.0.53 2001:db8::53|resolvectl domain %1 ~." << QByteArray() << false
        << "resolvectl revert %1"
        << "resolvectl revert %1 ended with status 1";
    QTest::newRow("resolvconf") << QByteArray("resolvconf") << Servers << "" << true << true
                                << "resolvconf -a %1.nimbora" << lines << true << "resolvconf -d %1.nimbora"
                                << "";
    QTest::newRow("resolvconf refused") << QByteArray("resolvconf") << Servers << "resolvconf -a" << true << false
                                        << "resolvconf -a %1.nimbora|resolvconf -d %1.nimbora" << lines << true << ""
                                        << "resolvconf -a %1.nimbora ended with status 1";
    QTest::newRow("no servers") << QByteArray("resolvectl") << ""
                                << "" << true << true << "" << QByteArray() << true << ""
                                << "";
    QTest::newRow("unknown method") << QByteArray("systemd") << Servers << "" << true << false << "" << QByteArray()
                                    << true << ""
                                    << "NIMBORA_RESOLVER_METHOD is \"systemd\"";
}

void TestResolverSwitch::programs()
{
    QFETCH(QByteArray, forced);
    QFETCH(QString, servers);
    QFETCH(QString, failingCall);
    QFETCH(bool, failureEnds);
    QFETCH(bool, applied);
    QFETCH(QString, applyCalls);
    QFETCH(QByteArray, input);
    QFETCH(bool, restored);
    QFETCH(QString, restoreCalls);
    QFETCH(QString, reason);

    FakeNetworkSystem system(NetworkSystem::Linux);
    system.programResult.finished = true;
    system.programResult.exitCode = 0;
    qputenv(MethodVariable, forced);
    ScriptedSwitch resolver(&system);
    resolver.failingCall = failingCall;
    resolver.failureEnds = failureEnds;

    QString error;
    const bool changed = applied && !applyCalls.isEmpty();
    QCOMPARE(resolver.apply(NetworkAdapter(loopback()), addresses(servers), &error), applied);
    QCOMPARE(system.calls, calls(applyCalls));
    QCOMPARE(resolver.input, input);
    QCOMPARE(resolver.isApplied(), changed);
    if (changed)
        QCOMPARE(system.programTimeout, ResolverSwitch::ProgramTimeout);

    system.calls.clear();
    QCOMPARE(resolver.restore(&error), restored);
    QCOMPARE(system.calls, calls(restoreCalls));
    QCOMPARE(resolver.isApplied(), changed && !restored);
    QVERIFY2(reason.isEmpty() ? error.isEmpty() : error.contains(onLoopback(reason)), qPrintable(error));
}

void TestResolverSwitch::resolverFile_data()
{
    QTest::addColumn<QByteArray>("current");
    QTest::addColumn<bool>("symlink");
    QTest::addColumn<bool>("crashedBefore"); // an earlier switch applied and never restored
    QTest::addColumn<QByteArray>("staleCopy"); // a saved copy beside someone else's file
    QTest::addColumn<QByteArray>("rewrittenTo"); // by the system while connected
    QTest::addColumn<QByteArray>("applied"); // after the note naming the saved copy

    const QByteArray servers = "nameserver 198.18.0.53\nnameserver 2001:db8::53\n";
    const QByteArray lab = "nameserver 192.0.2.1\ndomain lab.example";
    QTest::newRow("search and options kept")
        << QByteArray("# Generated by NetworkManager\nsearch lab.example\nnameserver 192.0.2.1\noptions edns0 "
                      "trust-ad\nnameserver 192.0.2.2\n")
        << false << false << QByteArray() << QByteArray() << servers + "search lab.example\noptions edns0 trust-ad\n";
    QTest::newRow("no newline at the end")
        << lab << false << false << QByteArray() << QByteArray() << servers + "domain lab.example\n";
    QTest::newRow("empty file") << QByteArray("") << false << false << QByteArray() << QByteArray() << servers;
    QTest::newRow("a symbolic link stays one")
        << lab << true << false << QByteArray() << QByteArray() << servers + "domain lab.example\n";
    QTest::newRow("copy left by a crashed run")
        << lab << false << true << QByteArray() << QByteArray() << servers + "domain lab.example\n";
    QTest::newRow("stale saved copy") << lab << false << false << QByteArray("nameserver 192.0.2.99\n") << QByteArray()
                                      << servers + "domain lab.example\n";
    QTest::newRow("rewritten while connected")
        << lab << false << false << QByteArray() << QByteArray("nameserver 192.0.2.7\n")
        << servers + "domain lab.example\n";
}

void TestResolverSwitch::resolverFile()
{
    QFETCH(QByteArray, current);
    QFETCH(bool, symlink);
    QFETCH(bool, crashedBefore);
    QFETCH(QByteArray, staleCopy);
    QFETCH(QByteArray, rewrittenTo);
    QFETCH(QByteArray, applied);

    const QString path = resolverPath();
    const QString target = symlink ? m_home->filePath(QStringLiteral("target.conf")) : path;
    write(target, current);
    if (symlink)
        QVERIFY(QFile::link(target, path));
    const QString savedCopy = ResolverSwitch::savedCopyPath();
    if (!staleCopy.isNull()) {
        QVERIFY(QDir().mkpath(QFileInfo(savedCopy).absolutePath()));
        write(savedCopy, staleCopy);
    }
    qputenv(MethodVariable, "file");
    QString error;
    if (crashedBefore) {
        ResolverSwitch crashed;
        crashed.setResolverFile(path);
        QVERIFY2(crashed.apply(NetworkAdapter(), addresses(QStringLiteral("198.18.0.1")), &error), qPrintable(error));
    }

    ResolverSwitch resolver;
    resolver.setResolverFile(path);
    QVERIFY(resolver.restore(&error)); // nothing applied: nothing to do
    QCOMPARE(QFile::exists(savedCopy), crashedBefore || !staleCopy.isNull());

    QVERIFY2(resolver.apply(NetworkAdapter(), addresses(Servers), &error), qPrintable(error));
    QVERIFY(resolver.isApplied());
    QCOMPARE(resolver.method(), ResolverSwitch::ResolvConfFile);
    const QByteArray written = contents(path);
    const int noteEnd = written.indexOf('\n') + 1;
    QVERIFY2(written.startsWith('#') && written.left(noteEnd).contains(savedCopy.toUtf8()), written.constData());
    QCOMPARE(written.mid(noteEnd), applied);
    QCOMPARE(contents(savedCopy), current);
    QCOMPARE(QFileInfo(path).isSymLink(), symlink);

    if (!rewrittenTo.isNull())
        write(path, rewrittenTo);
    QVERIFY2(resolver.restore(&error), qPrintable(error));
    QVERIFY(!resolver.isApplied());
    QCOMPARE(contents(path), rewrittenTo.isNull() ? current : rewrittenTo);
    QCOMPARE(QFileInfo(path).isSymLink(), symlink);
    QVERIFY(!QFile::exists(savedCopy));
}

void TestResolverSwitch::refusedFile_data()
{
    QTest::addColumn<QString>("blocked"); // "resolver" or "state" folder in the way, else none
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("reason");

    QTest::newRow("resolver file is a folder") << "resolver" << 0 << "cannot open";
    QTest::newRow("state folder cannot be made") << "state" << 40 << "cannot create the folder";
    QTest::newRow("oversized resolver file") << "" << int(ResolverSwitch::MaximumFileSize) + 1 << "larger than 64 KiB";
}

void TestResolverSwitch::refusedFile()
{
    QFETCH(QString, blocked);
    QFETCH(int, size);
    QFETCH(QString, reason);

    const QString path = resolverPath();
    const QByteArray before(size, '#');
    if (blocked == QLatin1String("resolver"))
        QVERIFY(QDir().mkpath(path));
    else
        write(path, before);
    const QString stateFolder = QFileInfo(ResolverSwitch::savedCopyPath()).absolutePath();
    if (blocked == QLatin1String("state")) {
        QVERIFY(QDir().mkpath(QFileInfo(stateFolder).absolutePath()));
        write(stateFolder, "a file where the folder should be");
    }

    qputenv(MethodVariable, "file");
    ResolverSwitch resolver;
    resolver.setResolverFile(path);
    QString error;
    QVERIFY(!resolver.apply(NetworkAdapter(), addresses(Servers), &error));
    QVERIFY2(error.contains(reason), qPrintable(error));
    QVERIFY(!resolver.isApplied());
    QVERIFY(!QFile::exists(ResolverSwitch::savedCopyPath()));
    if (blocked == QLatin1String("resolver"))
        QVERIFY(QFileInfo(path).isDir());
    else
        QCOMPARE(contents(path), before);
}

NIMBORA_TEST_MAIN(TestResolverSwitch, QCoreApplication)
#include "tst_resolverswitch.moc"
