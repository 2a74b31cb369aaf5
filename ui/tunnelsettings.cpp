#include "ui/tunnelsettings.h"

#include "base/settingskeys.h"
#include "ui_tunnelsettings.h"

#include <QEvent>

namespace {

constexpr int HttpProtocol = 4;

} // namespace

TunnelSettings::TunnelSettings(QWidget *parent) : QDialog(parent), m_ui(new Ui::TunnelSettings)
{
    m_ui->setupUi(this);
}

TunnelSettings::~TunnelSettings()
{
    delete m_ui;
}

void TunnelSettings::setProtocol(int protocol)
{
    m_ui->httpGroupBox->hide();
    if (protocol == HttpProtocol)
        m_ui->httpGroupBox->show();
}

int TunnelSettings::exec()
{
    load();
    return QDialog::exec();
}

void TunnelSettings::open()
{
    load();
    QDialog::open();
}

void TunnelSettings::accept()
{
    save();
    QDialog::accept();
}

// Only the boxes go back to the defaults: Cancel must leave the user's stored choice alone, and
// OK stores the defaults like any other choice.
void TunnelSettings::on_defaultPushButton_clicked()
{
    m_ui->httpStreamingCheckBox->setChecked(SettingsKeys::TunnelHttpStreamingDefault);
    m_ui->httpFileUploadCheckBox->setChecked(SettingsKeys::TunnelHttpFileUploadDefault);
}

void TunnelSettings::load()
{
    m_ui->httpStreamingCheckBox->setChecked(
        m_settings.value(SettingsKeys::TunnelHttpStreaming, SettingsKeys::TunnelHttpStreamingDefault).toBool());
    m_ui->httpFileUploadCheckBox->setChecked(
        m_settings.value(SettingsKeys::TunnelHttpFileUpload, SettingsKeys::TunnelHttpFileUploadDefault).toBool());
}

void TunnelSettings::save()
{
    m_settings.setValue(SettingsKeys::TunnelHttpStreaming, m_ui->httpStreamingCheckBox->isChecked());
    m_settings.setValue(SettingsKeys::TunnelHttpFileUpload, m_ui->httpFileUploadCheckBox->isChecked());
}

void TunnelSettings::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange)
        m_ui->retranslateUi(this);
    QDialog::changeEvent(event);
}
