#include "ui/serverstreemodel.h"

#include "ui/serverstreeitem.h"

#include <QIcon>

namespace {

const QString FastestName = QStringLiteral("fastest");
const QString FastestKey = QStringLiteral("fastest");
const QString LatencyKey = QStringLiteral("latency");
const QString NameKey = QStringLiteral("name");
const QString CodeKey = QStringLiteral("code");
const QString StateKey = QStringLiteral("state");
const QString TypeKey = QStringLiteral("type");
const QString SlotsKey = QStringLiteral("slots");
const QString BandwidthKey = QStringLiteral("bandwidth");
const QString ProtocolsKey = QStringLiteral("protocols");

const int LatencyColumn = 1;
const int Online = 1;
const int PrivateTunnel = 1;
const int FullBandwidth = 90;
const int FullSlots = 100;

const char *const Countries[][2] = {
    { "be", QT_TRANSLATE_NOOP("ServersTreeModel", "Belgique") },
    { "ca", QT_TRANSLATE_NOOP("ServersTreeModel", "Canada") },
    { "ch", QT_TRANSLATE_NOOP("ServersTreeModel", "Suisse") },
    { "cz", QT_TRANSLATE_NOOP("ServersTreeModel", "République Tchèque") },
    { "de", QT_TRANSLATE_NOOP("ServersTreeModel", "Allemagne") },
    { "es", QT_TRANSLATE_NOOP("ServersTreeModel", "Espagne") },
    { "fi", QT_TRANSLATE_NOOP("ServersTreeModel", "Finlande") },
    { "fr", QT_TRANSLATE_NOOP("ServersTreeModel", "France") },
    { "it", QT_TRANSLATE_NOOP("ServersTreeModel", "Italie") },
    { "lt", QT_TRANSLATE_NOOP("ServersTreeModel", "Lituanie") },
    { "nl", QT_TRANSLATE_NOOP("ServersTreeModel", "Pays-Bas") },
    { "pl", QT_TRANSLATE_NOOP("ServersTreeModel", "Pologne") },
    { "pt", QT_TRANSLATE_NOOP("ServersTreeModel", "Portugal") },
    { "uk", QT_TRANSLATE_NOOP("ServersTreeModel", "Royaumes-Unis") },
    { "us", QT_TRANSLATE_NOOP("ServersTreeModel", "Etats-Unis") },
};

QString picture(const char *name)
{
    return QStringLiteral(":/resources/servers/") + QLatin1String(name) + QStringLiteral(".png");
}

// The same picture in the Disabled mode: a greyed-out server keeps the colour that says why.
QIcon stateIcon(const QVariant &state)
{
    static const char *const names[] = { "offline", "online", "maintenance" };
    const int value = state.toInt();
    if (value < 0 || value > 2)
        return QIcon();
    QIcon icon(picture(names[value]));
    icon.addFile(picture(names[value]), QSize(), QIcon::Disabled, QIcon::Off);
    return icon;
}

QIcon typeIcon(const QVariant &type)
{
    static const char *const names[] = { "public", "private", "premium" };
    const int value = type.toInt();
    if (value < 0 || value > 2)
        return QIcon();
    return QIcon(picture(names[value]));
}

QIcon flagIcon(const QString &code)
{
    return QIcon(QStringLiteral(":/resources/servers/flags/") + code + QStringLiteral(".png"));
}

bool isServerUsable(const QHash<QString, QVariant> &server)
{
    return server.value(StateKey).toInt() == Online && server.value(BandwidthKey).toInt() < FullBandwidth;
}

bool isTunnelUsable(const QHash<QString, QVariant> &tunnel)
{
    return tunnel.value(StateKey).toInt() == Online && tunnel.value(SlotsKey).toInt() < FullSlots;
}

bool offersProtocol(const ServersTreeItem *tunnel, int protocol)
{
    return (tunnel->value(ProtocolsKey).toInt() & protocol) != 0;
}

QString millisecondsText(int latency)
{
    return QString::number(latency) + QStringLiteral(" ms");
}

QList<QVariant> emptyColumns()
{
    return { QString(), QString() };
}

} // namespace

ServersTreeModel::ServersTreeModel(QObject *parent)
    : QAbstractItemModel(parent), m_root(new ServersTreeItem(ServersTreeItem::Root))
{
    retranslate();
}

ServersTreeModel::~ServersTreeModel()
{
    delete m_root;
}

QModelIndex ServersTreeModel::index(int row, int column, const QModelIndex &parent) const
{
    if (!hasIndex(row, column, parent))
        return QModelIndex();
    ServersTreeItem *child = nodeOrRoot(parent)->child(row);
    return child ? createIndex(row, column, child) : QModelIndex();
}

QModelIndex ServersTreeModel::parent(const QModelIndex &index) const
{
    if (!index.isValid())
        return QModelIndex();
    ServersTreeItem *parentNode = item(index)->parent();
    if (!parentNode || parentNode == m_root)
        return QModelIndex();
    return createIndex(parentNode->row(), 0, parentNode);
}

int ServersTreeModel::rowCount(const QModelIndex &parent) const
{
    if (parent.column() > 0)
        return 0;
    return nodeOrRoot(parent)->childCount();
}

int ServersTreeModel::columnCount(const QModelIndex &parent) const
{
    return nodeOrRoot(parent)->columnCount();
}

QVariant ServersTreeModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return QVariant();
    const ServersTreeItem *node = item(index);
    if (role == Qt::DisplayRole)
        return node->data(index.column());
    if (role == Qt::DecorationRole)
        return node->icon(index.column());
    return QVariant();
}

QVariant ServersTreeModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return m_root->data(section);
    return QVariant();
}

Qt::ItemFlags ServersTreeModel::flags(const QModelIndex &index) const
{
    if (!index.isValid() || !item(index)->isEnabled())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled;
}

void ServersTreeModel::rebuild(const QList<QVariant> &servers)
{
    beginResetModel();
    m_root->clearChildren();

    auto *fastest = new ServersTreeItem(ServersTreeItem::Fastest, m_root);
    fastest->setName(FastestName);
    fastest->setIcon(0, QIcon(picture("fastest")));
    m_root->appendChild(fastest);

    QList<ServersTreeItem *> privateTunnels;
    for (const QVariant &serverValue : servers) {
        const QHash<QString, QVariant> server = serverValue.toHash();
        const bool serverUsable = isServerUsable(server);

        auto *serverNode = new ServersTreeItem(ServersTreeItem::Server, m_root);
        serverNode->setName(server.value(NameKey).toString());
        serverNode->setEnabled(serverUsable);
        serverNode->setRecord(server);
        serverNode->setColumns(emptyColumns());
        serverNode->setIcon(0, stateIcon(server.value(StateKey)));
        m_root->appendChild(serverNode);

        const QList<QVariant> countries = server.value(QStringLiteral("countries")).toList();
        for (const QVariant &countryValue : countries) {
            const QHash<QString, QVariant> country = countryValue.toHash();
            const QString code = country.value(CodeKey).toString();

            auto *countryNode = new ServersTreeItem(ServersTreeItem::Country, serverNode);
            countryNode->setName(serverNode->name() + QLatin1Char('/') + code);
            countryNode->setEnabled(serverUsable);
            countryNode->setRecord(country);
            countryNode->setIcon(0, flagIcon(code));
            countryNode->setColumns({ countryName(code), QString() });

            const QList<QVariant> tunnels = country.value(QStringLiteral("tunnels")).toList();
            for (const QVariant &tunnelValue : tunnels) {
                const QHash<QString, QVariant> tunnel = tunnelValue.toHash();

                auto *tunnelNode = new ServersTreeItem(ServersTreeItem::Tunnel, countryNode);
                tunnelNode->setName(countryNode->name() + QLatin1Char('/') + tunnel.value(NameKey).toString());
                tunnelNode->setEnabled(serverUsable && isTunnelUsable(tunnel));
                tunnelNode->setRecord(tunnel);
                tunnelNode->setColumns(emptyColumns());
                const QVariant state = tunnel.value(StateKey);
                tunnelNode->setIcon(0, state.toInt() == Online ? typeIcon(tunnel.value(TypeKey)) : stateIcon(state));

                if (tunnel.value(TypeKey).toInt() == PrivateTunnel)
                    privateTunnels.append(tunnelNode);
                else
                    countryNode->appendChild(tunnelNode);
            }

            if (countryNode->childCount() > 0)
                serverNode->appendChild(countryNode);
            else
                delete countryNode;
        }
    }

    for (ServersTreeItem *tunnelNode : qAsConst(privateTunnels))
        m_root->appendChild(tunnelNode);
    fastest->setColumns({ tr("Le plus rapide"), QString() });
    endResetModel();
}

void ServersTreeModel::updateFastest(int protocol, ServersTreeItem *node)
{
    ServersTreeItem *parentNode = node ? node : m_root;
    for (int row = 0; row < parentNode->childCount(); ++row) {
        ServersTreeItem *child = parentNode->child(row);
        if (child->type() != ServersTreeItem::Tunnel) {
            child->remove(FastestKey);
            // A latency beside a node with no best tunnel left would promise a connection that
            // the main window then refuses.
            if (!child->data(LatencyColumn).toString().isEmpty())
                setLatencyText(child, QString());
            updateFastest(protocol, child);
        } else if (offersProtocol(child, protocol)) {
            offerToAncestors(child);
        }
    }
}

void ServersTreeModel::setLatency(const QString &name, int latency, int protocol)
{
    ServersTreeItem *node = m_root->findByName(name);
    if (!node || node->type() != ServersTreeItem::Tunnel)
        return;

    if (latency < 0) {
        // The failure is shown, but an earlier measurement still ranks the tunnel.
        switch (latency) {
        case -1:
            setLatencyText(node, tr("Erreur"));
            break;
        case -2:
            setLatencyText(node, QStringLiteral("?"));
            break;
        case -3:
            setLatencyText(node, QStringLiteral("> 1000 ms"));
            break;
        default:
            setLatencyText(node, QString());
            break;
        }
        return;
    }

    node->setValue(LatencyKey, latency);
    setLatencyText(node, millisecondsText(latency));
    if (offersProtocol(node, protocol))
        offerToAncestors(node);
}

ServersTreeItem *ServersTreeModel::item(const QModelIndex &index) const
{
    return index.isValid() ? static_cast<ServersTreeItem *>(index.internalPointer()) : nullptr;
}

QModelIndex ServersTreeModel::indexOf(const ServersTreeItem *node, int column) const
{
    if (!node || node == m_root || column < 0 || column >= m_root->columnCount())
        return QModelIndex();
    const int row = node->row();
    if (row < 0)
        return QModelIndex();
    return createIndex(row, column, const_cast<ServersTreeItem *>(node));
}

ServersTreeItem *ServersTreeModel::findByName(const QString &name) const
{
    return m_root->findByName(name);
}

ServersTreeItem *ServersTreeModel::fastestItem() const
{
    return m_root->findByName(FastestName);
}

void ServersTreeModel::retranslate()
{
    m_countries.clear();
    for (const auto &country : Countries)
        m_countries.insert(QLatin1String(country[0]), tr(country[1]));

    m_root->setColumns({ tr("Serveur"), tr("Latence") });
    if (ServersTreeItem *fastest = fastestItem())
        fastest->setData(0, tr("Le plus rapide"));
    retranslateCountries(m_root);
}

ServersTreeItem *ServersTreeModel::nodeOrRoot(const QModelIndex &index) const
{
    return index.isValid() ? item(index) : m_root;
}

QString ServersTreeModel::countryName(const QVariant &code) const
{
    return m_countries.value(code.toString());
}

void ServersTreeModel::retranslateCountries(ServersTreeItem *node)
{
    for (int row = 0; row < node->childCount(); ++row) {
        ServersTreeItem *child = node->child(row);
        if (child->type() == ServersTreeItem::Country)
            child->setData(0, countryName(child->value(CodeKey)));
        retranslateCountries(child);
    }
}

void ServersTreeModel::offerToAncestors(ServersTreeItem *tunnel)
{
    // A greyed-out tunnel cannot be connected to, whatever latency it once had.
    if (!tunnel->isEnabled() || !tunnel->contains(LatencyKey))
        return;
    for (ServersTreeItem *ancestor = tunnel->parent(); ancestor && ancestor != m_root; ancestor = ancestor->parent())
        offer(tunnel, ancestor);
    if (ServersTreeItem *fastest = fastestItem())
        offer(tunnel, fastest);
}

void ServersTreeModel::offer(ServersTreeItem *tunnel, ServersTreeItem *node)
{
    const int latency = tunnel->value(LatencyKey).toInt();
    if (node->contains(FastestKey)) {
        const QHash<QString, QVariant> best = node->value(FastestKey).toHash();
        const int bestLatency = best.value(LatencyKey).toInt();
        const bool beats = latency < bestLatency
            || (latency == bestLatency && tunnel->value(SlotsKey).toInt() < best.value(SlotsKey).toInt());
        if (!beats)
            return;
    }
    node->setValue(FastestKey, tunnel->record());
    setLatencyText(node, millisecondsText(latency));
}

void ServersTreeModel::setLatencyText(ServersTreeItem *node, const QString &text)
{
    node->setData(LatencyColumn, text);
    const QModelIndex cell = indexOf(node, LatencyColumn);
    emit dataChanged(cell, cell, {});
}
