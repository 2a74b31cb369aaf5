#ifndef LAUNCHERWORKER_H
#define LAUNCHERWORKER_H

#include <QObject>

#include <atomic>

class QAuthenticator;
class QNetworkProxy;

// The start-up checks behind the launcher window. Lives on the launcher's own thread; the
// launcher reads its state and error from the GUI thread, hence the atomics.
class LauncherWorker : public QObject
{
    Q_OBJECT

public:
    enum State { Idle = 0, Running = 1, Finished = 2, Failed = 3 };
    Q_ENUM(State)

    enum Error {
        NoError = 0,
        ServerError = 1,
        MandatoryUpdateError = 2,
        OptionalUpdateError = 3,
        InterfaceInstallError = 4,
        InterfaceNotFoundError = 5
    };
    Q_ENUM(Error)

    explicit LauncherWorker(QObject *parent = nullptr);

    State state() const;
    int error() const;
    quint8 progress() const;

    // Setting the state signals only a change; setting the progress always signals.
    void setState(State state);
    void setError(int error);
    void setProgress(quint8 progress);

public slots:
    void start();

signals:
    void stateChanged(LauncherWorker::State state);
    void progressChanged(quint8 progress);
    void proxyAuthenticationRequired(const QNetworkProxy &proxy, QAuthenticator *authenticator);

private:
    std::atomic<State> m_state { Idle };
    std::atomic<int> m_error { NoError };
    std::atomic<quint8> m_progress { 0 };
};

Q_DECLARE_METATYPE(LauncherWorker::State)

#endif
