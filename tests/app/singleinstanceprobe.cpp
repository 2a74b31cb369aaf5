// Starts the real application object under a domain given by the test, so that each test owns
// its instance key, and reports on stdout what the guard decided and what reached it.
// Closing its stdin ends it through the normal path.
#include "app/application.h"

#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

namespace {
void report(const QByteArray &line)
{
    std::printf("%s\n", line.constData());
    std::fflush(stdout);
}
}

int main(int argc, char *argv[])
{
    QCoreApplication::setOrganizationName(QStringLiteral("Ostrelle"));
    QCoreApplication::setOrganizationDomain(QString::fromLocal8Bit(qgetenv("NIMBORA_PROBE_DOMAIN")));
    QCoreApplication::setApplicationName(QStringLiteral("Nimbora"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.6.7"));

    Application application(argc, argv);
    report(application.isPrimary() ? "primary" : "not primary");

    QObject::connect(&application, &SingleApplication::instanceStarted, [] { report("instanceStarted"); });
    QObject::connect(&application, &SingleApplication::receivedMessage,
        [](quint32, const QByteArray &message) { report("message " + message); });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&application, &input] {
        char buffer[64];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) {
            input.setEnabled(false);
            application.quit();
        }
    });
    return application.exec();
}
