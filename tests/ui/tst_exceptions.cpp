#include "base/settingskeys.h"
#include "ui/exceptions.h"

#include "tests/support/testmain.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTableView>

namespace {

// Answers its boxes at once and keeps what they said.
class AnsweredExceptions : public Exceptions
{
public:
    QStringList boxes;

protected:
    QAbstractButton *execMessageBox(QMessageBox *box) override
    {
        boxes << box->windowTitle() + ": " + box->text();
        return nullptr;
    }
};

// Each redirection as "description|destination", under the keys "0", "1", ...
void store(const QStringList &exceptions)
{
    QSettings settings;
    settings.beginGroup(SettingsKeys::Exceptions);
    for (int i = 0; i < exceptions.size(); ++i)
        settings.setValue(QString::number(i), exceptions.at(i).split('|'));
}

// "key=description|destination", by key number.
QStringList stored()
{
    QSettings settings;
    settings.beginGroup(SettingsKeys::Exceptions);
    QStringList lines;
    for (int i = 0; settings.contains(QString::number(i)); ++i)
        lines << QString::number(i) + '=' + settings.value(QString::number(i)).toStringList().join('|');
    if (lines.size() != settings.childKeys().size())
        lines << "keys " + settings.childKeys().join(',');
    return lines;
}

QStringList numbered(const QStringList &exceptions)
{
    QStringList lines;
    for (int i = 0; i < exceptions.size(); ++i)
        lines << QString::number(i) + '=' + exceptions.at(i);
    return lines;
}

void click(QTableView *view, int row, Qt::KeyboardModifiers modifiers)
{
    const QRect cell = view->visualRect(view->model()->index(row, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, modifiers, cell.center());
}

// "select N" clicks row N, "also N" control-clicks it; "description T" and "destination T"
// paste T into the field; "add", "remove", "ok" and "cancel" press those buttons.
void play(AnsweredExceptions &dialog, const QStringList &steps)
{
    auto *view = dialog.findChild<QTableView *>("exceptionsTableView");
    auto *buttons = dialog.findChild<QDialogButtonBox *>("buttonBox");
    for (const QString &step : steps) {
        const QString verb = step.section(' ', 0, 0);
        const QString argument = step.section(' ', 1);
        if (verb == "select" || verb == "also") {
            click(view, argument.toInt(), verb == "also" ? Qt::ControlModifier : Qt::NoModifier);
        } else if (verb == "description" || verb == "destination") {
            auto *field = dialog.findChild<QLineEdit *>(verb + "LineEdit");
            field->selectAll();
            field->insert(argument);
        } else if (verb == "add" || verb == "remove") {
            dialog.findChild<QPushButton *>(verb + "PushButton")->click();
        } else {
            buttons->button(verb == "ok" ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
        }
    }
}

} // namespace

class TestExceptions : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { QSettings().clear(); }
    void edit_data();
    void edit();
};

void TestExceptions::edit_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("fields"); // edit fields and remove button before OK or Cancel
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<bool>("open"); // after the last step
    QTest::addColumn<QStringList>("after"); // stored after the last step

    const QString invalid = "Redirection invalide: Une redirection doit avoir une destination valide.";
    const QStringList two { "Banque|banque.example", "|198.18.7.1" };
    QStringList twelve;
    for (int i = 0; i < 12; ++i)
        twelve << QString("n%1|h%1.example").arg(i);

    QTest::newRow("add, spaces pasted") << two
                                        << QStringList { "add", "description Mail, \"pro\"",
                                               "destination  mail .example ", "ok" }
                                        << "shown enabled" << QStringList() << false
                                        << numbered(two + QStringList { "Mail, \"pro\"|mail.example" });
    QTest::newRow("add without destination") << two << QStringList { "add", "description Mail", "ok" }
                                             << "shown enabled" << QStringList { invalid } << true << numbered(two);
    QTest::newRow("edits of two rows") << two
                                       << QStringList { "select 1", "destination 198.18.7.2", "select 0",
                                              "description Ma banque", "ok" }
                                       << "shown enabled" << QStringList() << false
                                       << numbered({ "Ma banque|banque.example", "|198.18.7.2" });
    QTest::newRow("cancel") << two << QStringList { "select 0", "remove", "add", "destination x.example", "cancel" }
                            << "shown enabled" << QStringList() << false << numbered(two);
    QTest::newRow("remove the last row") << QStringList { "Banque|banque.example" }
                                         << QStringList { "select 0", "remove", "ok" } << "hidden disabled"
                                         << QStringList() << false << QStringList();
    QTest::newRow("remove rows apart") << QStringList { "a|a.example", "b|b.example", "c|c.example", "d|d.example" }
                                       << QStringList { "select 0", "also 2", "remove", "ok" } << "shown enabled"
                                       << QStringList() << false << numbered({ "b|b.example", "d|d.example" });
    QTest::newRow("more than ten keep their order")
        << twelve << QStringList { "ok" } << "shown enabled" << QStringList() << false << numbered(twelve);
    QTest::newRow("stored without destination")
        << QStringList { "Seule" } << QStringList { "ok", "select 0", "destination seule.example", "ok" }
        << "shown enabled" << QStringList { invalid } << false << numbered({ "Seule|seule.example" });
}

// The stored list opened, edited through the buttons and fields, then OK or Cancel.
void TestExceptions::edit()
{
    QFETCH(QStringList, before);
    QFETCH(QStringList, steps);
    QFETCH(QString, fields);
    QFETCH(QStringList, boxes);
    QFETCH(bool, open);
    QFETCH(QStringList, after);

    store(before);
    AnsweredExceptions dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    const QString last = steps.takeLast();
    play(dialog, steps);
    QCOMPARE(QString(dialog.findChild<QWidget *>("editFrame")->isVisible() ? "shown " : "hidden ")
            + (dialog.findChild<QPushButton *>("removePushButton")->isEnabled() ? "enabled" : "disabled"),
        fields);
    QCOMPARE(stored(), numbered(before));
    play(dialog, { last });

    QCOMPARE(dialog.boxes, boxes);
    QCOMPARE(dialog.isVisible(), open);
    QCOMPARE(stored(), after);
}

NIMBORA_TEST_MAIN(TestExceptions, QApplication)
#include "tst_exceptions.moc"
