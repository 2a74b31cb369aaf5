#include "ui/serverstreeitem.h"

ServersTreeItem::ServersTreeItem(int type, ServersTreeItem *parent) : m_type(type), m_parent(parent) { }

ServersTreeItem::~ServersTreeItem()
{
    qDeleteAll(m_children);
}

int ServersTreeItem::row() const
{
    if (!m_parent)
        return 0;
    return m_parent->m_children.indexOf(const_cast<ServersTreeItem *>(this));
}

ServersTreeItem *ServersTreeItem::child(int row) const
{
    return m_children.value(row, nullptr);
}

void ServersTreeItem::appendChild(ServersTreeItem *child)
{
    child->m_parent = this;
    m_children.append(child);
}

void ServersTreeItem::clearChildren()
{
    qDeleteAll(m_children);
    m_children.clear();
}

QVariant ServersTreeItem::data(int column) const
{
    return m_columns.value(column);
}

void ServersTreeItem::setData(int column, const QVariant &value)
{
    if (column >= 0 && column < m_columns.size())
        m_columns[column] = value;
}

ServersTreeItem *ServersTreeItem::findByName(const QString &name) const
{
    for (ServersTreeItem *child : m_children) {
        if (child->m_name == name)
            return child;
        if (ServersTreeItem *found = child->findByName(name))
            return found;
    }
    return nullptr;
}
