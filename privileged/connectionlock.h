#ifndef NIMBORA_PRIVILEGED_CONNECTIONLOCK_H
#define NIMBORA_PRIVILEGED_CONNECTIONLOCK_H

#include <QString>
#include <QtGlobal>

// Only one program at a time may change the machine for a connection or undo what a run left:
// another one undoing "leftovers" would tear down a live connection. A program takes this lock
// before it touches the undo journal and holds it until it ends; the system drops it when the
// holder dies, however it dies.
class ConnectionLock
{
public:
    enum Result { Taken, Held, Failed };

    // The path is the lock file's on Linux; on Windows the lock is a mutex of the user's session.
    explicit ConnectionLock(const QString &path = defaultPath());
    ~ConnectionLock();

    // Beside the undo journal.
    static QString defaultPath();
    QString path() const { return m_path; }

    // Never waits: Held when another program has it; Failed, with errorString(), when the lock
    // cannot be made (the file is a link, the folder cannot be made).
    Result tryLock();
    void unlock();
    bool isLocked() const { return m_handle != NoHandle; }
    QString errorString() const { return m_errorString; }

private:
    Q_DISABLE_COPY(ConnectionLock)

    static constexpr qintptr NoHandle = -1;

    // Platform part: the file descriptor or the mutex handle, NoHandle when not taken.
    Result take();
    void release();

    QString m_path;
    QString m_errorString;
    qintptr m_handle = NoHandle;
};

#endif
