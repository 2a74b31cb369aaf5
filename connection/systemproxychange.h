#ifndef NIMBORA_CONNECTION_SYSTEMPROXYCHANGE_H
#define NIMBORA_CONNECTION_SYSTEMPROXYCHANGE_H

#include "core/networkproxyswitch.h"
#include "privileged/undojournal.h"

#include <QObject>
#include <QStringList>

// The user's own change for a connection: the system proxy switched off, recorded in the user's
// undo journal before it is made, so that the next start puts it back after a crash.
class SystemProxyChange : public QObject
{
    Q_OBJECT

public:
    explicit SystemProxyChange(const QString &journalPath = UndoJournal::defaultPath(), QObject *parent = nullptr);
    // Puts the system proxy back when it is still switched off.
    ~SystemProxyChange() override;

    void disable();
    void restore();

    // Puts back what a run of this user left switched off; the lines say what was done.
    static QStringList undoLeftovers(const QString &journalPath = UndoJournal::defaultPath());

signals:
    void log(const QString &line);

private:
    UndoJournal m_journal;
    NetworkProxySwitch m_switch;
    QString m_entry;
};

#endif
