#include "base/settingskeys.h"
#include "core/md5.h"
#include "ui/authentication.h"

#include "tests/support/testhttpserver.h"
#include "tests/support/testmain.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>

// The login dialog against a scripted main server: the automatic login that never shows the
// dialog, the digest of what was typed, and the boxes of a refused or unanswered login.
class TestAuthentication : public QObject
{
    Q_OBJECT

private slots:
    void login_data();
    void login();
};

namespace {

// Answers its boxes with the button of the given role and records where the dialog leads.
class RecordingAuthentication : public Authentication
{
public:
    QMessageBox::ButtonRole answer = QMessageBox::RejectRole;
    QStringList events;

protected:
    QAbstractButton *execMessageBox(QMessageBox *box) override
    {
        events << QStringLiteral("box ") + box->windowTitle();
        for (QAbstractButton *button : box->buttons()) {
            if (box->buttonRole(button) == answer)
                return button;
        }
        return nullptr;
    }
    void openMainWindow() override { events << QStringLiteral("main window"); }
    void openOptions(int page) override { events << QStringLiteral("options %1").arg(page); }
};

} // namespace

void TestAuthentication::login_data()
{
    QTest::addColumn<bool>("autoLogin");
    QTest::addColumn<QByteArray>("reply"); // empty: the connection is dropped
    QTest::addColumn<QByteArray>("sentPassword");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<QStringList>("events");

    const QByteArray ok("<r><code>OK</code><session>s-1</session></r>");
    const QByteArray stored("0123456789abcdef0123456789abcdef");
    const QByteArray typed = md5Hex(QStringLiteral("se cret")).toLatin1();
    QTest::newRow("automatic login, never shown") << true << ok << stored << false << QStringList { "main window" };
    QTest::newRow("typed password sent as its digest")
        << false << ok << typed << false << QStringList { "main window" };
    QTest::newRow("empty password sent as the digest of nothing")
        << false << ok << QByteArray("d41d8cd98f00b204e9800998ecf8427e") << false << QStringList { "main window" };
    QTest::newRow("refused automatic login shows the dialog")
        << true << QByteArray("<r><code>DENIED</code></r>") << stored << true
        << QStringList { "box Erreur d'authentification" };
    QTest::newRow("no answer offers the connection settings")
        << false << QByteArray() << typed << true
        << QStringList { "box Impossible de contacter le serveur principal", "options 1" };
}

void TestAuthentication::login()
{
    QFETCH(bool, autoLogin);
    QFETCH(QByteArray, reply);
    TestHttpServer server;
    QVERIFY(server.start());
    server.useAsMainServer();
    server.setBehaviour(reply.isEmpty() ? TestHttpServer::Drop : TestHttpServer::Answer);
    server.setAnswer("login", reply);
    QSettings settings;
    settings.setValue(SettingsKeys::AuthenticationUsername, QStringLiteral("alice"));
    settings.setValue(SettingsKeys::AuthenticationPassword, QStringLiteral("0123456789abcdef0123456789abcdef"));
    settings.setValue(SettingsKeys::AuthenticationAutoLogin, autoLogin);

    RecordingAuthentication dialog;
    dialog.answer = QMessageBox::AcceptRole;
    QFETCH(QByteArray, sentPassword);
    const bool emptyTyped = sentPassword == "d41d8cd98f00b204e9800998ecf8427e";
    dialog.findChild<QLineEdit *>(QStringLiteral("passwordLineEdit"))
        ->setText(emptyTyped ? QString() : QStringLiteral("se cret"));
    auto *loginButton = dialog.findChild<QPushButton *>(QStringLiteral("loginPushButton"));
    dialog.show();
    if (!autoLogin) {
        QVERIFY(dialog.isVisible());
        loginButton->click();
    }
    QTRY_VERIFY_WITH_TIMEOUT(
        dialog.events.contains(QStringLiteral("main window")) || loginButton->text() == QLatin1String("LOGIN >>"),
        20000);

    QTEST(dialog.events, "events");
    QTEST(dialog.isVisible(), "shown");
    QVERIFY(server.requests().first().requestLine.contains("&password=" + sentPassword + "&"));
    if (!dialog.events.contains(QStringLiteral("main window"))) {
        // Ready for another try, with what was typed selected.
        QVERIFY(dialog.findChild<QWidget *>(QStringLiteral("loginFrame"))->isEnabled());
        QVERIFY(dialog.findChild<QLineEdit *>(QStringLiteral("passwordLineEdit"))->hasSelectedText());
    }
}

NIMBORA_TEST_MAIN(TestAuthentication, QApplication)

#include "tst_authentication.moc"
