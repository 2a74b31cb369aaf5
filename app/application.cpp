#include "app/application.h"

Application::Application(int &argc, char *argv[])
    : SingleApplication(argc, argv, false, User | ExcludeAppVersion | ExcludeAppPath, InstanceTimeout)
{
}

MainWindow *Application::mainWindow() const
{
    return m_mainWindow;
}

void Application::setMainWindow(MainWindow *mainWindow)
{
    m_mainWindow = mainWindow;
}
