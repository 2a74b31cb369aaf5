#include "ui/portmappingtablemodel.h"

#include <QIcon>

namespace {

const QString StateKey = QStringLiteral("state");

int indexOfSameMapping(const QList<QHash<QString, QVariant>> &list, const QHash<QString, QVariant> &entry)
{
    for (int i = 0; i < list.size(); ++i) {
        if (PortMappingTableModel::isSameMapping(list.at(i), entry))
            return i;
    }
    return -1;
}

QString joined(const QHash<QString, QVariant> &entry, const char *addressKey, const char *portKey)
{
    return entry.value(QLatin1String(addressKey)).toString() + QLatin1Char(':')
        + entry.value(QLatin1String(portKey)).toString();
}

} // namespace

PortMappingTableModel::PortMappingTableModel(QObject *parent) : QAbstractTableModel(parent) { }

bool PortMappingTableModel::isSameMapping(const QHash<QString, QVariant> &first, const QHash<QString, QVariant> &second)
{
    const QString portKey = QStringLiteral("externalPort");
    const QString protocolKey = QStringLiteral("protocol");
    return first.value(portKey).toUInt() == second.value(portKey).toUInt()
        && first.value(protocolKey).toString() == second.value(protocolKey).toString();
}

int PortMappingTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_entries.size();
}

int PortMappingTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 4;
}

QVariant PortMappingTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_entries.size())
        return QVariant();
    const QHash<QString, QVariant> &entry = m_entries.at(index.row());

    if (role == Qt::DisplayRole || role == Qt::EditRole) {
        switch (index.column()) {
        case 0:
            return entry.value(QStringLiteral("description")).toString();
        case 1:
            return joined(entry, "externalIpAddress", "externalPort");
        case 2:
            return entry.value(QStringLiteral("protocol")).toString();
        case 3:
            return joined(entry, "internalClient", "internalPort");
        default:
            return QVariant();
        }
    }

    if (role == Qt::DecorationRole && index.column() == 0) {
        switch (entry.value(StateKey).toInt()) {
        case Offline:
            return QIcon(QStringLiteral(":/resources/servers/offline.png"));
        case Online:
            return QIcon(QStringLiteral(":/resources/servers/online.png"));
        case Pending:
            return QIcon(QStringLiteral(":/resources/servers/maintenance.png"));
        default:
            return QVariant();
        }
    }
    return QVariant();
}

QVariant PortMappingTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 4)
        return QString();
    return QVariant();
}

QList<QHash<QString, QVariant>> PortMappingTableModel::entries() const
{
    return m_entries;
}

QList<QHash<QString, QVariant>> PortMappingTableModel::savedEntries() const
{
    return m_savedEntries;
}

bool PortMappingTableModel::addEntry(QHash<QString, QVariant> entry)
{
    if (indexOfSameMapping(m_entries, entry) >= 0)
        return false;

    beginResetModel();
    entry.insert(StateKey, Pending);
    m_savedEntries.append(entry);
    m_entries.append(entry);
    endResetModel();
    return true;
}

bool PortMappingTableModel::removeEntry(const QHash<QString, QVariant> &entry)
{
    const int row = indexOfSameMapping(m_entries, entry);
    if (row < 0)
        return false;

    beginResetModel();
    const int savedRow = indexOfSameMapping(m_savedEntries, entry);
    if (savedRow >= 0)
        m_savedEntries.removeAt(savedRow);
    m_entries.removeAt(row);
    endResetModel();
    return true;
}

void PortMappingTableModel::setGatewayEntries(const QList<QHash<QString, QVariant>> &gatewayEntries)
{
    beginResetModel();
    m_entries.clear();
    for (QHash<QString, QVariant> entry : gatewayEntries) {
        entry.insert(StateKey, Online);
        m_entries.append(entry);
    }
    // A saved port may have been stored as text and the gateway's is a number: the same rule as
    // everywhere else, not the type-sensitive equality of QVariant.
    for (QHash<QString, QVariant> entry : qAsConst(m_savedEntries)) {
        if (indexOfSameMapping(gatewayEntries, entry) >= 0)
            continue;
        entry.insert(StateKey, Offline);
        m_entries.append(entry);
    }
    endResetModel();
}

void PortMappingTableModel::setAllPending()
{
    beginResetModel();
    m_entries = m_savedEntries;
    for (QHash<QString, QVariant> &entry : m_entries)
        entry.insert(StateKey, Pending);
    endResetModel();
}

void PortMappingTableModel::setPendingOffline()
{
    beginResetModel();
    for (QHash<QString, QVariant> &entry : m_entries) {
        if (entry.value(StateKey).toInt() == Pending)
            entry.insert(StateKey, Offline);
    }
    endResetModel();
}
