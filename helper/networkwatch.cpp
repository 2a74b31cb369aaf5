#include "helper/networkwatch.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDateTime>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString LogindService = QStringLiteral("org.freedesktop.login1");
const QString LogindPath = QStringLiteral("/org/freedesktop/login1");
const QString LogindManager = QStringLiteral("org.freedesktop.login1.Manager");

constexpr unsigned int WatchedGroups
    = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;

} // namespace

NetworkWatch::NetworkWatch(const QDBusConnection &bus, QObject *parent) : QObject(parent), m_bus(bus)
{
    m_settleTimer.setSingleShot(true);
    connect(&m_settleTimer, &QTimer::timeout, this, &NetworkWatch::settle);
    m_clockTimer.setInterval(ClockCheckInterval);
    connect(&m_clockTimer, &QTimer::timeout, this, &NetworkWatch::checkClock);
}

NetworkWatch::~NetworkWatch()
{
    delete m_netlinkNotifier;
    if (m_netlink >= 0)
        ::close(m_netlink);
}

bool NetworkWatch::start(QString *errorString)
{
    if (!openNetlink(errorString))
        return false;
    m_monotonic.start();
    m_wallAtCheck = QDateTime::currentMSecsSinceEpoch();
    m_clockTimer.start();
    watchLogind();
    return true;
}

bool NetworkWatch::openNetlink(QString *errorString)
{
    m_netlink = ::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
    sockaddr_nl address {};
    address.nl_family = AF_NETLINK;
    address.nl_groups = WatchedGroups;
    if (m_netlink < 0 || ::bind(m_netlink, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        if (errorString)
            *errorString
                = QStringLiteral("cannot watch the network's changes: ") + QString::fromLocal8Bit(strerror(errno));
        if (m_netlink >= 0)
            ::close(m_netlink);
        m_netlink = -1;
        return false;
    }
    m_netlinkNotifier = new QSocketNotifier(m_netlink, QSocketNotifier::Read);
    connect(m_netlinkNotifier, &QSocketNotifier::activated, this, &NetworkWatch::readNetlink);
    return true;
}

// The kernel's word is only a trigger: every message is read and dropped, and the routing table
// is read again by whoever repairs.
void NetworkWatch::readNetlink()
{
    char buffer[8192];
    bool changeSeen = false;
    for (int i = 0; i < MessagesPerRead; ++i) {
        sockaddr_nl sender {};
        socklen_t senderSize = sizeof sender;
        // MSG_TRUNC: a message larger than the buffer is dropped whole all the same.
        const ssize_t length = ::recvfrom(m_netlink, buffer, sizeof buffer, MSG_DONTWAIT | MSG_TRUNC,
            reinterpret_cast<sockaddr *>(&sender), &senderSize);
        if (length >= 0) {
            // Another process cannot pass for the kernel, whose port is 0.
            changeSeen = changeSeen || sender.nl_pid == 0;
            continue;
        }
        if (errno == EINTR)
            continue;
        // An overrun in a storm: the kernel dropped changes that we do not know.
        if (errno == ENOBUFS) {
            changeSeen = true;
            continue;
        }
        break;
    }
    if (changeSeen)
        trigger();
}

void NetworkWatch::watchLogind()
{
    // Named by its service, the signal is taken only from the owner of logind's name: another
    // client of the bus cannot send a PrepareForSleep that we act on.
    m_bus.connect(
        LogindService, LogindPath, LogindManager, QStringLiteral("PrepareForSleep"), this, SLOT(prepareForSleep(bool)));
    auto *watcher = new QDBusServiceWatcher(LogindService, m_bus, QDBusServiceWatcher::WatchForRegistration, this);
    connect(watcher, &QDBusServiceWatcher::serviceRegistered, this, &NetworkWatch::logindAppeared);
    takeInhibitor();
}

void NetworkWatch::takeInhibitor()
{
    QDBusMessage call
        = QDBusMessage::createMethodCall(LogindService, LogindPath, LogindManager, QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep") << QStringLiteral("Nimbora")
         << QStringLiteral("the kill switch's block is checked before sleep") << QStringLiteral("delay");
    auto *pending = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, &NetworkWatch::inhibitorTaken);
}

void NetworkWatch::inhibitorTaken(QDBusPendingCallWatcher *call)
{
    // The reply holds a copy of the descriptor until the call is gone.
    call->deleteLater();
    const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *call;
    if (reply.isError()) {
        if (!m_logindMissingSaid) {
            emit log(QStringLiteral("No delay before sleep from logind (%1): the block is checked after a resume only")
                         .arg(reply.error().message()));
        }
        m_logindMissingSaid = true;
        return;
    }
    // Granted after the machine was told to sleep again: let go at once.
    if (!m_sleeping)
        m_inhibitor = reply.value();
}

void NetworkWatch::logindAppeared()
{
    if (!m_sleeping)
        takeInhibitor();
}

void NetworkWatch::prepareForSleep(bool sleeping)
{
    m_sleeping = sleeping;
    if (sleeping) {
        emit aboutToSleep();
        m_inhibitor = QDBusUnixFileDescriptor();
        return;
    }
    takeInhibitor();
    trigger();
}

void NetworkWatch::checkClock()
{
    const qint64 wall = QDateTime::currentMSecsSinceEpoch();
    // The monotonic clock stands still while the machine sleeps; the wall clock does not.
    const qint64 drift = (wall - m_wallAtCheck) - m_monotonic.restart();
    m_wallAtCheck = wall;
    if (qAbs(drift) <= ClockJumpTolerance)
        return;
    emit log(QStringLiteral("The clock jumped by %1 s: the machine slept or its time was set").arg(drift / 1000));
    trigger();
}

void NetworkWatch::trigger()
{
    if (!m_pendingSince.isValid())
        m_pendingSince.start();
    const qint64 left = MaximumDelay - m_pendingSince.elapsed();
    m_settleTimer.start(int(qBound<qint64>(0, left, SettleTime)));
}

void NetworkWatch::settle()
{
    m_pendingSince.invalidate();
    emit changed();
}
