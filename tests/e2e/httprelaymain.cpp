// nimbora-e2e-httprelay LISTEN_PORT HOST PORT SESSION burst|multipart
// The client end of the HTTP transport for the end-to-end test (see HttpTransportRelay).

#include "tests/e2e/httptransportrelay.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() != 6 || (arguments.at(5) != "burst" && arguments.at(5) != "multipart")) {
        std::fprintf(stderr, "usage: nimbora-e2e-httprelay LISTEN_PORT HOST PORT SESSION burst|multipart\n");
        return 2;
    }
    HttpTransportRelay relay(arguments.at(2), quint16(arguments.at(3).toUInt()), arguments.at(4).toLatin1(),
        arguments.at(5) == "burst" ? HttpTransportRelay::Burst : HttpTransportRelay::Multipart);
    if (!relay.listen(QHostAddress::LocalHost, quint16(arguments.at(1).toUInt()))) {
        std::fprintf(stderr, "http relay: cannot listen: %s\n", qPrintable(relay.errorString()));
        return 1;
    }
    std::fprintf(stderr, "http relay: listening\n");
    return application.exec();
}
