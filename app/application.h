#ifndef NIMBORA_APP_APPLICATION_H
#define NIMBORA_APP_APPLICATION_H

#include "app/singleapplication.h"

class MainWindow;

// The application object: one instance per user, and a pointer to the current main window.
class Application : public SingleApplication
{
    Q_OBJECT

public:
    static constexpr int InstanceTimeout = 1000;

    Application(int &argc, char *argv[]);

    MainWindow *mainWindow() const;
    void setMainWindow(MainWindow *mainWindow);
};

#endif
