#include "ui/serverstreeitem.h"
#include "ui/serverstreemodel.h"

#include "tests/support/testmain.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QDirIterator>
#include <QIcon>
#include <QTranslator>

using Record = QHash<QString, QVariant>;

namespace {

const int OpenVpn = 1;
const int Https = 2;
const int Http = 4;

Record tunnel(const QString &name, int protocols, int occupation = 0, int type = 0, int state = 1)
{
    return Record { { "name", name }, { "protocols", protocols }, { "slots", occupation }, { "type", type },
        { "state", state } };
}

Record country(const QString &code, const QList<QVariant> &tunnels)
{
    return Record { { "code", code }, { "tunnels", tunnels } };
}

Record server(const QString &name, const QList<QVariant> &countries, const QString &state = "1", int bandwidth = 0)
{
    return Record { { "name", name }, { "state", state }, { "bandwidth", bandwidth }, { "countries", countries } };
}

// The resource the icon's picture comes from, in the given mode; "?" for none of ours.
QString iconName(const QIcon &icon, QIcon::Mode mode = QIcon::Normal)
{
    const QImage image = icon.pixmap(16, mode).toImage();
    QDirIterator pictures(":/resources/servers", QDirIterator::Subdirectories);
    while (pictures.hasNext()) {
        const QString path = pictures.next();
        if (path.endsWith(".png") && QIcon(path).pixmap(16).toImage() == image)
            return path.mid(QStringLiteral(":/resources/servers/").size()).chopped(4);
    }
    return "?";
}

// One line per row shown, indented by depth: name, label, icon, and "off" when greyed out.
void dumpRows(const ServersTreeModel &model, const QModelIndex &parent, const QString &indent, QStringList &lines)
{
    for (int row = 0; row < model.rowCount(parent); ++row) {
        const QModelIndex index = model.index(row, 0, parent);
        QString line = indent + model.item(index)->name() + " [" + index.data().toString() + "] "
            + iconName(index.data(Qt::DecorationRole).value<QIcon>());
        if (model.flags(index) == Qt::NoItemFlags)
            line += " off";
        lines << line;
        dumpRows(model, index, indent + "  ", lines);
    }
}

QStringList rows(const ServersTreeModel &model)
{
    QStringList lines;
    dumpRows(model, QModelIndex(), QString(), lines);
    return lines;
}

// "node=best latency" for the fastest entry and every server and country, in display order.
void dumpBests(const ServersTreeModel &model, const QModelIndex &parent, QStringList &lines)
{
    for (int row = 0; row < model.rowCount(parent); ++row) {
        const QModelIndex index = model.index(row, 0, parent);
        const ServersTreeItem *node = model.item(index);
        if (node->type() == ServersTreeItem::Tunnel)
            continue;
        lines << node->name() + "=" + node->value("fastest").toHash().value("name").toString() + " "
                + model.index(row, 1, parent).data().toString();
        dumpBests(model, index, lines);
    }
}

QString bests(const ServersTreeModel &model)
{
    QStringList lines;
    dumpBests(model, QModelIndex(), lines);
    return lines.join(", ");
}

// Server A is usable, B is full, C has nothing but a private tunnel.
QList<QVariant> measuredServers()
{
    return {
        server("A",
            { country(
                  "fr", { tunnel("fr1", OpenVpn | Https, 50), tunnel("fr2", OpenVpn, 20), tunnel("fr3", Https, 10) }),
                country("de", { tunnel("de1", OpenVpn | Https, 50) }) }),
        server("B", { country("fr", { tunnel("b1", OpenVpn | Https) }) }, "1", 90),
        server("C", { country("nl", { tunnel("p1", OpenVpn | Https, 0, 1) }) }),
    };
}

class EverythingTranslator : public QTranslator
{
public:
    bool isEmpty() const override { return false; }
    QString translate(const char *, const char *, const char *, int) const override { return "translated"; }
};

} // namespace

class TestServersTreeModel : public QObject
{
    Q_OBJECT

private slots:
    void grouping_data();
    void grouping();
    void fastest_data();
    void fastest();
    void latencyText_data();
    void latencyText();
    void modelContract();
    void retranslate();
};

void TestServersTreeModel::grouping_data()
{
    QTest::addColumn<QList<QVariant>>("servers");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("empty list") << QList<QVariant>() << QStringList({ "fastest [Le plus rapide] fastest" });
    QTest::newRow("servers, countries, tunnels")
        << QList<QVariant>({ server("A", { country("fr", { tunnel("t1", OpenVpn), tunnel("t2", Https, 0, 2) }) }),
               server("B", { country("us", { tunnel("t1", OpenVpn) }), country("de", {}) }) })
        << QStringList(
               { "fastest [Le plus rapide] fastest", "A [] online", "  A/fr [France] flags/fr", "    A/fr/t1 [] public",
                   "    A/fr/t2 [] premium", "B [] online", "  B/us [Etats-Unis] flags/us", "    B/us/t1 [] public" });
    QTest::newRow("private tunnels after the servers")
        << QList<QVariant>({ server("A", { country("fr", { tunnel("p1", OpenVpn, 0, 1), tunnel("t1", OpenVpn) }) }),
               server("B", { country("be", { tunnel("p2", OpenVpn, 0, 1) }) }) })
        << QStringList({ "fastest [Le plus rapide] fastest", "A [] online", "  A/fr [France] flags/fr",
               "    A/fr/t1 [] public", "B [] online", "A/fr/p1 [] private", "B/be/p2 [] private" });
    QTest::newRow("server offline, in maintenance, full")
        << QList<QVariant>({ server("A", { country("fr", { tunnel("t1", OpenVpn) }) }, "0"),
               server("B", { country("fr", { tunnel("t1", OpenVpn) }) }, "2"),
               server("C", { country("fr", { tunnel("t1", OpenVpn) }) }, "1", 90) })
        << QStringList({ "fastest [Le plus rapide] fastest", "A [] offline off", "  A/fr [France] flags/fr off",
               "    A/fr/t1 [] public off", "B [] maintenance off", "  B/fr [France] flags/fr off",
               "    B/fr/t1 [] public off", "C [] online off", "  C/fr [France] flags/fr off",
               "    C/fr/t1 [] public off" });
    QTest::newRow("tunnel full or not online")
        << QList<QVariant>({ server("A",
               { country("xx",
                   { tunnel("full", OpenVpn, 100), tunnel("almost", OpenVpn, 99), tunnel("down", OpenVpn, 0, 0, 0),
                       tunnel("paused", OpenVpn, 0, 0, 2) }) },
               "1", 89) })
        << QStringList(
               { "fastest [Le plus rapide] fastest", "A [] online", "  A/xx [] ?", "    A/xx/full [] public off",
                   "    A/xx/almost [] public", "    A/xx/down [] offline off", "    A/xx/paused [] maintenance off" });
}

// Greyed-out nodes keep their coloured state icon.
void TestServersTreeModel::grouping()
{
    QFETCH(QList<QVariant>, servers);
    QFETCH(QStringList, expected);

    ServersTreeModel model;
    model.rebuild(servers);
    QCOMPARE(rows(model), expected);
    for (int row = 1; row < model.rowCount(); ++row) {
        const QModelIndex index = model.index(row, 0);
        if (model.item(index)->type() == ServersTreeItem::Server)
            QCOMPARE(iconName(index.data(Qt::DecorationRole).value<QIcon>(), QIcon::Disabled),
                iconName(index.data(Qt::DecorationRole).value<QIcon>()));
    }
}

void TestServersTreeModel::fastest_data()
{
    QTest::addColumn<QString>("reports"); // "tunnel=latency ..."
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QString>("expected");

    QTest::newRow("lowest latency")
        << "A/fr/fr1=30 A/fr/fr2=20 A/de/de1=10" << OpenVpn
        << "fastest=de1 10 ms, A=de1 10 ms, A/fr=fr2 20 ms, A/de=de1 10 ms, B= , B/fr= , C= ";
    QTest::newRow("unmeasured tunnels skipped")
        << "A/fr/fr1=-3 A/de/de1=40" << OpenVpn
        << "fastest=de1 40 ms, A=de1 40 ms, A/fr= , A/de=de1 40 ms, B= , B/fr= , C= ";
    QTest::newRow("full server skipped") << "B/fr/b1=5 A/fr/fr1=30" << OpenVpn
                                         << "fastest=fr1 30 ms, A=fr1 30 ms, A/fr=fr1 30 ms, A/de= , B= , B/fr= , C= ";
    QTest::newRow("protocol not offered") << "A/fr/fr2=5 A/fr/fr3=30" << Https
                                          << "fastest=fr3 30 ms, A=fr3 30 ms, A/fr=fr3 30 ms, A/de= , B= , B/fr= , C= ";
    QTest::newRow("tie broken by slots") << "A/fr/fr1=20 A/fr/fr2=20" << OpenVpn
                                         << "fastest=fr2 20 ms, A=fr2 20 ms, A/fr=fr2 20 ms, A/de= , B= , B/fr= , C= ";
    QTest::newRow("full tie keeps the first")
        << "A/fr/fr1=20 A/de/de1=20" << OpenVpn
        << "fastest=fr1 20 ms, A=fr1 20 ms, A/fr=fr1 20 ms, A/de=de1 20 ms, B= , B/fr= , C= ";
    QTest::newRow("private tunnel only for the fastest entry")
        << "A/fr/fr1=30 C/nl/p1=5" << OpenVpn
        << "fastest=p1 5 ms, A=fr1 30 ms, A/fr=fr1 30 ms, A/de= , B= , B/fr= , C= ";
    QTest::newRow("protocol no tunnel offers")
        << "A/fr/fr1=30 C/nl/p1=5" << Http << "fastest= , A= , A/fr= , A/de= , B= , B/fr= , C= ";
}

// The same bests come from the reports as they arrive and from a later change of protocol, which
// first drops those of another protocol.
void TestServersTreeModel::fastest()
{
    QFETCH(QString, reports);
    QFETCH(int, protocol);
    QFETCH(QString, expected);

    ServersTreeModel model;
    model.rebuild(measuredServers());
    for (const QString &report : reports.split(' '))
        model.setLatency(report.section('=', 0, 0), report.section('=', 1).toInt(), protocol);
    QCOMPARE(bests(model), expected);

    model.updateFastest(OpenVpn | Https | Http);
    model.updateFastest(protocol);
    QCOMPARE(bests(model), expected);
}

void TestServersTreeModel::latencyText_data()
{
    QTest::addColumn<int>("latency");
    QTest::addColumn<QString>("text");

    QTest::newRow("measured") << 42 << "42 ms";
    QTest::newRow("no answer") << -1 << "Erreur";
    QTest::newRow("wrong answer") << -2 << "?";
    QTest::newRow("too slow") << -3 << "> 1000 ms";
    QTest::newRow("unknown code") << -9 << "";
}

// A failure shows on its tunnel's cell, and the tunnel keeps ranking by its earlier latency; a
// slower report does not demote a best tunnel either.
void TestServersTreeModel::latencyText()
{
    QFETCH(int, latency);
    QFETCH(QString, text);

    ServersTreeModel model;
    model.rebuild(measuredServers());
    model.setLatency("A/fr/fr1", 7, OpenVpn);
    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);
    model.setLatency("A/fr/fr1", latency, OpenVpn);
    model.setLatency("A/fr/nowhere", 1, OpenVpn);

    const QModelIndex cell = model.indexOf(model.findByName("A/fr/fr1"), 1);
    QCOMPARE(cell.data().toString(), text);
    QCOMPARE(changes.size(), 1);
    QCOMPARE(changes.first().at(0).toModelIndex(), cell);
    QCOMPARE(model.item(cell)->value("latency").toInt(), latency < 0 ? 7 : latency);
    QCOMPARE(model.fastestItem()->value("fastest").toHash().value("latency").toInt(), 7);
}

void TestServersTreeModel::modelContract()
{
    ServersTreeModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.rebuild(measuredServers());
    model.setLatency("A/fr/fr1", 30, OpenVpn);
    model.setLatency("C/nl/p1", 5, OpenVpn);
    model.updateFastest(Http);
    model.rebuild({ server("D", { country("fr", { tunnel("t1", OpenVpn) }) }) });
    QCOMPARE(model.item(model.indexOf(model.findByName("D/fr/t1"))), model.findByName("D/fr/t1"));
}

// Country labels, the fastest entry and the headers follow a change of language.
void TestServersTreeModel::retranslate()
{
    ServersTreeModel model;
    model.rebuild(
        { server("A", { country("fr", { tunnel("t1", OpenVpn) }), country("xx", { tunnel("t1", OpenVpn) }) }) });
    EverythingTranslator translator;
    QCoreApplication::installTranslator(&translator);
    model.retranslate();
    QCoreApplication::removeTranslator(&translator);
    QCOMPARE(rows(model),
        QStringList({ "fastest [translated] fastest", "A [] online", "  A/fr [translated] flags/fr",
            "    A/fr/t1 [] public", "  A/xx [] ?", "    A/xx/t1 [] public" }));
    QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("translated"));
}

NIMBORA_TEST_MAIN(TestServersTreeModel, QApplication)
#include "tst_serverstreemodel.moc"
