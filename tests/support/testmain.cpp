#include "tests/support/testmain.h"

#include "tests/support/privateregistry.h"

#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace TestSupport {

void isolateSettings()
{
    static QTemporaryDir configHome;
    if (!configHome.isValid())
        qFatal("Cannot create a temporary settings folder");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome.path()));
    // Test mode keeps state files under the home folder: a home of the test's own keeps them private.
    qputenv("HOME", QFile::encodeName(configHome.path()));
    QStandardPaths::setTestModeEnabled(true);
    // Test mode alone would put every test process's settings in one shared ~/.qttest folder.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, configHome.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, configHome.path());
#ifdef Q_OS_WIN
    // The registry has no path to move: the process gets a registry root of its own instead.
    QString errorString;
    if (!PrivateRegistry::enter(&errorString))
        qFatal("Cannot give the test a registry of its own: %s", qPrintable(errorString));
#endif
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

void setApplicationIdentity()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Ostrelle"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("test.ostrelle.example"));
    QCoreApplication::setApplicationName(QStringLiteral("Nimbora"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.6.7"));
}

} // namespace TestSupport
