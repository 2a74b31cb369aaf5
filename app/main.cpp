#include "app/application.h"
#include "app/launcher.h"
#include "app/translations.h"
#include "app/windowscreenshots.h"
#include "base/terminationwatcher.h"
#include "buildconfig.h"
#include "connection/connectionlocks.h"
#include "core/networkproxystream.h"
#include "privileged/statedirectory.h"
#include "ui/mainwindow.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QLocale>
#include <QMessageBox>
#include <QSettings>

namespace {

void setApplicationIdentity()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Ostrelle"));
    QCoreApplication::setOrganizationDomain(QStringLiteral(NIMBORA_ORGANIZATION_DOMAIN));
    QCoreApplication::setApplicationName(QStringLiteral("Nimbora"));
    QCoreApplication::setApplicationVersion(QStringLiteral(NIMBORA_VERSION));
}

// Held until the program ends: another program undoing "leftovers" meanwhile would tear down
// this one's connection, and this one would tear down another's. Refused, the program touches
// nothing and says so; offscreen (automated runs) nobody could answer a box, the line says it.
bool takeConnectionLock(ConnectionLocks *lock)
{
    const ConnectionLock::Result result = lock->take();
    if (result == ConnectionLock::Taken)
        return true;
    const bool held = result == ConnectionLock::Held;
    const QString line = held ? QStringLiteral("Another Nimbora program holds the connection: this one ends")
                              : QStringLiteral("The connection lock cannot be taken: ") + lock->errorString();
    qWarning("%s", qPrintable(line));
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        return false;
    const QString text = held
        ? QCoreApplication::translate("Application",
            "Un autre programme Nimbora gère déjà une connexion sur cet ordinateur. Ce programme va se fermer.")
        : QCoreApplication::translate("Application",
            "Nimbora ne peut pas s'assurer d'être le seul programme à gérer la connexion (%1). Ce programme va se "
            "fermer.")
              .arg(lock->errorString());
    QMessageBox::critical(nullptr, QStringLiteral("Nimbora"), text);
    return false;
}

// Run as root the program changes the machine itself; "--state-dir FOLDER" keeps its journal
// elsewhere than /var/lib/nimbora (tests). Root's own command line: never the environment.
void chooseStateFolder(const QStringList &arguments)
{
    const int option = arguments.indexOf(QStringLiteral("--state-dir"));
    if (option > 0 && option + 1 < arguments.size())
        StateDirectory::setPath(arguments.at(option + 1));
}

} // namespace

int main(int argc, char *argv[])
{
    setApplicationIdentity();
    Application application(argc, argv); // ends this process when another instance runs
    chooseStateFolder(QCoreApplication::arguments());

    registerNetworkProxyMetaType();
    if (QFontDatabase::addApplicationFont(QStringLiteral(":/resources/DejaVuSans.ttf")) < 0)
        qWarning("Cannot register the DejaVu Sans font");

    TerminationWatcher terminationWatcher;
    // Asked to end, the program disconnects first: the machine is left as it was found.
    QObject::connect(&terminationWatcher, &TerminationWatcher::terminationRequested, &application, [&application] {
        if (MainWindow *mainWindow = application.mainWindow())
            mainWindow->shutDown();
        else
            QCoreApplication::quit();
    });

    const QByteArray screenshotDirectory = qgetenv("NIMBORA_SCREENSHOT_DIR");
    if (!screenshotDirectory.isEmpty()) {
        auto *screenshots = new WindowScreenshots(QString::fromLocal8Bit(screenshotDirectory), &application);
        application.installEventFilter(screenshots);
        QObject::connect(
            &terminationWatcher, &TerminationWatcher::picturesRequested, screenshots, &WindowScreenshots::takePictures);
    }

    auto *settings = new QSettings;
    Translations::install(Translations::language(QLocale::system().name()));

    ConnectionLocks connectionLocks;
    if (!takeConnectionLock(&connectionLocks)) {
        Translations::remove();
        delete settings;
        return 1;
    }
    // Before any check: what a run killed before its teardown left on the machine.
    const QStringList leftovers = connectionLocks.undoLeftovers();
    for (const QString &line : leftovers)
        qInfo("%s", qPrintable(line));

    auto *launcher = new Launcher;
    launcher->show();
    const int exitCode = application.exec();

    delete launcher;
    Translations::remove();
    delete settings;
    return exitCode;
}
