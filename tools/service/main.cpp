// nimbora-service: a stand-in for the service side (main server, VPN endpoint responders and
// the server end of the HTTP transport), for the lab, the end-to-end tests and the demo.

#include "base/terminationwatcher.h"
#include "tools/service/service.h"
#include "tools/service/serviceconfig.h"
#include "tools/service/servicelog.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("nimbora-service"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Stand-in of the Nimbora service for tests and demos."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("config"), QStringLiteral("The JSON configuration file."));
    const QCommandLineOption verbose(QStringLiteral("verbose"), QStringLiteral("Log every request on standard error."));
    const QCommandLineOption check(QStringLiteral("check"), QStringLiteral("Only check the configuration file."));
    parser.addOption(verbose);
    parser.addOption(check);
    parser.process(application);

    if (parser.positionalArguments().size() != 1) {
        std::fprintf(stderr, "usage: nimbora-service [--verbose] [--check] CONFIG.json\n");
        return 2;
    }
    ServiceLog::setVerbose(parser.isSet(verbose));

    ServiceConfig config;
    if (!config.load(parser.positionalArguments().first())) {
        std::fprintf(stderr, "nimbora-service: bad configuration: %s\n", qPrintable(config.errorString()));
        return 2;
    }
    if (parser.isSet(check))
        return 0;

    Service service(config);
    QString error;
    if (!service.start(&error)) {
        std::fprintf(stderr, "nimbora-service: %s\n", qPrintable(error));
        return 1;
    }
    TerminationWatcher terminationWatcher;
    QObject::connect(
        &terminationWatcher, &TerminationWatcher::terminationRequested, &application, &QCoreApplication::quit);
    ServiceLog::problem(QStringLiteral("ready"));
    return application.exec();
}
