#include "ui/addportmapping.h"

#include "ui_addportmapping.h"

AddPortMapping::AddPortMapping(QWidget *parent) : QDialog(parent), m_ui(new Ui::AddPortMapping)
{
    m_ui->setupUi(this);
}

AddPortMapping::~AddPortMapping()
{
    delete m_ui;
}

QHash<QString, QVariant> AddPortMapping::portMapping() const
{
    const int externalPort = m_ui->externalPortSpinBox->value();
    const QString protocol = m_ui->protocolComboBox->currentText();
    QString description = m_ui->descriptionLineEdit->text();
    if (description.isEmpty())
        description = QString::number(externalPort) + QLatin1Char(' ') + protocol;

    QHash<QString, QVariant> entry;
    entry.insert(QStringLiteral("externalPort"), externalPort);
    entry.insert(QStringLiteral("protocol"), protocol);
    entry.insert(QStringLiteral("internalPort"), m_ui->internalPortSpinBox->value());
    entry.insert(QStringLiteral("description"), description);
    return entry;
}

// Most services listen on the port they are reached on, so the local port follows the remote one.
void AddPortMapping::on_externalPortSpinBox_valueChanged(int value)
{
    m_ui->internalPortSpinBox->setValue(value);
}
