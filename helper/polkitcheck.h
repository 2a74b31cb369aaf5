#ifndef NIMBORA_HELPER_POLKITCHECK_H
#define NIMBORA_HELPER_POLKITCHECK_H

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <functional>

// Asks polkit whether the program behind a bus name may do an action. The subject is always the
// caller's bus name, never this process: polkit then judges the caller's user and session.
class PolkitCheck : public QObject
{
    Q_OBJECT

public:
    // Answer time when the user may be asked for a password, and when not.
    static constexpr int InteractiveTimeout = 5 * 60 * 1000;
    static constexpr int Timeout = 25 * 1000;

    explicit PolkitCheck(const QDBusConnection &bus, QObject *parent = nullptr);

    // done(authorized, reason) is called once, later, on this object's thread.
    void check(const QString &busName, const QString &actionId, bool interactive,
        const std::function<void(bool authorized, const QString &reason)> &done);

private:
    QDBusConnection m_bus;
};

#endif
