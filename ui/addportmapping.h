#ifndef NIMBORA_UI_ADDPORTMAPPING_H
#define NIMBORA_UI_ADDPORTMAPPING_H

#include <QDialog>
#include <QHash>
#include <QVariant>

namespace Ui {
class AddPortMapping;
}

// Asks the user for one port to open on the gateway: remote port, protocol, local port and a
// description.
class AddPortMapping : public QDialog
{
    Q_OBJECT

public:
    explicit AddPortMapping(QWidget *parent = nullptr);
    ~AddPortMapping() override;

    QHash<QString, QVariant> portMapping() const;

private slots:
    void on_externalPortSpinBox_valueChanged(int value);

private:
    Ui::AddPortMapping *m_ui;
};

#endif
