#ifndef NIMBORA_TESTS_SUPPORT_THREADNAMES_H
#define NIMBORA_TESTS_SUPPORT_THREADNAMES_H

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStringList>

#include <algorithm>

// The threads of this process that carry the name, as Linux shows them: Qt names a thread after its
// class, and Qt and the sanitizers run threads of their own, which come and go as they please.
inline int threadsNamed(const QByteArray &name)
{
    const QDir tasks(QStringLiteral("/proc/self/task"));
    const QStringList ids = tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    return int(std::count_if(ids.cbegin(), ids.cend(), [&tasks, &name](const QString &id) {
        QFile comm(tasks.filePath(id + QStringLiteral("/comm")));
        return comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name;
    }));
}

#endif
