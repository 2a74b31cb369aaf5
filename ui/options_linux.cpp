#include "ui/options.h"

#include "ui_options.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

// $XDG_CONFIG_HOME/autostart, where desktop sessions look for programs to start at login; a
// relative XDG_CONFIG_HOME is invalid and ignored, as the base directory rules say.
QString autostartEntryPath()
{
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (configHome.isEmpty() || QDir::isRelativePath(configHome))
        configHome = QDir::homePath() + QStringLiteral("/.config");
    return configHome + QStringLiteral("/autostart/nimbora.desktop");
}

// The escapes of a desktop entry's string values, applied after the Exec quoting.
QString escapedStringValue(const QString &value)
{
    QString escaped;
    for (const QChar c : value) {
        if (c == QLatin1Char('\\'))
            escaped += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\n'))
            escaped += QStringLiteral("\\n");
        else if (c == QLatin1Char('\t'))
            escaped += QStringLiteral("\\t");
        else if (c == QLatin1Char('\r'))
            escaped += QStringLiteral("\\r");
        else
            escaped += c;
    }
    return escaped;
}

} // namespace

// Linux has no IP method to choose: the box goes, and its stored value stays as it is.
void Options::applyPlatformLayout()
{
    m_ui->networkWindowsIpMethodGroupBox->hide();
}

void Options::savePlatformOptions() { }

QString Options::autostartExec(const QString &programPath)
{
    QString quoted = QStringLiteral("\"");
    for (const QChar c : programPath) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        // A lone "%" would start a field code.
        if (c == QLatin1Char('%'))
            quoted += QLatin1Char('%');
        quoted += c;
    }
    quoted += QLatin1Char('"');
    return escapedStringValue(quoted);
}

void Options::saveLaunchAtStartup(bool launch)
{
    const QString path = autostartEntryPath();
    if (!launch) {
        if (QFile::exists(path) && !QFile::remove(path))
            qWarning("Cannot remove the autostart entry %s", qPrintable(path));
        return;
    }

    const QByteArray entry = "[Desktop Entry]\n"
                             "Type=Application\n"
                             "Name=Nimbora\n"
                             "Exec="
        + autostartExec(QCoreApplication::applicationFilePath()).toUtf8()
        + "\n"
          "X-GNOME-Autostart-enabled=true\n";
    QSaveFile file(path);
    if (!QDir().mkpath(QFileInfo(path).path()) || !file.open(QIODevice::WriteOnly) || file.write(entry) != entry.size()
        || !file.commit())
        qWarning("Cannot write the autostart entry %s", qPrintable(path));
}
