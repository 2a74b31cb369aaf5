#ifndef NIMBORA_PRIVILEGED_STATEDIRECTORY_H
#define NIMBORA_PRIVILEGED_STATEDIRECTORY_H

#include <QString>

// The folder where the program that changes the machine keeps the undo journal, its lock and the
// resolver file's saved copy. Only that program may write there: on Linux /var/lib/nimbora,
// root's and mode 0700; on Windows Nimbora's folder of the machine's program data, writable by
// administrators only. Never a folder the environment names.
class StateDirectory
{
public:
    static QString path();
    // Another folder, given on the command line of the program that changes the machine.
    static void setPath(const QString &path);
    static QString journalPath();
    static QString lockPath();
    // The record of the kill switch's block.
    static QString blockPath();

    // Makes the folder when missing and refuses one that anyone but this program's user could
    // change, or that is a link; false with a reason.
    static bool prepare(QString *errorString);

    // Whether this program changes the machine itself: on Windows, where it runs elevated, and
    // for root on Linux. Otherwise the privileged helper does.
    static bool changesInProcess();

private:
    static QString defaultPath();
};

#endif
