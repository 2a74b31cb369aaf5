// Starts the real application object under a domain given by the test, so that each test owns
// its instance key, and reports on stdout what the guard decided and what reached it.
// Closing its stdin ends it through the normal path.
#include "app/application.h"

#include <QThread>

#include <cstdio>
#include <memory>

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
    // A blocking read in a thread of its own: Windows has no notifier for a pipe.
    const std::unique_ptr<QThread> input(QThread::create([&application] {
        while (std::fgetc(stdin) != EOF) { }
        QMetaObject::invokeMethod(&application, &QCoreApplication::quit, Qt::QueuedConnection);
    }));
    input->start();
    const int status = application.exec();
    input->wait();
    return status;
}
