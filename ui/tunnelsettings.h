#ifndef NIMBORA_UI_TUNNELSETTINGS_H
#define NIMBORA_UI_TUNNELSETTINGS_H

#include <QDialog>
#include <QSettings>

namespace Ui {
class TunnelSettings;
}

// The HTTP tunnel's own switches: a streamed download channel, and uploads dressed as a file.
// The values are read when the next tunnel is made, never by a running one.
class TunnelSettings : public QDialog
{
    Q_OBJECT

public:
    explicit TunnelSettings(QWidget *parent = nullptr);
    ~TunnelSettings() override;

    void setProtocol(int protocol);

public slots:
    int exec() override;
    void open() override;
    void accept() override;

private slots:
    void on_defaultPushButton_clicked();

protected:
    void changeEvent(QEvent *event) override;

private:
    void load();
    void save();

    QSettings m_settings;
    Ui::TunnelSettings *m_ui;
};

#endif
