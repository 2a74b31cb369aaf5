#ifndef NIMBORA_PRIVILEGED_UNDOJOURNAL_H
#define NIMBORA_PRIVILEGED_UNDOJOURNAL_H

#include <QString>
#include <QStringList>

#include <functional>

// What a connection has changed on the machine, one entry a line, kept on disk so that a run
// that never reached its teardown (a crash, a kill, a power cut) can be undone at the next
// start. Every change is written, and the file synced, before the change is made. The file
// holds a header and a trailer with the count of entries: a file cut anywhere is refused
// whole, never half applied. A journal starts from what the file already holds (what an earlier
// teardown of this session could not undo) and never writes over a file it cannot read.
class UndoJournal
{
public:
    enum ReadResult { Absent, Read, Unreadable };

    explicit UndoJournal(const QString &path = defaultPath());

    // The user's state folder: "undo-journal" in AppLocalDataLocation.
    static QString defaultPath();
    QString path() const { return m_path; }

    // False when the journal cannot be put on disk, or the file there cannot be read.
    bool add(const QString &entry);
    // Takes back the last entry equal to this one; the file goes when it is empty.
    void remove(const QString &entry);
    QStringList entries() const { return m_entries; }

    static ReadResult read(const QString &path, QStringList *entries);
    // Undoes what a run left, last entry first, and removes the journal; each entry's line for
    // the log comes from undoEntry. A journal that cannot be read is kept aside under another
    // name, and said so once.
    static QStringList undoLeftovers(const QString &path, const std::function<QString(const QString &)> &undoEntry);

private:
    bool loadOnce();
    bool write();

    QString m_path;
    QStringList m_entries;
    bool m_loaded = false;
};

#endif
