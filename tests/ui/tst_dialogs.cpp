#include "base/globalvalues.h"
#include "base/settingskeys.h"
#include "ui/proxyauthentication.h"
#include "ui/tunnelsettings.h"

#include "tests/support/testmain.h"

#include <QApplication>
#include <QAuthenticator>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkProxy>
#include <QPushButton>
#include <QSettings>

namespace {

QString storedValue(const char *key)
{
    QSettings settings;
    return settings.contains(key) ? settings.value(key).toString() : QStringLiteral("absent");
}

QStringList storedProxyCredentials()
{
    return { storedValue(SettingsKeys::ProxyAutoAuth), storedValue(SettingsKeys::ProxyUsername),
        storedValue(SettingsKeys::ProxyPassword) };
}

QStringList runningProxyCredentials()
{
    return { GlobalValues::value(GlobalValues::ProxyUsername).toString(),
        GlobalValues::value(GlobalValues::ProxyPassword).toString() };
}

QStringList shownProxyCredentials(const ProxyAuthentication &dialog)
{
    return { dialog.findChild<QLineEdit *>("usernameLineEdit")->text(),
        dialog.findChild<QLineEdit *>("passwordLineEdit")->text() };
}

QCheckBox *autoAuthBox(const ProxyAuthentication &dialog)
{
    return dialog.findChild<QCheckBox *>("autoAuthCheckBox");
}

// "on on enabled": the streaming box, the file-upload box and the frame around the latter.
QString tunnelBoxes(const TunnelSettings &dialog)
{
    const auto state = [](bool on) { return on ? QStringLiteral("on") : QStringLiteral("off"); };
    return state(dialog.findChild<QCheckBox *>("httpStreamingCheckBox")->isChecked()) + ' '
        + state(dialog.findChild<QCheckBox *>("httpFileUploadCheckBox")->isChecked()) + ' '
        + (dialog.findChild<QWidget *>("frame")->isEnabled() ? "enabled" : "disabled");
}

QString storedTunnelSettings()
{
    return storedValue(SettingsKeys::TunnelHttpStreaming) + ' ' + storedValue(SettingsKeys::TunnelHttpFileUpload);
}

void store(const char *key, const QVariant &value)
{
    if (value.isValid())
        QSettings().setValue(key, value);
}

} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void proxyAuthentication_data();
    void proxyAuthentication();
    void tunnelSettings_data();
    void tunnelSettings();
};

void TestDialogs::cleanup()
{
    QSettings().clear();
    GlobalValues::clear();
}

void TestDialogs::proxyAuthentication_data()
{
    QTest::addColumn<bool>("autoAuth");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QStringList>("running");
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<QStringList>("answered");

    const QStringList typed { "bob", " two words " };
    QTest::newRow("ok, automatic") << true << true << typed << QStringList { "true", "bob", " two words " } << typed;
    QTest::newRow("ok, this run only") << false << true << typed << QStringList { "false", "absent", "absent" }
                                       << typed;
    QTest::newRow("cancel") << false << false << QStringList { "anna", "anna pw" }
                            << QStringList { "true", "anna", "anna pw" } << QStringList { "", "" };
}

// A credential request answered with OK or Cancel; the next request of the run starts from
// what the first one left.
void TestDialogs::proxyAuthentication()
{
    QFETCH(bool, autoAuth);
    QFETCH(bool, ok);
    QFETCH(QStringList, running);
    QFETCH(QStringList, stored);
    QFETCH(QStringList, answered);

    GlobalValues::setValue(GlobalValues::ProxyUsername, "anna");
    GlobalValues::setValue(GlobalValues::ProxyPassword, "anna pw");
    store(SettingsKeys::ProxyAutoAuth, true);
    store(SettingsKeys::ProxyUsername, "anna");
    store(SettingsKeys::ProxyPassword, "anna pw");
    QAuthenticator authenticator;
    authenticator.setRealm("<b>Corp</b>");

    {
        ProxyAuthentication dialog;
        dialog.setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, "proxy.lan", 3128));
        dialog.setAuthenticator(&authenticator);
        QCOMPARE(dialog.findChild<QLabel *>("addressLabel")->text(), QStringLiteral("proxy.lan:3128"));
        QLabel *realm = dialog.findChild<QLabel *>("realmLabel");
        QCOMPARE(realm->text(), QStringLiteral("<b>Corp</b>"));
        QCOMPARE(realm->textFormat(), Qt::PlainText);
        QCOMPARE(shownProxyCredentials(dialog), QStringList({ "anna", "anna pw" }));
        QVERIFY(autoAuthBox(dialog)->isChecked());

        dialog.findChild<QLineEdit *>("usernameLineEdit")->setText("bob");
        dialog.findChild<QLineEdit *>("passwordLineEdit")->setText(" two words ");
        autoAuthBox(dialog)->setChecked(autoAuth);
        ok ? dialog.accept() : dialog.reject();
        QCOMPARE(dialog.result(), int(ok ? QDialog::Accepted : QDialog::Rejected));
    }

    QCOMPARE(runningProxyCredentials(), running);
    QCOMPARE(storedProxyCredentials(), stored);
    QCOMPARE(QStringList({ authenticator.user(), authenticator.password() }), answered);

    ProxyAuthentication next;
    QCOMPARE(shownProxyCredentials(next), running);
    QCOMPARE(autoAuthBox(next)->isChecked(), stored.first() == "true");
}

void TestDialogs::tunnelSettings_data()
{
    QTest::addColumn<QVariant>("streaming");
    QTest::addColumn<QVariant>("fileUpload");
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QString>("loaded");
    QTest::addColumn<QString>("click");
    QTest::addColumn<QString>("edited");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("storedAfter");

    QTest::newRow("loaded, https") << QVariant(false) << QVariant(true) << 2 << "off on disabled"
                                   << ""
                                   << "off on disabled" << false << "false true";
    QTest::newRow("streaming off keeps upload") << QVariant(true) << QVariant(true) << 4 << "on on enabled"
                                                << "httpStreamingCheckBox"
                                                << "off on disabled" << true << "false true";
    QTest::newRow("defaults, cancel") << QVariant(false) << QVariant(false) << 4 << "off off disabled"
                                      << "defaultPushButton"
                                      << "on on enabled" << false << "false false";
    QTest::newRow("defaults, ok") << QVariant(false) << QVariant() << 1 << "off on disabled"
                                  << "defaultPushButton"
                                  << "on on enabled" << true << "true true";
}

// The HTTP tunnel's settings opened from the store, changed by one click, then OK or Cancel.
void TestDialogs::tunnelSettings()
{
    QFETCH(QVariant, streaming);
    QFETCH(QVariant, fileUpload);
    QFETCH(int, protocol);
    QFETCH(QString, loaded);
    QFETCH(QString, click);
    QFETCH(QString, edited);
    QFETCH(bool, ok);
    QFETCH(QString, storedAfter);

    store(SettingsKeys::TunnelHttpStreaming, streaming);
    store(SettingsKeys::TunnelHttpFileUpload, fileUpload);
    const QString storedBefore = storedTunnelSettings();

    TunnelSettings dialog;
    dialog.setProtocol(protocol);
    dialog.open();
    QCOMPARE(tunnelBoxes(dialog), loaded);
    QCOMPARE(dialog.findChild<QGroupBox *>("httpGroupBox")->isVisible(), protocol == 4);

    if (!click.isEmpty())
        dialog.findChild<QAbstractButton *>(click)->click();
    QCOMPARE(tunnelBoxes(dialog), edited);
    QCOMPARE(storedTunnelSettings(), storedBefore);
    ok ? dialog.accept() : dialog.reject();
    QCOMPARE(storedTunnelSettings(), storedAfter);
}

NIMBORA_TEST_MAIN(TestDialogs, QApplication)

#include "tst_dialogs.moc"
