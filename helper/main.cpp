// nimbora-helper: the privileged half of a Nimbora connection on Linux. Root starts it on demand
// (the system bus activates it); the window and nimbora-connect, running as the user, ask it for
// the steps that need root. Everything it uses comes from its own command line.
#include "base/globalvalues.h"
#include "base/terminationwatcher.h"
#include "buildconfig.h"
#include "helper/helperservice.h"
#include "privileged/connectionlock.h"
#include "privileged/helperprotocol.h"
#include "privileged/killswitch.h"
#include "privileged/machinechanges.h"
#include "privileged/statedirectory.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QStandardPaths>

#include <cstdio>
#include <unistd.h>

namespace {

constexpr char SafePath[] = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

void say(const QString &line)
{
    std::fprintf(stderr, "nimbora-helper: %s\n", qPrintable(line));
}

// Nothing the helper does may depend on what its starter's environment says.
void clearEnvironment(const QString &resolverMethod)
{
    const QStringList names = QProcessEnvironment::systemEnvironment().keys();
    for (const QString &name : names) {
        if (name.startsWith(QLatin1String("NIMBORA_")))
            qunsetenv(qPrintable(name));
    }
    qputenv("PATH", SafePath);
    if (!resolverMethod.isEmpty())
        qputenv("NIMBORA_RESOLVER_METHOD", resolverMethod.toLocal8Bit());
}

QString openvpnProgram(const QString &chosen)
{
    if (!chosen.isEmpty())
        return chosen;
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/openvpn");
    return QFileInfo(beside).isExecutable() ? beside : QStandardPaths::findExecutable(QStringLiteral("openvpn"));
}

// A block outlives the helper that put it in place (the kernel holds it): one of this boot stays,
// one of an earlier boot is gone from the kernel and only its record is left.
void reportBlock()
{
    const QStringList lines = KillSwitch::forgetEarlierBoot(StateDirectory::blockPath());
    for (const QString &line : lines)
        say(line);
    if (KillSwitch(StateDirectory::blockPath()).isInPlace())
        say(QStringLiteral("traffic outside the tunnel stays blocked until the block is lifted"));
}

// What a helper that ended without undoing left, before anyone may connect.
void undoLeftovers()
{
    ConnectionLock lock(StateDirectory::lockPath());
    if (lock.tryLock() != ConnectionLock::Taken) {
        say(QStringLiteral("the connection lock is held; leftovers are left to its holder"));
        return;
    }
    const QStringList lines = MachineChanges::undoLeftovers(StateDirectory::journalPath());
    for (const QString &line : lines)
        say(line);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("nimbora-helper"));
    QCoreApplication::setApplicationVersion(QStringLiteral(NIMBORA_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Nimbora's privileged helper, on the system bus."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption stateDirectory(QStringLiteral("state-dir"),
        QStringLiteral("Folder of the undo journal and saved copies (default /var/lib/nimbora)."),
        QStringLiteral("DIR"));
    const QCommandLineOption ca(QStringLiteral("ca"),
        QStringLiteral("The VPN servers' CA (default /usr/share/nimbora/ca.crt)."), QStringLiteral("FILE"));
    const QCommandLineOption openvpn(QStringLiteral("openvpn"),
        QStringLiteral("The OpenVPN program (default: beside the helper, else on PATH)."), QStringLiteral("PATH"));
    const QCommandLineOption resolverMethod(QStringLiteral("resolver-method"),
        QStringLiteral("resolvectl, resolvconf or file (default: what the machine has)."), QStringLiteral("METHOD"));
    const QCommandLineOption bus(QStringLiteral("bus"),
        QStringLiteral("Address of the bus to serve (default: the system bus)."), QStringLiteral("ADDRESS"));
    const QCommandLineOption verbose(
        QStringLiteral("verbose"), QStringLiteral("Say every call and every signal on standard error."));
    parser.addOptions({ stateDirectory, ca, openvpn, resolverMethod, bus, verbose });
    parser.process(application);

    if (::geteuid() != 0) {
        say(QStringLiteral("must run as root"));
        return 1;
    }
    clearEnvironment(parser.value(resolverMethod));
    if (parser.isSet(stateDirectory))
        StateDirectory::setPath(parser.value(stateDirectory));
    QString reason;
    if (!StateDirectory::prepare(&reason)) {
        say(reason);
        return 1;
    }
    GlobalValues::setValue(GlobalValues::OpenvpnPath, openvpnProgram(parser.value(openvpn)));
    GlobalValues::setValue(GlobalValues::CertificatPath,
        parser.isSet(ca) ? parser.value(ca) : QStringLiteral("/usr/share/nimbora/ca.crt"));
    reportBlock();
    undoLeftovers();

    QDBusConnection connection = parser.isSet(bus)
        ? QDBusConnection::connectToBus(parser.value(bus), QStringLiteral("nimbora-helper"))
        : QDBusConnection::systemBus();
    if (!connection.isConnected()) {
        say(QStringLiteral("cannot reach the bus: ") + connection.lastError().message());
        return 1;
    }
    HelperService service(
        connection, StateDirectory::journalPath(), StateDirectory::lockPath(), StateDirectory::blockPath());
    service.setVerbose(parser.isSet(verbose));
    if (!service.watchNetwork(&reason))
        say(QStringLiteral("network changes are not watched: ") + reason);
    if (!connection.registerObject(
            QLatin1String(HelperProtocol::Path), &service, QDBusConnection::ExportScriptableSlots)
        || !connection.registerService(QLatin1String(HelperProtocol::Service))) {
        say(QStringLiteral("cannot take the name %1: %2")
                .arg(QLatin1String(HelperProtocol::Service), connection.lastError().message()));
        return 1;
    }
    TerminationWatcher terminationWatcher;
    QObject::connect(
        &terminationWatcher, &TerminationWatcher::terminationRequested, &application, &QCoreApplication::quit);
    QObject::connect(&service, &HelperService::idle, &application, &QCoreApplication::quit);
    const int status = application.exec();
    // The service's end undoes a connection that is still there.
    return status;
}
