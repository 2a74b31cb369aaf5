#ifndef NIMBORA_UI_EXCEPTIONSTABLEMODEL_H
#define NIMBORA_UI_EXCEPTIONSTABLEMODEL_H

#include <QAbstractTableModel>
#include <QList>
#include <QStringList>

// The static redirections being edited: one row per redirection, (description, destination).
// The table only shows them; the edit fields of the dialog change them.
class ExceptionsTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit ExceptionsTableModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    bool insertRows(int row, int count, const QModelIndex &parent = QModelIndex()) override;
    bool removeRows(int row, int count, const QModelIndex &parent = QModelIndex()) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    void setExceptions(const QList<QStringList> &exceptions);
    QList<QStringList> exceptions() const;

private:
    bool isCell(const QModelIndex &index) const;

    QList<QStringList> m_rows;
};

#endif
