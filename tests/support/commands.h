#ifndef NIMBORA_TESTS_SUPPORT_COMMANDS_H
#define NIMBORA_TESTS_SUPPORT_COMMANDS_H

#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

// The system's own programs as the tests set up and read a namespace with them.

// The program's merged output; ok tells whether it ended within 10 s with status 0. Without ok,
// a failure is a warning.
inline QString runCommand(const QString &program, const QStringList &arguments, bool *ok = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool succeeded
        = process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    const QString output = QString::fromLocal8Bit(process.readAll());
    if (ok)
        *ok = succeeded;
    else if (!succeeded)
        qWarning("%s %s: %s", qPrintable(program), qPrintable(arguments.join(QLatin1Char(' '))), qPrintable(output));
    return output;
}

// iproute2's ip, where root finds it whatever the PATH; words apart with single spaces. Its
// output goes to output, or to a warning when it fails and output is not asked for.
inline bool ip(const QString &arguments, QString *output = nullptr)
{
    const QString found = QStandardPaths::findExecutable(QStringLiteral("ip"),
        { QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"), QStringLiteral("/usr/bin"), QStringLiteral("/bin") });
    bool ok = false;
    const QString text
        = runCommand(found.isEmpty() ? QStringLiteral("ip") : found, arguments.split(QLatin1Char(' ')), &ok);
    if (output)
        *output = text;
    else if (!ok)
        qWarning("ip %s: %s", qPrintable(arguments), qPrintable(text));
    return ok;
}

#endif
