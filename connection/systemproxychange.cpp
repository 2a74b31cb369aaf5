#include "connection/systemproxychange.h"

namespace {

const QString SystemProxy = QStringLiteral("system-proxy");

QString undoEntry(const QString &entry)
{
    const QStringList fields = entry.split(QLatin1Char(' '));
    bool read = false;
    const quint32 flags = fields.size() == 2 && fields.first() == SystemProxy ? fields.at(1).toUInt(&read) : 0;
    if (!read)
        return QStringLiteral("Unknown change left as it is: ") + entry;
    NetworkProxySwitch().restoreFlags(flags);
    return QStringLiteral("System proxy restored");
}

} // namespace

SystemProxyChange::SystemProxyChange(const QString &journalPath, QObject *parent)
    : QObject(parent), m_journal(journalPath) { }

SystemProxyChange::~SystemProxyChange()
{
    restore();
}

void SystemProxyChange::disable()
{
    m_switch.disable([this](quint32 savedFlags) {
        m_entry = SystemProxy + QLatin1Char(' ') + QString::number(savedFlags);
        // Said, and the switch goes on: only a crash would now leave the proxy off.
        if (!m_journal.add(m_entry))
            emit log(QStringLiteral("Undo journal cannot be written: ") + m_journal.path());
        return true;
    });
}

void SystemProxyChange::restore()
{
    m_switch.restore();
    if (!m_entry.isEmpty())
        m_journal.remove(m_entry);
    m_entry.clear();
}

QStringList SystemProxyChange::undoLeftovers(const QString &journalPath)
{
    return UndoJournal::undoLeftovers(journalPath, undoEntry);
}
