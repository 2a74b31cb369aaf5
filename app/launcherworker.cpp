#include "launcherworker.h"

#include "settingskeys.h"

#include <QCoreApplication>
#include <QSettings>

LauncherWorker::LauncherWorker(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<LauncherWorker::State>("LauncherWorker::State");
}

LauncherWorker::State LauncherWorker::state() const
{
    return m_state;
}

int LauncherWorker::error() const
{
    return m_error;
}

quint8 LauncherWorker::progress() const
{
    return m_progress;
}

void LauncherWorker::setState(State state)
{
    if (m_state.exchange(state) != state)
        emit stateChanged(state);
}

void LauncherWorker::setError(int error)
{
    m_error = error;
}

void LauncherWorker::setProgress(quint8 progress)
{
    m_progress = progress;
    emit progressChanged(progress);
}

void LauncherWorker::start()
{
    setState(Running);
    setError(NoError);
    setProgress(0);

    QSettings settings;
    settings.setValue(SettingsKeys::ApplicationVersion, QCoreApplication::applicationVersion());
}
