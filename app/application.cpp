#include "app/application.h"

#include "ui/mainwindow.h"

namespace {

// The main window registers itself under this property: ui/ cannot reach this class.
const char MainWindowProperty[] = "mainWindow";

} // namespace

Application::Application(int &argc, char *argv[])
    : SingleApplication(argc, argv, false, User | ExcludeAppVersion | ExcludeAppPath, InstanceTimeout)
{ }

MainWindow *Application::mainWindow() const
{
    return qobject_cast<MainWindow *>(property(MainWindowProperty).value<QObject *>());
}

void Application::setMainWindow(MainWindow *mainWindow)
{
    setProperty(MainWindowProperty, QVariant::fromValue<QObject *>(mainWindow));
}
