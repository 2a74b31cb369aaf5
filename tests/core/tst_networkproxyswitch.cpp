#include "core/networkproxyswitch.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

// The system side replaced by a script: what reading gives, whether writing works, and a
// record of every write.
class ScriptedProxySwitch : public NetworkProxySwitch
{
public:
    bool readable = true;
    bool writable = true;
    quint32 systemFlags = 0;
    QList<quint32> writes;

protected:
    bool readSystemFlags(quint32 *flags) override
    {
        if (!readable)
            return false;
        *flags = systemFlags;
        return true;
    }
    bool writeSystemFlags(quint32 flags) override
    {
        writes << flags;
        if (!writable)
            return false;
        systemFlags = flags;
        return true;
    }
};

class TestNetworkProxySwitch : public QObject
{
    Q_OBJECT

private slots:
    void decisions_data();
    void decisions();
    void gnomeMode_data();
    void gnomeMode();
    void withoutUsableSchema_data();
    void withoutUsableSchema();

private:
    QString gsettings(const QStringList &arguments, bool *ok = nullptr);
};

using FlagList = QList<quint32>;

void TestNetworkProxySwitch::decisions_data()
{
    QTest::addColumn<bool>("readable");
    QTest::addColumn<bool>("writable");
    QTest::addColumn<quint32>("flags");
    QTest::addColumn<bool>("disabled");
    QTest::addColumn<FlagList>("writesOnDisable");
    QTest::addColumn<FlagList>("writesOnRestore");

    QTest::newRow("manual proxy") << true << true << quint32(0x3) << true << FlagList { 0x1 } << FlagList { 0x3 };
    QTest::newRow("already direct") << true << true << quint32(0x1) << true << FlagList() << FlagList();
    QTest::newRow("unreadable") << false << true << quint32(0x3) << false << FlagList() << FlagList();
    QTest::newRow("write refused") << true << false << quint32(0x3) << false << FlagList { 0x1 } << FlagList { 0x3 };
}

void TestNetworkProxySwitch::decisions()
{
    QFETCH(bool, readable);
    QFETCH(bool, writable);
    QFETCH(quint32, flags);
    QFETCH(bool, disabled);
    QFETCH(FlagList, writesOnDisable);
    QFETCH(FlagList, writesOnRestore);

    ScriptedProxySwitch proxySwitch;
    proxySwitch.readable = readable;
    proxySwitch.writable = writable;
    proxySwitch.systemFlags = flags;
    QCOMPARE(proxySwitch.disable(), disabled);
    QCOMPARE(proxySwitch.writes, writesOnDisable);
    proxySwitch.writes.clear();
    proxySwitch.restore();
    QCOMPARE(proxySwitch.writes, writesOnRestore);
    proxySwitch.writes.clear();
    proxySwitch.restore();
    QVERIFY(proxySwitch.writes.isEmpty());
}

QString TestNetworkProxySwitch::gsettings(const QStringList &arguments, bool *ok)
{
    QProcess process;
    process.start(QStringLiteral("gsettings"), arguments);
    const bool finished = process.waitForFinished(10000);
    if (ok)
        *ok = finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

void TestNetworkProxySwitch::gnomeMode_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("switched");
    QTest::newRow("manual") << "manual" << true;
    QTest::newRow("auto") << "auto" << true;
    QTest::newRow("none") << "none" << false;
}

// The real tool on a keyfile store inside the test's own settings folder, never the user's.
void TestNetworkProxySwitch::gnomeMode()
{
    QFETCH(QString, mode);
    QFETCH(bool, switched);

    if (QStandardPaths::findExecutable(QStringLiteral("gsettings")).isEmpty())
        QSKIP("gsettings is not installed");
    qputenv("GSETTINGS_BACKEND", "keyfile");
    bool ok = false;
    gsettings({ "set", "org.gnome.system.proxy", "mode", mode }, &ok);
    if (!ok)
        QSKIP("the org.gnome.system.proxy schema is not installed");

    NetworkProxySwitch proxySwitch;
    QVERIFY(proxySwitch.disable());
    QCOMPARE(gsettings({ "get", "org.gnome.system.proxy", "mode" }), QStringLiteral("'none'"));
    // A change made meanwhile by someone else shows whether restore() writes at all.
    gsettings({ "set", "org.gnome.system.proxy", "mode", "manual" });
    proxySwitch.restore();
    QCOMPARE(gsettings({ "get", "org.gnome.system.proxy", "mode" }),
        QStringLiteral("'%1'").arg(switched ? mode : QStringLiteral("manual")));
}

void TestNetworkProxySwitch::withoutUsableSchema_data()
{
    QTest::addColumn<QByteArray>("schema");
    QTest::newRow("no schema") << QByteArray();
    QTest::newRow("mode not a text") << QByteArray("<schemalist><schema id=\"org.gnome.system.proxy\" "
                                                   "path=\"/system/proxy/\"><key name=\"mode\" type=\"i\">"
                                                   "<default>1</default></key></schema></schemalist>");
}

// GLib reads the schema folders once per process: the switch meets them in a child run of this test.
void TestNetworkProxySwitch::withoutUsableSchema()
{
    QFETCH(QByteArray, schema);

    if (qEnvironmentVariableIsSet("SCHEMA_CHILD")) {
        NetworkProxySwitch proxySwitch;
        QVERIFY(!proxySwitch.disable());
        proxySwitch.restore();
        return;
    }
    QTemporaryDir schemas;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("SCHEMA_CHILD"), QStringLiteral("1"));
    environment.insert(QStringLiteral("XDG_DATA_DIRS"), schemas.path());
    environment.insert(QStringLiteral("XDG_DATA_HOME"), schemas.path());
    environment.insert(QStringLiteral("GSETTINGS_SCHEMA_DIR"), schemas.path());
    environment.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("keyfile"));
    // A GLib call refused with a critical warning is a fault of ours, not a way to fail.
    environment.insert(QStringLiteral("G_DEBUG"), QStringLiteral("fatal-criticals"));
    if (!schema.isEmpty()) {
        QFile file(schemas.filePath(QStringLiteral("proxy.gschema.xml")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(schema) == schema.size());
        file.close();
        if (QProcess::execute(QStringLiteral("glib-compile-schemas"), { schemas.path() }) != 0)
            QSKIP("glib-compile-schemas is missing or refused the schema");
    }
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(),
        { QStringLiteral("withoutUsableSchema:") + QString::fromLatin1(QTest::currentDataTag()) });
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
}

NIMBORA_TEST_MAIN(TestNetworkProxySwitch, QCoreApplication)
#include "tst_networkproxyswitch.moc"
