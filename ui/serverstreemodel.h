#ifndef NIMBORA_UI_SERVERSTREEMODEL_H
#define NIMBORA_UI_SERVERSTREEMODEL_H

#include <QAbstractItemModel>
#include <QHash>
#include <QList>
#include <QString>
#include <QVariant>

class ServersTreeItem;

// The "Serveurs" tab's two-column tree (label, latency): the fastest entry, the servers with their
// countries and tunnels, then the private tunnels. Every inner node and the fastest entry keep in
// "fastest" the best tunnel for the chosen protocol, the one a click on connect goes to.
class ServersTreeModel : public QAbstractItemModel
{
    Q_OBJECT

public:
    explicit ServersTreeModel(QObject *parent = nullptr);
    ~ServersTreeModel() override;

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &index) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // Replaces the whole tree (a model reset): every node pointer taken before is gone.
    void rebuild(const QList<QVariant> &servers);
    // Forgets the best tunnels below node (the root when null) and elects them again among the
    // measured tunnels offering protocol (bits of a tunnel's "protocols", as ConnectionWork::Protocol).
    void updateFastest(int protocol, ServersTreeItem *node = nullptr);
    // A latency report of the servers refresh work for the tunnel "server/country/tunnel".
    void setLatency(const QString &name, int latency, int protocol);

    // The node behind an index; null for an invalid index.
    ServersTreeItem *item(const QModelIndex &index) const;
    // The index of a node of this tree, in the given column; invalid for the root or null.
    QModelIndex indexOf(const ServersTreeItem *node, int column = 0) const;
    // The first node of that name in display order, as kept in "mainWindow/servers/prefered".
    ServersTreeItem *findByName(const QString &name) const;
    ServersTreeItem *fastestItem() const;

public slots:
    void retranslate();

private:
    ServersTreeItem *nodeOrRoot(const QModelIndex &index) const;
    QString countryName(const QVariant &code) const;
    void retranslateCountries(ServersTreeItem *node);
    void offerToAncestors(ServersTreeItem *tunnel);
    void offer(ServersTreeItem *tunnel, ServersTreeItem *node);
    void setLatencyText(ServersTreeItem *node, const QString &text);

    ServersTreeItem *m_root;
    QHash<QString, QString> m_countries;
};

#endif
