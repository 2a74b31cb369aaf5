#ifndef NIMBORA_PRIVILEGED_KILLSWITCH_H
#define NIMBORA_PRIVILEGED_KILLSWITCH_H

#include "privileged/killswitchrules.h"

#include <QString>
#include <QStringList>

// The firewall of the kill switch: one table (Linux: nftables through libnftables; Windows:
// Windows Filtering Platform filters in a sublayer of our own) written from the rules in one
// step, and, on Linux, the unreachable IPv6 routes ::/1 and 8000::/1. What is in place is
// recorded in the state folder first, with the machine's boot, so that a later process knows
// it and lifts it, and forgets it after a restart of the machine (the kernel's rules are gone).
// Nothing else of the machine's firewall is touched.
class KillSwitch
{
public:
    explicit KillSwitch(const QString &recordPath);

    // Replaces what is in place, or puts it in place; false with the reason when it failed, and
    // then the earlier block, if any, still stands.
    bool apply(const KillSwitchRules &rules, QString *errorString);
    // Removes the table and the routes; true when nothing of the block is left.
    bool lift(QString *errorString);
    // A record of this boot.
    bool isInPlace() const;
    // The rules last put in place (empty rules when none).
    KillSwitchRules rules() const;
    // The table and routes as the record says, written again where they went missing (a link
    // that came back, another program's flush); false when they could not be.
    bool repair(QString *errorString);
    // A record of an earlier boot goes; the lines say what was done.
    static QStringList forgetEarlierBoot(const QString &recordPath);

private:
    enum class RecordState { Absent, Read, Refused };

    // The record's bytes, never through a link; Refused with the reason for a link, another
    // owner's file or one too large to be ours.
    static RecordState readRecord(const QString &path, QByteArray *contents, QString *errorString);
    // Beside the record, synced, then renamed over it: a record is whole or absent.
    static bool writeRecord(const QString &path, const QByteArray &contents, QString *errorString);
    static void removeRecord(const QString &path);
    static QString bootId();
    static bool isThisBoot(const QString &recordedBoot);
    // The record's rules when it is one of this boot.
    static bool readRules(const QString &path, KillSwitchRules *rules, QString *boot, QString *errorString);

    // The platform's firewall. *changed: whether the new rules took the place of the earlier ones.
    static bool putInPlace(const KillSwitchRules &rules, bool *changed, QString *errorString);
    static bool takeAway(QString *errorString);
    static bool putBackWhatIsMissing(const KillSwitchRules &rules, QString *errorString);

    QString m_recordPath;
};

#endif
