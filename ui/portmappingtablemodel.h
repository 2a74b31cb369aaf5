#ifndef NIMBORA_UI_PORTMAPPINGTABLEMODEL_H
#define NIMBORA_UI_PORTMAPPINGTABLEMODEL_H

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QVariant>

// The port mappings on display: the gateway's table merged with the mappings the user asked for,
// each row marked failed (0), mapped (1) or waiting (2) in its "state".
class PortMappingTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum State { Offline = 0, Online = 1, Pending = 2 };

    explicit PortMappingTableModel(QObject *parent = nullptr);

    // Same external port (as an unsigned integer, whatever type the value came in) and same protocol.
    static bool isSameMapping(const QHash<QString, QVariant> &first, const QHash<QString, QVariant> &second);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    QList<QHash<QString, QVariant>> entries() const;
    QList<QHash<QString, QVariant>> savedEntries() const;

    bool addEntry(QHash<QString, QVariant> entry);
    bool removeEntry(const QHash<QString, QVariant> &entry);
    void setGatewayEntries(const QList<QHash<QString, QVariant>> &gatewayEntries);
    void setAllPending();
    void setPendingOffline();

private:
    QList<QHash<QString, QVariant>> m_entries;
    QList<QHash<QString, QVariant>> m_savedEntries;
};

#endif
