#ifndef NIMBORA_UI_EXCEPTIONS_H
#define NIMBORA_UI_EXCEPTIONS_H

#include <QDataWidgetMapper>
#include <QDialog>
#include <QSettings>

class ExceptionsTableModel;
class QAbstractButton;
class QMessageBox;
class QModelIndex;

namespace Ui {
class Exceptions;
}

// The static redirections: destinations kept out of the VPN (or sent through it when not all
// traffic is). Edited row by row in the fields under the list, stored only on OK.
class Exceptions : public QDialog
{
    Q_OBJECT

public:
    explicit Exceptions(QWidget *parent = nullptr);
    ~Exceptions() override;

public slots:
    void accept() override;

protected:
    void changeEvent(QEvent *event) override;
    // The box it warns with; tests override it.
    virtual QAbstractButton *execMessageBox(QMessageBox *box);

private slots:
    void currentRowChanged(const QModelIndex &current, const QModelIndex &previous);
    void on_destinationLineEdit_textEdited(const QString &text);
    void on_addPushButton_clicked();
    void on_removePushButton_clicked();

private:
    void load();
    bool hasInvalidRedirection() const;
    void save();

    Ui::Exceptions *m_ui;
    ExceptionsTableModel *m_model;
    QDataWidgetMapper m_mapper;
    QSettings m_settings;
};

#endif
