#include "connection/routeplan.h"

#include "tests/support/testmain.h"

#include <QCoreApplication>

// The addresses the route plan must never send through a gateway, whatever asks for them.
class TestRoutePlan : public QObject
{
    Q_OBJECT

private slots:
    void localAddressesNeverRouted_data();
    void localAddressesNeverRouted();
};

void TestRoutePlan::localAddressesNeverRouted_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("routed");

    QTest::newRow("systemd-resolved's stub") << "127.0.0.53" << false;
    QTest::newRow("dnsmasq, or a proxy, on the machine") << "127.0.0.1" << false;
    QTest::newRow("a cloud's link-local metadata server") << "169.254.169.254" << false;
    QTest::newRow("a name server on the LAN's far side") << "192.0.2.53" << true;
}

// The same address as physical name server, endpoint and exception: three host routes through
// the physical gateway, or none.
void TestRoutePlan::localAddressesNeverRouted()
{
    QFETCH(QString, address);
    QFETCH(bool, routed);

    const NetworkAdapter physical(QNetworkInterface::interfaceFromName(QStringLiteral("lo")));
    Route lan;
    lan.destination = QHostAddress(QStringLiteral("198.18.1.0"));
    lan.mask = QHostAddress(QStringLiteral("255.255.255.0"));
    lan.gateway = QHostAddress(QHostAddress::AnyIPv4);
    lan.adapter = physical;
    RoutePlan::Input input;
    input.snapshot = { lan };
    input.endpoint = QHostAddress(address);
    input.vpnGateway = QHostAddress(QStringLiteral("198.19.1.1"));
    input.physicalAdapter = physical;
    input.physicalGateway = QHostAddress(QStringLiteral("198.18.1.1"));
    input.physicalDnsServers = { QHostAddress(address) };
    input.dnsServer = false;

    RoutePlan plan = RoutePlan::make(input);
    plan.addExceptionRoutes(input, { QHostAddress(address) });
    int hostRoutes = 0;
    for (const Route &route : qAsConst(plan.add))
        hostRoutes += route.destination == QHostAddress(address) && route.gateway == input.physicalGateway;
    QCOMPARE(hostRoutes, routed ? 3 : 0);
    QCOMPARE(plan.add.size(), hostRoutes + 2); // and the two halves through the VPN
}

NIMBORA_TEST_MAIN(TestRoutePlan, QCoreApplication)

#include "tst_routeplan.moc"
