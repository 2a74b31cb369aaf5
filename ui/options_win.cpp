#include "ui/options.h"

#include "base/settingskeys.h"
#include "ui_options.h"

#include <QCoreApplication>

void Options::applyPlatformLayout() { }

// An unknown stored method selects no entry; it is kept rather than replaced by an empty one,
// which OpenVPN would refuse.
void Options::savePlatformOptions()
{
    if (m_ui->networkWindowsIpMethodComboBox->currentIndex() >= 0)
        m_settings.setValue(QLatin1String(SettingsKeys::WindowsIpMethod),
            m_ui->networkWindowsIpMethodComboBox->currentData().toString());
}

// Writing the machine's Run key needs administrator rights; a refused write is not reported.
void Options::saveLaunchAtStartup(bool launch)
{
    QSettings run(QLatin1String(SettingsKeys::RunKeyPath), QSettings::NativeFormat);
    if (launch)
        run.setValue(QLatin1String(SettingsKeys::RunValueName),
            QCoreApplication::applicationFilePath().replace(QLatin1Char('/'), QLatin1Char('\\')));
    else
        run.remove(QLatin1String(SettingsKeys::RunValueName));
}
