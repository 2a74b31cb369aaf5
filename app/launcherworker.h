#ifndef NIMBORA_APP_LAUNCHERWORKER_H
#define NIMBORA_APP_LAUNCHERWORKER_H

#include <QObject>
#include <QString>

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

    // Whether a dotted version is newer than the program's: up to four numeric parts, a
    // missing or non-numeric part counting as 0.
    static bool isNewerVersion(const QString &version, const QString &programVersion);
    // Moves the settings of earlier versions to their present keys.
    static void migrateSettings();

    // The VPN driver and the OpenVPN program of this platform.
    static QString driverName();
    static QString driverVersion();
    static QString openvpnPath();

public slots:
    // Runs every check from the beginning; may run again after a failure.
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
