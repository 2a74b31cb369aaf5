#ifndef NIMBORA_UI_SERVERSTREEITEM_H
#define NIMBORA_UI_SERVERSTREEITEM_H

#include <QHash>
#include <QIcon>
#include <QList>
#include <QString>
#include <QVariant>

// One node of the servers tree: the fastest entry, a server, one of its countries or a tunnel.
// It owns its children and keeps the server-list record it stands for.
class ServersTreeItem
{
public:
    enum Type { Root = 0, Fastest = 1, Server = 2, Country = 3, Tunnel = 4 };

    explicit ServersTreeItem(int type, ServersTreeItem *parent = nullptr);
    ~ServersTreeItem();

    int type() const { return m_type; }
    ServersTreeItem *parent() const { return m_parent; }

    // The key of latency reports and of the re-selection of the preferred server.
    QString name() const { return m_name; }
    void setName(const QString &name) { m_name = name; }

    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled) { m_enabled = enabled; }

    QHash<QString, QVariant> record() const { return m_record; }
    void setRecord(const QHash<QString, QVariant> &record) { m_record = record; }
    QVariant value(const QString &key) const { return m_record.value(key); }
    bool contains(const QString &key) const { return m_record.contains(key); }
    void setValue(const QString &key, const QVariant &value) { m_record.insert(key, value); }
    void remove(const QString &key) { m_record.remove(key); }

    // Index among the parent's children; 0 for the root, -1 when the parent does not hold it.
    int row() const;
    ServersTreeItem *child(int row) const;
    int childCount() const { return m_children.size(); }
    // Takes ownership and becomes the child's parent.
    void appendChild(ServersTreeItem *child);
    void clearChildren();

    int columnCount() const { return m_columns.size(); }
    QVariant data(int column) const;
    void setData(int column, const QVariant &value);
    void setColumns(const QList<QVariant> &columns) { m_columns = columns; }
    QIcon icon(int column) const { return m_icons.value(column); }
    void setIcon(int column, const QIcon &icon) { m_icons.insert(column, icon); }

    // Depth first below this node, each child before its own subtree; null when none matches.
    ServersTreeItem *findByName(const QString &name) const;

private:
    Q_DISABLE_COPY(ServersTreeItem)

    int m_type;
    QString m_name;
    bool m_enabled = true;
    QHash<QString, QVariant> m_record;
    QList<ServersTreeItem *> m_children;
    QList<QVariant> m_columns;
    QHash<int, QIcon> m_icons;
    ServersTreeItem *m_parent;
};

#endif
