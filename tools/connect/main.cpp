// Runs one VPN connection without the window, for Linux users and scripted checks:
//
//   nimbora-connect [--user NAME [--password-file FILE] [--remember] | --auto]
//                   --tunnel SERVER/COUNTRY/TUNNEL|fastest [--protocol openvpn|https|http]
//                   [--interface NAME] [--openvpn PATH] [--ca FILE]
//
// It uses the program's own settings store, works and values, prints one line per event on
// standard output and ends at SIGINT or SIGTERM once the connection is undone. Without a password
// file the password comes from the terminal, unechoed, or from standard input. The exit
// statuses are in the help text below.

#include "base/globalvalues.h"
#include "base/settingskeys.h"
#include "base/terminationwatcher.h"
#include "base/useragent.h"
#include "buildconfig.h"
#include "connection/connectionlocks.h"
#include "connection/trafficblock.h"
#include "core/mainserveraccess.h"
#include "core/networkproxyfactory.h"
#include "core/networkproxystream.h"
#include "netconfig/networkconfiguration.h"
#include "privileged/statedirectory.h"
#include "tools/connect/connectsession.h"
#include "tools/connect/passwordinput.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTextStream>
#include <QTimer>

#include <cstdio>

#ifndef Q_OS_WIN
#include "privileged/helperprotocol.h"

#include <QDBusConnection>
#include <QDBusMessage>
#endif

namespace {

constexpr int UsageStatus = 2;
constexpr int ConnectionHeldStatus = 6;
// nimbora-connect --restore: the helper refused or is not there, or the block stays.
constexpr int RestoreRefusedStatus = 7;

// The launcher's defaults, which a program without the launcher has to give itself.
constexpr char DefaultInterfaceName[] = "Nimbora";

const char Description[] = "Logs in, fetches the server list and runs one VPN connection until SIGINT or SIGTERM,\n"
                           "with the settings of the program (~/.config/Ostrelle/Nimbora.conf, under\n"
                           "XDG_CONFIG_HOME when set). With --user, the password is the first line of\n"
                           "--password-file (a file of yours that nobody else may read or write), else\n"
                           "it is asked for on the terminal, else read from standard input.\n"
                           "Prints one line per event on standard output:\n"
                           "  logged in | latency: KEY MS | tunnel: KEY | log: TEXT | connected | disconnected\n"
                           "  login error: NAME | account error: NAME | servers error: NAME\n"
                           "  error: NAME | openvpn error: NAME | upnp error: NAME | proxy authentication: HOST:PORT\n"
                           "Exit status:\n"
                           "  0       ended by a signal, the connection undone\n"
                           "  2       usage error\n"
                           "  3       login failed (or the account could not be read)\n"
                           "  4       server list failed, tunnel not found, or no tunnel offers the protocol\n"
                           "  5       the connection ended without any error reported\n"
                           "  6       another Nimbora program holds the connection (or its lock cannot\n"
                           "          be taken): nothing was changed\n"
                           "  7       --restore: the helper refused or is not there, or the block of\n"
                           "          traffic outside the tunnel could not be lifted\n"
                           "  11..21  10 + the connection's error (11 ServerError ... 21 FailedError)\n"
                           "  31..41  30 + OpenVPN's error, when the connection reported none";

struct Setup
{
    ConnectSession::Options options;
    QString interfaceName;
    QString openvpnPath;
    QString certificatePath;
    QString mainServerPins;
    bool passwordOnStandardInput = false;
};

void setApplicationIdentity()
{
    // The program's own, so that its settings store is the one read.
    QCoreApplication::setOrganizationName(QStringLiteral("Ostrelle"));
    QCoreApplication::setOrganizationDomain(QStringLiteral(NIMBORA_ORGANIZATION_DOMAIN));
    QCoreApplication::setApplicationName(QStringLiteral("Nimbora"));
    QCoreApplication::setApplicationVersion(QStringLiteral(NIMBORA_VERSION));
}

int usageError(const QCommandLineParser &parser, const QString &problem)
{
    QTextStream err(stderr);
    err << "nimbora-connect: " << problem << "\n\n" << parser.helpText();
    return UsageStatus;
}

// A copy beside this program comes first, else the system's, as for the program itself.
QString defaultOpenvpnPath()
{
    const QString beside = QCoreApplication::applicationDirPath() + QLatin1String("/openvpn");
    if (QFileInfo(beside).isExecutable())
        return beside;
    const QString installed = QStandardPaths::findExecutable(QStringLiteral("openvpn"));
    return installed.isEmpty() ? beside : installed;
}

bool parseProtocol(const QString &text, int *protocol)
{
    const QString name = text.toLower();
    if (name == QLatin1String("openvpn"))
        *protocol = ConnectionWork::OpenVpnProtocol;
    else if (name == QLatin1String("https"))
        *protocol = ConnectionWork::HttpsProtocol;
    else if (name == QLatin1String("http"))
        *protocol = ConnectionWork::HttpProtocol;
    else
        return false;
    return true;
}

// Returns the usage problem, empty when the command line holds together.
QString readCommandLine(const QCommandLineParser &parser, Setup *setup)
{
    ConnectSession::Options &options = setup->options;
    if (!parser.positionalArguments().isEmpty())
        return QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first());

    options.storedLogin = parser.isSet(QStringLiteral("auto"));
    options.username = parser.value(QStringLiteral("user"));
    options.rememberLogin = parser.isSet(QStringLiteral("remember"));
    const bool passwordFile = parser.isSet(QStringLiteral("password-file"));
    const bool typedLogin = parser.isSet(QStringLiteral("user")) || passwordFile;
    if (options.storedLogin && (typedLogin || options.rememberLogin))
        return QStringLiteral("--auto takes no --user, --password-file or --remember");
    if (!options.storedLogin && !parser.isSet(QStringLiteral("user")))
        return QStringLiteral("give --user, or --auto");
    if (!options.storedLogin && options.username.isEmpty())
        return QStringLiteral("the user name is empty");

    options.tunnel = parser.value(QStringLiteral("tunnel"));
    if (options.tunnel.isEmpty())
        return QStringLiteral("--tunnel is needed");
    if (options.tunnel != QLatin1String(ConnectSession::FastestTunnel) && options.tunnel.count(QLatin1Char('/')) < 2)
        return QStringLiteral("--tunnel takes SERVER/COUNTRY/TUNNEL or fastest, not %1").arg(options.tunnel);
    if (parser.isSet(QStringLiteral("protocol"))
        && !parseProtocol(parser.value(QStringLiteral("protocol")), &options.protocol))
        return QStringLiteral("--protocol takes openvpn, https or http, not %1")
            .arg(parser.value(QStringLiteral("protocol")));
    if (parser.isSet(QStringLiteral("tunnel-wait"))) {
        bool ok = false;
        options.tunnelWaitTime = parser.value(QStringLiteral("tunnel-wait")).toInt(&ok);
        if (!ok || options.tunnelWaitTime < 1)
            return QStringLiteral("--tunnel-wait takes a positive number of seconds");
    }

    if (parser.isSet(QStringLiteral("main-server-pin"))) {
        setup->mainServerPins = parser.value(QStringLiteral("main-server-pin")).trimmed();
        if (setup->mainServerPins.isEmpty())
            return QStringLiteral("--main-server-pin takes at least one pin");
    }

    setup->interfaceName = parser.isSet(QStringLiteral("interface")) ? parser.value(QStringLiteral("interface"))
                                                                     : QString::fromLatin1(DefaultInterfaceName);
    if (setup->interfaceName.isEmpty())
        return QStringLiteral("the interface name is empty");
    if (parser.isSet(QStringLiteral("openvpn"))) {
        setup->openvpnPath = parser.value(QStringLiteral("openvpn"));
        const QFileInfo program(setup->openvpnPath);
        if (!program.isFile() || !program.isExecutable())
            return QStringLiteral("not an executable program: %1").arg(setup->openvpnPath);
        setup->openvpnPath = program.absoluteFilePath();
    } else {
        setup->openvpnPath = defaultOpenvpnPath();
    }
    if (parser.isSet(QStringLiteral("ca"))) {
        const QFileInfo certificate(parser.value(QStringLiteral("ca")));
        if (!certificate.isFile() || !certificate.isReadable())
            return QStringLiteral("cannot read the CA certificate %1").arg(parser.value(QStringLiteral("ca")));
        setup->certificatePath = certificate.absoluteFilePath();
    } else {
        setup->certificatePath = QCoreApplication::applicationDirPath() + QLatin1String("/ca.crt");
    }

    // Last: nothing is read when the command line is wrong anyway.
    setup->passwordOnStandardInput = !options.storedLogin && !passwordFile;
    QString problem;
    if (passwordFile
        && !PasswordInput::readFile(parser.value(QStringLiteral("password-file")), &options.password, &problem))
        return problem;
    return QString();
}

// The adapter's GUID where the system has them; here the name is the GUID. An adapter that is
// not there yet keeps the name: OpenVPN may make it, and the work says so if it is still missing.
QString adapterGuid(const QString &name)
{
    const QList<NetworkAdapter> adapters = allAdapters();
    for (const NetworkAdapter &adapter : adapters) {
        const QNetworkInterface networkInterface = adapter.networkInterface();
        if (networkInterface.humanReadableName() == name || networkInterface.name() == name)
            return adapter.guid();
    }
    return name;
}

// What the launcher fills for the works, without its update check, migration or renaming.
// Stored proxy credentials are put in force even without automatic proxy authentication: here
// they stand for the answer a user would type into the credentials dialog.
void fillGlobalValues(const Setup &setup)
{
    GlobalValues::setValue(GlobalValues::DefaultUserAgent, QString::fromLatin1(UserAgent::Default));
    GlobalValues::setValue(GlobalValues::OpenvpnPath, setup.openvpnPath);
    GlobalValues::setValue(GlobalValues::CertificatPath, setup.certificatePath);
    GlobalValues::setValue(GlobalValues::InterfaceName, QString::fromLatin1(DefaultInterfaceName));
    GlobalValues::setValue(GlobalValues::Interface, adapterGuid(setup.interfaceName));
    QSettings settings;
    GlobalValues::setValue(GlobalValues::ProxyUsername, settings.value(SettingsKeys::ProxyUsername).toString());
    GlobalValues::setValue(GlobalValues::ProxyPassword, settings.value(SettingsKeys::ProxyPassword).toString());
}

// Held until the program ends: another program undoing "leftovers" meanwhile would tear down
// this one's connection, and this one would tear down another's.
bool takeConnectionLock(ConnectionLocks *lock)
{
    switch (lock->take()) {
    case ConnectionLock::Taken:
        return true;
    case ConnectionLock::Held:
        puts("error: another Nimbora program holds the connection");
        break;
    case ConnectionLock::Failed:
        printf("error: the connection lock cannot be taken: %s\n", qPrintable(lock->errorString()));
        break;
    }
    fflush(stdout);
    return false;
}

void printLeftoversUndone(ConnectionLocks *locks)
{
    const QStringList leftovers = locks->undoLeftovers();
    for (const QString &line : leftovers)
        printf("log: %s\n", qPrintable(line));
    fflush(stdout);
}

// Where this program changes the machine itself, the block a dropped connection left is its own
// to lift; the helper's Restore lifts the helper's.
bool liftBlockInProcess()
{
    const bool wasInPlace = TrafficBlock::isInPlace();
    QString reason;
    if (!TrafficBlock::lift(&reason)) {
        printf("error: traffic outside the tunnel stays blocked: %s\n", qPrintable(reason));
        fflush(stdout);
        return false;
    }
    if (wasInPlace)
        puts("log: Kill switch: block lifted");
    fflush(stdout);
    return true;
}

#ifndef Q_OS_WIN
// The helper undoes what it left itself when it starts; this asks it again, as an administrator.
bool askHelperToRestore()
{
    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(HelperProtocol::Service),
        QLatin1String(HelperProtocol::Path), QLatin1String(HelperProtocol::Interface), QStringLiteral("Restore"));
    call.setInteractiveAuthorizationAllowed(true);
    const QDBusMessage reply = QDBusConnection::systemBus().call(call, QDBus::Block, HelperProtocol::CallTimeout);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        printf("error: the Nimbora helper refused to restore: %s\n", qPrintable(reply.errorMessage()));
        fflush(stdout);
        return false;
    }
    const QStringList lines = reply.arguments().value(0).toStringList();
    for (const QString &line : lines)
        printf("log: %s\n", qPrintable(line));
    fflush(stdout);
    return true;
}
#endif

void addOptions(QCommandLineParser *parser)
{
    parser->setApplicationDescription(QString::fromLatin1(Description));
    parser->addHelpOption();
    parser->addOptions({
        { QStringLiteral("user"), QStringLiteral("Subscriber's user name."), QStringLiteral("name") },
        { QStringLiteral("password-file"),
            QStringLiteral("File whose first line is the subscriber's password (its MD5 digest is sent); yours, "
                           "and closed to group and others."),
            QStringLiteral("file") },
        { QStringLiteral("remember"), QStringLiteral("Keep this login as the automatic login.") },
        { QStringLiteral("auto"), QStringLiteral("Use the stored automatic login.") },
        { QStringLiteral("tunnel"),
            QStringLiteral("Tunnel as SERVER/COUNTRY/TUNNEL, or fastest: the online tunnel offering the protocol "
                           "with the lowest measured latency."),
            QStringLiteral("name") },
        { QStringLiteral("protocol"), QStringLiteral("openvpn (default), https or http."), QStringLiteral("protocol") },
        { QStringLiteral("interface"), QStringLiteral("VPN adapter (default Nimbora)."), QStringLiteral("name") },
        { QStringLiteral("openvpn"), QStringLiteral("OpenVPN program (default: beside this one, else from PATH)."),
            QStringLiteral("path") },
        { QStringLiteral("ca"),
            QStringLiteral("CA certificate of the VPN servers (default: ca.crt beside this "
                           "program)."),
            QStringLiteral("file") },
        { QStringLiteral("main-server-pin"),
            QStringLiteral("Pin the main server's key for this run, in place of the build's pins: base64 "
                           "SHA-256 digests of its public key, separated by ; or spaces."),
            QStringLiteral("pins") },
        { QStringLiteral("state-dir"),
            QStringLiteral("Run as root: folder of the machine's undo journal (default /var/lib/nimbora)."),
            QStringLiteral("folder") },
        { QStringLiteral("restore"),
            QStringLiteral("Only put back what an earlier run that was killed left changed on the machine, "
                           "lift the block of traffic outside the tunnel, then exit.") },
    });
    // For scripted checks: how long OpenVPN has to bring the tunnel up.
    QCommandLineOption tunnelWait(
        QStringLiteral("tunnel-wait"), QStringLiteral("Seconds to wait for the tunnel."), QStringLiteral("seconds"));
    tunnelWait.setFlags(QCommandLineOption::HiddenFromHelp);
    parser->addOption(tunnelWait);
}

} // namespace

int main(int argc, char *argv[])
{
    setApplicationIdentity();
    QCoreApplication application(argc, argv);
    registerNetworkProxyMetaType();

    QCommandLineParser parser;
    addOptions(&parser);
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser, parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        fputs(parser.helpText().toUtf8().constData(), stdout);
        return 0;
    }
    if (parser.isSet(QStringLiteral("state-dir")))
        StateDirectory::setPath(parser.value(QStringLiteral("state-dir")));
    if (parser.isSet(QStringLiteral("restore"))) {
        if (QCoreApplication::arguments().size() != (parser.isSet(QStringLiteral("state-dir")) ? 4 : 2))
            return usageError(parser, QStringLiteral("--restore takes no other option than --state-dir"));
        ConnectionLocks locks;
        if (!takeConnectionLock(&locks))
            return ConnectionHeldStatus;
        printLeftoversUndone(&locks);
        if (StateDirectory::changesInProcess())
            return liftBlockInProcess() ? 0 : RestoreRefusedStatus;
#ifndef Q_OS_WIN
        if (!askHelperToRestore())
            return RestoreRefusedStatus;
#endif
        return 0;
    }
    Setup setup;
    const QString problem = readCommandLine(parser, &setup);
    if (!problem.isEmpty())
        return usageError(parser, problem);
    // Through the helper, OpenVPN takes the helper's own CA.
    if (StateDirectory::changesInProcess() && !QFileInfo(setup.certificatePath).isReadable())
        fprintf(stderr, "nimbora-connect: no CA certificate at %s (see --ca)\n", qPrintable(setup.certificatePath));

    ConnectionLocks locks;
    if (!takeConnectionLock(&locks))
        return ConnectionHeldStatus;
    QString passwordProblem;
    if (setup.passwordOnStandardInput && !PasswordInput::readStandardInput(&setup.options.password, &passwordProblem)) {
        fprintf(stderr, "nimbora-connect: %s\n", qPrintable(passwordProblem));
        return UsageStatus;
    }
    // What a run killed before its teardown left on the machine goes first.
    printLeftoversUndone(&locks);

    fillGlobalValues(setup);
    if (!setup.mainServerPins.isEmpty())
        MainServerAccess::setPinnedKeys(setup.mainServerPins);
    QNetworkProxyFactory::setApplicationProxyFactory(new NetworkProxyFactory);

    // Watching before anything starts: the default action of a signal would leave routes behind.
    TerminationWatcher terminationWatcher;
    ConnectSession session(setup.options);
    QObject::connect(
        &terminationWatcher, &TerminationWatcher::terminationRequested, &session, &ConnectSession::requestStop);
    QObject::connect(&session, &ConnectSession::ended, &application, &QCoreApplication::exit);
    QTimer::singleShot(0, &session, &ConnectSession::start);
    return application.exec();
}
