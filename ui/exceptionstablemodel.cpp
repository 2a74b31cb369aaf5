#include "ui/exceptionstablemodel.h"

namespace {

constexpr int ColumnCount = 2;

} // namespace

ExceptionsTableModel::ExceptionsTableModel(QObject *parent) : QAbstractTableModel(parent) { }

int ExceptionsTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows.size();
}

int ExceptionsTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

Qt::ItemFlags ExceptionsTableModel::flags(const QModelIndex &index) const
{
    if (!isCell(index))
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled;
}

QVariant ExceptionsTableModel::data(const QModelIndex &index, int role) const
{
    if (!isCell(index) || (role != Qt::DisplayRole && role != Qt::EditRole))
        return QVariant();
    return m_rows.at(index.row()).value(index.column());
}

// A stored redirection may hold fewer elements than the columns: it grows to take the value.
bool ExceptionsTableModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!isCell(index) || (role != Qt::DisplayRole && role != Qt::EditRole))
        return false;
    QStringList &row = m_rows[index.row()];
    while (row.size() <= index.column())
        row.append(QString());
    row[index.column()] = value.toString();
    emit dataChanged(index, index);
    return true;
}

bool ExceptionsTableModel::insertRows(int row, int count, const QModelIndex &parent)
{
    if (parent.isValid() || row < 0 || row > m_rows.size() || count < 1)
        return false;
    beginInsertRows(parent, row, row + count - 1);
    for (int i = 0; i < count; ++i)
        m_rows.insert(row, QStringList { QString(), QString() });
    endInsertRows();
    return true;
}

bool ExceptionsTableModel::removeRows(int row, int count, const QModelIndex &parent)
{
    if (parent.isValid() || row < 0 || count < 1 || row + count > m_rows.size())
        return false;
    beginRemoveRows(parent, row, row + count - 1);
    m_rows.erase(m_rows.begin() + row, m_rows.begin() + row + count);
    endRemoveRows();
    return true;
}

QVariant ExceptionsTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole) {
        if (section == 0)
            return tr("Description");
        if (section == 1)
            return tr("Destination");
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

void ExceptionsTableModel::setExceptions(const QList<QStringList> &exceptions)
{
    beginResetModel();
    m_rows = exceptions;
    endResetModel();
}

QList<QStringList> ExceptionsTableModel::exceptions() const
{
    return m_rows;
}

bool ExceptionsTableModel::isCell(const QModelIndex &index) const
{
    return index.isValid() && index.model() == this && index.row() < m_rows.size() && index.column() < ColumnCount;
}
