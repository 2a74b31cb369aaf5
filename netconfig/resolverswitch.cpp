#include "netconfig/resolverswitch.h"

#include <QStandardPaths>

namespace {

// The first line of a resolver file that we wrote; it also tells a user where the old one is.
const char OwnFileNote[] = "# Nimbora: name servers of the VPN while connected; the previous file is kept in ";

QByteArray firstWord(const QByteArray &line)
{
    const QByteArray words = line.simplified();
    const int end = words.indexOf(' ');
    return end < 0 ? words : words.left(end);
}

bool isKeptLine(const QByteArray &line)
{
    // Only where to search and how to ask survive; the servers are the VPN's now.
    const QByteArray keyword = firstWord(line);
    return keyword == "search" || keyword == "domain" || keyword == "options";
}

} // namespace

ResolverSwitch::ResolverSwitch() : m_resolverFile(QStringLiteral("/etc/resolv.conf")) { }

ResolverSwitch::~ResolverSwitch() = default;

QString ResolverSwitch::methodName(Method method)
{
    switch (method) {
    case Resolvectl:
        return QStringLiteral("resolvectl");
    case Resolvconf:
        return QStringLiteral("resolvconf");
    case ResolvConfFile:
        return QStringLiteral("resolv.conf");
    case NoMethod:
        break;
    }
    return QString();
}

namespace {
QString stateFolder;
} // namespace

void ResolverSwitch::setStateFolder(const QString &folder)
{
    stateFolder = folder;
}

QString ResolverSwitch::savedCopyPath()
{
    if (!stateFolder.isEmpty())
        return stateFolder + QStringLiteral("/resolv.conf.saved");
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)
        + QStringLiteral("/resolv.conf.saved");
}

ResolverSwitch::Method ResolverSwitch::chooseMethod(
    const QString &forced, bool resolvedRunning, bool resolvconfInstalled, QString *errorString)
{
    if (forced.isEmpty()) {
        if (resolvedRunning)
            return Resolvectl;
        return resolvconfInstalled ? Resolvconf : ResolvConfFile;
    }
    if (forced == QLatin1String("resolvectl"))
        return Resolvectl;
    if (forced == QLatin1String("resolvconf"))
        return Resolvconf;
    if (forced == QLatin1String("file"))
        return ResolvConfFile;
    if (errorString) {
        *errorString = QStringLiteral("NIMBORA_RESOLVER_METHOD is \"%1\"; it must be resolvectl, resolvconf or file")
                           .arg(forced.left(64));
    }
    return NoMethod;
}

QByteArray ResolverSwitch::resolverFileContents(
    const QList<QHostAddress> &servers, const QByteArray &previous, const QString &savedCopy)
{
    QByteArray contents = OwnFileNote + savedCopy.toUtf8() + '\n' + nameServerLines(servers);
    const QList<QByteArray> lines = previous.split('\n');
    for (const QByteArray &line : lines) {
        if (isKeptLine(line))
            contents += line + '\n';
    }
    return contents;
}

QByteArray ResolverSwitch::nameServerLines(const QList<QHostAddress> &servers)
{
    QByteArray lines;
    for (const QHostAddress &server : servers)
        lines += "nameserver " + server.toString().toLatin1() + '\n';
    return lines;
}

bool ResolverSwitch::isOwnResolverFile(const QByteArray &contents)
{
    return contents.startsWith(OwnFileNote);
}

NetworkSystem::ProgramResult ResolverSwitch::runProgram(
    const QString &program, const QStringList &arguments, const QByteArray &input)
{
    NetworkSystem *system = NetworkSystem::instance();
    if (input.isEmpty() || system != NetworkSystem::platformSystem())
        return system->runProgram(program, arguments, ProgramTimeout);
    return NetworkSystem::runProcess(program, arguments, ProgramTimeout, input);
}

bool ResolverSwitch::runChecked(
    const QString &program, const QStringList &arguments, const QByteArray &input, QString *errorString)
{
    const NetworkSystem::ProgramResult result = runProgram(program, arguments, input);
    if (result.finished && result.exitCode == 0)
        return true;
    if (errorString) {
        const QString command = (QStringList(program) + arguments).join(QLatin1Char(' '));
        *errorString = result.finished
            ? QStringLiteral("%1 ended with status %2").arg(command).arg(result.exitCode)
            : QStringLiteral("%1 could not run or did not end within %2 s").arg(command).arg(ProgramTimeout / 1000);
    }
    return false;
}

QString ResolverSwitch::resolvconfRecord() const
{
    return m_interfaceName + QStringLiteral(".nimbora");
}
