#include "privileged/killswitch.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

const QString BootKey = QStringLiteral("boot");
const QString RulesKey = QStringLiteral("rules");

QJsonArray addressArray(const QList<QHostAddress> &addresses)
{
    QJsonArray array;
    for (const QHostAddress &address : addresses)
        array << address.toString();
    return array;
}

QByteArray encodeRecord(const QString &boot, const KillSwitchRules &rules)
{
    QJsonArray endpoints;
    for (const KillSwitchRules::Endpoint &endpoint : rules.endpoints)
        endpoints << QJsonObject { { "address", endpoint.address.toString() }, { "port", endpoint.port } };
    QJsonArray exceptions;
    for (const KillSwitchRules::Subnet &exception : rules.exceptions)
        exceptions << QJsonObject { { "address", exception.first.toString() }, { "prefix", exception.second } };
    const QJsonObject values { { "blockIPv4", rules.blockIPv4 }, { "vpnAdapter", rules.vpnAdapter },
        { "endpoints", endpoints }, { "nameServers", addressArray(rules.nameServers) }, { "exceptions", exceptions },
        { "allowLocalNetwork", rules.allowLocalNetwork },
        { "socksAddress", rules.socksAddress.isNull() ? QString() : rules.socksAddress.toString() },
        { "socksUser", double(rules.socksUser) }, { "socksProgram", rules.socksProgram } };
    return QJsonDocument(QJsonObject { { BootKey, boot }, { RulesKey, values } }).toJson();
}

// False for anything that is not an address, so that a damaged record is never half read.
bool readAddress(const QJsonValue &value, QHostAddress *address)
{
    *address = QHostAddress(value.toString());
    return !address->isNull();
}

bool decodeRules(const QJsonObject &values, KillSwitchRules *rules)
{
    *rules = KillSwitchRules();
    rules->blockIPv4 = values.value("blockIPv4").toBool(true);
    rules->vpnAdapter = values.value("vpnAdapter").toString();
    for (const QJsonValue &value : values.value("endpoints").toArray()) {
        KillSwitchRules::Endpoint endpoint;
        const int port = value.toObject().value("port").toInt();
        if (!readAddress(value.toObject().value("address"), &endpoint.address) || port <= 0 || port > 65535)
            return false;
        endpoint.port = quint16(port);
        rules->endpoints << endpoint;
    }
    for (const QJsonValue &value : values.value("nameServers").toArray()) {
        QHostAddress server;
        if (!readAddress(value, &server))
            return false;
        rules->nameServers << server;
    }
    for (const QJsonValue &value : values.value("exceptions").toArray()) {
        QHostAddress address;
        if (!readAddress(value.toObject().value("address"), &address))
            return false;
        rules->exceptions << KillSwitchRules::Subnet(address, value.toObject().value("prefix").toInt(-1));
    }
    rules->allowLocalNetwork = values.value("allowLocalNetwork").toBool();
    const QString socksAddress = values.value("socksAddress").toString();
    if (!socksAddress.isEmpty() && !readAddress(socksAddress, &rules->socksAddress))
        return false;
    rules->socksUser = qint64(values.value("socksUser").toDouble(-1));
    rules->socksProgram = values.value("socksProgram").toString();
    return rules->invalidity().isEmpty();
}

} // namespace

KillSwitch::KillSwitch(const QString &recordPath) : m_recordPath(recordPath) { }

bool KillSwitch::readRules(const QString &path, KillSwitchRules *rules, QString *boot, QString *errorString)
{
    QByteArray contents;
    if (readRecord(path, &contents, errorString) != RecordState::Read)
        return false;
    const QJsonObject record = QJsonDocument::fromJson(contents).object();
    *boot = record.value(BootKey).toString();
    if (boot->isEmpty() || !decodeRules(record.value(RulesKey).toObject(), rules)) {
        *errorString = QStringLiteral("%1 is not a record of the block").arg(path);
        return false;
    }
    return true;
}

bool KillSwitch::apply(const KillSwitchRules &rules, QString *errorString)
{
    const QString invalidity = rules.invalidity();
    if (!invalidity.isEmpty()) {
        *errorString = QStringLiteral("The block cannot be put in place: ") + invalidity;
        return false;
    }
    QByteArray earlier;
    const RecordState earlierState = readRecord(m_recordPath, &earlier, errorString);
    if (earlierState == RecordState::Refused)
        return false;
    // The record comes first: whatever happens next, a later lift() knows there is something to take away.
    if (!writeRecord(m_recordPath, encodeRecord(bootId(), rules), errorString))
        return false;
    bool changed = false;
    if (putInPlace(rules, &changed, errorString))
        return true;
    if (!changed) {
        QString ignored;
        if (earlierState == RecordState::Read)
            writeRecord(m_recordPath, earlier, &ignored);
        else
            removeRecord(m_recordPath);
    }
    return false;
}

bool KillSwitch::lift(QString *errorString)
{
    if (!takeAway(errorString))
        return false;
    removeRecord(m_recordPath);
    return true;
}

bool KillSwitch::isInPlace() const
{
    KillSwitchRules recorded;
    QString boot;
    QString ignored;
    return readRules(m_recordPath, &recorded, &boot, &ignored) && isThisBoot(boot);
}

KillSwitchRules KillSwitch::rules() const
{
    KillSwitchRules recorded;
    QString boot;
    QString ignored;
    if (readRules(m_recordPath, &recorded, &boot, &ignored) && isThisBoot(boot))
        return recorded;
    return KillSwitchRules();
}

bool KillSwitch::repair(QString *errorString)
{
    KillSwitchRules recorded;
    QString boot;
    QByteArray contents;
    switch (readRecord(m_recordPath, &contents, errorString)) {
    case RecordState::Absent:
        return true;
    case RecordState::Refused:
        return false;
    case RecordState::Read:
        break;
    }
    if (!readRules(m_recordPath, &recorded, &boot, errorString))
        return false;
    return !isThisBoot(boot) || putBackWhatIsMissing(recorded, errorString);
}

QStringList KillSwitch::forgetEarlierBoot(const QString &recordPath)
{
    QByteArray contents;
    QString reason;
    switch (readRecord(recordPath, &contents, &reason)) {
    case RecordState::Absent:
        return {};
    case RecordState::Refused:
        return { QStringLiteral("Kill switch: the record of the block is left as it is: ") + reason };
    case RecordState::Read:
        break;
    }
    const QString boot = QJsonDocument::fromJson(contents).object().value(BootKey).toString();
    if (!boot.isEmpty() && isThisBoot(boot))
        return {};
    // The kernel's rules went with the restart; only the record was left.
    removeRecord(recordPath);
    return { QStringLiteral("Kill switch: the block of an earlier start of the machine is forgotten") };
}

void KillSwitch::removeRecord(const QString &path)
{
    // Removing a link removes the link, never what it points at.
    QFile::remove(path);
}
