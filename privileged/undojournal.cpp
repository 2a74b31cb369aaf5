#include "privileged/undojournal.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

const QByteArray Header = QByteArrayLiteral("Nimbora undo journal 1");
const QByteArray Trailer = QByteArrayLiteral("end ");
// A journal is a few dozen lines; anything much larger is not one of ours.
constexpr qint64 MaximumSize = 1024 * 1024;

bool isPrintable(const QByteArray &line)
{
    for (const char c : line) {
        if (uchar(c) < 0x20 || uchar(c) == 0x7f)
            return false;
    }
    return true;
}

QString keepAside(const QString &path)
{
    QString aside = path + QStringLiteral(".unreadable");
    if (QFile::exists(aside))
        aside += QLatin1Char('-') + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddHHmmss"));
    return QFile::rename(path, aside) ? aside : path;
}

} // namespace

UndoJournal::UndoJournal(const QString &path) : m_path(path) { }

QString UndoJournal::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) + QStringLiteral("/undo-journal");
}

bool UndoJournal::add(const QString &entry)
{
    if (!loadOnce())
        return false;
    m_entries << entry;
    if (write())
        return true;
    m_entries.removeLast();
    return false;
}

void UndoJournal::remove(const QString &entry)
{
    const int index = m_entries.lastIndexOf(entry);
    if (index < 0)
        return;
    m_entries.removeAt(index);
    write();
}

bool UndoJournal::loadOnce()
{
    if (m_loaded)
        return true;
    QStringList left;
    switch (read(m_path, &left)) {
    case Unreadable:
        return false; // tried again at the next add; the next start keeps it aside
    case Read:
        m_entries = left;
        break;
    case Absent:
        break;
    }
    m_loaded = true;
    return true;
}

bool UndoJournal::write()
{
    if (m_entries.isEmpty())
        return QFile::remove(m_path) || !QFile::exists(m_path);
    if (!QDir().mkpath(QFileInfo(m_path).path()))
        return false;
    QByteArray contents = Header + '\n';
    for (const QString &entry : qAsConst(m_entries))
        contents += entry.toUtf8() + '\n';
    contents += Trailer + QByteArray::number(m_entries.size()) + '\n';
    // QSaveFile syncs the new file and renames it over the old one: never a journal half written.
    QSaveFile file(m_path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size() && file.commit();
}

UndoJournal::ReadResult UndoJournal::read(const QString &path, QStringList *entries)
{
    entries->clear();
    QFile file(path);
    if (!file.exists())
        return Absent;
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaximumSize)
        return Unreadable;
    const QByteArray contents = file.readAll();
    if (!contents.endsWith('\n'))
        return Unreadable;
    QList<QByteArray> lines = contents.left(contents.size() - 1).split('\n');
    if (lines.size() < 2 || lines.first() != Header || !lines.last().startsWith(Trailer))
        return Unreadable;
    bool counted = false;
    const int count = lines.last().mid(Trailer.size()).toInt(&counted);
    if (!counted || count != lines.size() - 2)
        return Unreadable;
    for (int i = 1; i < lines.size() - 1; ++i) {
        if (lines.at(i).isEmpty() || !isPrintable(lines.at(i)))
            return Unreadable;
        *entries << QString::fromUtf8(lines.at(i));
    }
    return Read;
}

QStringList UndoJournal::undoLeftovers(const QString &path, const std::function<QString(const QString &)> &undoEntry)
{
    QStringList entries;
    switch (read(path, &entries)) {
    case Absent:
        return {};
    case Unreadable:
        return { QStringLiteral("The undo journal of an earlier run cannot be read; it is kept in ") + keepAside(path) };
    case Read:
        break;
    }
    QStringList lines;
    for (auto entry = entries.crbegin(); entry != entries.crend(); ++entry) {
        const QString line = undoEntry(*entry);
        if (!line.isEmpty())
            lines << QStringLiteral("After an earlier run: ") + line;
    }
    QFile::remove(path);
    return lines;
}
