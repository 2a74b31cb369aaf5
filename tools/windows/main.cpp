// nimbora-windows FOLDER: a picture of each dialog of the program, as the user first sees it,
// saved in FOLDER and listed in FOLDER/windows.txt ("<picture> <title>") after what is there.
// Nothing is asked of the network; the settings are read from the store in use.

#include "base/globalvalues.h"
#include "buildconfig.h"
#include "ui/addportmapping.h"
#include "ui/authentication.h"
#include "ui/exceptions.h"
#include "ui/networkcheck.h"
#include "ui/options.h"
#include "ui/proxyauthentication.h"
#include "ui/tunnelsettings.h"

#include <QApplication>
#include <QAuthenticator>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QNetworkProxy>

#include <cstdio>

namespace {

// Opened as a dialog opens (the options and tunnel settings load the store then), pictured, closed.
bool save(QDialog *window, const QString &folder, int number)
{
    window->open();
    QCoreApplication::processEvents();
    const QString name = window->objectName().isEmpty() ? QString::fromLatin1(window->metaObject()->className())
                                                        : window->objectName();
    const QString fileName = QStringLiteral("%1-%2.png").arg(number, 2, 10, QLatin1Char('0')).arg(name);
    const bool saved = window->grab().save(QDir(folder).filePath(fileName));
    QFile index(QDir(folder).filePath(QStringLiteral("windows.txt")));
    if (saved && index.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        index.write((fileName + QLatin1Char(' ') + window->windowTitle() + QLatin1Char('\n')).toUtf8());
    window->done(QDialog::Rejected);
    return saved;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setOrganizationName(QStringLiteral("Ostrelle"));
    QCoreApplication::setApplicationName(QStringLiteral("Nimbora"));
    QCoreApplication::setApplicationVersion(QStringLiteral(NIMBORA_VERSION));
    QApplication application(argc, argv);
    if (argc != 2) {
        fprintf(stderr, "usage: nimbora-windows FOLDER\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    // Numbered after the pictures already in the folder.
    int number = QDir(folder).entryList({ QStringLiteral("*.png") }).size();

    QAuthenticator authenticator;
    authenticator.setRealm(QStringLiteral("Proxy de l'entreprise"));
    ProxyAuthentication proxyAuthentication;
    proxyAuthentication.setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("198.18.2.2"), 3128));
    proxyAuthentication.setAuthenticator(&authenticator);
    TunnelSettings tunnelSettings;
    tunnelSettings.setProtocol(4);
    Authentication authentication;
    Exceptions exceptions;
    NetworkCheck networkCheck;
    AddPortMapping addPortMapping;

    bool saved = save(&authentication, folder, ++number);
    for (int page = Options::GeneralPage; page <= Options::NetworkPage; ++page) {
        Options options;
        options.setObjectName(QStringLiteral("Options-%1").arg(page));
        options.setPage(page);
        saved = save(&options, folder, ++number) && saved;
    }
    for (QDialog *window : std::initializer_list<QDialog *> {
             &proxyAuthentication, &tunnelSettings, &exceptions, &networkCheck, &addPortMapping })
        saved = save(window, folder, ++number) && saved;
    return saved ? 0 : 1;
}
