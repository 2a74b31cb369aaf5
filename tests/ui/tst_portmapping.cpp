#include "base/settingskeys.h"
#include "ui/addportmapping.h"
#include "ui/portmappingtablemodel.h"

#include "tests/support/testmain.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QSpinBox>
#include <QTranslator>

using Entry = QHash<QString, QVariant>;
using Entries = QList<Entry>;
Q_DECLARE_METATYPE(Entries)

namespace {

Entry mapping(const QVariant &externalPort, const QString &protocol)
{
    return Entry { { "externalPort", externalPort }, { "protocol", protocol }, { "description", "web" } };
}

Entry dialogEntry(int externalPort, const QString &protocol, int internalPort, const QString &description)
{
    return Entry { { "externalPort", externalPort }, { "protocol", protocol }, { "internalPort", internalPort },
        { "description", description } };
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

} // namespace

class TestPortMapping : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { QSettings().clear(); }
    void sameMapping_data();
    void sameMapping();
    void gatewayEntries_data();
    void gatewayEntries();
    void pendingAndOffline();
    void savedInSettings();
    void dialogMapping_data();
    void dialogMapping();
    void dialogTexts();
};

void TestPortMapping::sameMapping_data()
{
    QTest::addColumn<Entry>("listed");
    QTest::addColumn<Entry>("other");
    QTest::addColumn<bool>("same");

    QTest::newRow("same port and protocol") << mapping(8080, "TCP") << mapping(8080, "TCP") << true;
    QTest::newRow("other protocol") << mapping(8080, "TCP") << mapping(8080, "UDP") << false;
    QTest::newRow("protocol case counts") << mapping(8080, "TCP") << mapping(8080, "tcp") << false;
    QTest::newRow("port as text") << mapping("08080", "TCP") << mapping(8080, "TCP") << true;
}

// Adding refuses a mapping already listed; removing takes the listed one out of both lists.
void TestPortMapping::sameMapping()
{
    QFETCH(Entry, listed);
    QFETCH(Entry, other);
    QFETCH(bool, same);

    PortMappingTableModel model;
    QVERIFY(model.addEntry(listed));
    QCOMPARE(model.addEntry(other), !same);
    QVERIFY(model.removeEntry(other));
    QCOMPARE(model.rowCount(), same ? 0 : 1);
    QCOMPARE(model.savedEntries().size(), same ? 0 : 1);
}

void TestPortMapping::gatewayEntries_data()
{
    QTest::addColumn<Entries>("saved");
    QTest::addColumn<Entries>("gateway");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("gateway rows, then saved ones missing")
        << Entries { mapping(8080, "TCP"), mapping(9000, "UDP"), mapping(5000, "UDP") }
        << Entries { mapping(5000, "TCP"), mapping(9000, "UDP") }
        << QStringList { "5000/TCP 1", "9000/UDP 1", "8080/TCP 0", "5000/UDP 0" };
    QTest::newRow("saved port as text") << Entries { mapping(" 8080", "TCP") } << Entries { mapping(8080, "TCP") }
                                        << QStringList { "8080/TCP 1" };
}

void TestPortMapping::gatewayEntries()
{
    QFETCH(Entries, saved);
    QFETCH(Entries, gateway);
    QFETCH(QStringList, expected);

    PortMappingTableModel model;
    for (const Entry &entry : saved)
        QVERIFY(model.addEntry(entry));
    model.setGatewayEntries(gateway);
    QCOMPARE(rows(model), expected);
    QCOMPARE(model.savedEntries().size(), saved.size());
}

// Waiting rows come from the saved list after a disconnection and fail on a UPnP error; mapped
// rows keep their state.
void TestPortMapping::pendingAndOffline()
{
    PortMappingTableModel model;
    model.addEntry(mapping(8080, "TCP"));
    model.addEntry(mapping(9000, "UDP"));
    model.setGatewayEntries({ mapping(5000, "TCP"), mapping(8080, "TCP") });
    model.setAllPending();
    QCOMPARE(rows(model), QStringList({ "8080/TCP 2", "9000/UDP 2" }));

    model.setGatewayEntries({ mapping(8080, "TCP") });
    model.addEntry(mapping(7000, "TCP"));
    model.setPendingOffline();
    QCOMPARE(rows(model), QStringList({ "8080/TCP 1", "9000/UDP 0", "7000/TCP 0" }));
}

// Stored as the main window stores them and read back by a later run, saved mappings still
// match the gateway's.
void TestPortMapping::savedInSettings()
{
    PortMappingTableModel first;
    first.addEntry(mapping(8080, "TCP"));
    first.addEntry(mapping(8080, "UDP"));
    const Entries saved = first.savedEntries();
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
    QTest::addColumn<Entry>("expected");

    QTest::newRow("as opened") << "" << 0 << "TCP" << 0 << dialogEntry(1024, "TCP", 1024, "1024 TCP");
    QTest::newRow("local port follows") << "web" << 5000 << "TCP" << 0 << dialogEntry(5000, "TCP", 5000, "web");
    QTest::newRow("local port set after") << "web" << 5000 << "UDP" << 80 << dialogEntry(5000, "UDP", 80, "web");
    QTest::newRow("empty description") << "" << 8080 << "UDP" << 0 << dialogEntry(8080, "UDP", 8080, "8080 UDP");
}

void TestPortMapping::dialogMapping()
{
    QFETCH(QString, description);
    QFETCH(int, externalPort);
    QFETCH(QString, protocol);
    QFETCH(int, internalPort);
    QFETCH(Entry, expected);

    AddPortMapping dialog;
    dialog.findChild<QLineEdit *>("descriptionLineEdit")->setText(description);
    if (externalPort)
        dialog.findChild<QSpinBox *>("externalPortSpinBox")->setValue(externalPort);
    dialog.findChild<QComboBox *>("protocolComboBox")->setCurrentText(protocol);
    if (internalPort)
        dialog.findChild<QSpinBox *>("internalPortSpinBox")->setValue(internalPort);
    QCOMPARE(dialog.portMapping(), expected);
}

// The English catalogue carries every text of the dialog; the protocol names are never
// translated, as they are what the gateway is sent.
void TestPortMapping::dialogTexts()
{
    QTranslator translator;
    QVERIFY(translator.load(":/translations/Nimbora_en"));
    QCoreApplication::installTranslator(&translator);
    AddPortMapping dialog;
    QCoreApplication::removeTranslator(&translator);
    QStringList shown { dialog.windowTitle() };
    for (const char *name : { "descriptionLabel", "externalPortLabel", "internalPortLabel", "warningLabel" })
        shown << dialog.findChild<QLabel *>(name)->text();
    auto *protocol = dialog.findChild<QComboBox *>("protocolComboBox");
    shown << protocol->itemText(0) << protocol->itemText(1);
    QCOMPARE(shown,
        QStringList({ "Add a port", "Description:", "Remote port:", "Local port:",
            "Your computer will be reachable from the Internet on the chosen port", "TCP", "UDP" }));
}

NIMBORA_TEST_MAIN(TestPortMapping, QApplication)
#include "tst_portmapping.moc"
