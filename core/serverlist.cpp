#include "core/serverlist.h"

#include <QVariantHash>
#include <QVariantList>

namespace {

QString childText(const QDomElement &element, const char *name)
{
    return element.firstChildElement(QLatin1String(name)).text();
}

int childNumber(const QDomElement &element, const char *name)
{
    return childText(element, name).toInt();
}

QVariantHash readTunnel(const QDomElement &tunnelElement)
{
    QVariantHash tunnel;
    tunnel.insert(QStringLiteral("id"), childNumber(tunnelElement, "id"));
    tunnel.insert(QStringLiteral("type"), childNumber(tunnelElement, "type"));
    tunnel.insert(QStringLiteral("name"), childText(tunnelElement, "name"));
    tunnel.insert(QStringLiteral("hostname"), childText(tunnelElement, "hostname"));
    tunnel.insert(QStringLiteral("address"), childText(tunnelElement, "address"));
    tunnel.insert(QStringLiteral("protocols"), childNumber(tunnelElement, "protocols"));
    tunnel.insert(QStringLiteral("slots"), childNumber(tunnelElement, "slots"));
    tunnel.insert(QStringLiteral("state"), childNumber(tunnelElement, "state"));
    return tunnel;
}

QVariantHash readCountry(const QDomElement &countryElement)
{
    QVariantHash country;
    country.insert(QStringLiteral("code"), childText(countryElement, "code"));
    QVariantList tunnels;
    for (QDomElement tunnelElement = countryElement.firstChildElement(QStringLiteral("tunnel"));
         !tunnelElement.isNull(); tunnelElement = tunnelElement.nextSiblingElement()) {
        tunnels.append(readTunnel(tunnelElement));
    }
    country.insert(QStringLiteral("tunnels"), tunnels);
    return country;
}

QVariantHash readServer(const QDomElement &serverElement)
{
    QVariantHash server;
    server.insert(QStringLiteral("id"), childNumber(serverElement, "id"));
    server.insert(QStringLiteral("name"), childText(serverElement, "name"));
    server.insert(QStringLiteral("state"), childText(serverElement, "state"));
    server.insert(QStringLiteral("bandwidth"), childNumber(serverElement, "bandwidth"));
    QVariantList countries;
    for (QDomElement countryElement = serverElement.firstChildElement(QStringLiteral("country"));
         !countryElement.isNull(); countryElement = countryElement.nextSiblingElement()) {
        countries.append(readCountry(countryElement));
    }
    server.insert(QStringLiteral("countries"), countries);
    return server;
}

} // namespace

// Siblings are followed whatever their names: the list holds nothing else after its first
// entry, and an element that is not one reads as an entry with empty fields.
QList<QVariant> ServerList::read(const QDomElement &root)
{
    QList<QVariant> servers;
    for (QDomElement serverElement = root.firstChildElement(QStringLiteral("server")); !serverElement.isNull();
         serverElement = serverElement.nextSiblingElement()) {
        servers.append(readServer(serverElement));
    }
    return servers;
}

bool ServerList::isPremium(const QDomElement &root)
{
    return childText(root, "premium") == QLatin1String("1");
}
