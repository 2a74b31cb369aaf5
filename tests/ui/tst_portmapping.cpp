#include "base/settingskeys.h"
#include "ui/addportmapping.h"
#include "ui/portmappingtablemodel.h"

#include "tests/support/testmain.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QSettings>
#include <QSpinBox>
#include <QTranslator>

using Entry = QHash<QString, QVariant>;

namespace {

Entry mapping(const QVariant &externalPort, const QString &protocol)
{
    return Entry { { "externalPort", externalPort }, { "protocol", protocol }, { "description", "web" } };
}

// One "port/protocol state" line per row on display.
QStringList rows(const PortMappingTableModel &model)
{
    QStringList lines;
    for (const Entry &entry : model.entries())
        lines << entry["externalPort"].toString() + "/" + entry["protocol"].toString() + " "
                + entry["state"].toString();
    return lines;
}

// Translates every text it is asked for.
class EverythingTranslator : public QTranslator
{
public:
    bool isEmpty() const override { return false; }
    QString translate(const char *, const char *, const char *, int) const override { return "translated"; }
};

} // namespace

class TestPortMapping : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { QSettings().clear(); }
    void sameMapping_data();
    void sameMapping();
    void states();
    void savedInSettings();
    void dialogMapping_data();
    void dialogMapping();
    void protocolsUntranslated();
};

void TestPortMapping::sameMapping_data()
{
    QTest::addColumn<Entry>("other");
    QTest::addColumn<bool>("same");

    QTest::newRow("other protocol") << mapping(8080, "UDP") << false;
    QTest::newRow("protocol case counts") << mapping(8080, "tcp") << false;
    QTest::newRow("port as text") << mapping(" 08080", "TCP") << true;
}

// Adding refuses a mapping already listed; removing takes the listed one out of both lists.
void TestPortMapping::sameMapping()
{
    QFETCH(Entry, other);
    QFETCH(bool, same);

    PortMappingTableModel model;
    QVERIFY(model.addEntry(mapping(8080, "TCP")));
    QCOMPARE(model.addEntry(other), !same);
    QVERIFY(model.removeEntry(other));
    QCOMPARE(model.rowCount(), same ? 0 : 1);
    QCOMPARE(model.savedEntries().size(), same ? 0 : 1);
}

// The gateway's rows come first, then the saved ones it lacks; after a disconnection the saved
// rows wait, and those the gateway has not mapped fail on a UPnP error.
void TestPortMapping::states()
{
    PortMappingTableModel model;
    for (const Entry &entry : { mapping(8080, "TCP"), mapping(9000, "UDP"), mapping(5000, "UDP") })
        QVERIFY(model.addEntry(entry));
    model.setGatewayEntries({ mapping(5000, "TCP"), mapping(9000, "UDP") });
    QCOMPARE(rows(model), QStringList({ "5000/TCP 1", "9000/UDP 1", "8080/TCP 0", "5000/UDP 0" }));
    QCOMPARE(model.savedEntries().size(), 3);

    model.setAllPending();
    QCOMPARE(rows(model), QStringList({ "8080/TCP 2", "9000/UDP 2", "5000/UDP 2" }));
    model.setGatewayEntries({ mapping(8080, "TCP") });
    QVERIFY(model.addEntry(mapping(7000, "TCP")));
    model.setPendingOffline();
    QCOMPARE(rows(model), QStringList({ "8080/TCP 1", "9000/UDP 0", "5000/UDP 0", "7000/TCP 0" }));
}

// Stored as the main window stores them and read back by a later run, saved mappings still
// match the gateway's.
void TestPortMapping::savedInSettings()
{
    PortMappingTableModel first;
    first.addEntry(mapping(8080, "TCP"));
    first.addEntry(mapping(8080, "UDP"));
    const QList<Entry> saved = first.savedEntries();
    for (int i = 0; i < saved.size(); ++i)
        QSettings().setValue(QString(SettingsKeys::PortMappingEntries) + "/" + QString::number(i), saved.at(i));

    PortMappingTableModel second;
    QSettings settings;
    settings.beginGroup(SettingsKeys::PortMappingEntries);
    for (const QString &key : settings.childKeys())
        QVERIFY(second.addEntry(settings.value(key).toHash()));
    second.setGatewayEntries({ mapping(8080, "UDP"), mapping(8080, "TCP") });
    QCOMPARE(rows(second), QStringList({ "8080/UDP 1", "8080/TCP 1" }));
}

void TestPortMapping::dialogMapping_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<int>("externalPort"); // 0: left alone
    QTest::addColumn<QString>("protocol");
    QTest::addColumn<int>("internalPort"); // 0: left alone
    QTest::addColumn<QString>("expected"); // "external protocol internal description"

    QTest::newRow("as opened") << "" << 0 << "TCP" << 0 << "1024 TCP 1024 1024 TCP";
    QTest::newRow("local port follows") << "web" << 5000 << "UDP" << 0 << "5000 UDP 5000 web";
    QTest::newRow("local port set after") << "web" << 5000 << "TCP" << 80 << "5000 TCP 80 web";
}

void TestPortMapping::dialogMapping()
{
    QFETCH(QString, description);
    QFETCH(int, externalPort);
    QFETCH(QString, protocol);
    QFETCH(int, internalPort);
    QFETCH(QString, expected);

    AddPortMapping dialog;
    dialog.findChild<QLineEdit *>("descriptionLineEdit")->setText(description);
    if (externalPort)
        dialog.findChild<QSpinBox *>("externalPortSpinBox")->setValue(externalPort);
    dialog.findChild<QComboBox *>("protocolComboBox")->setCurrentText(protocol);
    if (internalPort)
        dialog.findChild<QSpinBox *>("internalPortSpinBox")->setValue(internalPort);
    const Entry entry = dialog.portMapping();
    QCOMPARE(entry.size(), 4);
    QCOMPARE(QStringList({ entry["externalPort"].toString(), entry["protocol"].toString(),
                             entry["internalPort"].toString(), entry["description"].toString() })
                 .join(' '),
        expected);
}

// The protocol names are what the gateway is sent: no translation may touch them.
void TestPortMapping::protocolsUntranslated()
{
    EverythingTranslator translator;
    QCoreApplication::installTranslator(&translator);
    AddPortMapping dialog;
    QCoreApplication::removeTranslator(&translator);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("translated"));
    auto *protocol = dialog.findChild<QComboBox *>("protocolComboBox");
    QCOMPARE(QStringList({ protocol->itemText(0), protocol->itemText(1) }), QStringList({ "TCP", "UDP" }));
}

NIMBORA_TEST_MAIN(TestPortMapping, QApplication)
#include "tst_portmapping.moc"
