#include "app/application.h"
#include "app/launcher.h"
#include "app/translations.h"
#include "app/windowscreenshots.h"
#include "base/terminationwatcher.h"
#include "buildconfig.h"
#include "connection/machinechanges.h"
#include "core/networkproxystream.h"
#include "ui/mainwindow.h"

#include <QFontDatabase>
#include <QLocale>
#include <QSettings>

namespace {

void setApplicationIdentity()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Ostrelle"));
    QCoreApplication::setOrganizationDomain(QStringLiteral(NIMBORA_ORGANIZATION_DOMAIN));
    QCoreApplication::setApplicationName(QStringLiteral("Nimbora"));
    QCoreApplication::setApplicationVersion(QStringLiteral(NIMBORA_VERSION));
}

} // namespace

int main(int argc, char *argv[])
{
    setApplicationIdentity();
    Application application(argc, argv); // ends this process when another instance runs

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

    // Before any check: what a run killed before its teardown left on the machine.
    const QStringList leftovers = MachineChanges::undoLeftovers();
    for (const QString &line : leftovers)
        qInfo("%s", qPrintable(line));

    auto *settings = new QSettings;
    Translations::install(Translations::language(QLocale::system().name()));

    auto *launcher = new Launcher;
    launcher->show();
    const int exitCode = application.exec();

    delete launcher;
    Translations::remove();
    delete settings;
    return exitCode;
}
