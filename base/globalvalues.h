#ifndef NIMBORA_BASE_GLOBALVALUES_H
#define NIMBORA_BASE_GLOBALVALUES_H

#include <QHash>
#include <QString>
#include <QVariant>

// Process-wide values computed once and read anywhere. Not locked: the launcher fills it
// before any other thread reads it, and later writes come from one thread at a time.
class GlobalValues
{
public:
    static constexpr char QtTranslator[] = "qtTranslator";
    static constexpr char AppTranslator[] = "appTranslator";
    static constexpr char DefaultUserAgent[] = "defaultUserAgent";
    static constexpr char OpenvpnPath[] = "openvpnPath";
    static constexpr char CertificatPath[] = "certificatPath";
    static constexpr char DriverName[] = "driverName";
    static constexpr char DriverVersion[] = "driverVersion";
    static constexpr char InterfaceName[] = "interfaceName";
    static constexpr char Interface[] = "interface";
    static constexpr char ProxyUsername[] = "proxyUsername";
    static constexpr char ProxyPassword[] = "proxyPassword";
    static constexpr char ProxyAuthMethod[] = "proxyAuthMethod";
    static constexpr char Session[] = "session";
    static constexpr char Username[] = "username";

    static QVariant value(const QString &key, const QVariant &defaultValue = QVariant());
    static void setValue(const QString &key, const QVariant &value);
    static void remove(const QString &key);
    static bool contains(const QString &key);
    static void clear();

private:
    static QHash<QString, QVariant> &table();
};

#endif
